#include "support/TestSupport.h"

#include "base/CommaSeparated.h"
#include "base/Text.h"

TEST(Text, AnsiRoundTripAndReplacement)
{
    EXPECT_EQ(L"HOME", AnsiToWide("HOME"));
    EXPECT_EQ("HOME", WideToAnsi(L"HOME"));
    EXPECT_EQ(L"", AnsiToWide(""));
    // A character the code page lacks becomes its default replacement.
    EXPECT_EQ("?", WideToAnsi(L"\x4E2D"));
}

TEST(Text, TrimAndCompare)
{
    EXPECT_EQ(L"WGS 84", TrimWhiteSpace(L" \t WGS 84 \r\n"));
    EXPECT_EQ(L"", TrimWhiteSpace(L" \t "));
    EXPECT_TRUE(EqualsIgnoreCase(L"wgs 84", L"WGS 84"));
    EXPECT_FALSE(EqualsIgnoreCase(L"WGS 84 ", L"WGS 84"));
    EXPECT_FALSE(EqualsIgnoreCase(L"WGS84", L"WGS 84"));
}

TEST(CommaSeparated, SplitTable)
{
    struct Row
    {
        const wchar_t* line;
        std::vector<std::wstring> fields;
    };
    const Row rows[] = {
        {L"  12.5 ,\"a,\"\"b\"\"\" ,x", {L"12.5", L"a,\"b\"", L"x"}},
        {L"a,,b", {L"a", L"", L"b"}},
        {L"a,b,", {L"a", L"b"}},
        {L"a,b ", {L"a", L"b "}}, // the last field keeps its trailing blank
        {L"\t a\t,b", {L"a", L"b"}},
        {L"\"open,b", {}},           // no closing quote: the rest is dropped
        {L"x,\"open", {L"x"}},
        {L"\"q\"tail,next", {L"q", L"next"}}, // text after the closing quote up to the comma is dropped
        {L"\"last\"", {L"last"}},
        {L"\"x\"\"1\",\"y\"\"2\",z", {L"x\"1", L"y\"2", L"z"}}, // two unquoted texts side by side
        {L"", {}},
        {L"   ", {}},
    };
    std::vector<std::wstring> reused{L"left", L"over", L"from", L"before", L"x", L"y", L"z"};
    for (const auto& row : rows) {
        EXPECT_EQ(row.fields, SplitCommaSeparated(row.line)) << WideToUtf8(row.line);
        // The list-reusing form gives the same fields whatever it held before.
        SplitCommaSeparated(row.line, reused);
        EXPECT_EQ(row.fields, reused) << WideToUtf8(row.line);
        // And so does the form for ASCII bytes, its views into the line or
        // into the unquoted text.
        const std::string ascii = WideToUtf8(row.line);
        std::vector<std::string_view> views{"stale"};
        std::string unquoted = "stale";
        SplitCommaSeparated(ascii, views, unquoted);
        ASSERT_EQ(row.fields.size(), views.size()) << ascii;
        for (size_t i = 0; i < views.size(); ++i)
            EXPECT_EQ(WideToUtf8(row.fields[i]), views[i]) << ascii;
    }
}
