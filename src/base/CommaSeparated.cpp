#include "base/CommaSeparated.h"

namespace {

// Position of the first c in text, or npos. A loop of its own: the C
// library's memchr, which the standard find calls, costs a call per field.
template <typename Char>
size_t FindCharacter(std::basic_string_view<Char> text, Char c, size_t from = 0) noexcept
{
    for (size_t pos = from; pos < text.size(); ++pos)
        if (text[pos] == c)
            return pos;
    return std::basic_string_view<Char>::npos;
}

template <typename Char>
bool IsBlank(Char c) noexcept
{
    return c == Char(' ') || c == Char('\t');
}

// Position of the quote that closes the quoted field at the start of text
// (pairs of quotes inside are skipped), or npos.
template <typename Char>
size_t FindClosingQuote(std::basic_string_view<Char> text) noexcept
{
    for (size_t pos = 1; pos < text.size(); ++pos) {
        if (text[pos] != Char('"'))
            continue;
        if (pos + 1 < text.size() && text[pos + 1] == Char('"'))
            ++pos;
        else
            return pos;
    }
    return std::basic_string_view<Char>::npos;
}

// Calls addField(text, quoted) for every field of the line (see
// SplitCommaSeparated); a quoted field's text is what lies between its
// quotes, doubled quotes still doubled.
template <typename Char, typename AddField>
void ForEachField(std::basic_string_view<Char> line, AddField addField)
{
    using View = std::basic_string_view<Char>;
    View rest = line;
    for (;;) {
        while (!rest.empty() && IsBlank(rest.front()))
            rest.remove_prefix(1);
        if (rest.empty())
            break;

        if (rest.front() == Char('"')) {
            const size_t closing = FindClosingQuote(rest);
            if (closing == View::npos)
                break; // no closing quote: the rest is dropped
            addField(rest.substr(1, closing - 1), true);
            const size_t comma = FindCharacter(rest, Char(','), closing + 1);
            rest = comma == View::npos ? View() : rest.substr(comma + 1);
            continue;
        }

        const size_t comma = FindCharacter(rest, Char(','));
        if (comma == View::npos) {
            addField(rest, false);
            break;
        }
        View field = rest.substr(0, comma);
        while (!field.empty() && IsBlank(field.back()))
            field.remove_suffix(1);
        addField(field, false);
        rest.remove_prefix(comma + 1);
    }
}

// Appends a quoted field's text with each doubled quote as one.
template <typename Text>
void AppendUnquoted(Text& text, std::basic_string_view<typename Text::value_type> quoted)
{
    using Char = typename Text::value_type;
    for (size_t pos = 0; pos < quoted.size(); ++pos) {
        text += quoted[pos];
        if (quoted[pos] == Char('"'))
            ++pos;
    }
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
    ForEachField(line, [&](std::wstring_view text, bool quoted) {
        // The strings of the list's earlier contents are reused.
        if (count == fields.size())
            fields.emplace_back();
        std::wstring& field = fields[count++];
        field.clear();
        if (quoted)
            AppendUnquoted(field, text);
        else
            field.assign(text);
    });
    fields.resize(count);
}

void SplitCommaSeparated(std::string_view asciiLine, std::vector<std::string_view>& fields, std::string& unquoted)
{
    fields.clear();
    unquoted.clear();
    // Room for every quoted text at once, so that views into it stay valid.
    unquoted.reserve(asciiLine.size());
    ForEachField(asciiLine, [&](std::string_view text, bool quoted) {
        if (!quoted || FindCharacter(text, '"') == std::string_view::npos) {
            fields.push_back(text);
            return;
        }
        const size_t start = unquoted.size();
        AppendUnquoted(unquoted, text);
        fields.push_back(std::string_view(unquoted).substr(start));
    });
}

