#include "support/TestSupport.h"

#include "base/Handle.h"
#include "base/Text.h"
#include "import/GpxConversion.h"
#include "import/SentenceFile.h"

namespace {

const std::string c_terminator = "$PMGNCMD,END*3D\r\n";

// Every kind of point, a geocache in both forms, extensions and an empty
// segment, in one GPX 1.0 document (groundspeak:cache is written directly in
// wpt there) with UTF-8 text.
const char c_document[] =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<gpx version=\"1.0\" xmlns=\"http://www.topografix.com/GPX/1/0\" xmlns:x=\"urn:example:other\">\n"
    "  <x:wpt lat=\"1\" lon=\"1\"><name>not GPX</name></x:wpt>\n"
    "  <wpt lat=\"48.5\" lon=\"-11.25\"><ele>812.5</ele><name>Caf\xC3\xA9, $terrace*</name>\n"
    "    <cmt>Open\ndaily</cmt><desc>not taken: cmt is there</desc></wpt>\n"
    "  <wpt lat=\"-33.5\" lon=\"0\"><name>Desc</name><desc>from desc</desc>\n"
    "    <x:note><name>inside another namespace</name></x:note></wpt>\n"
    "  <wpt lat=\"47.25\" lon=\"8.5\"><name>GC1234</name><desc>ignored</desc>\n"
    "    <groundspeak:cache xmlns:groundspeak=\"http://www.groundspeak.com/cache/1/0/1\">\n"
    "      <groundspeak:name>Die Schatzinsel</groundspeak:name><groundspeak:type>Traditional Cache</groundspeak:type>\n"
    "      <groundspeak:container>Micro</groundspeak:container><groundspeak:difficulty>1</groundspeak:difficulty>\n"
    "      <groundspeak:terrain>5</groundspeak:terrain><groundspeak:long_description>x</groundspeak:long_description>\n"
    "    </groundspeak:cache></wpt>\n"
    "  <wpt lat=\"36\" lon=\"-86\"><name>GCGCA8</name><desc>Oozy rat by robertlipe, Unknown Cache (3/2.5)</desc>\n"
    "    <urlname>Oozy rat</urlname><type>Geocache|Unknown Cache</type></wpt>\n"
    "  <rte><name>Route</name><rtept lat=\"1.5\" lon=\"2.5\"><name>R1</name></rtept></rte>\n"
    "  <trk><name>Track</name>\n"
    "    <trkseg><trkpt lat=\"51.5\" lon=\"-0.25\"><ele>123.9</ele>\n"
    "      <time>2008-01-01T12:00:00.2569Z</time></trkpt></trkseg>\n"
    "    <trkseg/>\n"
    "    <trkseg><trkpt lat=\"0\" lon=\"0\"><time>2002-08-15T20:30:00.5-07:00</time><extensions>\n"
    "      <x:speed>3</x:speed></extensions></trkpt>\n"
    "      <trkpt lat=\"-0.5\" lon=\"151.25\"><ele>-0.9</ele></trkpt></trkseg></trk>\n"
    "</gpx>\n";

class GpxConversion : public testing::Test
{
protected:
    std::wstring Input(const std::string& contents)
    {
        const std::wstring path = m_folder.File(L"input.gpx");
        WriteFileBytes(path, contents);
        return path;
    }
    std::wstring Output(const wchar_t* extension) const { return m_folder.File(std::wstring(L"output") + extension); }

    TempFolder m_folder;
};

// Names and comments pass the field rules of every conversion.
std::string Field(const wchar_t* text)
{
    return WideToAnsi(SentenceFieldText(text));
}

const std::string c_waypoints =
    Sentence("$PMGNWPL,4830.00000,N,01115.00000,W,812.50000,M," + Field(L"Caf\u00e9, $terrace*") + "," +
             Field(L"Open\ndaily") + ",a") +
    Sentence("$PMGNWPL,3330.00000,S,00000.00000,E,0.00000,M,Desc,from desc,a") +
    Sentence("$PMGNWPL,4715.00000,N,00830.00000,E,0.00000,M,GC1234," +
             Field(L"Die Schatzinsel (Traditional, Micro, D1/T5)") + ",a") +
    Sentence("$PMGNWPL,3600.00000,N,08600.00000,W,0.00000,M,GCGCA8," + Field(L"Oozy rat (Unknown, D3/T2.5)") + ",a");

} // namespace

TEST_F(GpxConversion, PointsAreWrittenByteForByteForEachDestination)
{
    const std::wstring input = Input(c_document);

    GpxConversionResult result = ConvertGpx(input, Output(L".upt"), GpxOutput::Waypoints);
    EXPECT_EQ(4u, result.written);
    EXPECT_EQ(c_waypoints + c_terminator, ReadFileBytes(Output(L".upt")));

    result = ConvertGpx(input, Output(L".UPT"), GpxOutputFor(Output(L".UPT")), true);
    EXPECT_EQ(5u, result.written);
    EXPECT_EQ(c_waypoints + Sentence("$PMGNWPL,0130.00000,N,00230.00000,E,0.00000,M,R1,,a") + c_terminator,
              ReadFileBytes(Output(L".UPT")));

    result = ConvertGpx(input, Output(L".log"), GpxOutputFor(Output(L".log")), true);
    EXPECT_EQ(GpxOutput::TrackPoints, result.output);
    EXPECT_EQ(Sentence("$PMGNTRK,5130.000,N,00015.000,W,123,M,120000.256,A,,010108") +
                  Sentence("$PMGNTRK,0000.000,N,00000.000,E,0,M,033000.500,A,,160802") +
                  Sentence("$PMGNTRK,0030.000,S,15115.000,E,0,M,,A,,") + c_terminator,
              ReadFileBytes(Output(L".log")));
}

namespace {

struct FailureRow
{
    const char* name;
    std::string contents;
    const wchar_t* extension;
    HRESULT hr;
    const wchar_t* detail; // the words naming the field, or empty
};

const char c_gpx11[] = "<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">";

const FailureRow c_failureRows[] = {
    {"KML", "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Placemark/></kml>", L".upt",
     static_cast<HRESULT>(0xA7650B00), L""},
    {"gpx of an unknown version",
     "<gpx xmlns=\"http://www.topografix.com/GPX/1/2\"><wpt lat=\"1\" lon=\"2\"/></gpx>", L".upt",
     static_cast<HRESULT>(0xA7650B00), L""},
    {"not XML", "lat,lon\n1,2\n", L".upt", E_FAIL, L""},
    {"track only, waypoints asked",
     std::string(c_gpx11) + "<trk><trkseg><trkpt lat=\"1\" lon=\"2\"/></trkseg></trk></gpx>",
     L".upt", static_cast<HRESULT>(0xA7650B01), L""},
    {"waypoints only, track asked", std::string(c_gpx11) + "<wpt lat=\"1\" lon=\"2\"/><trk><trkseg/></trk></gpx>",
     L".log", static_cast<HRESULT>(0xA7650B02), L""},
    {"broken latitude", std::string(c_gpx11) + "<wpt lat=\"4x.5\" lon=\"2\"/></gpx>", L".upt", DISP_E_TYPEMISMATCH,
     L"the latitude '4x.5' is not a number"},
    {"longitude out of range", std::string(c_gpx11) + "<wpt lat=\"1\" lon=\"200\"/></gpx>", L".upt",
     DISP_E_OVERFLOW, L"the longitude '200' is not between -180 and 180"},
    {"broken elevation", std::string(c_gpx11) + "<trk><trkseg><trkpt lat=\"1\" lon=\"2\"><ele>12m</ele></trkpt>"
     "</trkseg></trk></gpx>", L".log", DISP_E_TYPEMISMATCH, L"the altitude '12m' is not a number"},
    {"broken time", std::string(c_gpx11) + "<trk><trkseg><trkpt lat=\"1\" lon=\"2\"><time>yesterday</time></trkpt>"
     "</trkseg></trk></gpx>", L".log", static_cast<HRESULT>(0xA7650B04), L""},
    {"point without lon", std::string(c_gpx11) + "<wpt lat=\"1\"/></gpx>", L".upt", static_cast<HRESULT>(0xA7650B03),
     L""},
    {"unknown destination", c_document, L".gpx", static_cast<HRESULT>(0xA7650B05), L""},
};

} // namespace

TEST_F(GpxConversion, FailuresKeepTheDestinationAndTheSource)
{
    for (const auto& row : c_failureRows) {
        SCOPED_TRACE(row.name);
        const std::wstring input = Input(row.contents);
        const std::wstring output = Output(row.extension);
        WriteFileBytes(output, "precious");
        try {
            ConvertGpx(input, output, GpxOutputFor(output));
            ADD_FAILURE() << "no failure";
        } catch (const CAtlException& e) {
            // The reader's own code for a document that is not XML varies
            // with the MSXML version: any failure with words will do.
            if (row.hr != E_FAIL) {
                EXPECT_EQ(row.hr, e.m_hr);
            }
            EXPECT_EQ(std::wstring(row.detail), row.detail[0] ? e.Detail() : std::wstring());
        }
        EXPECT_EQ("precious", ReadFileBytes(output));
        WIN32_FIND_DATAW found{};
        UniqueFindHandle search(FindFirstFileW(m_folder.File(L"*.tmp").c_str(), &found));
        EXPECT_FALSE(search) << WideToUtf8(found.cFileName);
        EXPECT_EQ(row.contents, ReadFileBytes(input));
    }
}
