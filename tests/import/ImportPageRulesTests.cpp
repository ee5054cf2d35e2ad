#include "import/ImportPageRules.h"

#include "support/TestSupport.h"

TEST(ImportPageRules, NextNeedsAnUsableSourceAndForKmlADestination)
{
    TempFolder folder;
    const std::wstring existing = folder.File(L"in.kml");
    WriteFileBytes(existing, "<kml/>");
    struct Row
    {
        std::wstring source;
        std::wstring destination;
        bool kml;   // CanImportLocations
        bool paths; // CanConvertPaths (destination not looked at)
    };
    const Row rows[] = {
        {existing, L"out.upt", true, true},
        {existing, L"", false, true},
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
        EXPECT_EQ(row.paths, CanConvertPaths(row.source));
    }
}
