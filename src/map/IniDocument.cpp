#include "map/IniDocument.h"

#include <cstdlib>

#include "base/Text.h"

namespace {

const std::string c_defaultLineEnd = "\r\n";

bool IsBlank(char c) noexcept
{
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) noexcept
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool EqualsAsciiIgnoreCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// "[NAME]" gives NAME; any other line gives nothing.
std::optional<std::string_view> SectionName(std::string_view line)
{
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    line.remove_prefix(1);
    const size_t close = line.find(']');
    return TrimBlanks(line.substr(0, close));
}

struct KeyValue
{
    std::string_view key;
    std::string_view value;
};

// "key = value" gives both parts trimmed, the value without one pair of
// enclosing quotes; comments and lines without '=' give nothing.
std::optional<KeyValue> SplitKeyValue(std::string_view line)
{
    const std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[')
        return std::nullopt;
    const size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    std::string_view value = TrimBlanks(trimmed.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return KeyValue{TrimBlanks(trimmed.substr(0, equals)), value};
}

} // namespace

IniDocument::IniDocument(std::string_view bytes)
{
    const size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) {
        m_tail.assign(bytes.substr(nul));
        bytes = bytes.substr(0, nul);
    }
    while (!bytes.empty()) {
        const size_t lineFeed = bytes.find('\n');
        Line line;
        if (lineFeed == std::string_view::npos) {
            line.text.assign(bytes);
            bytes = {};
        } else {
            line.text.assign(bytes.substr(0, lineFeed));
            line.end = "\n";
            bytes.remove_prefix(lineFeed + 1);
        }
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.end.insert(0, "\r");
        }
        m_lines.push_back(std::move(line));
    }
}

std::optional<IniDocument::SectionRange> IniDocument::FindSection(std::string_view section) const
{
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const auto name = SectionName(m_lines[i].text);
        if (!name || !EqualsAsciiIgnoreCase(*name, section))
            continue;
        size_t last = i + 1;
        while (last < m_lines.size() && !SectionName(m_lines[last].text))
            ++last;
        return SectionRange{i + 1, last};
    }
    return std::nullopt;
}

std::optional<size_t> IniDocument::FindKey(const SectionRange& range, std::string_view key) const
{
    for (size_t i = range.first; i < range.last; ++i) {
        const auto pair = SplitKeyValue(m_lines[i].text);
        if (pair && EqualsAsciiIgnoreCase(pair->key, key))
            return i;
    }
    return std::nullopt;
}

const std::string& IniDocument::LineEnd() const
{
    return m_lines.empty() || m_lines.front().end.empty() ? c_defaultLineEnd : m_lines.front().end;
}

std::optional<std::wstring> IniDocument::Value(std::wstring_view section, std::wstring_view key) const
{
    const auto range = FindSection(WideToAnsi(section));
    if (!range)
        return std::nullopt;
    const auto line = FindKey(*range, WideToAnsi(key));
    if (!line)
        return std::nullopt;
    return AnsiToWide(SplitKeyValue(m_lines[*line].text)->value);
}

int IniDocument::IntegerValue(std::wstring_view section, std::wstring_view key, int fallback) const
{
    const auto value = Value(section, key);
    if (!value)
        return fallback;
    wchar_t* end = nullptr;
    const long number = std::wcstol(value->c_str(), &end, 10);
    return end == value->c_str() ? fallback : static_cast<int>(number);
}

void IniDocument::SetValue(std::wstring_view section, std::wstring_view key, std::wstring_view value)
{
    const std::string narrowSection = WideToAnsi(section);
    const std::string narrowKey = WideToAnsi(key);
    const std::string narrowValue = WideToAnsi(value);
    Line line{narrowKey + "=" + narrowValue, LineEnd()};
    auto range = FindSection(narrowSection);
    if (!range) {
        if (!m_lines.empty() && m_lines.back().end.empty())
            m_lines.back().end = LineEnd();
        m_lines.push_back({"[" + narrowSection + "]", LineEnd()});
        m_lines.push_back(std::move(line));
        return;
    }
    if (const auto existing = FindKey(*range, narrowKey)) {
        if (SplitKeyValue(m_lines[*existing].text)->value != narrowValue)
            m_lines[*existing].text = std::move(line.text);
        return;
    }
    size_t insertAt = range->last;
    while (insertAt > range->first && TrimBlanks(m_lines[insertAt - 1].text).empty())
        --insertAt;
    if (insertAt > 0 && m_lines[insertAt - 1].end.empty())
        m_lines[insertAt - 1].end = LineEnd();
    if (insertAt == m_lines.size())
        line.end = m_lines.empty() ? LineEnd() : m_lines[insertAt - 1].end;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
}

void IniDocument::DeleteKey(std::wstring_view section, std::wstring_view key)
{
    const std::string narrowKey = WideToAnsi(key);
    while (const auto range = FindSection(WideToAnsi(section))) {
        const auto line = FindKey(*range, narrowKey);
        if (!line)
            return;
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(*line));
    }
}

std::string IniDocument::Bytes() const
{
    std::string bytes;
    for (const auto& line : m_lines) {
        bytes += line.text;
        bytes += line.end;
    }
    bytes += m_tail;
    return bytes;
}
