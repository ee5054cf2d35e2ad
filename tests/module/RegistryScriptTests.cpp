#include "support/TestSupport.h"

#include "base/Handle.h"
#include "module/RegistryScript.h"

namespace {

const wchar_t c_testKey[] = L"Software\\TervolinRegistryScriptTest";

// The keys and string values under a key, one line each, in name order.
void Dump(HKEY key, const std::wstring& prefix, std::wstring& out)
{
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[512];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) !=
            ERROR_SUCCESS)
            break;
        out += prefix + L"[" + name + L"]=" + std::wstring(data, dataSize / sizeof(wchar_t)).c_str() + L"\n";
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        out += prefix + name + L"\n";
        UniqueHKey subkey;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, name, 0, KEY_READ, subkey.Put()));
        Dump(subkey.Get(), prefix + name + L"\\", out);
    }
}

std::wstring DumpTestKey()
{
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, c_testKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return L"(missing)";
    std::wstring out;
    Dump(key.Get(), L"", out);
    return out;
}

class RegistryScriptApply : public testing::Test
{
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, c_testKey); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, c_testKey); }
};

const wchar_t c_script[] = LR"(HKCU
{
    NoRemove Software
    {
        NoRemove TervolinRegistryScriptTest
        {
            Item.1 = s 'First item'
            {
                CLSID = s '{1234}'
            }
            ForceRemove {ABCD} = s 'Class ''quoted'''
            {
                'Spaced Name' = s 'x'
                InprocServer32 = s 'C:\path\to.dll'
                {
                    val ThreadingModel = s 'both'
                }
                val AppID = s '{5678}'
            }
        }
    }
})";

} // namespace

TEST(RegistryScript, ParsesKeysValuesAndFlags)
{
    const auto script = ParseRegistryScript(c_script);
    ASSERT_EQ(1u, script.size());
    EXPECT_EQ(HKEY_CURRENT_USER, script[0].key);
    const auto& test = script[0].keys.at(0).subkeys.at(0);
    EXPECT_TRUE(test.noRemove);
    ASSERT_EQ(2u, test.subkeys.size());
    EXPECT_EQ(L"Item.1", test.subkeys[0].name);
    EXPECT_EQ(L"First item", test.subkeys[0].defaultValue.value());
    const auto& forced = test.subkeys[1];
    EXPECT_TRUE(forced.forceRemove);
    EXPECT_EQ(L"Class 'quoted'", forced.defaultValue.value());
    EXPECT_EQ(L"Spaced Name", forced.subkeys[0].name);
    EXPECT_EQ(L"both", forced.subkeys[1].values.at(0).data);
    EXPECT_EQ(L"AppID", forced.values.at(0).name);
}

TEST(RegistryScript, MalformedScriptsFail)
{
    for (const wchar_t* text : {L"HKXX { }", L"HKCR { Key = s 'unterminated }", L"HKCR { Key = d '1' }",
                                L"HKCR { Key", L"HKCR Key", L"HKCR { Key = s unquoted }", L"HKCR { val X = s 'y' }"})
        EXPECT_EQ(E_FAIL, RaisedResult([&] { ParseRegistryScript(text); })) << text;
    EXPECT_TRUE(ParseRegistryScript(L"  ").empty());
}

TEST(RegistryScript, Placeholders)
{
    const RegistryReplacements replacements = {{L"Module", L"C:\\a''b.dll"}, {L"APPID", L"{42}"}};
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"%MODULE%", L"C:\\a''b.dll"},
        {L"x %AppId% y", L"x {42} y"},
        {L"100%% sure", L"100% sure"},
        {L"50% and %UNKNOWN% stay", L"50% and %UNKNOWN% stay"},
        {L"trailing %", L"trailing %"},
        {L"%APPID%%APPID%", L"{42}{42}"},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(expected, ReplacePlaceholders(text, replacements)) << text;
}

TEST_F(RegistryScriptApply, RegisterTwiceGivesTheSameContent)
{
    const auto script = ParseRegistryScript(c_script);
    RegisterScript(script);
    const std::wstring first = DumpTestKey();
    EXPECT_NE(std::wstring::npos, first.find(L"{ABCD}\\InprocServer32\\[ThreadingModel]=both"));
    EXPECT_NE(std::wstring::npos, first.find(L"{ABCD}\\[]=Class 'quoted'"));

    // A stray subkey under the ForceRemove key disappears on registration.
    UniqueHKey stray;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\TervolinRegistryScriptTest\\{ABCD}\\Stray",
                                             0, nullptr, 0, KEY_WRITE, nullptr, stray.Put(), nullptr));
    stray.Reset();
    RegisterScript(script);
    EXPECT_EQ(first, DumpTestKey());
}

TEST_F(RegistryScriptApply, UnregisterKeepsNoRemoveKeysAndToleratesMissingOnes)
{
    const auto script = ParseRegistryScript(c_script);
    RegisterScript(script);
    UnregisterScript(script);
    EXPECT_EQ(L"", DumpTestKey());
    UnregisterScript(script);
    EXPECT_EQ(L"", DumpTestKey());
    RegDeleteTreeW(HKEY_CURRENT_USER, c_testKey);
    UnregisterScript(script);
    EXPECT_EQ(L"(missing)", DumpTestKey());
}
