#include "ui/Confirmations.h"

#include "base/Handle.h"

namespace {
constexpr wchar_t c_confirmationsKey[] = L"SOFTWARE\\Norvask\\Tervolin\\Confirmations";
}

std::optional<DWORD> ReadConfirmation(const wchar_t* name) noexcept
{
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, c_confirmationsKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
        key.Release();
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return value;
}

void WriteConfirmation(const wchar_t* name, DWORD value) noexcept
{
    UniqueHKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, c_confirmationsKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        key.Put(), nullptr) != ERROR_SUCCESS) {
        key.Release();
        return;
    }
    RegSetValueExW(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}
