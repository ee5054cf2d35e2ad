#include "support/TestSupport.h"

#include "MapTestSupport.h"
#include "base/Text.h"
#include "map/LayerConfiguration.h"

namespace {

const std::string c_line0 = LayerLine("Roads", "00l0", "BLACK", "SINGLE_LINE", 5, "  ");
const std::string c_line1 = LayerLine("Rivers", "00l1", "BLUE", "RIVER_LINE");
const std::string c_line2 = LayerLine("Parks", "00l2.dat", "GREEN", "SOLID_FILL", 7, " ");

std::string ThreeLayers(const std::string& drawOrder = "2 0 1", const std::string& colours4 = "0")
{
    return "[LAYERS]\r\n"
           "NUMBER=3\r\n"
           "0=" + c_line0 + "\r\n"
           "1=" + c_line1 + "\r\n"
           "2=" + c_line2 + "\r\n"
           "ORDERDRAW=" + drawOrder + "\r\n"
           "\r\n"
           "[COLORS4BITS]\r\n"
           "LAY_COLOR=" + colours4 + "\r\n";
}

const std::vector<std::string> c_stems = {"00L0", "00L1", "00L2"};

std::vector<std::wstring> Identifiers(const LayerConfiguration& configuration)
{
    std::vector<std::wstring> identifiers;
    for (size_t i = 0; i < configuration.VisibleCount(); ++i)
        identifiers.push_back(configuration.VisibleLayer(i).Identifier());
    return identifiers;
}

std::string FileBytes(HANDLE file)
{
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

class LayerConfigurationTest : public testing::Test
{
protected:
    // Opens a container built from the bytes (a new path each time).
    MapContainer& Open(const std::string& bytes)
    {
        const std::wstring path = m_folder.File(L"map" + std::to_wstring(++m_count) + L".imi");
        WriteFileBytes(path, bytes);
        OpenContainer(m_container, path);
        return m_container;
    }

    void Load(const std::string& configuration)
    {
        m_configuration.LoadLayerConfiguration(Open(LayeredContainer(configuration, c_stems)));
    }

    // Saves, writes the new container and returns its configuration text.
    std::string SaveAndWrite()
    {
        m_configuration.SaveLayerConfiguration();
        const ContainerChanges changes = m_configuration.GetContainerChanges();
        const std::wstring destination = m_folder.File(L"out.imi");
        WriteModifiedContainer(m_container, destination, changes.dropNames, changes.replacement);
        MapContainer written;
        OpenContainer(written, destination);
        m_written.clear();
        for (const auto& entry : written.entries)
            m_written.push_back(WideToUtf8(entry.name));
        const std::vector<char> bytes = ReadEntryData(written, *FindEntry(written, L"MAP.INI"));
        return std::string(bytes.begin(), bytes.end());
    }

    TempFolder m_folder;
    int m_count = 0;
    MapContainer m_container;
    LayerConfiguration m_configuration;
    std::vector<std::string> m_written;
};

TEST_F(LayerConfigurationTest, LoadsLayersInDrawingOrder)
{
    Load(ThreeLayers());
    EXPECT_EQ((std::vector<std::wstring>{L"Parks", L"Roads", L"Rivers"}), Identifiers(m_configuration));
    EXPECT_EQ(L"MAP.INI", m_configuration.ConfigName());
    EXPECT_FALSE(m_configuration.IsModified());
    const LayerRecord& parks = m_configuration.VisibleLayer(0);
    EXPECT_EQ(2, parks.number);
    EXPECT_EQ(L"GREEN", parks.EffectiveColour4());
    EXPECT_EQ(7, parks.ZoomIndex(4, 5));
    EXPECT_FALSE(parks.changed);
    EXPECT_TRUE(m_configuration.GetContainerChanges().dropNames.empty());
    EXPECT_FALSE(m_configuration.GetContainerChanges().replacement);
}

TEST_F(LayerConfigurationTest, DrawOrderSpellings)
{
    const std::pair<const char*, HRESULT> rows[] = {
        {"2 0 1", S_OK},
        {"2,0,1", S_OK},
        {"  2  0  1 ", S_OK},
        {"2, 0, 1", MakeOwnFailure(LayerFailure::DrawOrderCount)},
        {"2   0 1", MakeOwnFailure(LayerFailure::DrawOrderCount)},
        {"0 1", MakeOwnFailure(LayerFailure::DrawOrderCount)},
        {"2 x 1", MakeOwnFailure(LayerFailure::DrawOrderNotNumber)},
        {"2 0 3", MakeOwnFailure(LayerFailure::DrawOrderOutOfRange)},
        {"-1 0 1", MakeOwnFailure(LayerFailure::DrawOrderOutOfRange)},
        {"2 0 2", MakeOwnFailure(LayerFailure::DrawOrderRepeated)},
    };
    for (const auto& [order, expected] : rows) {
        SCOPED_TRACE(order);
        EXPECT_EQ(expected, RaisedResult([&] { Load(ThreeLayers(order)); }));
        if (expected == S_OK) {
            EXPECT_EQ((std::vector<std::wstring>{L"Parks", L"Roads", L"Rivers"}), Identifiers(m_configuration));
        }
    }
}

TEST_F(LayerConfigurationTest, LoadFailuresLeaveTheConfigurationEmpty)
{
    const std::string shortLine = "[LAYERS]\r\nNUMBER=1\r\n0=" + LayerLine("A", "a", "RED", "X").substr(0, 40) +
                                  "\r\nORDERDRAW=0\r\n";
    const std::string missingLine = "[LAYERS]\r\nNUMBER=2\r\n0=" + c_line0 + "\r\nORDERDRAW=0 1\r\n";
    struct Row
    {
        const char* what;
        std::string container;
        WORD code;
    };
    const Row rows[] = {
        {"no pointer file", BuildContainer({{"MAP.INI", ThreeLayers()}}), LayerFailure::NoPointerFile},
        {"tab in pointer file", BuildContainer({{"ADD_MAPS.CFG", "1\tMAP.INI"}, {"MAP.INI", ThreeLayers()}}),
         LayerFailure::PointerFileSyntax},
        {"text after the name", BuildContainer({{"ADD_MAPS.CFG", "1 MAP.INI\r\nx"}, {"MAP.INI", ThreeLayers()}}),
         LayerFailure::PointerFileSyntax},
        {"configuration not packed", BuildContainer({{"ADD_MAPS.CFG", "1 OTHER.INI"}}),
         LayerFailure::ConfigurationMissing},
        {"short layer line", LayeredContainer(shortLine, {}), LayerFailure::LayerLineTooShort},
        {"missing layer line", LayeredContainer(missingLine, {}), LayerFailure::LayerLineTooShort},
        {"colour count", LayeredContainer(ThreeLayers("2 0 1", "x"), {}), LayerFailure::ColourCountNotNumber},
        {"colour triples", LayeredContainer(ThreeLayers("2 0 1", "2 0 RED SOLID_FILL"), {}),
         LayerFailure::ColourTooFewTokens},
        {"colour layer text", LayeredContainer(ThreeLayers("2 0 1", "1 a RED SOLID_FILL"), {}),
         LayerFailure::ColourLayerNotNumber},
        {"colour layer range", LayeredContainer(ThreeLayers("2 0 1", "1 3 RED SOLID_FILL"), {}),
         LayerFailure::ColourLayerOutOfRange},
        {"negative colour layer", LayeredContainer(ThreeLayers("2 0 1", "1 -1 RED SOLID_FILL"), {}),
         LayerFailure::ColourLayerOutOfRange},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Load(ThreeLayers());
        ASSERT_EQ(3u, m_configuration.VisibleCount());
        MapContainer& container = Open(row.container);
        EXPECT_EQ(MakeOwnFailure(row.code), RaisedResult([&] { m_configuration.LoadLayerConfiguration(container); }));
        EXPECT_EQ(0u, m_configuration.VisibleCount());
        EXPECT_TRUE(m_configuration.ConfigName().empty());
        EXPECT_EQ(MakeOwnFailure(LayerFailure::NoLayersLeft),
                  RaisedResult([&] { m_configuration.SaveLayerConfiguration(); }));
        // The same container is read again on the next attempt.
        EXPECT_EQ(MakeOwnFailure(row.code), RaisedResult([&] { m_configuration.LoadLayerConfiguration(container); }));
    }
}

TEST_F(LayerConfigurationTest, PointerFileNamesTheConfiguration)
{
    const std::pair<std::string, const char*> rows[] = {
        {"1 MyMap.ini\r\n", "MyMap.ini"},
        {"12   map-2_b.ini   \n\n\r\n", "map-2_b.ini"},
        {"1 MAP.INI", "MAP.INI"},
        {std::string("1 [MAP.INI\n\0garbage", 20), "[MAP.INI"},
    };
    for (const auto& [pointer, name] : rows) {
        SCOPED_TRACE(pointer);
        const std::string container = BuildContainer({{"ADD_MAPS.CFG", pointer}, {name, ThreeLayers()}});
        m_configuration.LoadLayerConfiguration(Open(container));
        EXPECT_EQ(Utf8ToWide(name), m_configuration.ConfigName());
        EXPECT_EQ(3u, m_configuration.VisibleCount());
    }
}

// Remove layer 1 of layers 0, 1, 2 drawn 2 0 1.
TEST_F(LayerConfigurationTest, RemovingALayerRenumbersTheRest)
{
    Load(ThreeLayers());
    m_configuration.RemoveLayers({2});
    EXPECT_TRUE(m_configuration.IsModified());
    EXPECT_EQ((std::vector<std::wstring>{L"Parks", L"Roads"}), Identifiers(m_configuration));

    const std::string written = SaveAndWrite();
    EXPECT_EQ("[LAYERS]\r\n"
              "NUMBER=2\r\n"
              "0=" + c_line0 + "\r\n"
              "1=" + c_line2 + "\r\n"
              "ORDERDRAW=1 0\r\n"
              "\r\n"
              "[COLORS4BITS]\r\n"
              "LAY_COLOR=2 1 GREEN SOLID_FILL 0 BLACK SINGLE_LINE\r\n",
              written);
    EXPECT_EQ((std::vector<std::string>{"ADD_MAPS.CFG", "MAP.INI", "00L0.LAY", "00L0.CLT", "00L2.LAY", "00L2.CLT"}),
              m_written);
    EXPECT_EQ((std::vector<std::wstring>{L"00l1.LAY", L"00l1.CLT"}), m_configuration.GetContainerChanges().dropNames);

    // Saving again (Next pressed twice) gives the same configuration.
    EXPECT_EQ(written, SaveAndWrite());
}

TEST_F(LayerConfigurationTest, LayersWithSixteenColourTriplesAreRewritten)
{
    Load(ThreeLayers("2 0 1", "1 0 RED SOLID_FILL"));
    const LayerRecord& roads = m_configuration.VisibleLayer(1);
    EXPECT_TRUE(roads.changed);
    EXPECT_EQ(L"RED", roads.EffectiveColour4());
    EXPECT_EQ(L"SOLID_FILL", roads.EffectiveStyle4());

    // Opening and cancelling the property sheet on that layer marks the
    // configuration modified; a layer without changes does not.
    m_configuration.LayerSheetClosed({0});
    EXPECT_FALSE(m_configuration.IsModified());
    m_configuration.LayerSheetClosed({1});
    EXPECT_TRUE(m_configuration.IsModified());

    const std::string written = SaveAndWrite();
    std::string singleSpaced = c_line0;
    for (size_t pos; (pos = singleSpaced.find("  ")) != std::string::npos;)
        singleSpaced.erase(pos, 1);
    EXPECT_NE(std::string::npos, written.find("0=" + singleSpaced + "\r\n"));
    EXPECT_NE(std::string::npos, written.find("LAY_COLOR=3 2 GREEN SOLID_FILL 0 RED SOLID_FILL 1 BLUE RIVER_LINE\r\n"));
    EXPECT_EQ(6u, m_written.size() - 2);
}

TEST_F(LayerConfigurationTest, AppearanceAppliesOnlyTheChangedFields)
{
    Load(ThreeLayers());
    AppearanceChange sameColour;
    sameColour.colour = L"green";
    m_configuration.ApplyAppearance({0}, sameColour);
    m_configuration.LayerSheetClosed({0});
    EXPECT_FALSE(m_configuration.VisibleLayer(0).changed);
    EXPECT_EQ(L"GREEN", m_configuration.VisibleLayer(0).Colour());
    EXPECT_FALSE(m_configuration.IsModified());

    AppearanceChange style;
    style.style = L"DOT_FILL";
    style.colour4 = L"BROWN";
    m_configuration.ApplyAppearance({0, 2}, style);
    m_configuration.LayerSheetClosed({0, 2});
    EXPECT_TRUE(m_configuration.IsModified());
    const LayerRecord& parks = m_configuration.VisibleLayer(0);
    const LayerRecord& rivers = m_configuration.VisibleLayer(2);
    EXPECT_EQ(L"GREEN", parks.Colour());
    EXPECT_EQ(L"BLUE", rivers.Colour());
    EXPECT_EQ(L"DOT_FILL", parks.Style());
    EXPECT_EQ(L"DOT_FILL", rivers.Style());
    EXPECT_EQ(L"BROWN", rivers.EffectiveColour4());
    EXPECT_EQ(L"DOT_FILL", rivers.EffectiveStyle4());
    EXPECT_FALSE(m_configuration.VisibleLayer(1).changed);
}

TEST_F(LayerConfigurationTest, ZoomLevelsWriteTheirTokens)
{
    Load(ThreeLayers());
    const ZoomChoices pending = {{ZoomChoiceKey(3, 0), 8}, {ZoomChoiceKey(4, 0), 8}, {ZoomChoiceKey(0, 5), 0}};
    m_configuration.ApplyZoomLevels({1}, pending);
    const LayerRecord& roads = m_configuration.VisibleLayer(1);
    EXPECT_EQ(8, roads.ZoomIndex(3, 0));
    EXPECT_EQ(8, roads.ZoomIndex(4, 0));
    EXPECT_EQ(0, roads.ZoomIndex(0, 5));
    EXPECT_EQ(5, roads.ZoomIndex(0, 4));
    EXPECT_EQ(L"8", roads.tokens[5 + 18]);
    EXPECT_TRUE(roads.changed);
    EXPECT_EQ(E_INVALIDARG, RaisedResult([&] { m_configuration.ApplyZoomLevels({1}, {{30, 1}}); }));
    EXPECT_EQ(E_INVALIDARG, RaisedResult([&] { m_configuration.ApplyZoomLevels({1}, {{0, 18}}); }));
}

TEST_F(LayerConfigurationTest, MovesSkipRemovedLayers)
{
    Load(ThreeLayers());
    m_configuration.RemoveLayers({0});
    EXPECT_FALSE(m_configuration.CanMoveLayerUp(0));
    EXPECT_TRUE(m_configuration.CanMoveLayerDown(0));
    EXPECT_FALSE(m_configuration.CanMoveLayerDown(1));
    EXPECT_EQ(1u, m_configuration.MoveLayerDown(0));
    EXPECT_EQ((std::vector<std::wstring>{L"Rivers", L"Roads"}), Identifiers(m_configuration));
    EXPECT_EQ(0u, m_configuration.MoveLayerUp(1));
    EXPECT_EQ((std::vector<std::wstring>{L"Roads", L"Rivers"}), Identifiers(m_configuration));
    EXPECT_EQ(E_INVALIDARG, RaisedResult([&] { m_configuration.MoveLayerUp(0); }));

    const std::string written = SaveAndWrite();
    EXPECT_NE(std::string::npos, written.find("ORDERDRAW=0 1\r\n"));
    EXPECT_EQ(std::string::npos, written.find("\r\n2="));
}

TEST_F(LayerConfigurationTest, EditsSurviveUntilAnotherContainerIsLoaded)
{
    Load(ThreeLayers());
    m_configuration.RemoveLayers({0});
    m_configuration.LoadLayerConfiguration(m_container);
    EXPECT_EQ(2u, m_configuration.VisibleCount());
    Load(ThreeLayers());
    EXPECT_EQ(3u, m_configuration.VisibleCount());
    EXPECT_FALSE(m_configuration.IsModified());
}

TEST_F(LayerConfigurationTest, NoLayersLoadsEmptyAndCannotBeSaved)
{
    Load("[LAYERS]\r\nNUMBER=0\r\nORDERDRAW=\r\n");
    EXPECT_EQ(0u, m_configuration.VisibleCount());
    EXPECT_EQ(MakeOwnFailure(LayerFailure::NoLayersLeft),
              RaisedResult([&] { m_configuration.SaveLayerConfiguration(); }));
    Load(ThreeLayers());
    m_configuration.RemoveLayers({0, 1, 2});
    EXPECT_EQ(MakeOwnFailure(LayerFailure::NoLayersLeft),
              RaisedResult([&] { m_configuration.SaveLayerConfiguration(); }));
}

TEST_F(LayerConfigurationTest, UnmodifiedSaveCopiesTheContainerWhole)
{
    Load(ThreeLayers());
    const std::string source = ReadFileBytes(m_container.path);
    m_configuration.SaveLayerConfiguration();
    const ContainerChanges changes = m_configuration.GetContainerChanges();
    EXPECT_TRUE(changes.dropNames.empty());
    EXPECT_FALSE(changes.replacement);
    const std::wstring destination = m_folder.File(L"copy.imi");
    WriteModifiedContainer(m_container, destination, changes.dropNames, changes.replacement);
    EXPECT_EQ(source, ReadFileBytes(destination));
}

TEST(LayerConfigurationRealFiles, LoadEditAndWrite)
{
    const std::wstring folder = TestDataFolder();
    SKIP_WITHOUT_TESTDATA(folder);
    struct Row
    {
        const wchar_t* file;
        size_t layers;
        const wchar_t* firstDrawn;
        size_t tokens;
    };
    const Row rows[] = {
        {L"\\maps\\public\\pymagellan_lund.imi", 14, L"00_Parks", 37},
        {L"\\maps\\synthetic\\synth_le_5x40.mgi", 5, nullptr, 40},
        {L"\\maps\\synthetic\\synth_be_5x40.img", 5, nullptr, 40},
        {L"\\maps\\synthetic\\synth_quirks_le_6x37.imi", 6, nullptr, 37},
    };
    TempFolder temp;
    for (const auto& row : rows) {
        SCOPED_TRACE(WideToUtf8(row.file));
        MapContainer container;
        OpenContainer(container, folder + row.file);
        LayerConfiguration configuration;
        configuration.LoadLayerConfiguration(container);
        ASSERT_EQ(row.layers, configuration.VisibleCount());
        if (row.firstDrawn) {
            EXPECT_EQ(row.firstDrawn, configuration.VisibleLayer(0).Identifier());
        }
        EXPECT_EQ(row.tokens, configuration.VisibleLayer(0).tokens.size());

        const std::wstring removedFile = configuration.VisibleLayer(0).tokens[1];
        configuration.RemoveLayers({0});
        configuration.SaveLayerConfiguration();
        const ContainerChanges changes = configuration.GetContainerChanges();
        const std::wstring destination = temp.File(L"edited.imi");
        WriteModifiedContainer(container, destination, changes.dropNames, changes.replacement);

        MapContainer edited;
        OpenContainer(edited, destination);
        EXPECT_FALSE(FindEntry(edited, removedFile + L".lay"));
        const CheckWordResult checks = VerifyCheckWords(edited);
        EXPECT_TRUE(checks.header);
        EXPECT_TRUE(checks.file);
        const std::vector<char> config = ReadEntryData(edited, *FindEntry(edited, configuration.ConfigName()));
        EXPECT_EQ(FileBytes(changes.replacement->file), std::string(config.begin(), config.end()));

        LayerConfiguration reread;
        reread.LoadLayerConfiguration(edited);
        ASSERT_EQ(row.layers - 1, reread.VisibleCount());
        for (size_t i = 0; i < reread.VisibleCount(); ++i)
            EXPECT_EQ(configuration.VisibleLayer(i).Identifier(), reread.VisibleLayer(i).Identifier());
    }
}

} // namespace
