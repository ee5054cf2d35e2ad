#include "base/Text.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <cwctype>
#include <iterator>

#include "base/Exception.h"

namespace {

int CheckedLength(size_t length)
{
    if (length > INT_MAX)
        ThrowHr(E_OUTOFMEMORY);
    return static_cast<int>(length);
}

// One conversion call into a buffer of the largest possible size: a byte
// of a multi-byte code page never yields more than one UTF-16 unit, and a
// UTF-16 unit never needs more than three bytes.
void MultiByteToWide(UINT codePage, std::string_view text, std::wstring& result)
{
    result.resize(text.size());
    if (text.empty())
        return;
    const int length = CheckedLength(text.size());
    const int converted = MultiByteToWideChar(codePage, 0, text.data(), length, result.data(), length);
    ThrowLastErrorIf(converted == 0);
    result.resize(static_cast<size_t>(converted));
}

std::wstring MultiByteToWide(UINT codePage, std::string_view text)
{
    std::wstring result;
    MultiByteToWide(codePage, text, result);
    return result;
}

std::string WideToMultiByte(UINT codePage, std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length = CheckedLength(text.size());
    const int capacity = CheckedLength(text.size() * 3);
    std::string result(static_cast<size_t>(capacity), '\0');
    const int converted =
        WideCharToMultiByte(codePage, 0, text.data(), length, result.data(), capacity, nullptr, nullptr);
    ThrowLastErrorIf(converted == 0);
    result.resize(static_cast<size_t>(converted));
    return result;
}

} // namespace

std::wstring AnsiToWide(std::string_view text)
{
    return MultiByteToWide(CP_ACP, text);
}

void AnsiToWide(std::string_view text, std::wstring& result)
{
    MultiByteToWide(CP_ACP, text, result);
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
    if (c > L' ' && c < 0x7F) // printable ASCII, the common case: no call
        return false;
    return std::iswspace(c) != 0;
}

namespace {

template <typename Char>
std::basic_string_view<Char> TrimmedText(std::basic_string_view<Char> text) noexcept
{
    const auto isSpace = [](Char c) { return IsWhiteSpace(static_cast<wchar_t>(c)); };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::wstring_view TrimWhiteSpace(std::wstring_view text) noexcept
{
    return TrimmedText(text);
}

std::string_view TrimWhiteSpace(std::string_view asciiText) noexcept
{
    return TrimmedText(asciiText);
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() != b.size() || a.size() > INT_MAX)
        return false;
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

std::wstring ToUpperInvariant(std::wstring_view text)
{
    std::wstring upper(text);
    if (!upper.empty())
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()),
                      upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
    return upper;
}

std::wstring EscapeControlCharacters(std::wstring_view text, size_t maxLength)
{
    std::wstring result;
    const size_t shown = std::min(text.size(), maxLength);
    for (size_t i = 0; i < shown; ++i) {
        const wchar_t c = text[i];
        if (c == L'\r') {
            result += L"\\r";
        } else if (c == L'\n') {
            result += L"\\n";
        } else if (c == L'\t') {
            result += L"\\t";
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029) {
            wchar_t code[8];
            swprintf(code, std::size(code), L"\\x%02X", static_cast<unsigned>(c));
            result += code;
        } else {
            result += c;
        }
    }
    if (shown < text.size())
        result += L"...";
    return result;
}
