// A small regular-expression matcher for the patterns the module uses on
// single lines of text (file headers, namespace names, link labels).
//
// Dialect:
//   {...}   captured group, numbered from 0 in the order of the '{'
//   (...)   group without capture
//   |       alternation;  ^ $  start and end of the text
//   + * ?   greedy repetition (one or more, any, optional) of the preceding item
//   .       any character
//   [...]   character class with ranges; [^...] negated
//   \a letter or digit   \b space or tab        \c letter
//   \d digit             \h hexadecimal digit   \n line end (CR LF, LF or CR)
//   \q text in double or single quotes          \w run of letters
//   \z run of digits
//   \x      any other character after a backslash stands for itself
// Letters are ASCII letters. Matching searches for the leftmost match and
// backtracks; case may be ignored. A pattern with unbalanced groups, an
// unterminated class, a dangling backslash or a repetition with nothing to
// repeat is refused with E_INVALIDARG when it is compiled.
#pragma once

#include <string_view>
#include <vector>

class CPattern
{
public:
    CPattern(std::wstring_view pattern, bool ignoreCase);

    // Searches the text. On a match, groups (when given) receives one view
    // per captured group, into the text; a group that took no part is empty.
    bool Match(std::wstring_view text, std::vector<std::wstring_view>* groups = nullptr) const;

    size_t GroupCount() const noexcept { return m_groupCount; }

    struct Range
    {
        wchar_t first;
        wchar_t last;
    };

    enum class AtomKind { Literal, Any, Class, Begin, End, Group };

    struct Atom
    {
        AtomKind kind = AtomKind::Literal;
        wchar_t literal = 0;
        std::vector<Range> ranges; // Class
        bool negated = false;      // Class
        int alternation = -1;      // Group: index into m_alternations
        int capture = -1;          // Group: capture number, or -1
    };

    struct Piece
    {
        Atom atom;
        unsigned min = 1;
        unsigned max = 1; // UINT_MAX: unbounded
    };

    using Sequence = std::vector<Piece>;
    using Alternation = std::vector<Sequence>;

private:
    friend class PatternCompiler;
    friend class PatternMatcher;

    std::vector<Alternation> m_alternations; // [0] is the whole pattern
    size_t m_groupCount = 0;
    bool m_ignoreCase = false;
};
