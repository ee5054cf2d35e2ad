#include "support/TestSupport.h"

#include <cmath>
#include <vector>

#include "import/SentenceReader.h"

namespace {

class SentenceReading : public testing::Test
{
protected:
    std::wstring Input(const std::string& contents)
    {
        const std::wstring path = m_folder.File(L"input.log");
        WriteFileBytes(path, contents);
        return path;
    }

    std::vector<SentencePoint> ReadAll(const std::string& contents, SentenceSkips* skips = nullptr)
    {
        CSentenceReader reader(Input(contents));
        std::vector<SentencePoint> points;
        SentencePoint point;
        while (reader.Next(point)) {
            m_names.emplace_back(point.name);
            m_comments.emplace_back(point.comment);
            points.push_back(point);
        }
        if (skips)
            *skips = reader.Skips();
        return points;
    }

    TempFolder m_folder;
    std::vector<std::string> m_names;
    std::vector<std::string> m_comments;
};

struct PointRow
{
    const char* line;
    double latitude;
    double longitude;
    bool hasAltitude;
    double altitude;
    const char* time; // "yyyy-mm-dd hh:mm:ss.mmm" or ""
    const char* name;
};

std::string TimeText(const SentencePoint& point)
{
    if (!point.hasTime)
        return "";
    char text[32];
    const SentenceTime& t = point.time;
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
             t.second, t.millisecond);
    return text;
}

} // namespace

// The forms of this product's writers, of the receiver and of GPSBabel.
TEST_F(SentenceReading, ReadsEveryWritersForm)
{
    const PointRow rows[] = {
        {"$PMGNWPL,4830.00000,N,01115.00000,W,0.00000,M,HOME,Home sweet home,a*", 48.5, -11.25, true, 0, "", "HOME"},
        {"$PMGNWPL,30.000,S,00015.000,E,0001235,M,CAFE,,a", -0.5, 0.25, true, 1235, "", "CAFE"},
        {"$PMGNWPL,959.999,N,17959.99999,W,-000013,M,EDGE,EDGE,a", 9 + 59.999 / 60, -(179 + 59.99999 / 60), true, -13,
         "", "EDGE"},
        {"$PMGNWPL,0000.00000,N,00000.00000,E,,M,NOALT", 0, 0, false, 0, "", "NOALT"},
        {"$PMGNTRK,5130.000,N,00015.000,W,123,F,120000.000,A,,010108*", 51.5, -0.25, true, 123 * 0.3048,
         "2008-01-01 12:00:00.000", ""},
        {"$PMGNTRK,3605.259,N,08644.389,W,00151,M,201444.61,A,,020302", 36 + 5.259 / 60, -(86 + 44.389 / 60), true,
         151, "2002-03-02 20:14:44.610", ""},
        {"$PMGNTRK,4914.967,N,00651.208,E,000199,M,152224,A,KLLERTAL-RADWEG,290296", 49 + 14.967 / 60,
         6 + 51.208 / 60, true, 199, "1996-02-29 15:22:24.000", ""},
        {"$PMGNTRK,3334.530,N,11739.837,W,00000,M,034414.24,A", 33 + 34.530 / 60, -(117 + 39.837 / 60), true, 0, "",
         ""},
        {"$PMGNTRK,3330.000,S,15115.000,E,-777,F,,A,,301299", -33.5, 151.25, true, -777 * 0.3048, "", ""},
    };
    for (const auto& row : rows) {
        std::string line = row.line;
        if (line.back() == '*') // the checksum, computed by the test
            line = Sentence(line.substr(0, line.size() - 1));
        else
            line += "\r\n";
        m_names.clear();
        const auto points = ReadAll(line);
        ASSERT_EQ(1u, points.size()) << row.line;
        EXPECT_NEAR(row.latitude, points[0].latitude, 1e-12) << row.line;
        EXPECT_NEAR(row.longitude, points[0].longitude, 1e-12) << row.line;
        EXPECT_EQ(row.hasAltitude, points[0].hasAltitude) << row.line;
        EXPECT_NEAR(row.altitude, points[0].altitude, 1e-9) << row.line;
        EXPECT_EQ(row.time, TimeText(points[0])) << row.line;
        EXPECT_EQ(row.name, m_names[0]) << row.line;
    }
}

// What is passed over and counted, and where the runs of a track start.
TEST_F(SentenceReading, SkipsAndCountsWhatIsNoPointAndBreaksRuns)
{
    const std::string track = "$PMGNFMT,%TRK,LAT,HEMI,LON,HEMI,ALT,UNIT,TIME,VALID,NAME,%META,ASCII\r\n" +
                              Sentence("$PMGNTRK,0100.000,N,00100.000,E,1,M,,A,,") + // 1: first run
                              "\r\n"                                                   // blank: passed over
                              "Some text\r\n" +                                        // unknown
                              Sentence("$GPGGA,1") +                                   // unknown
                              "$PMGNTRK,0200.000,N,00200.000,E,2,M,,A,,*00\r\n" +      // wrong checksum
                              Sentence("$PMGNWPL,0100.000,N,00100.000,E,0,M,W,,a") +   // other kind
                              Sentence("$PMGNTRK,0300.000,N,00300.000,E,3,M,,A,,") +   // 2: same run
                              Sentence("$PMGNTRK,0400.000,N,00400.000,E,4,M,,V,,") +   // no fix
                              Sentence("$PMGNTRK,,,,,,,,V,,") +                         // no fix
                              Sentence("$PMGNTRK,0500.000,N,00500.000,E,5,M,,A,,") +   // 3: new run
                              Sentence("$PMGNTRK,0600.000,N,00600.000,E,6,M,,A,NORTH,") + // 4: new name
                              Sentence("$PMGNTRK,0700.000,N,00700.000,E,7,M,,A,NORTH,") + // 5: same run
                              std::string(5000, 'x') + "\r\n" +                        // overlong
                              Sentence("$PMGNCMD,END");
    SentenceSkips skips;
    const auto points = ReadAll(track, &skips);
    ASSERT_EQ(5u, points.size());
    const bool starts[] = {true, false, true, true, false};
    for (size_t i = 0; i < points.size(); ++i)
        EXPECT_EQ(starts[i], points[i].startsSegment) << "point " << i + 1;
    EXPECT_DOUBLE_EQ(7, points[4].altitude);
    EXPECT_EQ(3u, skips.unknownLines);
    EXPECT_EQ(1u, skips.badChecksums);
    EXPECT_EQ(1u, skips.otherKind);
    EXPECT_EQ(2u, skips.invalidFixes);
}

// Lines cross the reader's blocks; the last line has no line end.
TEST_F(SentenceReading, ReadsAcrossBlocks)
{
    std::string contents;
    constexpr int count = 20000;
    for (int i = 0; i < count; ++i)
        contents += Sentence("$PMGNTRK,4830.000,N,01115.000,W," + std::to_string(i) + ",M,120000.000,A,,010108");
    contents += "$PMGNTRK,4830.000,N,01115.000,W,-1,M,,A,,";
    const auto points = ReadAll(contents);
    ASSERT_EQ(static_cast<size_t>(count + 1), points.size());
    for (int i = 0; i < count; ++i)
        ASSERT_DOUBLE_EQ(i, points[static_cast<size_t>(i)].altitude) << "point " << i + 1;
    EXPECT_DOUBLE_EQ(-1, points.back().altitude);
}

TEST_F(SentenceReading, BrokenSentencesFailWithLineAndWords)
{
    struct Row
    {
        const char* sentence;
        HRESULT result;
        const wchar_t* words;
    };
    const Row rows[] = {
        {"$PMGNWPL,48x0.000,N,01115.000,W,0,M,A,,a", DISP_E_TYPEMISMATCH, L"the latitude '48x0.000' is not a number"},
        {"$PMGNWPL,4830.000,N,01115.0.00,W,0,M,A,,a", DISP_E_TYPEMISMATCH,
         L"the longitude '01115.0.00' is not a number"},
        {"$PMGNWPL,4860.000,N,01115.000,W,0,M,A,,a", DISP_E_OVERFLOW, L"the latitude '4860.000' is not valid"},
        {"$PMGNWPL,9100.000,N,01115.000,W,0,M,A,,a", DISP_E_OVERFLOW, L"the latitude '9100.000' is not valid"},
        {"$PMGNWPL,4830.000,Q,01115.000,W,0,M,A,,a", DISP_E_OVERFLOW, L"the hemisphere 'Q' is not valid"},
        {"$PMGNWPL,4830.000,N,01115.000,W,1e3,M,A,,a", DISP_E_TYPEMISMATCH, L"the altitude '1e3' is not a number"},
        {"$PMGNWPL,4830.000,N,01115.000,W,12,Y,A,,a", DISP_E_OVERFLOW, L"the altitude unit 'Y' is not valid"},
        {"$PMGNWPL,4830.000,N,01115.000,W,-99999999999,M,A,,a", DISP_E_OVERFLOW,
         L"the altitude '-99999999999' is not valid"},
        {"$PMGNWPL,4830.000,N,01115.000,W,0", MakeOwnFailure(SentenceFailure::WaypointFields), L""},
        {"$PMGNTRK,4830.000,N,01115.000,W,0,M,12000,A,,010108", DISP_E_TYPEMISMATCH,
         L"the time '12000' is not a number"},
        {"$PMGNTRK,4830.000,N,01115.000,W,0,M,246000,A,,010108", DISP_E_OVERFLOW, L"the time '246000' is not valid"},
        {"$PMGNTRK,4830.000,N,01115.000,W,0,M,120000,A,,290201", DISP_E_OVERFLOW, L"the date '290201' is not valid"},
        {"$PMGNTRK,4830.000,N,01115.000,W,0,M,120000,X,,010108", DISP_E_OVERFLOW, L"the status 'X' is not valid"},
        {"$PMGNTRK,4830.000,N,01115.000,W,0,M,120000", MakeOwnFailure(SentenceFailure::TrackPointFields), L""},
    };
    for (const auto& row : rows) {
        const std::wstring path = Input(Sentence("$PMGNCMD,VERSION") + Sentence(row.sentence));
        try {
            CSentenceReader reader(path);
            SentencePoint point;
            reader.Next(point);
            ADD_FAILURE() << row.sentence << " was read";
        } catch (const CAtlException& e) {
            EXPECT_EQ(row.result, e.m_hr) << row.sentence;
            EXPECT_EQ(2u, e.Position()) << row.sentence;
            EXPECT_EQ(std::wstring(row.words), e.Detail()) << row.sentence;
            EXPECT_EQ(path, e.Path()) << row.sentence;
        }
    }
}
