#include "base/Pattern.h"

#include <algorithm>
#include <climits>
#include <cwctype>
#include <utility>

#include "base/Exception.h"
#include "base/PatternProgram.h"

namespace {

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
    PatternMatcher(const PatternProgram& pattern, std::wstring_view text)
        : m_pattern(pattern), m_text(text),
          m_slots(3 * pattern.groupCount + pattern.outerLoop.size(), SIZE_MAX),
          m_runs(pattern.program.size())
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

    size_t OpenSlot(size_t group) const { return 2 * m_pattern.groupCount + group; }
    size_t LoopSlot(size_t loop) const { return 3 * m_pattern.groupCount + loop; }

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
        for (size_t loop = m_pattern.loopOf[pc]; loop != PatternProgram::c_noLoop && m_slots[LoopSlot(loop)] == pos;
             loop = m_pattern.outerLoop[loop])
            ++fresh;
        return pos * m_pattern.stateCount + m_pattern.firstState[pc] + fresh;
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
            const PatternProgram::Instruction& instruction = m_pattern.program[pc];
            switch (instruction.op) {
            case PatternProgram::Op::Character:
                if (pos == m_text.size() || !MatchesCharacter(instruction.atom, m_text[pos]))
                    return false;
                ++pos;
                break;
            case PatternProgram::Op::Run:
                switch (RunCharacters(pc, pos)) {
                case RunResult::Matched:
                    return true;
                case RunResult::Failed:
                    return false;
                case RunResult::Empty:
                    break;
                }
                break;
            case PatternProgram::Op::Begin:
                if (pos != 0)
                    return false;
                break;
            case PatternProgram::Op::End:
                if (pos != m_text.size())
                    return false;
                break;
            case PatternProgram::Op::Split:
                if (Call(instruction.target, pos))
                    return true;
                pc = instruction.alternative;
                continue;
            case PatternProgram::Op::Jump:
                pc = instruction.target;
                continue;
            case PatternProgram::Op::Open:
                Set(OpenSlot(instruction.slot), pos);
                break;
            case PatternProgram::Op::Close:
                Set(2 * instruction.slot, m_slots[OpenSlot(instruction.slot)]);
                Set(2 * instruction.slot + 1, pos);
                break;
            case PatternProgram::Op::Enter:
                Set(LoopSlot(instruction.slot), pos);
                break;
            case PatternProgram::Op::Progress:
                if (m_slots[LoopSlot(instruction.slot)] == pos)
                    return false;
                break;
            case PatternProgram::Op::Accept:
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
        const PatternProgram::Instruction& instruction = m_pattern.program[pc];
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
        const PatternProgram::Instruction& instruction = m_pattern.program[pc];
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
    bool MatchesCharacter(const PatternProgram::Atom& atom, wchar_t c) const
    {
        switch (atom.kind) {
        case PatternProgram::AtomKind::Any:
            return true;
        case PatternProgram::AtomKind::Literal:
            return c == atom.literal ||
                   (m_pattern.ignoreCase && std::towlower(c) == std::towlower(atom.literal));
        default:
            return InClass(atom, c) != atom.negated;
        }
    }

    bool InClass(const PatternProgram::Atom& atom, wchar_t c) const
    {
        auto inRanges = [&](wchar_t ch) {
            for (const auto& range : atom.ranges)
                if (ch >= range.first && ch <= range.last)
                    return true;
            return false;
        };
        if (inRanges(c))
            return true;
        return m_pattern.ignoreCase && (inRanges(static_cast<wchar_t>(std::towlower(c))) ||
                                          inRanges(static_cast<wchar_t>(std::towupper(c))));
    }

    const PatternProgram& m_pattern;
    std::wstring_view m_text;
    // Captures (begin and end per group), group starts, loop iteration starts.
    std::vector<size_t> m_slots;
    std::vector<TrailEntry> m_trail;
    std::vector<bool> m_failed; // per position and state
    std::vector<RunMemo> m_runs; // per instruction
    unsigned m_depth = 0;
};

} // namespace

CPattern::CPattern(std::wstring_view pattern, bool ignoreCase)
    : m_program(std::make_shared<const PatternProgram>(CompilePattern(pattern, ignoreCase)))
{
}

size_t CPattern::GroupCount() const noexcept
{
    return m_program->groupCount;
}

bool CPattern::Match(std::wstring_view text, std::vector<std::wstring_view>* groups) const
{
    PatternMatcher matcher(*m_program, text);
    // A pattern that begins with ^ can only match at the start.
    const size_t lastStart = m_program->program.front().op == PatternProgram::Op::Begin ? 0 : text.size();
    for (size_t start = 0; start <= lastStart; ++start) {
        if (matcher.MatchAt(start)) {
            if (groups) {
                groups->clear();
                for (size_t i = 0; i < m_program->groupCount; ++i)
                    groups->push_back(matcher.Capture(i));
            }
            return true;
        }
    }
    return false;
}
