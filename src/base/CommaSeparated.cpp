#include "base/CommaSeparated.h"

namespace {

bool IsBlank(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t';
}

// Position of the quote that closes the quoted field at the start of text
// (pairs of quotes inside are skipped), or npos.
size_t FindClosingQuote(std::wstring_view text) noexcept
{
    for (size_t pos = 1; pos < text.size(); ++pos) {
        if (text[pos] != L'"')
            continue;
        if (pos + 1 < text.size() && text[pos + 1] == L'"')
            ++pos;
        else
            return pos;
    }
    return std::wstring_view::npos;
}

} // namespace

std::vector<std::wstring> SplitCommaSeparated(std::wstring_view line)
{
    std::vector<std::wstring> fields;
    SplitCommaSeparated(line, fields);
    return fields;
}

void SplitCommaSeparated(std::wstring_view line, std::vector<std::wstring>& fields)
{
    size_t count = 0;
    // The next field, reusing the storage of the list's earlier contents.
    auto nextField = [&]() -> std::wstring& {
        if (count == fields.size())
            fields.emplace_back();
        std::wstring& field = fields[count++];
        field.clear();
        return field;
    };
    std::wstring_view rest = line;
    for (;;) {
        while (!rest.empty() && IsBlank(rest.front()))
            rest.remove_prefix(1);
        if (rest.empty())
            break;

        if (rest.front() == L'"') {
            const size_t closing = FindClosingQuote(rest);
            if (closing == std::wstring_view::npos)
                break; // no closing quote: the rest is dropped
            std::wstring& field = nextField();
            for (size_t pos = 1; pos < closing; ++pos) {
                field += rest[pos];
                if (rest[pos] == L'"')
                    ++pos; // a doubled quote stands for one
            }
            const size_t comma = rest.find(L',', closing + 1);
            rest = comma == std::wstring_view::npos ? std::wstring_view() : rest.substr(comma + 1);
            continue;
        }

        const size_t comma = rest.find(L',');
        if (comma == std::wstring_view::npos) {
            nextField().assign(rest);
            break;
        }
        std::wstring_view field = rest.substr(0, comma);
        while (!field.empty() && IsBlank(field.back()))
            field.remove_suffix(1);
        nextField().assign(field);
        rest.remove_prefix(comma + 1);
    }
    fields.resize(count);
}
