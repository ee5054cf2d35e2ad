#include "support/TestSupport.h"

#include "map/IniDocument.h"

namespace {

const char c_text[] =
    "; made by hand\r\n"
    "[Layers]\r\n"
    "NUMBER = 2\r\n"
    "0=a  b   c\r\n"
    "name=\"quoted value\"\r\n"
    "dup=first\r\n"
    "dup=second\r\n"
    "\r\n"
    "[OTHER]\r\n"
    "0=other\r\n";

TEST(IniDocument, ReadsValuesLikeTheProfileFunctions)
{
    const IniDocument document(c_text);
    EXPECT_EQ(L"2", document.Value(L"LAYERS", L"number"));
    EXPECT_EQ(L"a  b   c", document.Value(L"layers", L"0"));
    EXPECT_EQ(L"quoted value", document.Value(L"LAYERS", L"NAME"));
    EXPECT_EQ(L"first", document.Value(L"LAYERS", L"dup"));
    EXPECT_EQ(L"other", document.Value(L"OTHER", L"0"));
    EXPECT_FALSE(document.Value(L"LAYERS", L"missing"));
    EXPECT_FALSE(document.Value(L"NONE", L"0"));
    EXPECT_FALSE(document.Value(L"LAYERS", L"; made by hand"));
    EXPECT_EQ(2, document.IntegerValue(L"LAYERS", L"NUMBER", 0));
    EXPECT_EQ(7, document.IntegerValue(L"LAYERS", L"name", 7));
    EXPECT_EQ(7, document.IntegerValue(L"LAYERS", L"missing", 7));
}

TEST(IniDocument, UnchangedTextIsKeptByteForByte)
{
    const std::string withTail = std::string(c_text) + std::string("LAST=1\0junk", 11);
    IniDocument document(withTail);
    EXPECT_EQ(L"1", document.Value(L"OTHER", L"LAST"));
    document.SetValue(L"LAYERS", L"0", L"a  b   c"); // same value: line untouched
    document.SetValue(L"layers", L"NUMBER", L"2");
    EXPECT_EQ(withTail, document.Bytes());
}

TEST(IniDocument, EditsKeysInPlaceAndAddsThemToTheirSection)
{
    IniDocument document(c_text);
    document.SetValue(L"LAYERS", L"0", L"x y");
    document.SetValue(L"LAYERS", L"ORDERDRAW", L"1 0");
    document.DeleteKey(L"LAYERS", L"dup");
    document.SetValue(L"COLORS4BITS", L"LAY_COLOR", L"0");
    EXPECT_EQ("; made by hand\r\n"
              "[Layers]\r\n"
              "NUMBER = 2\r\n"
              "0=x y\r\n"
              "name=\"quoted value\"\r\n"
              "ORDERDRAW=1 0\r\n"
              "\r\n"
              "[OTHER]\r\n"
              "0=other\r\n"
              "[COLORS4BITS]\r\n"
              "LAY_COLOR=0\r\n",
              document.Bytes());
}

TEST(IniDocument, NewLinesFollowTheFilesLineEnds)
{
    IniDocument document("[A]\nk=v");
    document.SetValue(L"A", L"n", L"1");
    document.SetValue(L"B", L"m", L"2");
    EXPECT_EQ("[A]\nk=v\nn=1\n[B]\nm=2\n", document.Bytes());
}

} // namespace
