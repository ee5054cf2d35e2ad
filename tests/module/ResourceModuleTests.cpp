#include "module/ResourceModule.h"

#include "Strings.h"
#include "base/Handle.h"
#include "base/Text.h"
#include "diagnostics/ModuleFile.h"
#include "support/TestSupport.h"

namespace {

constexpr wchar_t c_localeKey[] = L"SOFTWARE\\Norvask\\Tervolin\\Locale";
constexpr const wchar_t* c_valueNames[] = {L"Tervolin", L"Default", L"Satellite Path"};
constexpr LCID c_germanWithSortOrder = 0x00010407;

// The Locale values of both roots, cleared before and after each test.
class LocaleSettings
{
public:
    LocaleSettings() { Clear(); }
    ~LocaleSettings() { Clear(); }
    LocaleSettings(const LocaleSettings&) = delete;
    LocaleSettings& operator=(const LocaleSettings&) = delete;

    static void Set(HKEY root, const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        UniqueHKey key;
        ASSERT_EQ(RegCreateKeyExW(root, c_localeKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    static void SetLocale(HKEY root, const wchar_t* name, DWORD locale)
    {
        Set(root, name, REG_DWORD, &locale, sizeof locale);
    }
    static void SetText(HKEY root, const wchar_t* name, const std::wstring& text)
    {
        Set(root, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

private:
    static void Clear()
    {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            UniqueHKey key;
            if (RegOpenKeyExW(root, c_localeKey, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS) {
                key.Release();
                continue;
            }
            for (const wchar_t* name : c_valueNames)
                RegDeleteValueW(key.Get(), name);
        }
    }
};

std::wstring BesideTheTests(const std::wstring& relativePath)
{
    return std::wstring(FolderPart(ModuleFilePath(nullptr))) + L"\\" + relativePath;
}

const std::wstring c_sameVersionSatellite = L"satellite-same\\Tervolin.lang-1031.dll";
const std::wstring c_otherVersionSatellite = L"satellite-other\\Tervolin.lang-1031.dll";

void CopyInto(const std::wstring& source, const std::wstring& target)
{
    ASSERT_TRUE(CopyFileW(source.c_str(), target.c_str(), TRUE)) << GetLastError();
}

// A copy of Tervolin.dll in a folder of its own ("module"), and a second
// folder ("satellites") for the "Satellite Path" setting.
class ResourceModuleTest : public testing::Test
{
protected:
    ResourceModuleTest()
        : m_moduleFolder(m_folder.File(L"module")), m_satelliteFolder(m_folder.File(L"satellites")),
          m_modulePath(m_moduleFolder + L"\\Tervolin.dll")
    {
        CreateDirectoryW(m_moduleFolder.c_str(), nullptr);
        CreateDirectoryW(m_satelliteFolder.c_str(), nullptr);
        CopyInto(EnvironmentValue(L"TERVOLIN_BIN") + L"\\Tervolin.dll", m_modulePath);
    }
    ~ResourceModuleTest() override
    {
        FreeResourceModule();
        m_module.Reset();
    }

    // Maps the module for its resources only: its DllMain does not choose a
    // resource module itself.
    HINSTANCE MapModule()
    {
        m_module.Reset(LoadLibraryExW(m_modulePath.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
        EXPECT_TRUE(m_module) << GetLastError();
        return m_module.Get();
    }

    LocaleSettings m_settings;
    TempFolder m_folder;
    const std::wstring m_moduleFolder;
    const std::wstring m_satelliteFolder;
    const std::wstring m_modulePath;
    UniqueHModule m_module;
};

TEST(SatelliteFileName, UsesTheLanguageIdOfTheLocale)
{
    const std::pair<LCID, const wchar_t*> cases[] = {
        {0x0407, L"Tervolin.lang-1031.dll"},
        {c_germanWithSortOrder, L"Tervolin.lang-1031.dll"},
        {0x0409, L"Tervolin.lang-1033.dll"},
        {0x0804, L"Tervolin.lang-2052.dll"},
    };
    for (const auto& [locale, expected] : cases)
        EXPECT_EQ(SatelliteFileName(L"Tervolin", locale), expected) << std::hex << locale;
}

TEST(ConfiguredLocale, RootsAreSearchedBeforeValueNames)
{
    struct Setting
    {
        HKEY root;
        const wchar_t* name;
        DWORD locale;
    };
    struct Case
    {
        const char* name;
        std::vector<Setting> settings;
        std::optional<LCID> expected;
    };
    const Case cases[] = {
        {"user module value beats machine default",
         {{HKEY_CURRENT_USER, L"Tervolin", 0x0407}, {HKEY_LOCAL_MACHINE, L"Default", 0x040C}},
         0x0407},
        {"user default beats machine module value",
         {{HKEY_CURRENT_USER, L"Default", 0x0407}, {HKEY_LOCAL_MACHINE, L"Tervolin", 0x040C}},
         0x0407},
        {"user module value beats user default",
         {{HKEY_CURRENT_USER, L"Default", 0x040C}, {HKEY_CURRENT_USER, L"Tervolin", 0x0407}},
         0x0407},
        {"machine module value", {{HKEY_LOCAL_MACHINE, L"Tervolin", 0x040C}}, 0x040C},
        {"machine default", {{HKEY_LOCAL_MACHINE, L"Default", 0x0410}}, 0x0410},
        {"nothing", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LocaleSettings settings;
        for (const Setting& s : c.settings)
            LocaleSettings::SetLocale(s.root, s.name, s.locale);
        EXPECT_EQ(ConfiguredLocale(L"Tervolin"), c.expected);
    }
}

TEST(ConfiguredLocale, ValueOfAnotherTypeIsPassedOver)
{
    LocaleSettings settings;
    LocaleSettings::SetText(HKEY_CURRENT_USER, L"Tervolin", L"1031");
    LocaleSettings::SetLocale(HKEY_CURRENT_USER, L"Default", 0x040C);
    EXPECT_EQ(ConfiguredLocale(L"Tervolin"), LCID{0x040C});
}

enum class Satellite
{
    None,
    SameVersion,
    OtherVersion,
};

enum class Chosen
{
    Module,
    Beside,
    InSatellitePath,
};

TEST_F(ResourceModuleTest, ChoosesTheSatelliteThatFits)
{
    {
        const UniqueHModule other(LoadLibraryExW(BesideTheTests(c_otherVersionSatellite).c_str(), nullptr,
                                                 LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        const UniqueHModule same(LoadLibraryExW(BesideTheTests(c_sameVersionSatellite).c_str(), nullptr,
                                                LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_NE(ProductVersion(other.Get()), ProductVersion(same.Get()));
    }
    struct Case
    {
        const char* name;
        Satellite beside;
        Satellite inSatellitePath;
        Chosen expected;
    };
    const Case cases[] = {
        {"beside the module", Satellite::SameVersion, Satellite::None, Chosen::Beside},
        {"beside wins over the satellite path", Satellite::SameVersion, Satellite::SameVersion, Chosen::Beside},
        {"in the satellite path", Satellite::None, Satellite::SameVersion, Chosen::InSatellitePath},
        {"other version beside", Satellite::OtherVersion, Satellite::None, Chosen::Module},
        {"other version beside hides the satellite path", Satellite::OtherVersion, Satellite::SameVersion,
         Chosen::Module},
        {"other version in the satellite path", Satellite::None, Satellite::OtherVersion, Chosen::Module},
        {"none", Satellite::None, Satellite::None, Chosen::Module},
    };
    LocaleSettings::SetLocale(HKEY_CURRENT_USER, L"Tervolin", c_germanWithSortOrder);
    LocaleSettings::SetText(HKEY_CURRENT_USER, L"Satellite Path", m_satelliteFolder);
    const std::wstring besidePath = m_moduleFolder + L"\\Tervolin.lang-1031.dll";
    const std::wstring inPath = m_satelliteFolder + L"\\Tervolin.lang-1031.dll";
    auto place = [](Satellite satellite, const std::wstring& target) {
        DeleteFileW(target.c_str());
        if (satellite != Satellite::None)
            CopyInto(BesideTheTests(satellite == Satellite::SameVersion ? c_sameVersionSatellite
                                                                        : c_otherVersionSatellite),
                     target);
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        place(c.beside, besidePath);
        place(c.inSatellitePath, inPath);
        const HINSTANCE module = MapModule();

        const HINSTANCE chosen = SelectResourceModule(module, module);

        const std::wstring expected = c.expected == Chosen::Beside            ? besidePath
                                      : c.expected == Chosen::InSatellitePath ? inPath
                                                                              : m_modulePath;
        EXPECT_TRUE(EqualsIgnoreCase(ModuleFilePath(chosen), expected)) << ModuleFilePath(chosen);
        FreeResourceModule();
        m_module.Reset();
    }
}

TEST_F(ResourceModuleTest, WithoutSettingsTheUsersDefaultLanguageIsUsed)
{
    const LANGID language = LANGIDFROMLCID(ConvertDefaultLocale(LOCALE_USER_DEFAULT));
    const std::wstring satellite = m_moduleFolder + L"\\Tervolin.lang-" + std::to_wstring(language) + L".dll";
    CopyInto(BesideTheTests(c_sameVersionSatellite), satellite);
    const HINSTANCE module = MapModule();

    EXPECT_TRUE(EqualsIgnoreCase(ModuleFilePath(SelectResourceModule(module, module)), satellite));
}

TEST_F(ResourceModuleTest, StringsComeFromTheChosenSatellite)
{
    LocaleSettings::SetLocale(HKEY_CURRENT_USER, L"Default", 0x0407);
    CopyInto(BesideTheTests(c_sameVersionSatellite), m_moduleFolder + L"\\Tervolin.lang-1031.dll");
    const HINSTANCE module = MapModule();

    InitializeResourceInstance(module);
    EXPECT_NE(ResourceInstance(), module);
    EXPECT_EQ(LoadResourceString(IDS_ERROR), L"Fehler");
    EXPECT_EQ(LoadResourceString(IDS_CONFIRMATION), L"Best\u00e4tigung");
    EXPECT_EQ(TextOrResourceString(MAKEINTRESOURCEW(IDS_ERROR)), L"Fehler");

    FreeResourceModule();
    EXPECT_EQ(ResourceInstance(), module);
    EXPECT_EQ(LoadResourceString(IDS_ERROR), L"Error");
}

TEST_F(ResourceModuleTest, StringArguments)
{
    InitializeResourceInstance(MapModule());
    EXPECT_EQ(TextOrResourceString(nullptr), L"");
    EXPECT_EQ(TextOrResourceString(L"Plain text"), L"Plain text");
    EXPECT_EQ(TextOrResourceString(MAKEINTRESOURCEW(IDS_INFORMATION)), L"Information");
    EXPECT_EQ(RaisedResult([] { LoadResourceString(1); }), HResultFromWin32(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST_F(ResourceModuleTest, LoadingTheModuleHoldsItsSatelliteUntilUnload)
{
    LocaleSettings::SetLocale(HKEY_CURRENT_USER, L"Tervolin", 0x0407);
    const std::wstring satellite = m_moduleFolder + L"\\Tervolin.lang-1031.dll";
    CopyInto(BesideTheTests(c_sameVersionSatellite), satellite);

    UniqueHModule module(LoadLibraryW(m_modulePath.c_str()));
    ASSERT_TRUE(module) << GetLastError();
    EXPECT_NE(GetModuleHandleW(satellite.c_str()), nullptr);
    module.Reset();
    EXPECT_EQ(GetModuleHandleW(satellite.c_str()), nullptr);
}

} // namespace
