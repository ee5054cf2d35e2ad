// The pattern dialect of base/Pattern.h matched the plainest way: a
// recursive backtracking matcher that walks the pattern text itself, with
// a continuation for "the rest of the pattern", and no compiled form. Slow
// on hostile input but simple enough to trust; the fuzz driver compares
// the product's compiler and matcher with it on random patterns and short
// texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CReferencePattern
{
public:
    // Raises E_INVALIDARG for a pattern the dialect refuses.
    CReferencePattern(std::wstring_view pattern, bool ignoreCase);

    // Searches the text. On a match, groups (when given) receives one view
    // per captured group, into the text; a group that took no part is empty.
    // Raises ERROR_STACK_OVERFLOW when the search grows too deep or too long.
    bool Match(std::wstring_view text, std::vector<std::wstring_view>* groups = nullptr) const;

    size_t GroupCount() const noexcept { return m_capturePositions.size(); }

private:
    std::wstring m_pattern;
    bool m_ignoreCase;
    // Where each capturing group's "{" stands, in the order of the groups.
    std::vector<size_t> m_capturePositions;
};
