// The pattern dialect matched by plain backtracking, without memo: slow on
// hostile input but simple enough to trust. The fuzz driver compares the
// product's matcher with it on random patterns and short texts.
#pragma once

#include <string_view>
#include <vector>

class CReferencePattern
{
public:
    CReferencePattern(std::wstring_view pattern, bool ignoreCase);

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
    friend class ReferenceCompiler;
    friend class ReferenceMatcher;

    std::vector<Alternation> m_alternations; // [0] is the whole pattern
    size_t m_groupCount = 0;
    bool m_ignoreCase = false;
};
