#include "support/TestSupport.h"
#include <climits>
#include <cstdio>
#include <string>
using namespace std::string_literals;

#include "base/Text.h"
#include "base/OutputFiles.h"
#include "import/SentenceFile.h"

TEST(SentenceFile, ChecksumFollowsTheDollarSign)
{
    struct Row
    {
        const char* line;
        bool appended;
        const char* expected;
    };
    const Row rows[] = {
        {"$PMGNCMD,END", true, "$PMGNCMD,END*3D"},
        {"$", false, "$"},
        {"", false, ""},
        {"PMGNCMD,END", false, "PMGNCMD,END"},
        {"$A", true, "$A*41"},
        {"$\xE9", true, "$\xE9*E9"}, // bytes above 0x7F take part as they are
    };
    for (const auto& row : rows) {
        std::string line = row.line;
        EXPECT_EQ(row.appended, AppendChecksum(line)) << row.line;
        EXPECT_EQ(row.expected, line) << row.line;
    }
}

TEST(SentenceFile, FixedPointTruncatesAndSigns)
{
    struct Row
    {
        const wchar_t* format;
        double value;
        const wchar_t* expected;
    };
    const Row rows[] = {
        {L"%d", 0.0, L"0.00000"},
        {L"%d", -12.5, L"-12.50000"},
        {L"%d", -0.5, L"-0.50000"},
        {L"%d", 1234.567891, L"1234.56789"}, // truncated, not rounded
        {L"%d", 0.3, L"0.30000"},            // 0.3 * 100000 rounds to 30000 in double precision
        {L"%d", 0.29, L"0.28999"},           // and 0.29 * 100000 to just below 29000: not corrected
        {L"%02d", 5.25, L"05.25000"},
        {L"%d", 1e30, L"2147483647.00000"}, // absurd values saturate instead of overflowing
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, FormatFixedPoint(row.format, row.value)) << row.value;
}

TEST(SentenceFile, DegreeMinutesAndTrackAngles)
{
    EXPECT_EQ(L"4830.00000", FormatDegreeMinutes(2, 48.5));
    EXPECT_EQ(L"01130.00000", FormatDegreeMinutes(3, 11.5));
    EXPECT_EQ(L"3330.00000", FormatDegreeMinutes(2, -33.5));
    EXPECT_EQ(L"0030.00000", FormatDegreeMinutes(2, -0.5));
    EXPECT_EQ(L"12300.00000", FormatDegreeMinutes(2, 123)); // no range check
    EXPECT_EQ(L"3330.000", FormatTrackAngle(L"%02d%02d.%03d", -33.5));
    EXPECT_EQ(L"5130.000", FormatTrackAngle(L"%02d%02d.%03d", 51.5));
    EXPECT_EQ(L"00015.000", FormatTrackAngle(L"%03d%02d.%03d", -0.25));
    EXPECT_EQ(L"00000.000", FormatTrackAngle(L"%03d%02d.%03d", 0.0));
    EXPECT_EQ(L"4728.948", FormatTrackAngle(L"%02d%02d.%03d", 47.482476)); // 28.94856 minutes, truncated
}

TEST(SentenceFile, WriteSentenceConvertsToAnsiAndEndsWithCrLf)
{
    TempFolder folder;
    const std::wstring path = folder.File(L"out.upt");
    {
        PendingFile file(path);
        WriteSentence(file.Get(), L"$PMGNWPL,4830.00000,N,01115.00000,W,0.00000,M,HOME,,a", true);
        WriteSentence(file.Get(), L"$PMGNCMD,END", false);
        WriteSentence(file.Get(), L"$PMGNCMD,END", true);
        file.Commit();
    }
    std::string expected = "$PMGNWPL,4830.00000,N,01115.00000,W,0.00000,M,HOME,,a";
    AppendChecksum(expected);
    expected += "\r\n$PMGNCMD,END\r\n$PMGNCMD,END*3D\r\n";
    EXPECT_EQ(expected, ReadFileBytes(path));
}

TEST(SentenceFile, ReadTextLinesSplitsEveryLineEnding)
{
    struct Row
    {
        std::string contents;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\n\rb\n\r", {"a", "b"}},
        {"a\nb", {"a", "b"}},          // last line without LF
        {"a\n\nb\n", {"a", "", "b"}},  // empty line between two LFs
        {"\r\ra\rb\r\r\n", {"a\rb"}},  // inner CR stays
        {"a\nb\0c\nd\n"s, {"a", "b"}}, // contents from the first NUL on are ignored
        {"", {}},
        {"\n", {""}},
    };
    TempFolder folder;
    const std::wstring path = folder.File(L"lines.txt");
    int index = 0;
    for (const auto& row : rows) {
        WriteFileBytes(path, row.contents);
        const TextLines lines = ReadTextLines(path);
        ASSERT_EQ(row.lines.size(), lines.size()) << "row " << index;
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(row.lines[i], lines[i]) << "row " << index << " line " << i;
        ++index;
    }
}

TEST(SentenceFile, ReadTextLinesOfAMissingFileRaisesTheSystemError)
{
    TempFolder folder;
    EXPECT_EQ(HResultFromWin32(ERROR_FILE_NOT_FOUND), RaisedResult([&] { ReadTextLines(folder.File(L"none.wpt")); }));
}

TEST(SentenceFile, SplitCommaSeparatedTable)
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
        {L"", {}},
        {L"   ", {}},
    };
    std::vector<std::wstring> reused{L"left", L"over", L"from", L"before", L"x", L"y", L"z"};
    for (const auto& row : rows) {
        EXPECT_EQ(row.fields, SplitCommaSeparated(row.line)) << WideToUtf8(row.line);
        // The list-reusing form gives the same fields whatever it held before.
        SplitCommaSeparated(row.line, reused);
        EXPECT_EQ(row.fields, reused) << WideToUtf8(row.line);
    }
}

namespace {

struct DecimalRow
{
    const wchar_t* text;
    double value;
};

const DecimalRow c_decimalRows[] = {
    {L"-0.5", -0.5}, {L"12.", 12.0},      {L"3.25", 3.25},     {L" 47.466222 ", 47.466222},
    {L"-87.1347", -87.1347}, {L"-777", -777.0}, {L"0", 0.0}, {L"39307.3279977", 39307.3279977},
};

void ExpectDecimalRows()
{
    for (const auto& row : c_decimalRows)
        EXPECT_DOUBLE_EQ(row.value, ParseDecimal(row.text)) << WideToUtf8(row.text);
    EXPECT_TRUE(FAILED(RaisedResult([] { ParseDecimal(L"abc"); })));
    EXPECT_TRUE(FAILED(RaisedResult([] { ParseDecimal(L""); })));
    EXPECT_TRUE(FAILED(RaisedResult([] { ParseDecimal(L"1.x"); })));
}

} // namespace

TEST(SentenceFile, ParseDecimalUsesThePointWhateverTheLocale)
{
    ExpectDecimalRows();
    CommaDecimalLocale comma;
    ExpectDecimalRows();
}

TEST(SentenceFile, FormatIntegersAgreesWithPrintf)
{
    struct Row
    {
        const wchar_t* format;
        std::vector<int> values;
    };
    const Row rows[] = {
        {L"%d", {0}},          {L"%d", {-777}},          {L"%d", {INT_MIN}},          {L"%d", {INT_MAX}},
        {L"%02d", {7}},        {L"%02d", {-7}},          {L"%05d", {-12}},            {L".%05d", {299}},
        {L"%03d", {12345}},    {L"%02d%02d.%03d", {4, 28, 9}}, {L"%02d%02d%02d.%03d", {23, 59, 59, 999}},
    };
    for (const auto& row : rows) {
        wchar_t expected[64];
        switch (row.values.size()) {
        case 1: std::swprintf(expected, 64, row.format, row.values[0]); break;
        case 3: std::swprintf(expected, 64, row.format, row.values[0], row.values[1], row.values[2]); break;
        default:
            std::swprintf(expected, 64, row.format, row.values[0], row.values[1], row.values[2], row.values[3]);
        }
        std::wstring actual;
        switch (row.values.size()) {
        case 1: actual = FormatIntegers(row.format, {row.values[0]}); break;
        case 3: actual = FormatIntegers(row.format, {row.values[0], row.values[1], row.values[2]}); break;
        default: actual = FormatIntegers(row.format, {row.values[0], row.values[1], row.values[2], row.values[3]});
        }
        EXPECT_EQ(std::wstring(expected), actual) << WideToUtf8(row.format);
    }
    EXPECT_EQ(E_INVALIDARG, RaisedResult([] { FormatIntegers(L"%x", {1}); }));
    EXPECT_EQ(E_INVALIDARG, RaisedResult([] { FormatIntegers(L"%d%d", {1}); }));
}
