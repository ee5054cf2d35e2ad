#include "import/ImportPageRules.h"

#include "support/TestSupport.h"

TEST(ImportPageRules, NextNeedsAUsableSourceAndADestination)
{
    TempFolder folder;
    const std::wstring existing = folder.File(L"in.kml");
    WriteFileBytes(existing, "<kml/>");
    struct Row
    {
        std::wstring source;
        std::wstring destination;
        bool kml;   // CanImportLocations
        bool paths; // CanConvertPaths
    };
    const Row rows[] = {
        {existing, L"out.upt", true, true},
        {existing, L"", false, false},
        {folder.Path(), L"out.upt", true, true}, // a folder passes; opening it fails on Next
        {folder.File(L"missing.kml"), L"out.upt", false, false},
        {existing.substr(0, existing.size() - 1), L"out.upt", false, false}, // one character deleted
        {L"", L"out.upt", false, false},
        {L"http://example.org/a.kml", L"out.upt", true, false},
        {L"HTTP://EXAMPLE.ORG/A.KML", L"out.upt", true, false},
        {L"https://example.org/a.kml", L"out.upt", true, false},
        {L"HttpS://example.org/a.kml", L"", false, false},
        {L"http:/example.org/a.kml", L"out.upt", false, false},
        {L"ftp://example.org/a.kml", L"out.upt", false, false},
        {L"http:", L"out.upt", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "source \"" << std::string(row.source.begin(), row.source.end())
                                        << "\", destination \""
                                        << std::string(row.destination.begin(), row.destination.end()) << "\"");
        EXPECT_EQ(row.kml, CanImportLocations(row.source, row.destination));
        EXPECT_EQ(row.paths, CanConvertPaths(row.source, row.destination));
    }
}

// Browse in the export wizard starts where the receiver keeps its files:
// the first folder, or subfolder one level down, holding a .upt or .log.
TEST(ImportPageRules, TheSentenceFolderIsTheFirstHoldingAWaypointFileOrTrackLog)
{
    TempFolder first;
    TempFolder second;
    CreateDirectoryW(first.File(L"Maps").c_str(), nullptr);
    WriteFileBytes(first.File(L"Maps\\map.img"), "");
    CreateDirectoryW(first.File(L"empty.log").c_str(), nullptr); // a folder is no track log
    CreateDirectoryW(second.File(L"Tracks").c_str(), nullptr);
    WriteFileBytes(second.File(L"Tracks\\walk.LOG"), "");

    EXPECT_EQ(second.File(L"Tracks"), FindSentenceFolder({first.Path(), second.Path()}));
    WriteFileBytes(first.File(L"points.upt"), "");
    EXPECT_EQ(first.Path(), FindSentenceFolder({first.Path(), second.Path()}));
    EXPECT_EQ(L"", FindSentenceFolder({first.File(L"Maps"), first.File(L"missing")}));
}
