#include "module/ResourceModule.h"

#include "Strings.h"
#include "base/FilePath.h"
#include "base/Handle.h"
#include "base/ModuleFile.h"
#include "base/Text.h"
#include "support/TestSupport.h"
#include "ui/WizardResources.h"

#include <cstring>

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
    return FolderOf(ModuleFilePath(nullptr)) + L"\\" + relativePath;
}

const std::wstring c_sameVersionSatellite = L"satellite-same\\Tervolin.lang-1031.dll";
const std::wstring c_otherVersionSatellite = L"satellite-other\\Tervolin.lang-1031.dll";

void CopyInto(const std::wstring& source, const std::wstring& target)
{
    ASSERT_TRUE(CopyFileW(source.c_str(), target.c_str(), TRUE)) << GetLastError();
}

// Where a copy of a satellite was placed, written into its image header as
// the time stamp: a mapping of the copy tells which copy it is.
enum Stamp : DWORD
{
    Beside = 0x5A7E0001,
    InSatellitePath = 0x5A7E0002,
    InCurrentFolder = 0x5A7E0003,
    Unstamped = 0,
};

LONG NtHeaderOffset(const BYTE* image)
{
    LONG offset;
    std::memcpy(&offset, image + offsetof(IMAGE_DOS_HEADER, e_lfanew), sizeof offset);
    return offset;
}

constexpr size_t c_stampOffset = offsetof(IMAGE_NT_HEADERS32, FileHeader.TimeDateStamp);

void PlaceStamped(const std::wstring& source, const std::wstring& target, Stamp stamp)
{
    std::string bytes = ReadFileBytes(source);
    ASSERT_GT(bytes.size(), sizeof(IMAGE_DOS_HEADER));
    const LONG header = NtHeaderOffset(reinterpret_cast<const BYTE*>(bytes.data()));
    std::memcpy(bytes.data() + header + c_stampOffset, &stamp, sizeof stamp);
    WriteFileBytes(target, bytes);
}

// A library mapped as an image resource or data file: the low bits of its
// handle are set, which the resource functions understand.
bool IsResourceOnlyMapping(HMODULE module)
{
    return (reinterpret_cast<ULONG_PTR>(module) & 3) != 0;
}

// The stamp of the image mapped at `base`; Unstamped when none is there.
Stamp StampAt(const BYTE* base, SIZE_T readable)
{
    if (readable < sizeof(IMAGE_DOS_HEADER) || base[0] != 'M' || base[1] != 'Z')
        return Unstamped;
    const LONG header = NtHeaderOffset(base);
    if (header < 0 || static_cast<SIZE_T>(header) + sizeof(IMAGE_NT_HEADERS32) > readable)
        return Unstamped;
    DWORD stamp;
    std::memcpy(&stamp, base + header + c_stampOffset, sizeof stamp);
    return static_cast<Stamp>(stamp);
}

Stamp StampOf(HMODULE module)
{
    const auto* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(module) & ~ULONG_PTR{3});
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(base, &region, sizeof region) != sizeof region)
        return Unstamped;
    return StampAt(base, static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize - base);
}

// Whether an image with that stamp is mapped anywhere in the process, however
// it was loaded.
bool IsMappedAnywhere(Stamp stamp)
{
    constexpr DWORD c_readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                 PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    MEMORY_BASIC_INFORMATION region{};
    for (const BYTE* address = nullptr; VirtualQuery(address, &region, sizeof region) == sizeof region;) {
        const auto* base = static_cast<const BYTE*>(region.BaseAddress);
        if (region.State == MEM_COMMIT && region.Type != MEM_PRIVATE && base == region.AllocationBase &&
            (region.Protect & c_readable) && !(region.Protect & PAGE_GUARD) && StampAt(base, region.RegionSize) == stamp)
            return true;
        if (base + region.RegionSize <= address)
            break;
        address = base + region.RegionSize;
    }
    return false;
}

// Makes a folder the process's current folder for the test's duration.
class CurrentFolder
{
public:
    explicit CurrentFolder(const std::wstring& folder) : m_previous(MAX_PATH, L'\0')
    {
        m_previous.resize(GetCurrentDirectoryW(static_cast<DWORD>(m_previous.size()), m_previous.data()));
        EXPECT_TRUE(SetCurrentDirectoryW(folder.c_str())) << GetLastError();
    }
    ~CurrentFolder() { SetCurrentDirectoryW(m_previous.c_str()); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    std::wstring m_previous;
};

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

TEST(ConfiguredLocale, ValuesThatNameNoLanguageArePassedOver)
{
    struct Case
    {
        DWORD userModuleValue;
        std::optional<LCID> expected;
    };
    // A user "Default" of French and a machine "Default" of Italian stand
    // behind the module's own value.
    const Case cases[] = {
        {0, 0x040C},
        {0xFFFFFFFF, 0x040C},
        {LOCALE_USER_DEFAULT, 0x040C},
        {LOCALE_SYSTEM_DEFAULT, 0x040C},
        {0x7FFF0407, 0x040C},
        {0x0407, 0x0407},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.userModuleValue);
        LocaleSettings settings;
        LocaleSettings::SetLocale(HKEY_CURRENT_USER, L"Tervolin", c.userModuleValue);
        LocaleSettings::SetLocale(HKEY_CURRENT_USER, L"Default", 0x040C);
        EXPECT_EQ(ConfiguredLocale(L"Tervolin"), c.expected);
    }
    LocaleSettings settings;
    LocaleSettings::SetLocale(HKEY_CURRENT_USER, L"Default", 0);
    LocaleSettings::SetLocale(HKEY_LOCAL_MACHINE, L"Tervolin", 0xFFFFFFFF);
    LocaleSettings::SetLocale(HKEY_LOCAL_MACHINE, L"Default", 0x0410);
    EXPECT_EQ(ConfiguredLocale(L"Tervolin"), LCID{0x0410});
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
    auto place = [](Satellite satellite, const std::wstring& target, Stamp stamp) {
        DeleteFileW(target.c_str());
        if (satellite != Satellite::None)
            PlaceStamped(BesideTheTests(satellite == Satellite::SameVersion ? c_sameVersionSatellite
                                                                            : c_otherVersionSatellite),
                         target, stamp);
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        place(c.beside, besidePath, Stamp::Beside);
        place(c.inSatellitePath, inPath, Stamp::InSatellitePath);
        const HINSTANCE module = MapModule();

        const HINSTANCE chosen = SelectResourceModule(module, module);

        if (c.expected == Chosen::Module) {
            EXPECT_EQ(chosen, module);
        } else {
            EXPECT_TRUE(IsResourceOnlyMapping(chosen)) << chosen;
            EXPECT_EQ(StampOf(chosen), c.expected == Chosen::Beside ? Stamp::Beside : Stamp::InSatellitePath);
        }
        FreeResourceModule();
        m_module.Reset();
    }
}

TEST_F(ResourceModuleTest, WithoutSettingsTheUsersDefaultLanguageIsUsed)
{
    const LANGID language = LANGIDFROMLCID(ConvertDefaultLocale(LOCALE_USER_DEFAULT));
    const std::wstring satellite = m_moduleFolder + L"\\Tervolin.lang-" + std::to_wstring(language) + L".dll";
    PlaceStamped(BesideTheTests(c_sameVersionSatellite), satellite, Stamp::Beside);
    const HINSTANCE module = MapModule();

    EXPECT_EQ(StampOf(SelectResourceModule(module, module)), Stamp::Beside);
}

// A satellite is never taken from the current folder (where a document, and
// a library beside it, may lie), neither without a "Satellite Path" nor
// through a relative one.
TEST_F(ResourceModuleTest, OnlyAnAbsoluteSatellitePathIsSearched)
{
    struct Case
    {
        const char* name;
        std::optional<std::wstring> satellitePath;
        Chosen expected;
    };
    const Case cases[] = {
        {"no setting", std::nullopt, Chosen::Module},
        {"empty", L"", Chosen::Module},
        {"relative", L"satellites", Chosen::Module},
        {"relative with a dot", L".\\satellites", Chosen::Module},
        {"on the current drive", m_satelliteFolder.substr(2), Chosen::Module},
        {"on a drive's current folder", m_satelliteFolder.substr(0, 2) + L"satellites", Chosen::Module},
        {"absolute", m_satelliteFolder, Chosen::InSatellitePath},
    };
    LocaleSettings::SetLocale(HKEY_CURRENT_USER, L"Tervolin", 0x0407);
    PlaceStamped(BesideTheTests(c_sameVersionSatellite), m_folder.File(L"Tervolin.lang-1031.dll"),
                 Stamp::InCurrentFolder);
    PlaceStamped(BesideTheTests(c_sameVersionSatellite), m_satelliteFolder + L"\\Tervolin.lang-1031.dll",
                 Stamp::InSatellitePath);
    const CurrentFolder current(m_folder.Path());

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LocaleSettings::SetText(HKEY_CURRENT_USER, L"Satellite Path", c.satellitePath.value_or(L""));
        if (!c.satellitePath)
            RegDeleteKeyValueW(HKEY_CURRENT_USER, c_localeKey, L"Satellite Path");
        const HINSTANCE module = MapModule();

        const HINSTANCE chosen = SelectResourceModule(module, module);

        if (c.expected == Chosen::Module)
            EXPECT_EQ(chosen, module) << std::hex << StampOf(chosen);
        else
            EXPECT_EQ(StampOf(chosen), Stamp::InSatellitePath);
        FreeResourceModule();
        m_module.Reset();
    }
}

INT_PTR CALLBACK IgnoreMessages(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The German satellite, mapped as an image resource, serves the dialogs with
// their icons, the pictures and the version block.
TEST_F(ResourceModuleTest, TheGermanSatelliteServesEveryKindOfResource)
{
    LocaleSettings::SetLocale(HKEY_CURRENT_USER, L"Tervolin", 0x0407);
    CopyInto(EnvironmentValue(L"TERVOLIN_BIN") + L"\\Tervolin.lang-1031.dll",
             m_moduleFolder + L"\\Tervolin.lang-1031.dll");
    const HINSTANCE module = MapModule();

    InitializeResourceInstance(module);
    const HINSTANCE satellite = ResourceInstance();
    ASSERT_TRUE(IsResourceOnlyMapping(satellite)) << satellite;
    EXPECT_EQ(ProductVersion(satellite), ProductVersion(module));
    const UniqueWindow dialog(CreateDialogParamW(satellite, MAKEINTRESOURCEW(IDD_ABOUT), nullptr, IgnoreMessages, 0));
    ASSERT_TRUE(dialog) << GetLastError();
    wchar_t caption[64] = {};
    GetWindowTextW(dialog.Get(), caption, ARRAYSIZE(caption));
    EXPECT_STREQ(caption, L"Info \u00fcber Tervolin");
    EXPECT_NE(SendDlgItemMessageW(dialog.Get(), IDC_ABOUT_ICON, STM_GETICON, 0, 0), 0);
    const UniqueGdiObject header(LoadImageW(satellite, MAKEINTRESOURCEW(IDB_WIZARD_HEADER), IMAGE_BITMAP, 0, 0, 0));
    EXPECT_TRUE(header) << GetLastError();
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
    EXPECT_EQ(LoadResourceString(IDS_ERROR), L"Tervolin \u2013 Error");
}

TEST_F(ResourceModuleTest, StringArguments)
{
    InitializeResourceInstance(MapModule());
    EXPECT_EQ(TextOrResourceString(nullptr), L"");
    EXPECT_EQ(TextOrResourceString(L"Plain text"), L"Plain text");
    EXPECT_EQ(TextOrResourceString(MAKEINTRESOURCEW(IDS_INFORMATION)), L"Tervolin \u2013 Information");
    EXPECT_EQ(RaisedResult([] { LoadResourceString(1); }), HResultFromWin32(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST_F(ResourceModuleTest, LoadingTheModuleHoldsItsSatelliteUntilUnload)
{
    LocaleSettings::SetLocale(HKEY_CURRENT_USER, L"Tervolin", 0x0407);
    const std::wstring satellite = m_moduleFolder + L"\\Tervolin.lang-1031.dll";
    PlaceStamped(BesideTheTests(c_sameVersionSatellite), satellite, Stamp::Beside);

    UniqueHModule module(LoadLibraryW(m_modulePath.c_str()));
    ASSERT_TRUE(module) << GetLastError();
    EXPECT_TRUE(IsMappedAnywhere(Stamp::Beside));
    // Mapped for its resources only, it is no module of the process.
    EXPECT_EQ(GetModuleHandleW(satellite.c_str()), nullptr);
    module.Reset();
    EXPECT_FALSE(IsMappedAnywhere(Stamp::Beside));
}

} // namespace
