#include "base/ResourceString.h"

#include <atomic>

#include "base/Exception.h"
#include "base/Handle.h"

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

std::optional<std::wstring> TryFormatResourceString(UINT id, std::initializer_list<std::wstring_view> inserts)
{
    const std::optional<std::wstring> frame = TryLoadResourceString(id);
    if (!frame)
        return std::nullopt;
    std::vector<std::wstring> texts(inserts.begin(), inserts.end()); // terminated
    std::vector<DWORD_PTR> arguments;
    for (const auto& text : texts)
        arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                       frame->c_str(), 0, 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                       reinterpret_cast<va_list*>(arguments.data()));
    const UniqueLocalMemory owned(buffer);
    std::optional<std::wstring> result;
    if (length != 0 && buffer)
        result.emplace(buffer, length);
    return result;
}

std::wstring FormatResourceString(UINT id, std::initializer_list<std::wstring_view> inserts)
{
    if (auto text = TryFormatResourceString(id, inserts))
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
