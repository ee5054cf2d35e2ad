#include "ReferencePattern.h"

#include <climits>
#include <cwctype>
#include <utility>

#include "base/Exception.h"

namespace {

// Classes behind the backslash abbreviations that match one character.
struct ClassAbbreviation
{
    wchar_t letter;
    std::initializer_list<CReferencePattern::Range> ranges;
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

// A non-owning reference to a callable, for the matcher's continuations.
template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)>
{
public:
    template <typename F>
    FunctionRef(F& f) noexcept
        : m_object(&f), m_call([](void* o, Args... args) -> R { return (*static_cast<F*>(o))(args...); })
    {
    }
    R operator()(Args... args) const { return m_call(m_object, args...); }

private:
    void* m_object;
    R (*m_call)(void*, Args...);
};

} // namespace

// Recursive-descent compiler from pattern text to the alternation pool.
class ReferenceCompiler
{
public:
    explicit ReferenceCompiler(CReferencePattern& pattern) : m_pattern(pattern) {}

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
        CReferencePattern::Alternation alternation;
        alternation.push_back(ParseSequence(closer));
        while (!AtEnd() && Peek() == L'|') {
            ++m_pos;
            alternation.push_back(ParseSequence(closer));
        }
        m_pattern.m_alternations[static_cast<size_t>(index)] = std::move(alternation);
        return index;
    }

    CReferencePattern::Sequence ParseSequence(wchar_t closer)
    {
        CReferencePattern::Sequence sequence;
        while (!AtEnd() && Peek() != L'|' && Peek() != L')' && Peek() != L'}') {
            CReferencePattern::Piece piece;
            piece.atom = ParseAtom();
            ParseQuantifier(piece);
            sequence.push_back(std::move(piece));
        }
        if (!AtEnd() && Peek() != L'|' && Peek() != closer)
            ThrowBadPattern();
        return sequence;
    }

    void ParseQuantifier(CReferencePattern::Piece& piece)
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
        if (piece.atom.kind == CReferencePattern::AtomKind::Begin || piece.atom.kind == CReferencePattern::AtomKind::End)
            ThrowBadPattern();
    }

    CReferencePattern::Atom ParseAtom()
    {
        CReferencePattern::Atom atom;
        const wchar_t c = m_text[m_pos++];
        switch (c) {
        case L'*':
        case L'+':
        case L'?':
            ThrowBadPattern();
        case L'.':
            atom.kind = CReferencePattern::AtomKind::Any;
            return atom;
        case L'^':
            atom.kind = CReferencePattern::AtomKind::Begin;
            return atom;
        case L'$':
            atom.kind = CReferencePattern::AtomKind::End;
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

    CReferencePattern::Atom ParseGroup(bool capture)
    {
        CReferencePattern::Atom atom;
        atom.kind = CReferencePattern::AtomKind::Group;
        if (capture)
            atom.capture = static_cast<int>(m_pattern.m_groupCount++);
        const wchar_t closer = capture ? L'}' : L')';
        atom.alternation = ParseAlternation(closer);
        if (AtEnd() || Peek() != closer)
            ThrowBadPattern();
        ++m_pos;
        return atom;
    }

    CReferencePattern::Atom ParseEscape()
    {
        if (AtEnd())
            ThrowBadPattern();
        const wchar_t letter = m_text[m_pos++];
        CReferencePattern::Atom atom;
        if (const auto* abbreviation = FindClassAbbreviation(letter)) {
            atom.kind = CReferencePattern::AtomKind::Class;
            atom.ranges.assign(abbreviation->ranges.begin(), abbreviation->ranges.end());
        } else if (const auto* expansion = FindPatternAbbreviation(letter)) {
            atom.kind = CReferencePattern::AtomKind::Group;
            atom.alternation = CompileAll(expansion->pattern);
        } else {
            atom.literal = letter;
        }
        return atom;
    }

    CReferencePattern::Atom ParseClass()
    {
        CReferencePattern::Atom atom;
        atom.kind = CReferencePattern::AtomKind::Class;
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

    CReferencePattern& m_pattern;
    std::wstring_view m_text;
    size_t m_pos = 0;
};

// Backtracking matcher over the compiled pattern. Each step hands the rest
// of the match to a continuation, so repetition and alternation backtrack
// naturally; a depth limit keeps hostile input from exhausting the stack.
class ReferenceMatcher
{
public:
    ReferenceMatcher(const CReferencePattern& pattern, std::wstring_view text)
        : m_pattern(pattern), m_text(text), m_captures(pattern.m_groupCount, Unset())
    {
    }

    bool MatchAt(size_t start)
    {
        std::fill(m_captures.begin(), m_captures.end(), Unset());
        auto accept = [](size_t) { return true; };
        return MatchAlternation(0, start, Continuation(accept));
    }

    std::wstring_view Capture(size_t index) const
    {
        const auto& [begin, end] = m_captures[index];
        if (begin == SIZE_MAX)
            return {};
        return m_text.substr(begin, end - begin);
    }

private:
    using Continuation = FunctionRef<bool(size_t)>;
    static constexpr unsigned c_maxDepth = 1000;

    static std::pair<size_t, size_t> Unset() { return {SIZE_MAX, SIZE_MAX}; }

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

    bool MatchAlternation(int index, size_t pos, Continuation next)
    {
        for (const auto& sequence : m_pattern.m_alternations[static_cast<size_t>(index)])
            if (MatchSequence(sequence, 0, pos, next))
                return true;
        return false;
    }

    bool MatchSequence(const CReferencePattern::Sequence& sequence, size_t piece, size_t pos, Continuation next)
    {
        if (piece == sequence.size())
            return next(pos);
        // Plain backtracking is exponential on nested repetitions: give up
        // (the caller skips the comparison) rather than run for hours.
        if (++m_steps > c_maxSteps)
            ThrowHr(E_ABORT);
        DepthGuard guard(m_depth);
        auto rest = [&](size_t end) { return MatchSequence(sequence, piece + 1, end, next); };
        return MatchPiece(sequence[piece], pos, Continuation(rest));
    }

    bool MatchPiece(const CReferencePattern::Piece& piece, size_t pos, Continuation next)
    {
        if (IsSingleCharacter(piece.atom))
            return MatchSingleCharacterRun(piece, pos, next);
        return MatchRepeated(piece, 0, pos, next);
    }

    static bool IsSingleCharacter(const CReferencePattern::Atom& atom)
    {
        return atom.kind == CReferencePattern::AtomKind::Literal || atom.kind == CReferencePattern::AtomKind::Any ||
               atom.kind == CReferencePattern::AtomKind::Class;
    }

    // Greedy repetition of a one-character item without recursion per character.
    bool MatchSingleCharacterRun(const CReferencePattern::Piece& piece, size_t pos, Continuation next)
    {
        size_t count = 0;
        while (count < piece.max && pos + count < m_text.size() && MatchesCharacter(piece.atom, m_text[pos + count]))
            ++count;
        for (size_t n = count + 1; n-- > piece.min;)
            if (next(pos + n))
                return true;
        return false;
    }

    bool MatchRepeated(const CReferencePattern::Piece& piece, unsigned count, size_t pos, Continuation next)
    {
        DepthGuard guard(m_depth);
        if (count < piece.max) {
            auto again = [&](size_t end) {
                if (end == pos && count >= piece.min)
                    return false; // an empty iteration would repeat forever
                return MatchRepeated(piece, count + 1, end, next);
            };
            if (MatchAtom(piece.atom, pos, Continuation(again)))
                return true;
        }
        return count >= piece.min && next(pos);
    }

    bool MatchAtom(const CReferencePattern::Atom& atom, size_t pos, Continuation next)
    {
        switch (atom.kind) {
        case CReferencePattern::AtomKind::Begin:
            return pos == 0 && next(pos);
        case CReferencePattern::AtomKind::End:
            return pos == m_text.size() && next(pos);
        case CReferencePattern::AtomKind::Group:
            return MatchGroup(atom, pos, next);
        default:
            return pos < m_text.size() && MatchesCharacter(atom, m_text[pos]) && next(pos + 1);
        }
    }

    bool MatchGroup(const CReferencePattern::Atom& atom, size_t pos, Continuation next)
    {
        if (atom.capture < 0)
            return MatchAlternation(atom.alternation, pos, next);
        auto& capture = m_captures[static_cast<size_t>(atom.capture)];
        const auto saved = capture;
        auto close = [&](size_t end) {
            const auto inner = capture;
            capture = {pos, end};
            if (next(end))
                return true;
            capture = inner;
            return false;
        };
        if (MatchAlternation(atom.alternation, pos, Continuation(close)))
            return true;
        capture = saved;
        return false;
    }

    bool MatchesCharacter(const CReferencePattern::Atom& atom, wchar_t c) const
    {
        switch (atom.kind) {
        case CReferencePattern::AtomKind::Any:
            return true;
        case CReferencePattern::AtomKind::Literal:
            return c == atom.literal ||
                   (m_pattern.m_ignoreCase && std::towlower(c) == std::towlower(atom.literal));
        default:
            return InClass(atom, c) != atom.negated;
        }
    }

    bool InClass(const CReferencePattern::Atom& atom, wchar_t c) const
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

    const CReferencePattern& m_pattern;
    std::wstring_view m_text;
    std::vector<std::pair<size_t, size_t>> m_captures;
    unsigned m_depth = 0;
    unsigned long m_steps = 0;
    static constexpr unsigned long c_maxSteps = 2000000;
};

CReferencePattern::CReferencePattern(std::wstring_view pattern, bool ignoreCase) : m_ignoreCase(ignoreCase)
{
    ReferenceCompiler(*this).CompileAll(pattern);
}

bool CReferencePattern::Match(std::wstring_view text, std::vector<std::wstring_view>* groups) const
{
    ReferenceMatcher matcher(*this, text);
    for (size_t start = 0; start <= text.size(); ++start) {
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
