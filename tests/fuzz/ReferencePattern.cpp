#include "ReferencePattern.h"

#include <cwctype>
#include <functional>
#include <utility>

#include "base/Exception.h"

namespace {

constexpr size_t c_none = SIZE_MAX;
// Beyond these the search is given up (ERROR_STACK_OVERFLOW): the fuzz
// driver then skips the input.
constexpr unsigned c_maximumDepth = 400;
constexpr unsigned long c_maximumSteps = 200000;

using CharacterTest = std::function<bool(wchar_t)>;

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsQuantifier(wchar_t c) { return c == L'*' || c == L'+' || c == L'?'; }

// The one-character classes \a \b \c \d \h.
bool IsClassLetter(wchar_t letter) { return std::wstring_view(L"abcdh").find(letter) != std::wstring_view::npos; }

bool InClassLetter(wchar_t letter, wchar_t c)
{
    switch (letter) {
    case L'a': return IsAsciiLetter(c) || IsDigit(c);
    case L'b': return c == L' ' || c == L'\t';
    case L'c': return IsAsciiLetter(c);
    case L'd': return IsDigit(c);
    default: return IsDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    }
}

[[noreturn]] void Refuse() { ThrowHr(E_INVALIDARG); }

// Reads the class whose items start at i (after "[" or "[^") and leaves i
// after its "]"; tells whether the class holds c. A "]" right at the start
// is an item; "x-y" is a range unless "]" follows the "-"; a backslash
// takes the next character as an item or names a class letter.
bool ReadClass(std::wstring_view p, size_t& i, wchar_t c)
{
    bool holds = false;
    for (bool first = true;; first = false) {
        if (i >= p.size())
            Refuse();
        wchar_t low = p[i++];
        if (low == L']' && !first)
            return holds;
        if (low == L'\\') {
            if (i >= p.size())
                Refuse();
            low = p[i++];
            if (IsClassLetter(low)) {
                holds = holds || InClassLetter(low, c);
                continue;
            }
        }
        wchar_t high = low;
        if (i + 1 < p.size() && p[i] == L'-' && p[i + 1] != L']') {
            high = p[i + 1];
            i += 2;
            if (high < low)
                Refuse();
        }
        holds = holds || (c >= low && c <= high);
    }
}

// Checks the grammar on the text: item positions of the capturing groups
// in the order of their "{".
class Checker
{
public:
    explicit Checker(std::wstring_view pattern) : p(pattern) {}

    std::vector<size_t> Check()
    {
        Alternation(0);
        if (i != p.size())
            Refuse();
        return m_captures;
    }

private:
    void Alternation(wchar_t closer)
    {
        Sequence(closer);
        while (i < p.size() && p[i] == L'|') {
            ++i;
            Sequence(closer);
        }
    }

    void Sequence(wchar_t closer)
    {
        while (i < p.size() && p[i] != L'|' && p[i] != L')' && p[i] != L'}') {
            const size_t start = i;
            const wchar_t c = p[i++];
            if (IsQuantifier(c))
                Refuse();
            if (c == L'[') {
                if (i < p.size() && p[i] == L'^')
                    ++i;
                ReadClass(p, i, 0);
            } else if (c == L'(' || c == L'{') {
                if (c == L'{')
                    m_captures.push_back(start);
                const wchar_t groupCloser = c == L'(' ? L')' : L'}';
                Alternation(groupCloser);
                if (i >= p.size() || p[i] != groupCloser)
                    Refuse();
                ++i;
            } else if (c == L'\\') {
                if (i >= p.size())
                    Refuse();
                ++i;
            }
            if (i < p.size() && IsQuantifier(p[i])) {
                if (c == L'^' || c == L'$')
                    Refuse();
                ++i;
            }
        }
        if (i < p.size() && p[i] != L'|' && p[i] != closer)
            Refuse();
    }

    std::wstring_view p;
    size_t i = 0;
    std::vector<size_t> m_captures;
};

// Matches a checked pattern by walking its text. Each function gets a
// continuation for the rest of the pattern: it is called with the text
// position reached and tells whether the whole match succeeded from there.
class Walker
{
public:
    using Next = std::function<bool(size_t)>;
    using Captures = std::vector<std::pair<size_t, size_t>>;

    Walker(std::wstring_view pattern, bool ignoreCase, const std::vector<size_t>& capturePositions,
           std::wstring_view text)
        : p(pattern), m_ignoreCase(ignoreCase), m_capturePositions(capturePositions), t(text)
    {
    }

    bool MatchAt(size_t start, Captures& captures)
    {
        m_captures = &captures;
        return Alternation(0, p.size(), start, [](size_t) { return true; });
    }

private:
    // The position just after the item at i, without its quantifier.
    size_t ItemEnd(size_t i) const
    {
        const wchar_t c = p[i++];
        if (c == L'\\') {
            ++i;
        } else if (c == L'[') {
            if (p[i] == L'^')
                ++i;
            ReadClass(p, i, 0);
        } else if (c == L'(' || c == L'{') {
            while (p[i] != L')' && p[i] != L'}')
                i = p[i] == L'|' ? i + 1 : PieceEnd(i);
            ++i;
        }
        return i;
    }

    // The same with the item's quantifier.
    size_t PieceEnd(size_t i) const
    {
        i = ItemEnd(i);
        return i < p.size() && IsQuantifier(p[i]) ? i + 1 : i;
    }

    // The alternatives of p[begin, end) in order.
    bool Alternation(size_t begin, size_t end, size_t pos, const Next& next)
    {
        size_t start = begin;
        for (size_t i = begin; i < end;) {
            if (p[i] != L'|') {
                i = PieceEnd(i);
                continue;
            }
            if (Sequence(start, i, pos, next))
                return true;
            start = ++i;
        }
        return Sequence(start, end, pos, next);
    }

    bool Sequence(size_t begin, size_t end, size_t pos, const Next& next)
    {
        if (begin == end)
            return next(pos);
        const size_t itemEnd = ItemEnd(begin);
        const wchar_t quantifier = itemEnd < end && IsQuantifier(p[itemEnd]) ? p[itemEnd] : 0;
        const size_t after = quantifier ? itemEnd + 1 : itemEnd;
        const Next rest = [&](size_t reached) { return Sequence(after, end, reached, next); };
        // An optional or repeated iteration must take at least a character.
        const auto nonEmpty = [&](size_t from, const Next& then) {
            return Item(begin, itemEnd, from, [&](size_t reached) { return reached != from && then(reached); });
        };
        std::function<bool(size_t)> star = [&](size_t from) { return nonEmpty(from, star) || rest(from); };
        switch (quantifier) {
        case L'?': return nonEmpty(pos, rest) || rest(pos);
        case L'*': return star(pos);
        case L'+': return Item(begin, itemEnd, pos, star);
        default: return Item(begin, itemEnd, pos, rest);
        }
    }

    // The item p[begin, end) once.
    bool Item(size_t begin, size_t end, size_t pos, const Next& next)
    {
        if (++m_steps > c_maximumSteps || m_depth >= c_maximumDepth)
            ThrowHr(HResultFromWin32(ERROR_STACK_OVERFLOW));
        ++m_depth;
        struct Leave
        {
            unsigned& depth;
            ~Leave() { --depth; }
        } leave{m_depth};

        const wchar_t c = p[begin];
        switch (c) {
        case L'(': return Alternation(begin + 1, end - 1, pos, next);
        case L'{': return Capture(begin, end, pos, next);
        case L'^': return pos == 0 && next(pos);
        case L'$': return pos == t.size() && next(pos);
        case L'.': return Character(pos, next, [](wchar_t) { return true; });
        case L'[': {
            const bool negated = p[begin + 1] == L'^';
            const CharacterTest inClass = [&](wchar_t ch) {
                size_t i = begin + (negated ? 2 : 1);
                return ReadClass(p, i, ch);
            };
            return pos < t.size() && Holds(inClass, t[pos]) != negated && next(pos + 1);
        }
        case L'\\': return Escape(p[begin + 1], pos, next);
        default: return Literal(c, pos, next);
        }
    }

    bool Capture(size_t begin, size_t end, size_t pos, const Next& next)
    {
        size_t group = 0;
        while (m_capturePositions[group] != begin)
            ++group;
        return Alternation(begin + 1, end - 1, pos, [&](size_t reached) {
            const auto saved = std::exchange((*m_captures)[group], {pos, reached});
            if (next(reached))
                return true;
            (*m_captures)[group] = saved;
            return false;
        });
    }

    bool Escape(wchar_t letter, size_t pos, const Next& next)
    {
        switch (letter) {
        case L'n': // CR LF, LF or CR, tried in that order
            return (t.substr(pos, 2) == L"\r\n" && next(pos + 2)) || Literal(L'\n', pos, next) ||
                   Literal(L'\r', pos, next);
        case L'q': { // a quote, anything but that quote, the same quote
            if (pos >= t.size() || (t[pos] != L'"' && t[pos] != L'\''))
                return false;
            const size_t closing = t.find(t[pos], pos + 1);
            return closing != std::wstring_view::npos && next(closing + 1);
        }
        case L'w': return Run(pos, next, IsAsciiLetter);
        case L'z': return Run(pos, next, IsDigit);
        default:
            if (IsClassLetter(letter))
                return Character(pos, next, [letter](wchar_t ch) { return InClassLetter(letter, ch); });
            return Literal(letter, pos, next);
        }
    }

    // A class holds a character in either case when case is ignored.
    bool Holds(const CharacterTest& test, wchar_t c) const
    {
        return test(c) || (m_ignoreCase && (test(static_cast<wchar_t>(std::towlower(c))) ||
                                            test(static_cast<wchar_t>(std::towupper(c)))));
    }

    bool Character(size_t pos, const Next& next, const CharacterTest& test)
    {
        return pos < t.size() && Holds(test, t[pos]) && next(pos + 1);
    }

    bool Literal(wchar_t literal, size_t pos, const Next& next)
    {
        return pos < t.size() &&
               (t[pos] == literal || (m_ignoreCase && std::towlower(t[pos]) == std::towlower(literal))) &&
               next(pos + 1);
    }

    // One or more characters of the class, as many as possible first.
    bool Run(size_t pos, const Next& next, const CharacterTest& test)
    {
        size_t end = pos;
        while (end < t.size() && Holds(test, t[end]))
            ++end;
        for (; end > pos; --end)
            if (next(end))
                return true;
        return false;
    }

    std::wstring_view p;
    bool m_ignoreCase;
    const std::vector<size_t>& m_capturePositions;
    std::wstring_view t;
    Captures* m_captures = nullptr;
    unsigned m_depth = 0;
    unsigned long m_steps = 0;
};

} // namespace

CReferencePattern::CReferencePattern(std::wstring_view pattern, bool ignoreCase)
    : m_pattern(pattern), m_ignoreCase(ignoreCase), m_capturePositions(Checker(m_pattern).Check())
{
}

bool CReferencePattern::Match(std::wstring_view text, std::vector<std::wstring_view>* groups) const
{
    Walker walker(m_pattern, m_ignoreCase, m_capturePositions, text);
    for (size_t start = 0; start <= text.size(); ++start) {
        Walker::Captures captures(m_capturePositions.size(), {c_none, c_none});
        if (!walker.MatchAt(start, captures))
            continue;
        if (groups) {
            groups->clear();
            for (const auto& [first, last] : captures)
                groups->push_back(first == c_none ? std::wstring_view() : text.substr(first, last - first));
        }
        return true;
    }
    return false;
}
