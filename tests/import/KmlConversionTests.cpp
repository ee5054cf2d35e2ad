#include "support/TestSupport.h"

#include <functional>

#include "base/Text.h"
#include "import/KmlConversion.h"
#include "import/KmlDocument.h"

namespace {

// The KML terminator carries no checksum.
const std::string c_terminator = "$PMGNCMD,END\r\n";
const std::string c_opengis = "http://www.opengis.net/kml/2.2";

std::string Kml(const std::string& body, const std::string& ns = c_opengis)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"" + ns + "\">" + body + "</kml>";
}

std::string Placemark(const std::string& name, const std::string& coordinates = "1,2,0")
{
    return "<Placemark><name>" + name + "</name><Point><coordinates>" + coordinates +
           "</coordinates></Point></Placemark>";
}

// The sentence of Placemark(name) at 1,2,0.
std::string Waypoint(const std::string& name)
{
    return Sentence("$PMGNWPL,0200.00000,N,00100.00000,E,0.00000,M," + name + ",,a");
}

std::string Folders(int depth, const std::string& inner)
{
    std::string text = inner;
    for (int level = depth; level >= 1; --level)
        text = "<Folder>" + Placemark("L" + std::to_string(level)) + text + "</Folder>";
    return text;
}

class KmlConversion : public testing::Test
{
protected:
    std::wstring Source(const std::string& contents, const std::wstring& name = L"source.kml")
    {
        const std::wstring path = m_folder.File(name);
        WriteFileBytes(path, contents);
        return path;
    }
    std::wstring Destination() const { return m_folder.File(L"out.upt"); }

    HRESULT Import(const std::string& contents)
    {
        return RaisedResult([&] { ImportKmlPlacemarks(Source(contents), Destination()); });
    }

    TempFolder m_folder;
};

struct DocumentRow
{
    const char* what;
    std::string document;
    std::string expected; // the whole output, when the import succeeds
    HRESULT result = S_OK;
    unsigned position = 0;
    const wchar_t* detailStart = L""; // of the failure's words
};

} // namespace

TEST_F(KmlConversion, DocumentsConvertOrFailWithTheirCode)
{
    const DocumentRow rows[] = {
        {"direct placemarks before folder ones",
         Kml("<Document><Folder>" + Placemark("F") + "</Folder>" + Placemark("A") + Placemark("B") + "</Document>"),
         Waypoint("A") + Waypoint("B") + Waypoint("F") + c_terminator},
        {"placemarks directly under kml", Kml(Placemark("K")), Waypoint("K") + c_terminator},
        {"what kml holds beside its Document does not count",
         Kml(Placemark("K") + "<Folder>" + Placemark("KF") + "</Folder><Document>" + Placemark("D") +
             "</Document>" + Placemark("After")),
         Waypoint("D") + c_terminator},
        {"names compared ignoring case",
         Kml("<document><placemark><NAME>C</NAME><POINT><Coordinates>1,2,0</Coordinates></POINT></placemark>"
             "<FOLDER>" + Placemark("D") + "</FOLDER></document>"),
         Waypoint("C") + Waypoint("D") + c_terminator},
        {"twelve nested folders, depth first",
         Kml("<Document>" + Folders(12, "") + Folders(1, "") + "</Document>"),
         Waypoint("L1") + Waypoint("L2") + Waypoint("L3") + Waypoint("L4") + Waypoint("L5") + Waypoint("L6") +
             Waypoint("L7") + Waypoint("L8") + Waypoint("L9") + Waypoint("L10") + Waypoint("L11") +
             Waypoint("L12") + Waypoint("L1") + c_terminator},
        {"Documents are containers too, a Document in a Folder in a Document",
         Kml("<Document><Folder><Document>" + Placemark("M") + "</Document>" + Placemark("F") +
             "</Folder><Document>" + Placemark("N") + "</Document>" + Placemark("P") + "</Document>"),
         Waypoint("P") + Waypoint("F") + Waypoint("M") + Waypoint("N") + c_terminator},
        {"empty document", Kml("<Document/>"), c_terminator},
        {"coordinates", Kml(Placemark("X", " -8.5 , -47.25 ,-12.5,7")),
         Sentence("$PMGNWPL,4715.00000,S,00830.00000,W,-12.50000,M,X,,a") + c_terminator},
        {"coordinates at their limits", Kml(Placemark("E", "\n  -180,90.000,-0\n ")),
         Sentence("$PMGNWPL,9000.00000,N,18000.00000,W,0.00000,M,E,,a") + c_terminator},
        {"an exponent", Kml(Placemark("E", "8.5e0,47.25")), {}, DISP_E_TYPEMISMATCH, 1,
         L"the longitude '8.5e0' is not a number"},
        {"a latitude beyond the pole", Kml(Placemark("A") + Placemark("N", "8.5,-90.5")), {}, DISP_E_OVERFLOW, 2,
         L"the latitude '-90.5' is not between -90 and 90"},
        {"an altitude that is not a number", Kml(Placemark("N", "8.5,47.25,nan")), {}, DISP_E_TYPEMISMATCH, 1,
         L"the altitude 'nan' is not a number"},
        {"name and description: LF a space, a comma too",
         Kml("<Placemark><description>one\ntwo,  three </description><name> a\nb </name>"
             "<Point><coordinates>1,2,0</coordinates></Point></Placemark>"),
         Sentence("$PMGNWPL,0200.00000,N,00100.00000,E,0.00000,M, a b ,one two   three ,a") + c_terminator},
        {"CDATA text", Kml(Placemark("<![CDATA[<b>x</b>]]>")), Waypoint("<b>x</b>") + c_terminator},
        {"earth.google.com 2.0", Kml(Placemark("G"), "http://earth.google.com/kml/2.0"), Waypoint("G") + c_terminator},
        {"namespace ignoring case, later version", Kml(Placemark("V"), "HTTP://WWW.OPENGIS.NET/KML/3.10"),
         Waypoint("V") + c_terminator},
        {"root without namespace", "<kml>" + Placemark("A") + "</kml>", {}, MakeOwnFailure(KmlFailure::Namespace)},
        {"other host", Kml(Placemark("A"), "http://example.com/kml/2.2"), {}, MakeOwnFailure(KmlFailure::Namespace)},
        {"version 1", Kml(Placemark("A"), "http://earth.google.com/kml/1.9"), {},
         MakeOwnFailure(KmlFailure::NamespaceVersion)},
        {"extension elements between placemarks are ignored with their content",
         Kml("<Document xmlns:gx=\"http://www.google.com/kml/ext/2.2\">" + Placemark("A") +
             "<gx:Tour><Placemark><LineString/></Placemark></gx:Tour><atom:author xmlns:atom=\"http://www.w3.org/"
             "2005/Atom\"><atom:name>x</atom:name></atom:author><Placemark><gx:balloonVisibility>1"
             "</gx:balloonVisibility><name>B</name><Point><coordinates>1,2,0</coordinates></Point></Placemark>"
             "<Folder xmlns=\"\"><Placemark/></Folder></Document>"),
         Waypoint("A") + Waypoint("B") + c_terminator},
        {"KML 1.x inside kml", Kml("<Folder xmlns=\"http://earth.google.com/kml/1.0\"/>"), {},
         MakeOwnFailure(KmlFailure::NamespaceVersion)},
        {"other root element", "<gpx xmlns=\"" + c_opengis + "\"><x xmlns=\"urn:y\"/></gpx>", {},
         MakeOwnFailure(KmlFailure::NoKml)},
        {"other root element in another namespace", "<gpx xmlns=\"urn:gpx\"/>", {},
         MakeOwnFailure(KmlFailure::Namespace)},
        {"second Document", Kml("<Document/><Document/>"), {}, MakeOwnFailure(KmlFailure::SecondDocument)},
        {"the first failing placemark in the file's order, counted there",
         Kml("<Document><Folder>" + Placemark("F", "1") + "</Folder>" + Placemark("A") + Placemark("B", "1") +
             "</Document>"),
         {}, MakeOwnFailure(KmlFailure::CoordinateFields), 2, L"\"B\": the coordinates need"},
        {"a failing placemark in a folder, counted after the top ones",
         Kml("<Document><Folder>" + Placemark("X") + Placemark("F", "1") + "</Folder>" + Placemark("A") +
             "<Folder>" + Placemark("G", "1") + "</Folder></Document>"),
         {}, MakeOwnFailure(KmlFailure::CoordinateFields), 3, L"\"F\": the coordinates need"},
        {"LineString placemark", Kml(Placemark("A") + "<Placemark><LineString/></Placemark>"), {},
         MakeOwnFailure(KmlFailure::NoPoint), 2},
        {"Point without coordinates", Kml("<Placemark><Point/></Placemark>"), {},
         MakeOwnFailure(KmlFailure::NoCoordinates), 1},
        {"no altitude", Kml(Placemark("A", "8.5,47.25")),
         Sentence("$PMGNWPL,4715.00000,N,00830.00000,E,0.00000,M,A,,a") + c_terminator},
        {"one coordinate, in a placemark with a name", Kml(Placemark("A") + Placemark("B", "8.5")), {},
         MakeOwnFailure(KmlFailure::CoordinateFields), 2, L"\"B\": the coordinates need"},
        {"NetworkLink with neither Url nor Link",
         Kml("<Document><NetworkLink><href>x.kml</href></NetworkLink></Document>"), {},
         MakeOwnFailure(KmlFailure::NoUrl)},
        {"Url without href", Kml("<Document><NetworkLink><Url/></NetworkLink></Document>"), {},
         MakeOwnFailure(KmlFailure::NoHref)},
        {"not well-formed", Kml("<Document>\n<Placemark></Document>"), {}, E_FAIL, 0,
         L"not well-formed XML at line "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        DeleteFileW(Destination().c_str());
        CAtlException raised(S_OK);
        try {
            ImportKmlPlacemarks(Source(row.document), Destination());
        } catch (const CAtlException& e) {
            raised = e;
        }
        if (row.result == E_FAIL) {
            EXPECT_TRUE(FAILED(raised.m_hr) && !IsOwnFailure(raised.m_hr));
        } else {
            EXPECT_EQ(row.result, raised.m_hr);
        }
        EXPECT_EQ(row.position, raised.Position());
        EXPECT_TRUE(raised.Detail().starts_with(row.detailStart)) << WideToUtf8(raised.Detail());
        if (row.result == S_OK)
            EXPECT_EQ(row.expected, ReadFileBytes(Destination()));
        else
            EXPECT_FALSE(FileExists(Destination()));
    }
}

TEST_F(KmlConversion, NetworkLinkReplacesTheDocument)
{
    const std::wstring linked = Source(Kml("<Document>" + Placemark("Linked") + "</Document>"), L"linked.kml");
    const std::string link = "<NetworkLink><Url><href>" + WideToUtf8(linked) + "</href></Url></NetworkLink>";
    // Own placemarks are dropped, the last of two links is followed.
    ASSERT_EQ(S_OK, Import(Kml("<Document>" + Placemark("Own") +
                               "<NetworkLink><Url><href>missing.kml</href></Url></NetworkLink>" + link +
                               "</Document>")));
    EXPECT_EQ(Waypoint("Linked") + c_terminator, ReadFileBytes(Destination()));

    // The linked document's own link is not followed.
    Source(Kml("<Document>" + Placemark("Second") + link + "</Document>"), L"linked.kml");
    ASSERT_EQ(S_OK, Import(Kml("<Document>" + link + "</Document>")));
    EXPECT_EQ(Waypoint("Second") + c_terminator, ReadFileBytes(Destination()));

    // A relative href in today's Link element names a file beside the
    // linking document, wherever the process runs.
    CreateDirectoryW(m_folder.File(L"sub").c_str(), nullptr);
    Source(Kml("<Document>" + Placemark("Beside") + "</Document>"), L"sub\\linked.kml");
    const std::wstring linking = Source(
        Kml("<Document><NetworkLink><Link><href>\n  linked.kml </href></Link></NetworkLink></Document>"),
        L"sub\\linking.kml");
    ASSERT_EQ(S_OK, RaisedResult([&] { ImportKmlPlacemarks(linking, Destination()); }));
    EXPECT_EQ(Waypoint("Beside") + c_terminator, ReadFileBytes(Destination()));
}

TEST_F(KmlConversion, PointsOnlySkipsAndCountsOtherPlacemarks)
{
    const std::string document = Kml("<Document>" + Placemark("A") + "<Placemark><LineString/></Placemark>" +
                                     "<Folder>" + Placemark("B") + "<Placemark><name>empty</name></Placemark>" +
                                     "</Folder></Document>");
    KmlImportCounts counts;
    ASSERT_EQ(S_OK, RaisedResult([&] {
                  counts = ImportKmlPlacemarks(Source(document), Destination(), NonPointPlacemarks::Skip);
              }));
    EXPECT_EQ(Waypoint("A") + Waypoint("B") + c_terminator, ReadFileBytes(Destination()));
    EXPECT_EQ(2u, counts.written);
    EXPECT_EQ(2u, counts.skipped);

    // Skipped placemarks keep their numbers; a bad Point still fails.
    const std::string bad = Kml("<Placemark><Polygon/></Placemark>" + Placemark("C", "1"));
    try {
        ImportKmlPlacemarks(Source(bad), Destination(), NonPointPlacemarks::Skip);
        ADD_FAILURE() << "a Point with one coordinate was accepted";
    } catch (const CAtlException& e) {
        EXPECT_EQ(MakeOwnFailure(KmlFailure::CoordinateFields), e.m_hr);
        EXPECT_EQ(2u, e.Position());
    }
}

TEST_F(KmlConversion, LinkedDocumentFailuresNameTheLinkedDocument)
{
    const std::wstring linked = m_folder.File(L"linked.kml");
    const std::string document = Kml("<Document><NetworkLink><Url><href>" + WideToUtf8(linked) +
                                     "</href></Url></NetworkLink></Document>");
    const struct
    {
        std::string linkedDocument;
        HRESULT result;
    } rows[] = {
        {Kml(Placemark("A")), MakeOwnFailure(KmlFailure::LinkedNoDocument)},
        {"<other xmlns=\"" + c_opengis + "\"/>", MakeOwnFailure(KmlFailure::LinkedNoKml)},
        {"<kml/>", MakeOwnFailure(KmlFailure::Namespace)},
    };
    for (const auto& row : rows) {
        Source(row.linkedDocument, L"linked.kml");
        try {
            ImportKmlPlacemarks(Source(document), Destination());
            ADD_FAILURE() << row.linkedDocument;
        } catch (const CAtlException& e) {
            EXPECT_EQ(row.result, e.m_hr) << row.linkedDocument;
            EXPECT_EQ(linked, e.Path());
        }
    }
}

TEST_F(KmlConversion, ExistingDestinationSurvivesBadInput)
{
    WriteFileBytes(Destination(), "keep");
    EXPECT_EQ(MakeOwnFailure(KmlFailure::NoPoint), Import(Kml(Placemark("A") + "<Placemark/>")));
    EXPECT_EQ(MakeOwnFailure(KmlFailure::NoKml), Import("<x xmlns=\"" + c_opengis + "\"/>"));
    const HRESULT missing = RaisedResult([&] { ImportKmlPlacemarks(m_folder.File(L"none.kml"), Destination()); });
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), missing);
    EXPECT_EQ("keep", ReadFileBytes(Destination()));

    // A destination that is the source itself is refused and the source kept.
    const std::string document = Kml(Placemark("A"));
    const std::wstring source = Source(document);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), RaisedResult([&] { ImportKmlPlacemarks(source, source); }));
    EXPECT_EQ(document, ReadFileBytes(source));

    // So is the document that the source's network link names.
    const std::string linkedDocument = Kml("<Document>" + Placemark("Linked") + "</Document>");
    const std::wstring linked = Source(linkedDocument, L"linked.kml");
    const std::wstring linking = Source(
        Kml("<Document><NetworkLink><Url><href>" + WideToUtf8(linked) + "</href></Url></NetworkLink></Document>"),
        L"linking.kml");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), RaisedResult([&] { ImportKmlPlacemarks(linking, linked); }));
    EXPECT_EQ(linkedDocument, ReadFileBytes(linked));
}

TEST_F(KmlConversion, ReaderDetectsTheEncoding)
{
    const std::wstring name = L"Z\u00FCrich \u00B0 \u65E5";
    const std::string expected = Sentence("$PMGNWPL,0200.00000,N,00100.00000,E,0.00000,M," + WideToAnsi(name) + ",,a");

    ASSERT_EQ(S_OK, Import(Kml(Placemark(WideToUtf8(name)))));
    EXPECT_EQ(expected + c_terminator, ReadFileBytes(Destination()));

    const std::wstring wide = L"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><kml xmlns=\"http://earth.google.com/kml/2.1\">"
                              L"<Placemark><name>" + name + L"</name><Point><coordinates>1,2,0</coordinates></Point>"
                              L"</Placemark></kml>";
    ASSERT_EQ(S_OK, Import(std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t))));
    EXPECT_EQ(expected + c_terminator, ReadFileBytes(Destination()));
}

// The document as UTF-16 bytes, little- or big-endian, with a byte order
// mark (or, with bom false, none); trailing adds raw bytes at the end.
std::string Utf16(const std::wstring& text, bool bigEndian, bool bom = true, const std::string& trailing = "")
{
    std::string bytes;
    for (wchar_t unit : (bom ? L"\uFEFF" : L"") + text) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes + trailing;
}

TEST_F(KmlConversion, BrokenUtf16FailsWithItsLine)
{
    const std::wstring start = L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n";
    const auto named = [&](const std::wstring& name) {
        return start + L"<Placemark><name>" + name + L"</name><Point><coordinates>1,2,0</coordinates></Point>"
                                                     L"</Placemark>\n</kml>";
    };
    const struct
    {
        const char* what;
        std::string document;
        const wchar_t* detail; // empty: the document converts
    } rows[] = {
        {"a pair converts", Utf16(named(L"\xD83D\xDE00"), false), L""},
        {"a lone high surrogate", Utf16(named(L"A\xD800" L"B"), false), L"not valid UTF-16 at line 3"},
        {"a lone low surrogate, big-endian", Utf16(named(L"\xDC00"), true), L"not valid UTF-16 at line 3"},
        {"without a byte order mark", Utf16(named(L"\xDFFF"), false, false), L"not valid UTF-16 at line 3"},
        {"two high surrogates", Utf16(named(L"\xD800\xD800\xDC00"), false), L"not valid UTF-16 at line 3"},
        {"a high surrogate before a line end", Utf16(start + L"\r\r\n<!-- \xDBFF\n -->", false),
         L"not valid UTF-16 at line 5"},
        {"a high surrogate at the end", Utf16(start + L"</kml>\n\xD800", false), L"not valid UTF-16 at line 4"},
        {"an odd byte at the end", Utf16(start + L"</kml>", true, true, "x"), L"not valid UTF-16 at line 3"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFileBytes(Destination(), "keep");
        const std::wstring source = Source(row.document);
        const std::wstring detail = RaisedDetail([&] { ImportKmlPlacemarks(source, Destination()); });
        EXPECT_EQ(row.detail, detail);
        if (*row.detail) {
            EXPECT_EQ("keep", ReadFileBytes(Destination()));
        }
    }
}

TEST_F(KmlConversion, PlacemarkBeyondItsLimitFailsWithWords)
{
    // About 2 MB of texts in a thousand placemarks convert within a limit of
    // 1 MB for each placemark; one placemark of more than 1 MB does not.
    const std::string description(1000, 'd');
    std::string body = "<Document>";
    for (int i = 0; i < 1000; ++i)
        body += "<Placemark><name>P</name><description>" + description +
                "</description><Point><coordinates>1,2,0</coordinates></Point></Placemark>";
    KmlReadLimits limits;
    limits.placemarkMegabytes = 1;
    ImportKmlPlacemarks(Source(Kml(body + "</Document>")), Destination(), NonPointPlacemarks::Refuse, limits);
    const std::string output = ReadFileBytes(Destination());
    EXPECT_EQ(1001, std::count(output.begin(), output.end(), '\n')); // and the terminator

    const std::string large = Kml(Placemark("L") + "<Placemark><name>P</name><description>" +
                                  std::string(600000, 'd') + "</description></Placemark>");
    CAtlException raised(S_OK);
    try {
        ImportKmlPlacemarks(Source(large), Destination(), NonPointPlacemarks::Refuse, limits);
    } catch (const CAtlException& e) {
        raised = e;
    }
    EXPECT_EQ(MakeOwnFailure(KmlFailure::TooLarge), raised.m_hr);
    EXPECT_EQ(L"a placemark is too large to convert (its texts need more than 1 MB)", raised.Detail());
    EXPECT_EQ(output, ReadFileBytes(Destination()));
}

TEST_F(KmlConversion, CoordinatesIgnoreTheUserLocale)
{
    CommaDecimalLocale commaLocale;
    ASSERT_EQ(S_OK, Import(Kml(Placemark("A", "8.5,47.25,1234.5"))));
    EXPECT_EQ(Sentence("$PMGNWPL,4715.00000,N,00830.00000,E,1234.50000,M,A,,a") + c_terminator,
              ReadFileBytes(Destination()));
}

TEST(KmlText, CarriageReturnsGoLineFeedsBecomeSpaces)
{
    EXPECT_EQ(L"a b  c\td ", FlattenKmlText(L"\ra\r\nb\n\nc\td\r\n"));
}

TEST(KmlCoordinate, TakesOnlyPlainDecimals)
{
    const struct
    {
        std::wstring text;
        double value;
    } rows[] = {
        {L"8.5", 8.5}, {L" \t\n-47.25 \n", -47.25}, {L"+3", 3}, {L".5", 0.5}, {L"12.", 12},
        {L"11.9996228", 11.9996228}, // the whole text rounded once (11 + 9996228e-7 is one ulp more)
        {L"0." + std::wstring(400, L'0') + L"1", 0.0}, // too small to be told from zero
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.value, ParseKmlCoordinate(row.text)) << WideToUtf8(row.text);
    for (const wchar_t* text : {L"1e3", L"2.5E-1x", L"12abc", L"abc", L"", L"-", L"1.5.6", L"7 8", L"nan", L"inf", L"1e999"})
        EXPECT_EQ(DISP_E_TYPEMISMATCH, RaisedResult([&] { ParseKmlCoordinate(text); })) << WideToUtf8(text);
    EXPECT_EQ(DISP_E_OVERFLOW, RaisedResult([] { ParseKmlCoordinate(L"1" + std::wstring(400, L'0')); }));
}

TEST_F(KmlConversion, DeepNestingDoesNotCrash)
{
    // Every level declares the namespace again: the reader under Wine looks
    // a namespace up from the innermost element outwards, which would make
    // a deep document quadratic to read.
    std::string open, close;
    for (int i = 0; i < 100000; ++i) {
        open += "<Folder xmlns=\"" + c_opengis + "\">\n";
        close += "</Folder>\n";
    }
    // Either the reader refuses the depth, or nothing is lost.
    const HRESULT hr = Import(Kml("<Document>" + Placemark("Top") + open + Placemark("Deep") + close + "</Document>"));
    if (SUCCEEDED(hr))
        EXPECT_EQ(Waypoint("Top") + Waypoint("Deep") + c_terminator, ReadFileBytes(Destination()));
    else
        EXPECT_FALSE(FileExists(Destination()));
}

TEST_F(KmlConversion, LargeDocumentConverts)
{
    // About 50 MB: ten thousand placemarks with a long description each.
    const std::string description(5000, 'd');
    std::string body = "<Document><Folder>";
    for (int i = 0; i < 10000; ++i)
        body += "<Placemark>\n<name>P</name>\n<description>" + description +
                "</description>\n<Point><coordinates>1,2,0</coordinates></Point>\n</Placemark>\n";
    body += "</Folder></Document>";
    ASSERT_EQ(S_OK, Import(Kml(body)));
    const std::string output = ReadFileBytes(Destination());
    const std::string first = Sentence("$PMGNWPL,0200.00000,N,00100.00000,E,0.00000,M,P," + description + ",a");
    EXPECT_EQ(first.size() * 10000 + c_terminator.size(), output.size());
    EXPECT_EQ(first, output.substr(0, first.size()));
}

TEST(KmlRealFiles, ConvertOrFailWithTheirCode)
{
    const std::wstring folder = TestDataFolder();
    SKIP_WITHOUT_TESTDATA(folder);
    constexpr NonPointPlacemarks refuse = NonPointPlacemarks::Refuse;
    const struct
    {
        const wchar_t* file;
        NonPointPlacemarks nonPoints;
        HRESULT result;
        unsigned position; // of the failing placemark
        size_t sentences;  // on success, without the terminator
    } rows[] = {
        {L"gpsbabel-kml-points.kml", refuse, S_OK, 0, 9},         // lon,lat without altitude
        {L"gpsbabel-earth-gc-nonascii.kml", refuse, S_OK, 0, 2},  // gx:TimeSpan
        {L"libkml-kmlsamples.kml", refuse, MakeOwnFailure(KmlFailure::NoPoint), 4, 0},
        {L"libkml-kmlsamples.kml", NonPointPlacemarks::Skip, S_OK, 0, 4},
        {L"libkml-points-puntas-nonascii.kml", refuse, S_OK, 0, 11},
        {L"libkml-time-kml21.kml", refuse, S_OK, 0, 361}, // in a Document inside a Folder
        {L"libkml-unknown-elements-kml20.kml", refuse, S_OK, 0, 2},
        // The link names foo.kml beside the document, where there is none.
        {L"libkml-deprecated-networklink-url.kml", refuse, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), 0, 0},
        {L"libkml-all-balloons.kml", refuse, MakeOwnFailure(KmlFailure::NoUrl), 0, 0},
        {L"libkml-invalid-descriptions.kml", refuse, MakeOwnFailure(KmlFailure::NoPoint), 1, 0},
    };
    TempFolder temp;
    const std::wstring output = temp.File(L"out.upt");
    for (const auto& row : rows) {
        SCOPED_TRACE(WideToUtf8(row.file));
        CAtlException raised(S_OK);
        try {
            ImportKmlPlacemarks(folder + L"\\kml\\" + row.file, output, row.nonPoints);
        } catch (const CAtlException& e) {
            raised = e;
        }
        EXPECT_EQ(row.result, raised.m_hr);
        EXPECT_EQ(row.position, raised.Position());
        if (raised.m_hr != S_OK)
            continue;
        const std::string text = ReadFileBytes(output);
        size_t lines = 0;
        for (char c : text)
            lines += c == '\n';
        EXPECT_EQ(row.sentences + 1, lines);
        EXPECT_TRUE(text.ends_with(c_terminator));
    }
}
