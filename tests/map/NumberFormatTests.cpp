#include "support/TestSupport.h"

#include "map/LayerTables.h"
#include "map/NumberFormat.h"

namespace {

TEST(NumberFormat, GroupedIntegers)
{
    const std::pair<std::int64_t, const wchar_t*> rows[] = {
        {0, L"0"}, {999, L"999"}, {1000, L"1,000"}, {1234567, L"1,234,567"}, {4294967295, L"4,294,967,295"},
        {-1234, L"-1,234"},
    };
    for (const auto& [value, expected] : rows)
        EXPECT_EQ(expected, FormatGroupedInteger(value)) << value;
}

TEST(NumberFormat, PlainDecimalTextTruncatesTheIntegerPart)
{
    EXPECT_EQ(L"5", PlainDecimalText(5.0));
    EXPECT_EQ(L"1.5", PlainDecimalText(1.5));
    EXPECT_EQ(L"-2.25", PlainDecimalText(-2.25));
    EXPECT_EQ(L"1300", PlainDecimalText(1300.0));
}

TEST(NumberFormat, GroupedDecimalsRound)
{
    EXPECT_EQ(L"5.0", FormatGroupedDecimal(5000 / 1000.0, 1));
    EXPECT_EQ(L"1,300", FormatGroupedDecimal(1300000 / 1000.0, 0));
    EXPECT_EQ(L"2.5", FormatGroupedDecimal(2.46, 1));
    EXPECT_EQ(L"0.75", FormatGroupedDecimal(0.75, 2));
}

TEST(NumberFormat, FollowsTheUsersDecimalSeparator)
{
    CommaDecimalLocale locale;
    EXPECT_EQ(L"5,0", FormatGroupedDecimal(5.0, 1));
    EXPECT_EQ(L"1,4 km", ZoomLevelText(6));
}

TEST(LayerTables, ZoomLevelTexts)
{
    const wchar_t* expected[] = {L"Any",    L"35 m",   L"80 m",   L"160 m",  L"350 m",  L"700 m",
                                 L"1.4 km", L"2.5 km", L"5.0 km", L"10 km",  L"20 km",  L"40 km",
                                 L"80 km",  L"160 km", L"350 km", L"700 km", L"1,300 km", L"2,700 km"};
    static_assert(std::size(expected) == c_zoomLevelCount);
    for (int index = 0; index < c_zoomLevelCount; ++index)
        EXPECT_EQ(expected[index], ZoomLevelText(index)) << index;
    EXPECT_EQ(E_INVALIDARG, RaisedResult([] { ZoomLevelText(18); }));
}

TEST(LayerTables, NamesAreSpelledAsTheReceiversKnowThem)
{
    ASSERT_EQ(15u, ColourNames().size());
    EXPECT_STREQ(L"MAGENTA", ColourNames().front());
    EXPECT_STREQ(L"BLACK", ColourNames().back());
    ASSERT_EQ(455u, StyleNames().size());
    EXPECT_STREQ(L"RAILWAY_STATION", StyleNames().front());
    EXPECT_STREQ(L"AIRPORTS", StyleNames().back());
    EXPECT_STREQ(L"PAIL_GREEN", FindColourName(L"pail_green"));
    EXPECT_STREQ(L"RESTUARANTS", FindStyleName(L"Restuarants"));
    EXPECT_STREQ(L"YATCH_CLUB", FindStyleName(L"YATCH_CLUB"));
    EXPECT_EQ(nullptr, FindColourName(L"CUST_COLOR1"));
    EXPECT_EQ(nullptr, FindStyleName(L"RESTAURANTS"));
}

} // namespace
