// An INI-style text file (ANSI), edited in memory line by line.
//
//   [LAYERS]
//   NUMBER=2
//   0=00_Freeways 00fwy 20 1 0 ... BLACK US_INTERSTATE_HW_LINE
//
// Section and key names are compared without regard to ASCII letter case;
// values are read with the blanks around them removed and one pair of
// enclosing quotes taken off, as the system's profile functions read them.
// Lines starting with ';' are comments. Every line that is not changed is
// written back exactly as read, line end included; text from a NUL byte on
// (some tools end the file with one) is kept as it was after the last line.
// Unlike the system's profile functions, values are never cut at a length
// limit and the file is never cached behind the caller's back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class IniDocument
{
public:
    IniDocument() = default;
    explicit IniDocument(std::string_view bytes);

    // The value of the first key of that name in the first section of that
    // name, converted from the ANSI code page; nothing when it is missing.
    std::optional<std::wstring> Value(std::wstring_view section, std::wstring_view key) const;

    // Like GetPrivateProfileInt: the leading decimal integer of the value,
    // fallback when the key is missing or holds no number.
    int IntegerValue(std::wstring_view section, std::wstring_view key, int fallback) const;

    // Replaces the key's line ("key=value") in place, or adds the key after
    // the last line of its section, creating the section at the end of the
    // file when needed. A value equal to the one held leaves the line as is.
    void SetValue(std::wstring_view section, std::wstring_view key, std::wstring_view value);

    // Removes every line of that key from the first section of that name.
    void DeleteKey(std::wstring_view section, std::wstring_view key);

    // The whole file as bytes.
    std::string Bytes() const;

private:
    struct Line
    {
        std::string text; // without its line end
        std::string end;  // "\r\n", "\n" or "" for a last line without one
    };

    struct SectionRange
    {
        size_t first; // first line after the section header
        size_t last;  // one past the section's last line
    };

    std::optional<SectionRange> FindSection(std::string_view section) const;
    std::optional<size_t> FindKey(const SectionRange& range, std::string_view key) const;
    const std::string& LineEnd() const;

    std::vector<Line> m_lines;
    std::string m_tail;
};
