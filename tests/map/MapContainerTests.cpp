#include "support/TestSupport.h"

#include "MapTestSupport.h"
#include "base/Text.h"
#include "map/MapContainer.h"

namespace {

const std::vector<PackedFile> c_files = {
    {"ADD_MAPS.CFG", "1 MAP.INI\r\n"},
    {"00ODD.LAY", std::string("odd-length data", 15)},
    {"00EMPTY.LAY", ""},
    {"00RAILRD.CLT", "eight-char base name"},
    {"LONG.EXTENS", "six-char extension"},
};

std::string EntryBytes(const MapContainer& container, const ContainerEntry& entry)
{
    const std::vector<char> data = ReadEntryData(container, entry);
    return std::string(data.begin(), data.end());
}

class MapContainerTest : public testing::Test
{
protected:
    std::wstring Write(const std::string& bytes, const wchar_t* name = L"source.imi")
    {
        const std::wstring path = m_folder.File(name);
        WriteFileBytes(path, bytes);
        return path;
    }

    MapContainer Open(const std::string& bytes)
    {
        MapContainer container;
        OpenContainer(container, Write(bytes));
        return container;
    }

    TempFolder m_folder;
};

TEST_F(MapContainerTest, ReadsBothByteOrders)
{
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        const MapContainer container = Open(BuildContainer(c_files, bigEndian));
        EXPECT_EQ(bigEndian, container.bigEndian);
        ASSERT_EQ(c_files.size(), container.entries.size());
        const wchar_t* names[] = {L"ADD_MAPS.CFG", L"00ODD.LAY", L"00EMPTY.LAY", L"00RAILRD.CLT", L"LONG.EXTENS"};
        std::uint32_t offset = 40 + 24 * 5;
        for (size_t i = 0; i < c_files.size(); ++i) {
            EXPECT_EQ(names[i], container.entries[i].name);
            EXPECT_EQ(offset, container.entries[i].offset);
            EXPECT_EQ(c_files[i].data.size(), container.entries[i].length);
            EXPECT_EQ(c_files[i].data, EntryBytes(container, container.entries[i]));
            offset += static_cast<std::uint32_t>((c_files[i].data.size() + 1) & ~size_t{1});
        }
        const CheckWordResult checks = VerifyCheckWords(container);
        EXPECT_TRUE(checks.header);
        EXPECT_TRUE(checks.file);
    }
}

TEST_F(MapContainerTest, ThreeEntriesStoredBigEndian)
{
    const std::string bytes = BuildContainer({{"A.LAY", "1"}, {"B.LAY", "22"}, {"C.LAY", "333"}}, true);
    ASSERT_EQ(0x03000000u, WordAt(bytes, 0));
    const MapContainer container = Open(bytes);
    ASSERT_EQ(3u, container.entries.size());
    EXPECT_EQ(112u, container.entries[0].offset);
    EXPECT_EQ(114u, container.entries[1].offset);
    EXPECT_EQ(116u, container.entries[2].offset);
    EXPECT_EQ(3u, container.entries[2].length);
}

TEST_F(MapContainerTest, UnchangedWriteReproducesCanonicalLayoutInLittleEndian)
{
    const std::string expected = BuildContainer(c_files);
    for (const bool bigEndian : {false, true}) {
        const MapContainer container = Open(BuildContainer(c_files, bigEndian));
        const std::wstring destination = m_folder.File(L"copy.imi");
        WriteModifiedContainer(container, destination, {}, std::nullopt);
        const std::string written = ReadFileBytes(destination);
        EXPECT_EQ(expected, written) << (bigEndian ? "big-endian source" : "little-endian source");
        // Header words with their check word, and the packed-file words with
        // theirs, each XOR to zero.
        const size_t headerEnd = 8 + 24 * c_files.size() + 2;
        EXPECT_EQ(0, XorRange(written, 0, headerEnd));
        EXPECT_EQ(0, XorRange(written, headerEnd + 30, written.size() - 10) ^ XorRange(written, written.size() - 2, written.size()));
        EXPECT_EQ(0, XorWords(written.data(), written.size() / 2));
    }
}

TEST_F(MapContainerTest, EmptyContainer)
{
    const MapContainer container = Open(BuildContainer({}));
    EXPECT_TRUE(container.entries.empty());
    const std::wstring destination = m_folder.File(L"empty.imi");
    WriteModifiedContainer(container, destination, {}, std::nullopt);
    const std::string written = ReadFileBytes(destination);
    ASSERT_EQ(50u, written.size());
    EXPECT_EQ(0, XorRange(written, 8, 10));
    EXPECT_EQ(0, XorRange(written, 48, 50));
    EXPECT_EQ(std::string("MAGELLAN", 8), written.substr(40, 8));
}

TEST_F(MapContainerTest, PadsOddLengthsAndKeepsEmptyEntriesAtTheNextOffset)
{
    const MapContainer container = Open(BuildContainer({{"A.LAY", "abc"}, {"B.LAY", ""}, {"C.LAY", "d"}}));
    const std::wstring destination = m_folder.File(L"out.imi");
    WriteModifiedContainer(container, destination, {}, std::nullopt);
    const std::string written = ReadFileBytes(destination);
    const size_t data = 40 + 24 * 3;
    EXPECT_EQ(data, WordAt(written, 8 + 16));
    EXPECT_EQ(data + 4, WordAt(written, 8 + 24 + 16));
    EXPECT_EQ(data + 4, WordAt(written, 8 + 48 + 16));
    EXPECT_EQ(std::string("abc\0d\0", 6), written.substr(data, 6));
    EXPECT_EQ(data + 6 + 10, written.size());
}

TEST_F(MapContainerTest, DropsAndReplacesEntries)
{
    const MapContainer container = Open(BuildContainer(c_files));
    const std::wstring replacementPath = Write("new configuration", L"replacement.ini");
    UniqueHFile replacement(CreateFileW(replacementPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(replacement);
    const std::wstring destination = m_folder.File(L"edited.imi");
    WriteModifiedContainer(container, destination, {L"00odd.lay", L"NO.SUCH", L"long.extens"},
                           ContainerReplacement{L"add_maps.cfg", replacement.Get()});

    std::vector<PackedFile> expected = {{"ADD_MAPS.CFG", "new configuration"}, c_files[2], c_files[3]};
    EXPECT_EQ(BuildContainer(expected), ReadFileBytes(destination));
}

// A base name filling its 9-byte field without a terminator is read whole
// and written back cut to the 8 bytes a name may have.
TEST_F(MapContainerTest, OverlongBaseNameIsCut)
{
    const MapContainer container = Open(BuildContainer({{"NINECHARS.X", "data"}}));
    EXPECT_EQ(L"NINECHARS.X", container.entries[0].name);
    const std::wstring destination = m_folder.File(L"out.imi");
    WriteModifiedContainer(container, destination, {}, std::nullopt);
    EXPECT_EQ(BuildContainer({{"NINECHAR.X", "data"}}), ReadFileBytes(destination));
}

TEST_F(MapContainerTest, DuplicateNamesEachKeepTheirOwnData)
{
    const MapContainer container = Open(BuildContainer({{"A.LAY", "first"}, {"A.LAY", "second"}}));
    const std::wstring destination = m_folder.File(L"out.imi");
    WriteModifiedContainer(container, destination, {}, std::nullopt);
    EXPECT_EQ(BuildContainer({{"A.LAY", "first"}, {"A.LAY", "second"}}), ReadFileBytes(destination));
}

TEST_F(MapContainerTest, BadDirectoriesFailClearly)
{
    std::string pastEnd = BuildContainer({{"A.LAY", "data"}});
    pastEnd[8 + 20] = '\x7F'; // length far beyond the end of the file
    std::string overflow = BuildContainer({});
    overflow.replace(0, 4, std::string("\x10\x00\x00\x01", 4)); // big-endian 0x10000001 entries
    std::string beyondFile = BuildContainer({});
    beyondFile.replace(0, 4, std::string("\x00\x01\x00\x00", 4)); // 256 entries, 50 bytes

    struct Row
    {
        const char* what;
        std::string bytes;
        HRESULT open;
        HRESULT read;
    };
    const Row rows[] = {
        {"too short for the count words", "\x01\x00\x00", HResultFromWin32(ERROR_HANDLE_EOF), S_OK},
        {"directory size overflows", overflow, HResultFromWin32(ERROR_HANDLE_EOF), S_OK},
        {"directory beyond the file", beyondFile, HResultFromWin32(ERROR_HANDLE_EOF), S_OK},
        {"entry beyond the file", pastEnd, S_OK, HResultFromWin32(ERROR_HANDLE_EOF)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        MapContainer container;
        const std::wstring path = Write(row.bytes);
        EXPECT_EQ(row.open, RaisedResult([&] { OpenContainer(container, path); }));
        if (row.open != S_OK) {
            EXPECT_TRUE(container.path.empty());
            EXPECT_NE(std::wstring::npos, RaisedDetail([&] { OpenContainer(container, path); })
                                              .find(L"this is not a Magellan map file"));
            continue;
        }
        const std::wstring destination = m_folder.File(L"keep.txt");
        WriteFileBytes(destination, "precious");
        const ContainerEntry& entry = container.entries[0];
        EXPECT_EQ(row.read, RaisedResult([&] { ReadEntryData(container, entry); }));
        EXPECT_EQ(row.read, RaisedResult([&] { ExtractEntry(container, entry, destination); }));
        EXPECT_EQ(row.read, RaisedResult([&] { WriteModifiedContainer(container, destination, {}, std::nullopt); }));
        EXPECT_EQ("precious", ReadFileBytes(destination));
    }
}

TEST_F(MapContainerTest, WritingOverTheSourceFailsAndKeepsIt)
{
    const std::string bytes = BuildContainer(c_files);
    MapContainer container;
    const std::wstring path = Write(bytes);
    OpenContainer(container, path);
    std::wstring otherCase = path;
    otherCase.back() = L'I';
    EXPECT_EQ(HResultFromWin32(ERROR_SHARING_VIOLATION),
              RaisedResult([&] { WriteModifiedContainer(container, otherCase, {}, std::nullopt); }));
    EXPECT_EQ(bytes, ReadFileBytes(path));
}

TEST_F(MapContainerTest, ReopeningTheLoadedPathKeepsTheGeneration)
{
    MapContainer container;
    const std::wstring path = Write(BuildContainer(c_files));
    OpenContainer(container, path);
    const unsigned generation = container.generation;
    std::wstring upper = path;
    for (auto& c : upper)
        c = static_cast<wchar_t>(towupper(c));
    OpenContainer(container, upper);
    EXPECT_EQ(generation, container.generation);
    EXPECT_EQ(path, container.path);

    EXPECT_EQ(HResultFromWin32(ERROR_FILE_NOT_FOUND),
              RaisedResult([&] { OpenContainer(container, m_folder.File(L"missing.imi")); }));
    EXPECT_TRUE(container.path.empty());
    EXPECT_TRUE(container.entries.empty());
    EXPECT_EQ(generation + 1, container.generation);
}

TEST_F(MapContainerTest, ExtractsEntries)
{
    const MapContainer container = Open(BuildContainer(c_files));
    const std::wstring destination = m_folder.File(L"out.bin");
    WriteFileBytes(destination, "old content that is longer");
    ExtractEntry(container, container.entries[1], destination);
    EXPECT_EQ(c_files[1].data, ReadFileBytes(destination));
    ExtractEntry(container, container.entries[2], destination);
    EXPECT_EQ("", ReadFileBytes(destination));
}

TEST_F(MapContainerTest, CheckWordMismatchesAreReported)
{
    std::string header = BuildContainer(c_files);
    header[8 + 3] ^= 0x20; // a name byte
    std::string data = BuildContainer(c_files);
    data[data.size() - 12] ^= 0x01; // a packed byte
    const CheckWordResult headerResult = VerifyCheckWords(Open(header));
    EXPECT_FALSE(headerResult.header);
    EXPECT_TRUE(headerResult.file);
    const CheckWordResult dataResult = VerifyCheckWords(Open(data));
    EXPECT_TRUE(dataResult.header);
    EXPECT_FALSE(dataResult.file);
}

TEST(MapContainer, XorWordsIsLittleEndian)
{
    const unsigned char bytes[] = {0x01, 0x02, 0x10, 0x20, 0xFF};
    EXPECT_EQ(0x2211, XorWords(bytes, 2));
    EXPECT_EQ(0, XorWords(bytes, 0));
}

TEST(MapContainer, DescribesEntries)
{
    struct Row
    {
        ContainerEntry entry;
        const wchar_t* expected;
    };
    const Row rows[] = {
        {{L"ROADS.LAY", 1040, 1234567},
         L"File Name: ROADS.LAY\r\nFile Type: Map layer data (map objects with coordinates)\r\n"
         L"Location: 1,234,567 bytes at offset 1,040"},
        {{L"00map.ini", 0, 5}, L"File Name: 00map.ini\r\nFile Type: Text file with map information\r\n"
                               L"Location: 5 bytes at offset 0"},
        {{L"X.dtx", 2, 0}, L"File Name: X.dtx\r\nFile Type: Extra database tables (topo/worldwide basemap)\r\n"
                           L"Location: 0 bytes at offset 2"},
        {{L"ADD_MAPS.CFG", 472, 13}, L"File Name: ADD_MAPS.CFG\r\nLocation: 13 bytes at offset 472"},
        {{L"README.", 8, 1}, L"File Name: README.\r\nLocation: 1 bytes at offset 8"},
        // A name holding an insert marker stays as it is.
        {{L"A%2B.CFG", 3, 4}, L"File Name: A%2B.CFG\r\nLocation: 4 bytes at offset 3"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, DescribeEntry(row.entry));
}

TEST(MapContainer, PlainFileNamesStayInTheirFolder)
{
    for (const wchar_t* name : {L"ADD_MAPS.CFG", L"README.", L"..LAY", L"A B.C", L"CONSOLE.LAY", L"COM10.DAT",
                                L"NULL.", L"XNUL.", L"LPT.INI", L"COMA.LAY", L"AUX_1.DAT"})
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    for (const wchar_t* name : {L"..\\..\\ab.TXT", L"../../ab.TXT", L"c:ab.TXT", L"A:B.LAY", L".", L"..", L"",
                                L"NUL.", L"nul", L"COM1.", L"lpt9.LAY", L"CON.LAY", L"Aux.dat", L"PRN.TXT.GZ",
                                L"NUL .", L"nul  .x", L"COM0.", L"LPT0.", L"COM\u00B9.", L"CONIN$.", L"conout$.lay",
                                L"A\rB.LAY", L"A*.LAY", L"A?.", L"A|B.DAT"})
        EXPECT_FALSE(IsPlainFileName(name)) << name;
}

TEST(MapContainer, ExtractionNamesKeepCaseTwinsApart)
{
    const std::vector<ContainerEntry> entries = {
        {L"ROADS.LAY"}, {L"roads.lay"}, {L"ROADS (2).LAY"}, {L"Roads.Lay"}, {L"README."}, {L"readme.."}, {L"A.B"}};
    std::vector<const ContainerEntry*> selected;
    for (const auto& entry : entries)
        selected.push_back(&entry);
    const ExtractionNames names = PlanExtraction(selected);
    // ROADS (2).LAY is the name of an entry of its own, so the first twin gets 3.
    const std::vector<std::wstring> expected = {L"ROADS.LAY", L"roads (3).lay", L"ROADS (2).LAY", L"Roads (4).Lay",
                                                L"README.",   L"readme. (2).",  L"A.B"};
    EXPECT_EQ(expected, names.fileNames);
    EXPECT_EQ(3u, names.renamed);

    const ContainerEntry elsewhere{L"A/B\r\n.LAY"};
    selected.push_back(&elsewhere);
    EXPECT_EQ(HResultFromWin32(ERROR_INVALID_NAME), RaisedResult([&] { PlanExtraction(selected); }));
    EXPECT_NE(std::wstring::npos, RaisedDetail([&] { PlanExtraction(selected); }).find(L"\"A/B\\r\\n.LAY\""));
}

// The shared real and synthetic maps open, verify and round-trip.
TEST(MapContainerRealFiles, OpenVerifyAndRoundTrip)
{
    const std::wstring folder = TestDataFolder();
    SKIP_WITHOUT_TESTDATA(folder);
    struct Row
    {
        const wchar_t* file;
        size_t entries;
        bool bigEndian;
        const wchar_t* firstName;
    };
    const Row rows[] = {
        {L"\\maps\\public\\pymagellan_lund.imi", 69, false, L"00poi.dax"},
        {L"\\maps\\synthetic\\synth_le_5x40.mgi", 18, false, L"ADD_MAPS.CFG"},
        {L"\\maps\\synthetic\\synth_be_5x40.img", 18, true, L"ADD_MAPS.CFG"},
        {L"\\maps\\synthetic\\synth_quirks_le_6x37.imi", 21, false, L"add_maps.cfg"},
    };
    TempFolder temp;
    for (const auto& row : rows) {
        SCOPED_TRACE(WideToUtf8(row.file));
        MapContainer container;
        OpenContainer(container, folder + row.file);
        ASSERT_EQ(row.entries, container.entries.size());
        EXPECT_EQ(row.bigEndian, container.bigEndian);
        EXPECT_EQ(row.firstName, container.entries[0].name);
        const CheckWordResult checks = VerifyCheckWords(container);
        EXPECT_TRUE(checks.header);
        EXPECT_TRUE(checks.file);

        const std::wstring copy = temp.File(L"copy.imi");
        WriteModifiedContainer(container, copy, {}, std::nullopt);
        MapContainer reread;
        OpenContainer(reread, copy);
        EXPECT_FALSE(reread.bigEndian);
        ASSERT_EQ(container.entries.size(), reread.entries.size());
        for (size_t i = 0; i < container.entries.size(); ++i) {
            EXPECT_EQ(container.entries[i].name, reread.entries[i].name);
            EXPECT_EQ(EntryBytes(container, container.entries[i]), EntryBytes(reread, reread.entries[i]));
        }
        const CheckWordResult rereadChecks = VerifyCheckWords(reread);
        EXPECT_TRUE(rereadChecks.header);
        EXPECT_TRUE(rereadChecks.file);
        if (!row.bigEndian) {
            EXPECT_EQ(ReadFileBytes(folder + row.file), ReadFileBytes(copy)) << "canonical layout is kept";
        }
    }
}

} // namespace
