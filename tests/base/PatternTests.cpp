#include "support/TestSupport.h"

#include "base/Pattern.h"
#include "base/Text.h"

namespace {

struct MatchRow
{
    const wchar_t* pattern;
    bool ignoreCase;
    const wchar_t* text;
    bool matches;
    const wchar_t* group0; // expected first capture, nullptr: not checked
};

const MatchRow c_matchRows[] = {
    // The altitude unit line of OziExplorer tracks.
    {L"^Altitude is in {(M(eters)?)|(F(eet)?)}[^ ]+$", true, L"Altitude is in Feet", true, L"F"},
    {L"^Altitude is in {(M(eters)?)|(F(eet)?)}[^ ]+$", true, L"Altitude is in Meters", true, L"M"},
    {L"^Altitude is in {(M(eters)?)|(F(eet)?)}[^ ]+$", true, L"altitude is in feet", true, L"f"},
    {L"^Altitude is in {(M(eters)?)|(F(eet)?)}[^ ]+$", true, L"Altitude is in Feet ", false, nullptr},
    {L"^Altitude is in {(M(eters)?)|(F(eet)?)}[^ ]+$", true, L"Altitude is in M", false, nullptr},
    {L"^Altitude is in {(M(eters)?)|(F(eet)?)}[^ ]+$", false, L"altitude is in Feet", false, nullptr},
    {L"^Altitude is in {(M(eters)?)|(F(eet)?)}[^ ]+$", true, L"Altitude is in Yards", false, nullptr},
    // Search, anchors and alternation.
    {L"b+", false, L"aabbbc", true, nullptr},
    {L"^b", false, L"ab", false, nullptr},
    {L"a$", false, L"ab", false, nullptr},
    {L"{cat|dog}s", false, L"hotdogs", true, L"dog"},
    {L"x{a*}y", false, L"xy", true, L""},
    {L"{a}?b", false, L"b", true, L""},
    {L"^(ab)+$", false, L"ababab", true, nullptr},
    {L"^(ab)+$", false, L"ababa", false, nullptr},
    {L"^(a*)*$", false, L"aaaa", true, nullptr},
    {L"{.}?", false, L"x", true, L"x"},
    {L"^{(a|ab)?}b$", false, L"ab", true, L"a"},
    {L"^{(|a)+}a$", false, L"aa", true, L"a"},
    // Classes and abbreviations.
    {L"^[a-c]+$", false, L"abcabc", true, nullptr},
    {L"^[a-c]+$", true, L"ABC", true, nullptr},
    {L"^[^0-9]+$", false, L"abc1", false, nullptr},
    {L"^[]a]+$", false, L"]a]", true, nullptr},
    {L"^[\\d.]+$", false, L"12.5", true, nullptr},
    {L"^\\a\\a$", false, L"z9", true, nullptr},
    {L"^\\b$", false, L"\t", true, nullptr},
    {L"^\\c$", false, L"9", false, nullptr},
    {L"^0x{\\h+}$", false, L"0x1fA9", true, L"1fA9"},
    {L"^{\\w}\\b*=\\b*{\\z}$", false, L"Level = 42", true, L"Level"},
    {L"^{\\q}$", false, L"\"a, b\"", true, L"\"a, b\""},
    {L"^{\\q}$", false, L"'it'", true, L"'it'"},
    {L"^{\\q}$", false, L"\"open", false, nullptr},
    {L"^a\\nb$", false, L"a\r\nb", true, nullptr},
    {L"^a\\nb$", false, L"a\nb", true, nullptr},
    {L"^a\\nb$", false, L"a\rb", true, nullptr},
    {L"^a\\nb$", false, L"a\n\rb", false, nullptr},
    {L"^a\\.b$", false, L"a.b", true, nullptr},
    {L"^a\\.b$", false, L"axb", false, nullptr},
    {L"^a.b$", false, L"axb", true, nullptr},
    // Namespace-style patterns with a captured version.
    {L"^http://{[a-z.]+}/kml/{\\z\\.\\z}$", true, L"http://www.opengis.net/kml/2.2", true, L"www.opengis.net"},
};

} // namespace

TEST(Pattern, MatchesAndCapturesTable)
{
    int index = 0;
    for (const auto& row : c_matchRows) {
        SCOPED_TRACE(testing::Message() << "row " << index++ << ": " << WideToUtf8(row.pattern) << " on \""
                                        << WideToUtf8(row.text) << "\"");
        const CPattern pattern(row.pattern, row.ignoreCase);
        std::vector<std::wstring_view> groups;
        ASSERT_EQ(row.matches, pattern.Match(row.text, &groups));
        if (row.matches && row.group0) {
            ASSERT_FALSE(groups.empty());
            EXPECT_EQ(std::wstring_view(row.group0), groups[0]);
        }
    }
}

TEST(Pattern, GroupsAreNumberedByOpeningBrace)
{
    const CPattern pattern(L"^{\\z}-{(\\z)-{\\z}}$", false);
    EXPECT_EQ(3u, pattern.GroupCount());
    std::vector<std::wstring_view> groups;
    ASSERT_TRUE(pattern.Match(L"1-22-333", &groups));
    ASSERT_EQ(3u, groups.size());
    EXPECT_EQ(L"1", groups[0]);
    EXPECT_EQ(L"22-333", groups[1]);
    EXPECT_EQ(L"333", groups[2]);
}

TEST(Pattern, BadSyntaxIsRefusedWhenCompiled)
{
    const wchar_t* const rows[] = {L"(ab", L"ab)", L"{ab", L"ab}", L"(ab}", L"[ab", L"ab\\", L"*a", L"a|+b", L"^*",
                                   L"[z-a]"};
    for (const auto* row : rows)
        EXPECT_EQ(E_INVALIDARG, RaisedResult([&] { CPattern(row, false); })) << WideToUtf8(row);
}

TEST(Pattern, HugeTextDoesNotExhaustTheStack)
{
    const std::wstring text(200000, L'a');
    EXPECT_TRUE(CPattern(L"^a+$", false).Match(text));
    // Repetition of a group recurses per iteration: refused cleanly past the depth limit.
    const HRESULT hr = RaisedResult([&] { CPattern(L"^(a)+$", false).Match(text); });
    EXPECT_EQ(HResultFromWin32(ERROR_STACK_OVERFLOW), hr);
}

// Texts on which a matcher without memo backtracks for days: every CR LF
// pair can be one line end or two, and every split of the digits between
// the two version groups is tried. They must end (with the same answer).
TEST(Pattern, AmbiguousTextsEndAtOnce)
{
    const CPattern pointer(L"^[0-9]+ +{[[0-9a-z\\.\\_\\-]+} *\\n*$", true);
    std::wstring lineEnds;
    for (int i = 0; i < 60; ++i)
        lineEnds += L"\r\n";
    std::vector<std::wstring_view> groups;
    EXPECT_FALSE(pointer.Match(L"1 a" + lineEnds + L"!"));
    const std::wstring pointerFile = L"1 a" + lineEnds;
    ASSERT_TRUE(pointer.Match(pointerFile, &groups));
    EXPECT_EQ(L"a", groups[0]);

    const CPattern space(L"^http\\://www\\.opengis\\.net/kml/{[0-9]+}.{[0-9]+}$", true);
    const std::wstring digits(1 << 20, L'7');
    EXPECT_FALSE(space.Match(L"http://www.opengis.net/kml/" + digits + L"x"));
    const std::wstring uri = L"http://www.opengis.net/kml/" + digits;
    ASSERT_TRUE(space.Match(uri, &groups));
    EXPECT_EQ(digits.size() - 2, groups[0].size());
    EXPECT_EQ(L"7", groups[1]);
    // Unanchored: every start position meets the same long run.
    EXPECT_FALSE(CPattern(L"7+x", false).Match(digits));
}

// A parser that matches an anchored pattern against the rest of its text,
// again and again (as the hyperlink markup does with its anchors), must
// pay for what each match covers, not for the whole rest each time.
TEST(Pattern, RepeatedAnchoredMatchesCostWhatTheyCover)
{
    std::wstring markup;
    for (int i = 0; i < 20000; ++i)
        markup += L"and <A HREF=\"x\">more</A> ";
    const CPattern opening(L"^{[^\\<]*}\\<A *{[^\\>]*}\\>", true);
    const CPattern closing(L"^{[^\\<]*}\\<\\/A\\>", true);
    std::wstring_view rest = markup;
    std::vector<std::wstring_view> groups;
    size_t anchors = 0;
    while (opening.Match(rest, &groups)) {
        rest.remove_prefix(groups[1].data() + groups[1].size() + 1 - rest.data());
        ASSERT_TRUE(closing.Match(rest, &groups));
        rest.remove_prefix(groups[0].size() + 4);
        ++anchors;
    }
    EXPECT_EQ(20000u, anchors);
}
