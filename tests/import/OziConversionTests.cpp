#include "support/TestSupport.h"

#include "base/Handle.h"
#include "base/Text.h"
#include "import/OziConversion.h"

using namespace std::string_literals;

namespace {

const std::string c_terminator = "$PMGNCMD,END*3D\r\n";

const char c_waypointHeader[] = "OziExplorer Waypoint File Version 1.1\r\nWGS 84\r\nReserved 2\r\nReserved 3\r\n";
const char c_trackHeaderFeet[] = "OziExplorer Track Point File Version 2.1\r\nWGS 84\r\nAltitude is in Feet\r\n"
                                 "Reserved 3\r\n0,2,255,Track,0,0,2,8421376\r\n0\r\n";

class OziConversion : public testing::Test
{
protected:
    std::wstring Input(const std::string& contents)
    {
        const std::wstring path = m_folder.File(L"input.txt");
        WriteFileBytes(path, contents);
        return path;
    }
    std::wstring Output() const { return m_folder.File(L"output.txt"); }

    TempFolder m_folder;
};

} // namespace

TEST_F(OziConversion, WaypointsAreWrittenByteForByte)
{
    const std::wstring input = Input(std::string(c_waypointHeader) +
                                     "1,HOME,48.5,-11.25,,0,1,3,0,65535,Home sweet home,0,0,0,1234,6,0,17\r\n"
                                     "   \r\n"
                                     "2,\"Cafe, terrace\",-0.5,-0.25\r\n"
                                     "3,  Spaced name  ,0,0,\r\n");
    ConvertWaypoints(input, Output());
    const std::string expected = Sentence("$PMGNWPL,4830.00000,N,01115.00000,W,0.00000,M,HOME,,a") +
                                 Sentence("$PMGNWPL,0030.00000,S,00015.00000,W,0.00000,M,Cafe  terrace,,a") +
                                 Sentence("$PMGNWPL,0000.00000,N,00000.00000,E,0.00000,M,Spaced name,,a") +
                                 c_terminator;
    EXPECT_EQ(expected, ReadFileBytes(Output()));
}

TEST_F(OziConversion, DatumIsComparedIgnoringCase)
{
    ConvertWaypoints(Input("banner\nwgs 84\n\n\n1,A,1,2\n"), Output());
    EXPECT_EQ(Sentence("$PMGNWPL,0100.00000,N,00200.00000,E,0.00000,M,A,,a") + c_terminator, ReadFileBytes(Output()));
}

TEST_F(OziConversion, TrackPointsAreWrittenByteForByte)
{
    const std::wstring input = Input(std::string(c_trackHeaderFeet) +
                                     "  51.500000,  -0.250000,1,  123.9,39448.5, 01-Jan-08, 12:00:00\r\n"
                                     "\r\n"
                                     "-33.5,151.25,0,-777,0\r\n"
                                     "0,0,0,-0.9,39448.75,,\r\n");
    ConvertTrack(input, Output());
    const std::string expected = Sentence("$PMGNTRK,5130.000,N,00015.000,W,123,F,120000.000,A,,010108") +
                                 Sentence("$PMGNTRK,3330.000,S,15115.000,E,-777,F,,A,,301299") +
                                 Sentence("$PMGNTRK,0000.000,N,00000.000,E,0,F,180000.000,A,,010108") + c_terminator;
    EXPECT_EQ(expected, ReadFileBytes(Output()));
}

TEST_F(OziConversion, AltitudeUnitFollowsLineThree)
{
    struct Row
    {
        const char* unitLine;
        const char* unit;
    };
    const Row rows[] = {{"Altitude is in Feet", "F"}, {"Altitude is in Meters", "M"}, {"altitude is in feet", "F"},
                        {"ALTITUDE IS IN METERS", "M"}};
    for (const auto& row : rows) {
        const std::wstring input = Input(std::string("banner\r\nWGS 84\r\n") + row.unitLine +
                                         "\r\nr\r\nd\r\n1\r\n10,20,0,100,40000\r\n");
        ConvertTrack(input, Output());
        const std::string bytes = ReadFileBytes(Output());
        EXPECT_NE(std::string::npos, bytes.find(std::string(",100,") + row.unit + ",")) << row.unitLine;
    }
}

namespace {

struct FailureRow
{
    const char* name;
    bool track;
    std::string contents;
    HRESULT hr;
    unsigned position;
    const wchar_t* detail; // the words naming the field, or empty
};

const FailureRow c_failureRows[] = {
    {"waypoints: four lines only", false, c_waypointHeader, static_cast<HRESULT>(0xA76500CE), 0, L""},
    {"waypoints: datum without blank", false, "b\nWGS84\n\n\n1,A,1,2\n", static_cast<HRESULT>(0xA76500CF), 2, L""},
    {"waypoints: datum with trailing blank", false, "b\nWGS 84 \n\n\n1,A,1,2\n", static_cast<HRESULT>(0xA76500CF), 2, L""},
    {"waypoints: three fields", false, std::string(c_waypointHeader) + "1,A,1,2\n\n2,B,3\n",
     static_cast<HRESULT>(0xA76500DA), 7, L""},
    {"waypoints: latitude not a number", false, std::string(c_waypointHeader) + "1,A,north,2\n", DISP_E_TYPEMISMATCH,
     5, L"the latitude 'north' is not a number"},
    {"waypoints: NUL at the start of line 7", false,
     std::string(c_waypointHeader) + "1,A,1,2\n2,B,3,4\n\0" "3,C,5,6\n4,D,7,8\n"s, MakeOwnFailure(0x0A10), 7, L""},
    {"waypoints: latitude beyond the pole", false, std::string(c_waypointHeader) + "1,A,90.5,2\n", DISP_E_OVERFLOW, 5,
     L"the latitude '90.5' is not between -90 and 90"},
    {"waypoints: longitude in another notation", false, std::string(c_waypointHeader) + "1,A,1,1.5e3\n",
     DISP_E_TYPEMISMATCH, 5, L"the longitude '1.5e3' is not a number"},
    {"waypoints: line 6 longer than 1 MiB", false, std::string(c_waypointHeader) + "1,A,1,2\n2,B," +
     std::string(1024 * 1024, '5') + ",1\n", MakeOwnFailure(TextFailure::LineTooLong), 6, L""},
    {"track: six lines only", true, c_trackHeaderFeet, static_cast<HRESULT>(0xA76500CC), 0, L""},
    {"track: other datum", true, "b\nPulkovo 1942 (1)\nAltitude is in Feet\n\n\n\n1,2,0,3,4\n",
     static_cast<HRESULT>(0xA76500CD), 2, L""},
    {"track: unit line with trailing blank", true, "b\nWGS 84\nAltitude is in Feet \n\n\n\n1,2,0,3,4\n",
     static_cast<HRESULT>(0xA76500D3), 3, L""},
    {"track: unknown unit", true, "b\nWGS 84\nAltitude is in Yards\n\n\n\n1,2,0,3,4\n", static_cast<HRESULT>(0xA76500D3),
     3, L""},
    {"track: four fields", true, std::string(c_trackHeaderFeet) + "1,2,0,3,4\n1,2,0,3\n",
     static_cast<HRESULT>(0xA76500E2), 8, L""},
    {"track: day number not a number", true, std::string(c_trackHeaderFeet) + "1,2,0,3,to\tday\n", DISP_E_TYPEMISMATCH,
     7, L"the date (day number) 'to\\tday' is not a number"},
    {"track: NUL inside line 8", true, std::string(c_trackHeaderFeet) + "1,2,0,3,4\n1,2\0,0,3,4\n"s,
     MakeOwnFailure(0x0A10), 8, L""},
};

} // namespace

TEST_F(OziConversion, FailuresCarryTheirCodeAndLine)
{
    for (const auto& row : c_failureRows) {
        SCOPED_TRACE(row.name);
        const std::wstring input = Input(row.contents);
        WriteFileBytes(Output(), "precious");
        try {
            row.track ? ConvertTrack(input, Output()) : ConvertWaypoints(input, Output());
            ADD_FAILURE() << "no failure";
        } catch (const CAtlException& e) {
            EXPECT_EQ(row.hr, e.m_hr);
            EXPECT_EQ(row.position, e.Position());
            EXPECT_EQ(std::wstring(row.detail), e.Detail());
        }
        // The existing output survives every failure, and nothing is left
        // beside it.
        EXPECT_EQ("precious", ReadFileBytes(Output()));
        WIN32_FIND_DATAW found{};
        UniqueFindHandle search(FindFirstFileW(m_folder.File(L"*.tmp").c_str(), &found));
        EXPECT_FALSE(search) << WideToUtf8(found.cFileName);
        EXPECT_EQ(row.contents, ReadFileBytes(input)); // the source is never modified
    }
}

TEST_F(OziConversion, OutputNamingTheInputIsRefusedAndTheInputKept)
{
    const std::string waypoints = std::string(c_waypointHeader) + "1,A,1,2\r\n";
    const std::string track = std::string(c_trackHeaderFeet) + "1,2,0,3,4\r\n";
    const std::wstring input = Input(waypoints);
    // The same file under another spelling of its path.
    std::wstring other = input;
    other.replace(other.rfind(L"input.txt"), 9, L"INPUT.TXT");
    EXPECT_EQ(HResultFromWin32(ERROR_SHARING_VIOLATION), RaisedResult([&] { ConvertWaypoints(input, other); }));
    EXPECT_EQ(waypoints, ReadFileBytes(input));
    WriteFileBytes(input, track);
    EXPECT_EQ(HResultFromWin32(ERROR_SHARING_VIOLATION), RaisedResult([&] { ConvertTrack(input, input); }));
    EXPECT_EQ(track, ReadFileBytes(input));
}

TEST_F(OziConversion, MissingInputIsTheSystemErrorAndCreatesNothing)
{
    const std::wstring missing = m_folder.File(L"missing.plt");
    try {
        ConvertTrack(missing, Output());
        FAIL() << "no failure";
    } catch (const CAtlException& e) {
        EXPECT_EQ(HResultFromWin32(ERROR_FILE_NOT_FOUND), e.m_hr);
        EXPECT_EQ(missing, e.Path());
    }
    EXPECT_FALSE(FileExists(Output()));
}

TEST_F(OziConversion, ParsingIgnoresTheUserDecimalSeparator)
{
    CommaDecimalLocale comma;
    ConvertTrack(Input(std::string(c_trackHeaderFeet) + "51.5,-0.25,0,12.75,39448.5\n"), Output());
    EXPECT_EQ(Sentence("$PMGNTRK,5130.000,N,00015.000,W,12,F,120000.000,A,,010108") + c_terminator,
              ReadFileBytes(Output()));
}

TEST_F(OziConversion, RealFilesConvertWithOneSentencePerPoint)
{
    const std::wstring data = TestDataFolder();
    SKIP_WITHOUT_TESTDATA(data);
    struct Row
    {
        const wchar_t* file;
        bool track;
        size_t points;
    };
    const Row rows[] = {
        {L"gpsbabel-ozi.wpt", false, 9},
        {L"gpsbabel-20070813_short.plt", true, 44},
        {L"gpsbabel-ozitracks-gpx-1.plt", true, 3},
        {L"gpsbabel-packed-3segments.plt", true, 9},
    };
    for (const auto& row : rows) {
        const std::wstring input = data + L"\\ozi\\" + row.file;
        row.track ? ConvertTrack(input, Output()) : ConvertWaypoints(input, Output());
        const std::string bytes = ReadFileBytes(Output());
        size_t sentences = 0;
        for (size_t pos = bytes.find('$'); pos != std::string::npos; pos = bytes.find('$', pos + 1))
            ++sentences;
        EXPECT_EQ(row.points + 1, sentences) << WideToUtf8(row.file);
        EXPECT_TRUE(bytes.ends_with(c_terminator)) << WideToUtf8(row.file);
    }
}
