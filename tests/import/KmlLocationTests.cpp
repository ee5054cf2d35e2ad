#include "support/TestSupport.h"

#include "base/Text.h"
#include "import/KmlLocation.h"

TEST(KmlHref, ResolvedAgainstTheLinkingDocument)
{
    const struct
    {
        const wchar_t* document;
        const wchar_t* href;
        const wchar_t* location;
    } rows[] = {
        {L"C:\\maps\\huts.kml", L"more.kml", L"C:\\maps\\more.kml"},
        {L"C:\\maps\\huts.kml", L" \n sub/more.kml\n", L"C:\\maps\\sub/more.kml"},
        {L"C:/maps/huts.kml", L"../more.kml", L"C:/maps/../more.kml"},
        {L"huts.kml", L"more.kml", L"more.kml"},
        {L"C:\\maps\\huts.kml", L"D:\\more.kml", L"D:\\more.kml"},
        {L"C:\\maps\\huts.kml", L"\\\\server\\more.kml", L"\\\\server\\more.kml"},
        {L"C:\\maps\\huts.kml", L"https://example.org/more.kml", L"https://example.org/more.kml"},
        {L"http://example.org/maps/huts.kml", L"more.kml", L"http://example.org/maps/more.kml"},
        {L"HTTPS://example.org/maps/huts.kml", L"../more.kml?x=1", L"https://example.org/more.kml?x=1"},
        {L"http://example.org/maps/huts.kml", L"/more.kml", L"http://example.org/more.kml"},
        {L"http://example.org/maps/huts.kml", L"https://other.org/more.kml", L"https://other.org/more.kml"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(std::wstring(row.location), ResolveKmlHref(row.document, row.href)) << WideToUtf8(row.href);
}
