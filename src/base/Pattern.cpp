#include "base/Pattern.h"

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
    std::initializer_list<CPattern::Range> ranges;
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

} // namespace

// Recursive-descent compiler from pattern text to the alternation pool.
class PatternCompiler
{
public:
    explicit PatternCompiler(CPattern& pattern) : m_pattern(pattern) {}

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
        const int index = static_cast<int>(m_pattern.m_alternations.size());
        m_pattern.m_alternations.emplace_back();
        CPattern::Alternation alternation;
        alternation.push_back(ParseSequence(closer));
        while (!AtEnd() && Peek() == L'|') {
            ++m_pos;
            alternation.push_back(ParseSequence(closer));
        }
        m_pattern.m_alternations[static_cast<size_t>(index)] = std::move(alternation);
        return index;
    }

    CPattern::Sequence ParseSequence(wchar_t closer)
    {
        CPattern::Sequence sequence;
        while (!AtEnd() && Peek() != L'|' && Peek() != L')' && Peek() != L'}') {
            CPattern::Piece piece;
            piece.atom = ParseAtom();
            ParseQuantifier(piece);
            sequence.push_back(std::move(piece));
        }
        if (!AtEnd() && Peek() != L'|' && Peek() != closer)
            ThrowBadPattern();
        return sequence;
    }

    void ParseQuantifier(CPattern::Piece& piece)
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
        if (piece.atom.kind == CPattern::AtomKind::Begin || piece.atom.kind == CPattern::AtomKind::End)
            ThrowBadPattern();
    }

    CPattern::Atom ParseAtom()
    {
        CPattern::Atom atom;
        const wchar_t c = m_text[m_pos++];
        switch (c) {
        case L'*':
        case L'+':
        case L'?':
            ThrowBadPattern();
        case L'.':
            atom.kind = CPattern::AtomKind::Any;
            return atom;
        case L'^':
            atom.kind = CPattern::AtomKind::Begin;
            return atom;
        case L'$':
            atom.kind = CPattern::AtomKind::End;
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

    CPattern::Atom ParseGroup(bool capture)
    {
        CPattern::Atom atom;
        atom.kind = CPattern::AtomKind::Group;
        if (capture)
            atom.capture = static_cast<int>(m_pattern.m_groupCount++);
        const wchar_t closer = capture ? L'}' : L')';
        atom.alternation = ParseAlternation(closer);
        if (AtEnd() || Peek() != closer)
            ThrowBadPattern();
        ++m_pos;
        return atom;
    }

    CPattern::Atom ParseEscape()
    {
        if (AtEnd())
            ThrowBadPattern();
        const wchar_t letter = m_text[m_pos++];
        CPattern::Atom atom;
        if (const auto* abbreviation = FindClassAbbreviation(letter)) {
            atom.kind = CPattern::AtomKind::Class;
            atom.ranges.assign(abbreviation->ranges.begin(), abbreviation->ranges.end());
        } else if (const auto* expansion = FindPatternAbbreviation(letter)) {
            atom.kind = CPattern::AtomKind::Group;
            atom.alternation = CompileAll(expansion->pattern);
        } else {
            atom.literal = letter;
        }
        return atom;
    }

    CPattern::Atom ParseClass()
    {
        CPattern::Atom atom;
        atom.kind = CPattern::AtomKind::Class;
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

    CPattern& m_pattern;
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
    explicit ProgramBuilder(CPattern& pattern) : m_pattern(pattern) {}

    void Build()
    {
        EmitAlternation(0);
        Emit(CPattern::Op::Accept);
        size_t state = 0;
        for (size_t loop : m_pattern.m_loopOf) {
            m_pattern.m_firstState.push_back(state);
            state += 1 + LoopDepth(loop);
        }
        m_pattern.m_stateCount = state;
    }

private:
    size_t Here() const { return m_pattern.m_program.size(); }

    size_t Emit(CPattern::Op op)
    {
        CPattern::Instruction instruction;
        instruction.op = op;
        m_pattern.m_program.push_back(std::move(instruction));
        m_pattern.m_loopOf.push_back(m_loop);
        return Here() - 1;
    }

    CPattern::Instruction& At(size_t index) { return m_pattern.m_program[index]; }

    size_t LoopDepth(size_t loop) const
    {
        size_t depth = 0;
        for (; loop != CPattern::c_noLoop; loop = m_pattern.m_outerLoop[loop])
            ++depth;
        return depth;
    }

    void EmitAlternation(int index)
    {
        // Copied: emitting may add nothing to m_alternations, but keep the
        // reference independent of it all the same.
        const CPattern::Alternation alternation = m_pattern.m_alternations[static_cast<size_t>(index)];
        std::vector<size_t> jumps;
        for (size_t i = 0; i < alternation.size(); ++i) {
            const bool last = i + 1 == alternation.size();
            size_t split = 0;
            if (!last) {
                split = Emit(CPattern::Op::Split);
                At(split).target = Here();
            }
            for (const auto& piece : alternation[i])
                EmitPiece(piece);
            if (!last) {
                jumps.push_back(Emit(CPattern::Op::Jump));
                At(split).alternative = Here();
            }
        }
        for (size_t jump : jumps)
            At(jump).target = Here();
    }

    void EmitPiece(const CPattern::Piece& piece)
    {
        switch (piece.atom.kind) {
        case CPattern::AtomKind::Begin:
            Emit(CPattern::Op::Begin);
            return;
        case CPattern::AtomKind::End:
            Emit(CPattern::Op::End);
            return;
        case CPattern::AtomKind::Group:
            EmitRepeatedGroup(piece);
            return;
        default:
            break;
        }
        const bool single = piece.min == 1 && piece.max == 1;
        const size_t index = Emit(single ? CPattern::Op::Character : CPattern::Op::Run);
        At(index).atom = piece.atom;
        At(index).min = piece.min;
        At(index).max = piece.max;
    }

    void EmitGroup(const CPattern::Atom& atom)
    {
        if (atom.capture >= 0)
            At(Emit(CPattern::Op::Open)).slot = static_cast<size_t>(atom.capture);
        EmitAlternation(atom.alternation);
        if (atom.capture >= 0)
            At(Emit(CPattern::Op::Close)).slot = static_cast<size_t>(atom.capture);
    }

    void EmitRepeatedGroup(const CPattern::Piece& piece)
    {
        if (piece.min == 1)
            EmitGroup(piece.atom);
        if (piece.min == 1 && piece.max == 1)
            return;
        const size_t loop = m_pattern.m_outerLoop.size();
        m_pattern.m_outerLoop.push_back(m_loop);
        const size_t head = Emit(CPattern::Op::Split);
        At(head).target = Here();
        At(Emit(CPattern::Op::Enter)).slot = loop;
        m_loop = loop;
        EmitGroup(piece.atom);
        At(Emit(CPattern::Op::Progress)).slot = loop;
        m_loop = m_pattern.m_outerLoop[loop];
        if (piece.max == UINT_MAX)
            At(Emit(CPattern::Op::Jump)).target = head;
        At(head).alternative = Here();
    }

    CPattern& m_pattern;
    size_t m_loop = CPattern::c_noLoop;
};

// Runs the program by backtracking. A state is an instruction, a text
// position and how many of the enclosing loops began their iteration at
// that very position (the only part of the registers that can change what
// follows: a Progress check compares the position with the iteration's
// start, and positions never move back). Whether a state can reach Accept
// does not depend on the groups captured so far, so a state that failed
// once is remembered and never explored again. Captures and registers are
// changed through a trail that is rolled back when a branch fails.
class PatternMatcher
{
public:
    PatternMatcher(const CPattern& pattern, std::wstring_view text)
        : m_pattern(pattern), m_text(text),
          m_slots(3 * pattern.m_groupCount + pattern.m_outerLoop.size(), SIZE_MAX),
          m_runs(pattern.m_program.size())
    {
    }

    bool MatchAt(size_t start) { return Call(0, start); }

    std::wstring_view Capture(size_t index) const
    {
        const size_t begin = m_slots[2 * index];
        if (begin == SIZE_MAX)
            return {};
        return m_text.substr(begin, m_slots[2 * index + 1] - begin);
    }

private:
    static constexpr unsigned c_maxDepth = 1000;

    struct DepthGuard
    {
        explicit DepthGuard(unsigned& depth) : m_depth(depth)
        {
            if (++m_depth > c_maxDepth)
                ThrowWin32(ERROR_STACK_OVERFLOW);
        }
        ~DepthGuard() { --m_depth; }
        unsigned& m_depth;
    };

    // What is known of the last run of characters a Run instruction saw:
    // every character from start to end matches its atom, and the rest of
    // the program was tried and failed at every position from failedFrom to
    // end (SIZE_MAX: none yet).
    struct RunMemo
    {
        size_t start = SIZE_MAX;
        size_t end = 0;
        size_t failedFrom = SIZE_MAX;
    };

    struct TrailEntry
    {
        size_t slot;
        size_t value;
    };

    size_t OpenSlot(size_t group) const { return 2 * m_pattern.m_groupCount + group; }
    size_t LoopSlot(size_t loop) const { return 3 * m_pattern.m_groupCount + loop; }

    void Set(size_t slot, size_t value)
    {
        m_trail.push_back({slot, m_slots[slot]});
        m_slots[slot] = value;
    }

    void RollBack(size_t mark)
    {
        while (m_trail.size() > mark) {
            m_slots[m_trail.back().slot] = m_trail.back().value;
            m_trail.pop_back();
        }
    }

    size_t StateIndex(size_t pc, size_t pos) const
    {
        size_t fresh = 0;
        for (size_t loop = m_pattern.m_loopOf[pc]; loop != CPattern::c_noLoop && m_slots[LoopSlot(loop)] == pos;
             loop = m_pattern.m_outerLoop[loop])
            ++fresh;
        return pos * m_pattern.m_stateCount + m_pattern.m_firstState[pc] + fresh;
    }

    bool Call(size_t pc, size_t pos)
    {
        const size_t state = StateIndex(pc, pos);
        // The memo grows with the positions reached, so that a match near
        // the start of a long text costs no more than the text it covers.
        if (state >= m_failed.size())
            m_failed.resize(std::max(state + 1, 2 * m_failed.size()));
        if (m_failed[state])
            return false;
        DepthGuard guard(m_depth);
        const size_t mark = m_trail.size();
        if (Run(pc, pos))
            return true;
        RollBack(mark);
        m_failed[state] = true;
        return false;
    }

    bool Run(size_t pc, size_t pos)
    {
        for (;;) {
            const CPattern::Instruction& instruction = m_pattern.m_program[pc];
            switch (instruction.op) {
            case CPattern::Op::Character:
                if (pos == m_text.size() || !MatchesCharacter(instruction.atom, m_text[pos]))
                    return false;
                ++pos;
                break;
            case CPattern::Op::Run:
                switch (RunCharacters(pc, pos)) {
                case RunResult::Matched:
                    return true;
                case RunResult::Failed:
                    return false;
                case RunResult::Empty:
                    break;
                }
                break;
            case CPattern::Op::Begin:
                if (pos != 0)
                    return false;
                break;
            case CPattern::Op::End:
                if (pos != m_text.size())
                    return false;
                break;
            case CPattern::Op::Split:
                if (Call(instruction.target, pos))
                    return true;
                pc = instruction.alternative;
                continue;
            case CPattern::Op::Jump:
                pc = instruction.target;
                continue;
            case CPattern::Op::Open:
                Set(OpenSlot(instruction.slot), pos);
                break;
            case CPattern::Op::Close:
                Set(2 * instruction.slot, m_slots[OpenSlot(instruction.slot)]);
                Set(2 * instruction.slot + 1, pos);
                break;
            case CPattern::Op::Enter:
                Set(LoopSlot(instruction.slot), pos);
                break;
            case CPattern::Op::Progress:
                if (m_slots[LoopSlot(instruction.slot)] == pos)
                    return false;
                break;
            case CPattern::Op::Accept:
                return true;
            }
            ++pc;
        }
    }

    enum class RunResult { Matched, Failed, Empty };

    // Tries the rest of the program after the longest run first, then ever
    // shorter ones down to one character; Empty when none matched and the
    // run may match nothing, for the caller to go on at the same position.
    RunResult RunCharacters(size_t pc, size_t pos)
    {
        const CPattern::Instruction& instruction = m_pattern.m_program[pc];
        const size_t count = RunLength(pc, pos);
        if (count < instruction.min)
            return RunResult::Failed;
        const size_t shortest = pos + std::max(instruction.min, 1u);
        size_t longest = pos + count;
        RunMemo& memo = m_runs[pc];
        const bool remembered = instruction.max == UINT_MAX;
        // Ends from failedFrom on were tried by an earlier visit of this run
        // and failed; they would fail again.
        if (remembered && memo.failedFrom != SIZE_MAX)
            longest = std::min(longest, memo.failedFrom - 1);
        for (size_t end = longest; end >= shortest; --end)
            if (Call(pc + 1, end))
                return RunResult::Matched;
        if (remembered && shortest <= pos + count)
            memo.failedFrom = std::min(memo.failedFrom, shortest);
        return instruction.min == 0 ? RunResult::Empty : RunResult::Failed;
    }

    size_t RunLength(size_t pc, size_t pos)
    {
        const CPattern::Instruction& instruction = m_pattern.m_program[pc];
        if (instruction.max != UINT_MAX) {
            size_t count = 0;
            while (count < instruction.max && pos + count < m_text.size() &&
                   MatchesCharacter(instruction.atom, m_text[pos + count]))
                ++count;
            return count;
        }
        RunMemo& memo = m_runs[pc];
        if (memo.start <= pos && pos <= memo.end)
            return memo.end - pos;
        size_t end = pos;
        while (end < m_text.size() && end != memo.start && MatchesCharacter(instruction.atom, m_text[end]))
            ++end;
        if (end == memo.start && end != pos) {
            memo.start = pos; // the known run goes on from here
        } else {
            memo = RunMemo{pos, end, SIZE_MAX};
        }
        return memo.end - pos;
    }
    bool MatchesCharacter(const CPattern::Atom& atom, wchar_t c) const
    {
        switch (atom.kind) {
        case CPattern::AtomKind::Any:
            return true;
        case CPattern::AtomKind::Literal:
            return c == atom.literal ||
                   (m_pattern.m_ignoreCase && std::towlower(c) == std::towlower(atom.literal));
        default:
            return InClass(atom, c) != atom.negated;
        }
    }

    bool InClass(const CPattern::Atom& atom, wchar_t c) const
    {
        auto inRanges = [&](wchar_t ch) {
            for (const auto& range : atom.ranges)
                if (ch >= range.first && ch <= range.last)
                    return true;
            return false;
        };
        if (inRanges(c))
            return true;
        return m_pattern.m_ignoreCase && (inRanges(static_cast<wchar_t>(std::towlower(c))) ||
                                          inRanges(static_cast<wchar_t>(std::towupper(c))));
    }

    const CPattern& m_pattern;
    std::wstring_view m_text;
    // Captures (begin and end per group), group starts, loop iteration starts.
    std::vector<size_t> m_slots;
    std::vector<TrailEntry> m_trail;
    std::vector<bool> m_failed; // per position and state
    std::vector<RunMemo> m_runs; // per instruction
    unsigned m_depth = 0;
};

CPattern::CPattern(std::wstring_view pattern, bool ignoreCase) : m_ignoreCase(ignoreCase)
{
    PatternCompiler(*this).CompileAll(pattern);
    ProgramBuilder(*this).Build();
}

bool CPattern::Match(std::wstring_view text, std::vector<std::wstring_view>* groups) const
{
    PatternMatcher matcher(*this, text);
    // A pattern that begins with ^ can only match at the start.
    const size_t lastStart = m_program.front().op == Op::Begin ? 0 : text.size();
    for (size_t start = 0; start <= lastStart; ++start) {
        if (matcher.MatchAt(start)) {
            if (groups) {
                groups->clear();
                for (size_t i = 0; i < m_groupCount; ++i)
                    groups->push_back(matcher.Capture(i));
            }
            return true;
        }
    }
    return false;
}
