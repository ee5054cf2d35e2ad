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

#include <cstdint>
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

    enum class Op
    {
        Character, // one character matching atom, then the next instruction
        Run,       // min..max characters matching atom, as many as possible first
        Begin,
        End,
        Split,     // try target, then alternative
        Jump,      // continue at target
        Open,      // group slot starts here
        Close,     // group slot ends here
        Enter,     // loop slot: an iteration starts here
        Progress,  // fails when the iteration of loop slot matched nothing
        Accept,
    };

    struct Instruction
    {
        Op op = Op::Accept;
        Atom atom;                  // Character, Run
        unsigned min = 1;           // Run
        unsigned max = 1;           // Run
        size_t target = 0;          // Split, Jump
        size_t alternative = 0;     // Split
        size_t slot = 0;            // Open, Close: group; Enter, Progress: loop
    };

private:
    friend class PatternCompiler;
    friend class ProgramBuilder;
    friend class PatternMatcher;

    std::vector<Alternation> m_alternations; // [0] is the whole pattern
    size_t m_groupCount = 0;
    bool m_ignoreCase = false;

    std::vector<Instruction> m_program;
    // Per instruction: the innermost loop whose iteration it belongs to, or
    // c_noLoop, and the first of its memo states (one per enclosing loop,
    // plus one).
    std::vector<size_t> m_loopOf;
    std::vector<size_t> m_firstState;
    // Per loop: the loop around it, or c_noLoop.
    std::vector<size_t> m_outerLoop;
    size_t m_stateCount = 0;
    static constexpr size_t c_noLoop = SIZE_MAX;
};
