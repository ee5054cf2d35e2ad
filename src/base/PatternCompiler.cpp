#include "base/PatternProgram.h"

#include <algorithm>
#include <climits>
#include <cwctype>
#include <utility>

#include "base/Exception.h"

namespace {

// Classes behind the backslash abbreviations that match one character.
struct ClassAbbreviation
{
    wchar_t letter;
    std::initializer_list<PatternProgram::Range> ranges;
};

const ClassAbbreviation c_classAbbreviations[] = {
    {L'a', {{L'a', L'z'}, {L'A', L'Z'}, {L'0', L'9'}}},
    {L'b', {{L' ', L' '}, {L'\t', L'\t'}}},
    {L'c', {{L'a', L'z'}, {L'A', L'Z'}}},
    {L'd', {{L'0', L'9'}}},
    {L'h', {{L'0', L'9'}, {L'a', L'f'}, {L'A', L'F'}}},
};

// Abbreviations that stand for a whole sub-pattern. The CR and LF in the
// line-end pattern are the characters themselves.
struct PatternAbbreviation
{
    wchar_t letter;
    const wchar_t* pattern;
};

const PatternAbbreviation c_patternAbbreviations[] = {
    {L'n', L"(\r\n|\n|\r)"},
    {L'q', L"(\"[^\"]*\"|'[^']*')"},
    {L'w', L"([a-zA-Z]+)"},
    {L'z', L"([0-9]+)"},
};

const ClassAbbreviation* FindClassAbbreviation(wchar_t letter)
{
    for (const auto& entry : c_classAbbreviations)
        if (entry.letter == letter)
            return &entry;
    return nullptr;
}

const PatternAbbreviation* FindPatternAbbreviation(wchar_t letter)
{
    for (const auto& entry : c_patternAbbreviations)
        if (entry.letter == letter)
            return &entry;
    return nullptr;
}

[[noreturn]] void ThrowBadPattern()
{
    ThrowHr(E_INVALIDARG);
}

// Recursive-descent compiler from pattern text to the alternation pool.
class PatternCompiler
{
public:
    explicit PatternCompiler(PatternProgram& pattern) : m_pattern(pattern) {}

    // Compiles the text into a new alternation and returns its index.
    int CompileAll(std::wstring_view text)
    {
        std::wstring_view saved = std::exchange(m_text, text);
        size_t savedPos = std::exchange(m_pos, 0);
        int index = ParseAlternation(0);
        if (m_pos != m_text.size())
            ThrowBadPattern(); // a stray closing ')' or '}'
        m_text = saved;
        m_pos = savedPos;
        return index;
    }

private:
    bool AtEnd() const { return m_pos >= m_text.size(); }
    wchar_t Peek() const { return m_text[m_pos]; }

    // closer: the character that ends this alternation, or 0 at top level.
    int ParseAlternation(wchar_t closer)
    {
        const int index = static_cast<int>(m_pattern.alternations.size());
        m_pattern.alternations.emplace_back();
        PatternProgram::Alternation alternation;
        alternation.push_back(ParseSequence(closer));
        while (!AtEnd() && Peek() == L'|') {
            ++m_pos;
            alternation.push_back(ParseSequence(closer));
        }
        m_pattern.alternations[static_cast<size_t>(index)] = std::move(alternation);
        return index;
    }

    PatternProgram::Sequence ParseSequence(wchar_t closer)
    {
        PatternProgram::Sequence sequence;
        while (!AtEnd() && Peek() != L'|' && Peek() != L')' && Peek() != L'}') {
            PatternProgram::Piece piece;
            piece.atom = ParseAtom();
            ParseQuantifier(piece);
            sequence.push_back(std::move(piece));
        }
        if (!AtEnd() && Peek() != L'|' && Peek() != closer)
            ThrowBadPattern();
        return sequence;
    }

    void ParseQuantifier(PatternProgram::Piece& piece)
    {
        if (AtEnd())
            return;
        switch (Peek()) {
        case L'*': piece.min = 0; piece.max = UINT_MAX; break;
        case L'+': piece.min = 1; piece.max = UINT_MAX; break;
        case L'?': piece.min = 0; piece.max = 1; break;
        default: return;
        }
        ++m_pos;
        if (piece.atom.kind == PatternProgram::AtomKind::Begin || piece.atom.kind == PatternProgram::AtomKind::End)
            ThrowBadPattern();
    }

    PatternProgram::Atom ParseAtom()
    {
        PatternProgram::Atom atom;
        const wchar_t c = m_text[m_pos++];
        switch (c) {
        case L'*':
        case L'+':
        case L'?':
            ThrowBadPattern();
        case L'.':
            atom.kind = PatternProgram::AtomKind::Any;
            return atom;
        case L'^':
            atom.kind = PatternProgram::AtomKind::Begin;
            return atom;
        case L'$':
            atom.kind = PatternProgram::AtomKind::End;
            return atom;
        case L'[':
            return ParseClass();
        case L'(':
        case L'{':
            return ParseGroup(c == L'{');
        case L'\\':
            return ParseEscape();
        default:
            atom.literal = c;
            return atom;
        }
    }

    PatternProgram::Atom ParseGroup(bool capture)
    {
        PatternProgram::Atom atom;
        atom.kind = PatternProgram::AtomKind::Group;
        if (capture)
            atom.capture = static_cast<int>(m_pattern.groupCount++);
        const wchar_t closer = capture ? L'}' : L')';
        atom.alternation = ParseAlternation(closer);
        if (AtEnd() || Peek() != closer)
            ThrowBadPattern();
        ++m_pos;
        return atom;
    }

    PatternProgram::Atom ParseEscape()
    {
        if (AtEnd())
            ThrowBadPattern();
        const wchar_t letter = m_text[m_pos++];
        PatternProgram::Atom atom;
        if (const auto* abbreviation = FindClassAbbreviation(letter)) {
            atom.kind = PatternProgram::AtomKind::Class;
            atom.ranges.assign(abbreviation->ranges.begin(), abbreviation->ranges.end());
        } else if (const auto* expansion = FindPatternAbbreviation(letter)) {
            atom.kind = PatternProgram::AtomKind::Group;
            atom.alternation = CompileAll(expansion->pattern);
        } else {
            atom.literal = letter;
        }
        return atom;
    }

    PatternProgram::Atom ParseClass()
    {
        PatternProgram::Atom atom;
        atom.kind = PatternProgram::AtomKind::Class;
        if (!AtEnd() && Peek() == L'^') {
            atom.negated = true;
            ++m_pos;
        }
        bool first = true;
        for (;;) {
            if (AtEnd())
                ThrowBadPattern();
            wchar_t c = m_text[m_pos++];
            if (c == L']' && !first)
                return atom;
            first = false;
            if (c == L'\\') {
                if (AtEnd())
                    ThrowBadPattern();
                c = m_text[m_pos++];
                if (const auto* abbreviation = FindClassAbbreviation(c)) {
                    atom.ranges.insert(atom.ranges.end(), abbreviation->ranges.begin(), abbreviation->ranges.end());
                    continue;
                }
            }
            wchar_t last = c;
            if (m_pos + 1 < m_text.size() && Peek() == L'-' && m_text[m_pos + 1] != L']') {
                last = m_text[m_pos + 1];
                m_pos += 2;
                if (last < c)
                    ThrowBadPattern();
            }
            atom.ranges.push_back({c, last});
        }
    }

    PatternProgram& m_pattern;
    std::wstring_view m_text;
    size_t m_pos = 0;
};

// Turns the parsed alternations into the program the matcher runs.
//
//   x?  Split L1, L2; L1: Enter r; x; Progress r; L2:
//   x*  L0: Split L1, L2; L1: Enter r; x; Progress r; Jump L0; L2:
//   x+  x; x*            (the first iteration may match nothing)
//   a|b Split L1, L2; L1: a; Jump L3; L2: b; L3:
//   {x} Open g; x; Close g
// One-character items repeat in a single Run instruction.
class ProgramBuilder
{
public:
    explicit ProgramBuilder(PatternProgram& pattern) : m_pattern(pattern) {}

    void Build()
    {
        EmitAlternation(0);
        Emit(PatternProgram::Op::Accept);
        size_t state = 0;
        for (size_t loop : m_pattern.loopOf) {
            m_pattern.firstState.push_back(state);
            state += 1 + LoopDepth(loop);
        }
        m_pattern.stateCount = state;
    }

private:
    size_t Here() const { return m_pattern.program.size(); }

    size_t Emit(PatternProgram::Op op)
    {
        PatternProgram::Instruction instruction;
        instruction.op = op;
        m_pattern.program.push_back(std::move(instruction));
        m_pattern.loopOf.push_back(m_loop);
        return Here() - 1;
    }

    PatternProgram::Instruction& At(size_t index) { return m_pattern.program[index]; }

    size_t LoopDepth(size_t loop) const
    {
        size_t depth = 0;
        for (; loop != PatternProgram::c_noLoop; loop = m_pattern.outerLoop[loop])
            ++depth;
        return depth;
    }

    void EmitAlternation(int index)
    {
        const PatternProgram::Alternation& alternation = m_pattern.alternations[static_cast<size_t>(index)];
        std::vector<size_t> jumps;
        for (size_t i = 0; i < alternation.size(); ++i) {
            const bool last = i + 1 == alternation.size();
            size_t split = 0;
            if (!last) {
                split = Emit(PatternProgram::Op::Split);
                At(split).target = Here();
            }
            for (const auto& piece : alternation[i])
                EmitPiece(piece);
            if (!last) {
                jumps.push_back(Emit(PatternProgram::Op::Jump));
                At(split).alternative = Here();
            }
        }
        for (size_t jump : jumps)
            At(jump).target = Here();
    }

    void EmitPiece(const PatternProgram::Piece& piece)
    {
        switch (piece.atom.kind) {
        case PatternProgram::AtomKind::Begin:
            Emit(PatternProgram::Op::Begin);
            return;
        case PatternProgram::AtomKind::End:
            Emit(PatternProgram::Op::End);
            return;
        case PatternProgram::AtomKind::Group:
            EmitRepeatedGroup(piece);
            return;
        default:
            break;
        }
        const bool single = piece.min == 1 && piece.max == 1;
        const size_t index = Emit(single ? PatternProgram::Op::Character : PatternProgram::Op::Run);
        At(index).atom = piece.atom;
        At(index).min = piece.min;
        At(index).max = piece.max;
    }

    void EmitGroup(const PatternProgram::Atom& atom)
    {
        if (atom.capture >= 0)
            At(Emit(PatternProgram::Op::Open)).slot = static_cast<size_t>(atom.capture);
        EmitAlternation(atom.alternation);
        if (atom.capture >= 0)
            At(Emit(PatternProgram::Op::Close)).slot = static_cast<size_t>(atom.capture);
    }

    void EmitRepeatedGroup(const PatternProgram::Piece& piece)
    {
        if (piece.min == 1)
            EmitGroup(piece.atom);
        if (piece.min == 1 && piece.max == 1)
            return;
        const size_t loop = m_pattern.outerLoop.size();
        m_pattern.outerLoop.push_back(m_loop);
        const size_t head = Emit(PatternProgram::Op::Split);
        At(head).target = Here();
        At(Emit(PatternProgram::Op::Enter)).slot = loop;
        m_loop = loop;
        EmitGroup(piece.atom);
        At(Emit(PatternProgram::Op::Progress)).slot = loop;
        m_loop = m_pattern.outerLoop[loop];
        if (piece.max == UINT_MAX)
            At(Emit(PatternProgram::Op::Jump)).target = head;
        At(head).alternative = Here();
    }

    PatternProgram& m_pattern;
    size_t m_loop = PatternProgram::c_noLoop;
};

} // namespace

PatternProgram CompilePattern(std::wstring_view pattern, bool ignoreCase)
{
    PatternProgram program;
    program.ignoreCase = ignoreCase;
    PatternCompiler(program).CompileAll(pattern);
    ProgramBuilder(program).Build();
    return program;
}
