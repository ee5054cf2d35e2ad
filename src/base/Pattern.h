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
// Letters are ASCII letters. Matching searches for the leftmost match; case
// may be ignored. Of several ways to match, the one a backtracking matcher
// finds first wins: alternatives are tried from the left, repetitions take
// as much as they can, and a repeated group never repeats an empty match.
// A pattern with unbalanced groups, an unterminated class, a dangling
// backslash or a repetition with nothing to repeat is refused with
// E_INVALIDARG when it is compiled.
//
// The pattern is compiled into a small program that is run by backtracking
// with a memo of the (instruction, position) states known to fail, so no
// state is explored twice: the time grows linearly with the text for a
// given pattern, whatever the text holds. Each choice point still nests a
// call; a text that needs more than 1000 of them at once (a group repeated
// a thousand times) is refused with ERROR_STACK_OVERFLOW.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

struct PatternProgram;

class CPattern
{
public:
    CPattern(std::wstring_view pattern, bool ignoreCase);

    // Searches the text. On a match, groups (when given) receives one view
    // per captured group, into the text; a group that took no part is empty.
    bool Match(std::wstring_view text, std::vector<std::wstring_view>* groups = nullptr) const;

    size_t GroupCount() const noexcept;

private:
    // Never changed once compiled: copies of the pattern share it.
    std::shared_ptr<const PatternProgram> m_program;
};
