#include "base/ResourceString.h"

#include <atomic>

#include "base/Exception.h"

namespace {
std::atomic<HINSTANCE> g_resourceInstance{nullptr};
}

void PublishResourceInstance(HINSTANCE instance) noexcept
{
    g_resourceInstance.exchange(instance);
}

HINSTANCE ResourceInstance() noexcept
{
    if (HINSTANCE instance = g_resourceInstance.load())
        return instance;
    return GetModuleHandleW(nullptr);
}

std::optional<std::wstring> TryLoadResourceString(UINT id)
{
    const wchar_t* text = nullptr;
    const int length = LoadStringW(ResourceInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text)
        return std::nullopt;
    return std::wstring(text, static_cast<size_t>(length));
}

std::wstring LoadResourceString(UINT id)
{
    if (auto text = TryLoadResourceString(id))
        return std::move(*text);
    ThrowWin32(ERROR_RESOURCE_NAME_NOT_FOUND);
}

std::wstring TextOrResourceString(LPCWSTR text)
{
    if (!text)
        return {};
    if (IS_INTRESOURCE(text))
        return LoadResourceString(static_cast<UINT>(reinterpret_cast<UINT_PTR>(text)));
    return text;
}
