#include "base/Text.h"

#include <windows.h>

#include <climits>
#include <cwctype>

#include "base/Exception.h"

namespace {

int CheckedLength(size_t length)
{
    if (length > INT_MAX)
        ThrowHr(E_OUTOFMEMORY);
    return static_cast<int>(length);
}

std::wstring MultiByteToWide(UINT codePage, std::string_view text)
{
    if (text.empty())
        return {};
    const int length = CheckedLength(text.size());
    const int needed = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    ThrowLastErrorIf(needed == 0);
    std::wstring result(static_cast<size_t>(needed), L'\0');
    ThrowLastErrorIf(MultiByteToWideChar(codePage, 0, text.data(), length, result.data(), needed) == 0);
    return result;
}

std::string WideToMultiByte(UINT codePage, std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length = CheckedLength(text.size());
    const int needed = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    ThrowLastErrorIf(needed == 0);
    std::string result(static_cast<size_t>(needed), '\0');
    ThrowLastErrorIf(WideCharToMultiByte(codePage, 0, text.data(), length, result.data(), needed, nullptr,
                                         nullptr) == 0);
    return result;
}

} // namespace

std::wstring AnsiToWide(std::string_view text)
{
    return MultiByteToWide(CP_ACP, text);
}

std::string WideToAnsi(std::wstring_view text)
{
    return WideToMultiByte(CP_ACP, text);
}

std::wstring Utf8ToWide(std::string_view text)
{
    return MultiByteToWide(CP_UTF8, text);
}

std::string WideToUtf8(std::wstring_view text)
{
    return WideToMultiByte(CP_UTF8, text);
}

bool IsWhiteSpace(wchar_t c) noexcept
{
    return std::iswspace(c) != 0;
}

std::wstring_view TrimWhiteSpace(std::wstring_view text) noexcept
{
    while (!text.empty() && IsWhiteSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsWhiteSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() != b.size() || a.size() > INT_MAX)
        return false;
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}
