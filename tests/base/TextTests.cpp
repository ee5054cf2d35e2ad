#include "support/TestSupport.h"

#include "base/Text.h"

TEST(Text, AnsiRoundTripAndReplacement)
{
    EXPECT_EQ(L"HOME", AnsiToWide("HOME"));
    EXPECT_EQ("HOME", WideToAnsi(L"HOME"));
    EXPECT_EQ(L"", AnsiToWide(""));
    // A character the code page lacks becomes its default replacement.
    EXPECT_EQ("?", WideToAnsi(L"\x4E2D"));
}

TEST(Text, TrimAndCompare)
{
    EXPECT_EQ(L"WGS 84", TrimWhiteSpace(L" \t WGS 84 \r\n"));
    EXPECT_EQ(L"", TrimWhiteSpace(L" \t "));
    EXPECT_TRUE(EqualsIgnoreCase(L"wgs 84", L"WGS 84"));
    EXPECT_FALSE(EqualsIgnoreCase(L"WGS 84 ", L"WGS 84"));
    EXPECT_FALSE(EqualsIgnoreCase(L"WGS84", L"WGS 84"));
}
