#include "support/TestSupport.h"

#include "MapTestSupport.h"
#include "base/Text.h"
#include "map/LayerSheetChoices.h"
#include "map/LayerTables.h"

namespace {

LayerRecord Layer(const std::string& colour, const std::string& style, int zoom, const std::string& colour4 = "",
                  const std::string& style4 = "")
{
    LayerRecord record;
    record.line = Utf8ToWide(LayerLine("Roads", "00rd", colour, style, zoom));
    for (size_t start = 0; start < record.line.size();) {
        const size_t end = std::min(record.line.find(L' ', start), record.line.size());
        record.tokens.push_back(record.line.substr(start, end - start));
        start = end + 1;
    }
    record.colour4 = Utf8ToWide(colour4);
    record.style4 = Utf8ToWide(style4);
    return record;
}

TEST(LayerSheetChoices, ListsShowTheLayersOwnValues)
{
    struct Row
    {
        const char* name;
        LayerRecord layer;
        AppearanceList list;
        std::optional<size_t> expected;
    };
    const Row rows[] = {
        {"colour in other letter case", Layer("blue", "SOLID_FILL", 5), APPEARANCELIST_COLOUR, 11},
        {"style", Layer("BLUE", "SOLID_FILL", 5), APPEARANCELIST_STYLE, 402},
        {"unknown colour", Layer("DARK_GREY", "SOLID_FILL", 5), APPEARANCELIST_COLOUR, std::nullopt},
        {"16 colours fall back to token 35", Layer("BLUE", "SOLID_FILL", 5), APPEARANCELIST_COLOUR4, 11},
        {"16-colour colour of its own", Layer("BLUE", "SOLID_FILL", 5, "RED", "DOT_FILL"), APPEARANCELIST_COLOUR4, 8},
        {"16-colour style of its own", Layer("BLUE", "SOLID_FILL", 5, "RED", "DOT_FILL"), APPEARANCELIST_STYLE4, 443},
    };
    ASSERT_STREQ(StyleNames()[402], L"SOLID_FILL");
    ASSERT_STREQ(StyleNames()[443], L"DOT_FILL");
    for (const auto& row : rows)
        EXPECT_EQ(ShownAppearance(row.layer, row.list), row.expected) << row.name;
}

TEST(LayerSheetChoices, OnlyTouchedListsAreAppliedOnce)
{
    AppearanceChoices choices;
    EXPECT_FALSE(choices.HasChanges());
    choices.Choose(APPEARANCELIST_STYLE, 443);
    choices.Choose(APPEARANCELIST_COLOUR4, 0);
    choices.Choose(APPEARANCELIST_COLOUR4, 8); // the last confirmed choice counts
    ASSERT_TRUE(choices.HasChanges());
    const AppearanceChange change = choices.TakeChange();
    EXPECT_FALSE(change.colour);
    EXPECT_EQ(change.style, L"DOT_FILL");
    EXPECT_EQ(change.colour4, L"RED");
    EXPECT_FALSE(change.style4);
    EXPECT_FALSE(choices.HasChanges());
    const AppearanceChange next = choices.TakeChange();
    EXPECT_FALSE(next.style || next.colour4);
    EXPECT_EQ(RaisedResult([&] { choices.Choose(APPEARANCELIST_COLOUR, 15); }), E_INVALIDARG);
}

TEST(LayerSheetChoices, ZoomChoicesArePendingForEverySelectedLevel)
{
    const LayerRecord layer = Layer("BLUE", "SOLID_FILL", 5);
    ZoomLevelChoices choices;
    EXPECT_EQ(choices.Shown(layer, 0, ZOOMFIELD_DETAIL_FROM), 5);
    choices.Choose({3, 4}, ZOOMFIELD_DETAIL_FROM, 8); // Low and Lowest: 5.0 km
    EXPECT_TRUE(choices.IsChanged());
    EXPECT_EQ(choices.Shown(layer, 3, ZOOMFIELD_DETAIL_FROM), 8);
    EXPECT_EQ(choices.Shown(layer, 4, ZOOMFIELD_DETAIL_FROM), 8);
    EXPECT_EQ(choices.Shown(layer, 4, ZOOMFIELD_DETAIL_TO), 5);
    EXPECT_EQ(choices.Shown(layer, 0, ZOOMFIELD_DETAIL_FROM), 5);

    const ZoomChoices expected = {{ZoomChoiceKey(3, 0), 8}, {ZoomChoiceKey(4, 0), 8}};
    EXPECT_EQ(choices.TakePending(), expected);
    EXPECT_FALSE(choices.IsChanged());
    choices.Choose({0}, ZOOMFIELD_NAMES_TO, 17);
    EXPECT_EQ(choices.TakePending().size(), 3u) << "earlier choices stay pending until the sheet closes";
    choices.Choose({}, ZOOMFIELD_NAMES_TO, 1);
    EXPECT_FALSE(choices.IsChanged()) << "a choice with no level selected records nothing";
    EXPECT_EQ(RaisedResult([&] { choices.Choose({0}, 6, 1); }), E_INVALIDARG);
    EXPECT_EQ(RaisedResult([&] { choices.Choose({0}, 0, 18); }), E_INVALIDARG);
}

// Only ranges a pending choice touches are checked; "Any" (0) limits
// nothing; the first inverted range names its layer, level and field.
TEST(LayerSheetChoices, InvertedRangesAreFoundWhereChoicesTouchThem)
{
    const LayerRecord five = Layer("BLUE", "SOLID_FILL", 5); // every field 5
    const LayerRecord three = Layer("BLUE", "SOLID_FILL", 3);
    const LayerRecord* const layers[] = {&five, &three};
    struct Row
    {
        const char* name;
        std::vector<int> levels;
        int field;
        int index;
        std::optional<size_t> layer; // the inverted one, if any
    };
    const Row rows[] = {
        {"from up to every to", {0}, ZOOMFIELD_DETAIL_FROM, 3, std::nullopt},
        {"from beyond the second layer's to", {2}, ZOOMFIELD_DETAIL_FROM, 4, 1},
        {"to below the first layer's from", {1}, ZOOMFIELD_NAMES_TO, 4, 0},
        {"from Any", {0}, ZOOMFIELD_BASEMAP_INVISIBLE_FROM, 0, std::nullopt},
        {"to Any", {0}, ZOOMFIELD_BASEMAP_INVISIBLE_TO, 0, std::nullopt},
    };
    for (const auto& row : rows) {
        ZoomLevelChoices choices;
        choices.Choose(row.levels, row.field, row.index);
        const std::optional<InvertedZoomRange> inverted = choices.FindInvertedRange(layers);
        ASSERT_EQ(inverted.has_value(), row.layer.has_value()) << row.name;
        if (!inverted)
            continue;
        EXPECT_EQ(inverted->layer, *row.layer) << row.name;
        EXPECT_EQ(inverted->level, row.levels.front()) << row.name;
        EXPECT_EQ(inverted->fromField, row.field / 2 * 2) << row.name;
    }
    ZoomLevelChoices choices;
    EXPECT_EQ(choices.Shared(layers, {0}, ZOOMFIELD_DETAIL_FROM), -1) << "5 and 3 differ";
    choices.Choose({0, 1}, ZOOMFIELD_DETAIL_FROM, 2);
    EXPECT_EQ(choices.Shared(layers, {0, 1}, ZOOMFIELD_DETAIL_FROM), 2);
    EXPECT_EQ(choices.Shared(layers, {1, 2}, ZOOMFIELD_DETAIL_FROM), -1) << "level 2 keeps its own values";
}

} // namespace
