#include "ui/HyperlinkMarkup.h"

#include "base/Pattern.h"

namespace {

// Text up to an opening anchor: 1 the plain text before it, 2 the
// attributes inside the tag.
const CPattern c_openingAnchor(L"^{[^\\<]*}\\<A *{[^\\>]*}\\>", true);

// Link text up to the closing tag: 1 the link text.
const CPattern c_closingAnchor(L"^{[^\\<]*}\\<\\/A\\>", true);

struct Attribute
{
    CPattern pattern; // 1: the value
    std::wstring CHyperlinkSegment::*value;
};

const Attribute c_attributes[] = {
    {CPattern(L"ID=\"{[^\"]+}\"", true), &CHyperlinkSegment::id},
    {CPattern(L"HREF=\"{[^\"]+}\"", true), &CHyperlinkSegment::href},
    {CPattern(L"TITLE=\"{[^\"]+}\"", true), &CHyperlinkSegment::title},
};

void ReadAttributes(std::wstring_view attributes, CHyperlinkSegment& link)
{
    std::vector<std::wstring_view> groups;
    for (const Attribute& attribute : c_attributes) {
        if (attribute.pattern.Match(attributes, &groups))
            link.*attribute.value = std::wstring(groups[0]);
    }
}

CHyperlinkSegment PlainSegment(std::wstring_view text)
{
    CHyperlinkSegment segment;
    segment.text = text;
    return segment;
}

// Where a group ends, as an offset into the text it was matched in.
size_t EndOf(std::wstring_view group, std::wstring_view text)
{
    return static_cast<size_t>(group.data() - text.data()) + group.size();
}

} // namespace

std::optional<std::vector<CHyperlinkSegment>> ParseHyperlinkMarkup(std::wstring_view text)
{
    std::vector<CHyperlinkSegment> segments;
    std::wstring_view rest = text;
    std::vector<std::wstring_view> groups;
    while (!rest.empty()) {
        if (!c_openingAnchor.Match(rest, &groups)) {
            segments.push_back(PlainSegment(rest));
            break;
        }
        if (!groups[0].empty())
            segments.push_back(PlainSegment(groups[0]));
        const std::wstring_view attributes = groups[1];
        rest.remove_prefix(EndOf(attributes, rest) + 1); // the ">"

        if (!c_closingAnchor.Match(rest, &groups))
            return std::nullopt;
        if (!groups[0].empty()) {
            CHyperlinkSegment link = PlainSegment(groups[0]);
            link.isLink = true;
            ReadAttributes(attributes, link);
            segments.push_back(std::move(link));
        }
        rest.remove_prefix(EndOf(groups[0], rest) + 4); // the "</A>"
    }
    return segments;
}

namespace {

bool IsColorSeparator(wchar_t c)
{
    return c == L' ' || c == L',';
}

// One decimal or 0x-prefixed integer, the whole token.
std::optional<unsigned long> ParseInteger(std::wstring_view token)
{
    int base = 10;
    if (token.size() > 2 && token[0] == L'0' && (token[1] == L'x' || token[1] == L'X')) {
        base = 16;
        token.remove_prefix(2);
    }
    if (token.empty() || token.size() > 10)
        return std::nullopt;
    unsigned long value = 0;
    for (wchar_t c : token) {
        unsigned digit;
        if (c >= L'0' && c <= L'9')
            digit = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f')
            digit = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F')
            digit = c - L'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

} // namespace

std::optional<COLORREF> ParseColorSetting(std::wstring_view text)
{
    BYTE parts[3] = {};
    size_t position = 0;
    for (BYTE& part : parts) {
        while (position < text.size() && IsColorSeparator(text[position]))
            ++position;
        size_t end = position;
        while (end < text.size() && !IsColorSeparator(text[end]))
            ++end;
        const auto value = ParseInteger(text.substr(position, end - position));
        if (!value)
            return std::nullopt;
        part = static_cast<BYTE>(*value & 0xFF);
        position = end;
    }
    return RGB(parts[0], parts[1], parts[2]);
}
