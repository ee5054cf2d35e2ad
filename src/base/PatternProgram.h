// The compiled form of a CPattern, shared by the pattern compiler
// (PatternCompiler.cpp) and the matcher (Pattern.cpp); nothing outside
// these two includes it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// The parsed alternations and the program built from them.
struct PatternProgram
{
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
        int alternation = -1;      // Group: index into alternations
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

    std::vector<Alternation> alternations; // [0] is the whole pattern
    size_t groupCount = 0;
    bool ignoreCase = false;

    std::vector<Instruction> program;
    // Per instruction: the innermost loop whose iteration it belongs to, or
    // c_noLoop, and the first of its memo states (one per enclosing loop,
    // plus one).
    std::vector<size_t> loopOf;
    std::vector<size_t> firstState;
    // Per loop: the loop around it, or c_noLoop.
    std::vector<size_t> outerLoop;
    size_t stateCount = 0;
    static constexpr size_t c_noLoop = SIZE_MAX;
};

// Compiles the pattern text; raises E_INVALIDARG for a malformed pattern.
PatternProgram CompilePattern(std::wstring_view pattern, bool ignoreCase);
