#include "base/ModuleFile.h"

#include <cstring>

#include "base/Exception.h"

std::wstring ModuleFilePath(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        ThrowLastErrorIf(length == 0);
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::optional<VS_FIXEDFILEINFO> FixedFileInfo(HMODULE module) noexcept
{
    // VS_VERSIONINFO: three WORDs (length, value length, type), the key
    // "VS_VERSION_INFO" with its NUL, padding to a 32-bit boundary, then the
    // fixed block.
    constexpr size_t c_fixedBlockOffset = (3 * sizeof(WORD) + sizeof L"VS_VERSION_INFO" + 3) & ~size_t{3};

    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));
    if (!resource)
        return std::nullopt;
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
    const DWORD size = SizeofResource(module, resource);
    if (!data || size < c_fixedBlockOffset + sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    WORD valueLength;
    std::memcpy(&valueLength, data + sizeof(WORD), sizeof valueLength);
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, data + c_fixedBlockOffset, sizeof info);
    if (valueLength < sizeof info || info.dwSignature != 0xFEEF04BD)
        return std::nullopt;
    return info;
}

ULONGLONG ProductVersion(HMODULE module) noexcept
{
    const auto info = FixedFileInfo(module);
    return info ? (ULONGLONG{info->dwProductVersionMS} << 32) | info->dwProductVersionLS : 0;
}

std::wstring FormatVersion(DWORD mostSignificant, DWORD leastSignificant)
{
    return std::to_wstring(HIWORD(mostSignificant)) + L'.' + std::to_wstring(LOWORD(mostSignificant)) + L'.' +
           std::to_wstring(HIWORD(leastSignificant)) + L'.' + std::to_wstring(LOWORD(leastSignificant));
}
