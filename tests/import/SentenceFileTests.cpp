#include "support/TestSupport.h"
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>
using namespace std::string_literals;

#include "base/OutputFiles.h"
#include "base/Text.h"
#include "import/KmlConversion.h"
#include "import/OziConversion.h"
#include "import/SentenceFile.h"

namespace {

std::wstring FormatIntegers(const wchar_t* format, std::initializer_list<int> values)
{
    std::wstring text;
    AppendIntegers(text, format, values);
    return text;
}

std::wstring FormatTrackAngle(const wchar_t* format, double value)
{
    std::wstring text;
    AppendTrackAngle(text, format, value);
    return text;
}

} // namespace

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

namespace {

std::vector<std::string> ReadAllLines(const std::wstring& path)
{
    TextLineReader reader(path);
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.Next(line)) {
        lines.emplace_back(line);
        EXPECT_EQ(lines.size(), reader.LineNumber());
    }
    return lines;
}

} // namespace

TEST(SentenceFile, TextLineReaderSplitsEveryLineEnding)
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
        {"", {}},
        {"\n", {""}},
    };
    TempFolder folder;
    const std::wstring path = folder.File(L"lines.txt");
    int index = 0;
    for (const auto& row : rows) {
        WriteFileBytes(path, row.contents);
        const std::vector<std::string> lines = ReadAllLines(path);
        ASSERT_EQ(row.lines.size(), lines.size()) << "row " << index;
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(row.lines[i], lines[i]) << "row " << index << " line " << i;
        ++index;
    }
}

// Blocks end inside lines and between CR and LF, and a line longer than a
// block makes the reader grow: the lines are the same as read whole.
TEST(SentenceFile, TextLineReaderKeepsLinesAcrossBlocks)
{
    std::vector<std::string> expected;
    std::string contents;
    for (size_t i = 0; contents.size() < 900 * 1024; ++i) {
        const size_t length = i == 3000 ? 600 * 1024 : (i * 7919) % 301;
        expected.push_back(std::string(length, static_cast<char>('a' + i % 26)));
        contents += expected.back() + (i % 3 == 0 ? "\n" : "\r\n");
    }
    TempFolder folder;
    const std::wstring path = folder.File(L"lines.txt");
    WriteFileBytes(path, contents);
    const std::vector<std::string> lines = ReadAllLines(path);
    ASSERT_EQ(expected.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(expected[i], lines[i]) << "line " << i + 1;
}

TEST(SentenceFile, TextLineReaderRefusesANulByteNamingItsLine)
{
    struct Row
    {
        std::string contents;
        unsigned line;
    };
    const Row rows[] = {
        {"a\nb\0c\nd\n"s, 2},
        {"a\nb\n\0\n"s, 3},
        {"a\r\n\0"s, 2}, // padding after the last line end
    };
    TempFolder folder;
    const std::wstring path = folder.File(L"lines.txt");
    for (const auto& row : rows) {
        WriteFileBytes(path, row.contents);
        try {
            ReadAllLines(path);
            ADD_FAILURE() << "no failure for line " << row.line;
        } catch (const CAtlException& e) {
            EXPECT_EQ(MakeOwnFailure(TextFailure::NulByte), e.m_hr);
            EXPECT_EQ(row.line, e.Position());
            EXPECT_EQ(path, e.Path());
        }
    }
}

TEST(SentenceFile, TextLineReaderOfAMissingFileRaisesTheSystemError)
{
    TempFolder folder;
    EXPECT_EQ(HResultFromWin32(ERROR_FILE_NOT_FOUND), RaisedResult([&] { TextLineReader reader(folder.File(L"none.wpt")); }));
}

namespace {

struct DecimalRow
{
    const wchar_t* text;
    double value;
};

// Values compared exactly: the integer digits' value plus the fraction
// digits' value over a power of ten.
const DecimalRow c_decimalRows[] = {
    {L"-0.5", -0.5},
    {L"12.", 12.0},
    {L"+3.25", 3.25},
    {L" 47.466222 ", 47.0 + 466222.0 / 1e6},
    {L"\t-0.358557", -(358557.0 / 1e6)},
    {L"11.9996228", 11.0 + 9996228.0 / 1e7}, // one ulp above the nearest double of the text
    {L"-777", -777.0},
    {L"0", 0.0},
    {L".5", 0.5},
    {L"-.25", -0.25},
    {L"39307.3279977", 39307.0 + 3279977.0 / 1e7},
    {L"12345678901234567890", 12345678901234567890.0},
    {L"1.000000000000000000000000000001", 1.0},
    {L"0.1234567890123456789012345", 0.1234567890123456789012345},
};

const wchar_t* const c_notDecimals[] = {
    L"", L" ", L".", L"-", L"+-1", L"--1", L"1.2.3", L"1.x", L"abc", L"&H10", L"(5)", L"$1", L"1.5e3", L"1e308",
    L"0x10", L"1,5", L"1 000", L"nan", L"NaN", L"inf", L"-Infinity", L"- 1", L"1-", L"\x0661", L"\xFF11",
};

void ExpectDecimalRows()
{
    for (const auto& row : c_decimalRows)
        EXPECT_EQ(row.value, ParseDecimal(row.text)) << WideToUtf8(row.text);
    EXPECT_TRUE(std::signbit(ParseDecimal(L"-0.0")));
    for (const wchar_t* text : c_notDecimals)
        EXPECT_EQ(DISP_E_TYPEMISMATCH, RaisedResult([&] { ParseDecimal(text); })) << WideToUtf8(text);
    EXPECT_EQ(DISP_E_OVERFLOW, RaisedResult([] { ParseDecimal(std::wstring(400, L'9')); }));
}

} // namespace

TEST(SentenceFile, ParseDecimalTakesOnlyPlainDecimalsWhateverTheLocale)
{
    ExpectDecimalRows();
    CommaDecimalLocale comma;
    ExpectDecimalRows();
}

TEST(SentenceFile, NumberFieldsKeepTheirRanges)
{
    struct Row
    {
        NumberField field;
        std::wstring text;
        HRESULT result;
        std::wstring detail;
    };
    const Row rows[] = {
        {NumberField::Latitude, L"90", S_OK, L""},
        {NumberField::Latitude, L"-90.0", S_OK, L""},
        {NumberField::Latitude, L"90.000001", DISP_E_OVERFLOW, L"the latitude '90.000001' is not between -90 and 90"},
        {NumberField::Latitude, L"-91", DISP_E_OVERFLOW, L"the latitude '-91' is not between -90 and 90"},
        {NumberField::Longitude, L"-180", S_OK, L""},
        {NumberField::Longitude, L"180.5", DISP_E_OVERFLOW, L"the longitude '180.5' is not between -180 and 180"},
        {NumberField::Longitude, L"&H10", DISP_E_TYPEMISMATCH, L"the longitude '&H10' is not a number"},
        {NumberField::Altitude, L"-123456789012", S_OK, L""},
        {NumberField::Altitude, L"1" + std::wstring(309, L'0'), DISP_E_OVERFLOW,
         L"the altitude '1" + std::wstring(79, L'0') + L"...' is too large"}, // the text quoted in part
        {NumberField::DayNumber, L"1e5", DISP_E_TYPEMISMATCH, L"the date (day number) '1e5' is not a number"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(WideToUtf8(row.text));
        EXPECT_EQ(row.result, RaisedResult([&] { ParseNumberField(row.field, row.text); }));
        EXPECT_EQ(row.detail, RaisedDetail([&] { ParseNumberField(row.field, row.text); }));
    }
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

namespace {

// Checks every sentence of a written waypoint file: one '$' at its start,
// one '*' before the two checksum digits, a right checksum and exactly the
// ten fields of $PMGNWPL; the field at fieldIndex must read expectedField
// when one is given. The terminator is skipped.
void ExpectWellFormedWaypoints(const std::string& bytes, size_t fieldIndex, const char* expectedField)
{
    constexpr size_t waypointFields = 10;
    size_t start = 0;
    size_t sentences = 0;
    for (size_t end = bytes.find("\r\n"); end != std::string::npos; start = end + 2, end = bytes.find("\r\n", start)) {
        const std::string line = bytes.substr(start, end - start);
        if (line.starts_with("$PMGNCMD,END"))
            continue;
        ++sentences;
        const size_t star = line.find('*');
        ASSERT_EQ(line.size() - 3, star) << line;
        EXPECT_EQ(0u, line.rfind('$')) << line;
        std::string body = line.substr(0, star);
        EXPECT_EQ(Sentence(body), line + "\r\n");
        std::vector<std::string> fields;
        for (size_t from = 0;;) {
            const size_t comma = body.find(',', from);
            fields.push_back(body.substr(from, comma - from));
            if (comma == std::string::npos)
                break;
            from = comma + 1;
        }
        ASSERT_EQ(waypointFields, fields.size()) << line;
        if (expectedField) {
            EXPECT_EQ(expectedField, fields[fieldIndex]) << line;
        }
    }
    EXPECT_EQ(1u, sentences);
}

} // namespace

TEST(SentenceFields, EveryWriterKeepsItsFieldsWhateverTheTexts)
{
    struct Row
    {
        const char* kml;    // UTF-8 element text
        const char* ozi;    // the name field of a waypoint line, or nullptr
        const char* field;  // as written, or nullptr where the code page decides
    };
    const Row rows[] = {
        {"A,B,C", "\"A,B,C\"", "A B C"},
        {"Hut*00", "Hut*00", "Hut_00"},
        {"x$PMGNWPL,1,2*3F", "\"x$PMGNWPL,1,2*3F\"", "x_PMGNWPL 1 2_3F"},
        {"a&#9;b", "a\tb", "a b"},
        {"c&#x7F;&#x85;d", "c\x01\x7F" "d", "c  d"},
        {"\xEF\xBC\x8C\xEF\xBC\x8A\xEF\xBC\x84", nullptr, nullptr}, // fullwidth comma, asterisk, dollar
        {"\xF0\x9F\x8F\x94,", nullptr, nullptr},                   // a pair of UTF-16 units, a comma
    };
    TempFolder folder;
    const std::wstring output = folder.File(L"out.upt");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kml);
        const std::wstring kml = folder.File(L"in.kml");
        const std::string point = "<Point><coordinates>1,2,0</coordinates></Point>";
        const std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><kml xmlns=\"http://www.opengis.net/"
                                     "kml/2.2\"><Placemark><name>" + std::string(row.kml) + "</name>" + point +
                                     "</Placemark><Placemark><name>n</name><description>" + row.kml +
                                     "</description>" + point + "</Placemark></kml>";
        WriteFileBytes(kml, document);
        ImportKmlPlacemarks(kml, output);
        const std::string written = ReadFileBytes(output);
        const size_t second = written.find("\r\n") + 2;
        ExpectWellFormedWaypoints(written.substr(0, second), 7, row.field);
        ExpectWellFormedWaypoints(written.substr(second), 8, row.field);

        if (!row.ozi)
            continue;
        const std::wstring wpt = folder.File(L"in.wpt");
        WriteFileBytes(wpt, std::string("OziExplorer Waypoint File Version 1.1\r\nWGS 84\r\nr\r\nr\r\n1,") + row.ozi +
                                ",2,1,,0,1,3\r\n");
        ConvertWaypoints(wpt, output);
        ExpectWellFormedWaypoints(ReadFileBytes(output), 7, row.field);
    }
}
