#include "module/ResourceModule.h"

#include "base/FilePath.h"
#include "base/Handle.h"
#include "base/ModuleFile.h"

#include <cwctype>

namespace {

constexpr wchar_t c_localeKey[] = L"SOFTWARE\\Norvask\\Tervolin\\Locale";
constexpr wchar_t c_defaultValue[] = L"Default";
constexpr wchar_t c_satellitePathValue[] = L"Satellite Path";

const HKEY c_settingRoots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};

HINSTANCE g_module = nullptr;
// The satellite in use, mapped as an image resource (never run).
UniqueHModule g_satellite;

UniqueHKey OpenLocaleKey(HKEY root) noexcept
{
    UniqueHKey key;
    if (RegOpenKeyExW(root, c_localeKey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS)
        key.Release();
    return key;
}

std::optional<DWORD> ReadDword(HKEY key, const wchar_t* name) noexcept
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return value;
}

// A value names a language when only the language and sort bits are set and
// its language id is a locale the system knows. The neutral language ids (0,
// LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT and the like) name none, and
// only the language id goes into the satellite's file name.
bool IsLanguage(DWORD value) noexcept
{
    constexpr DWORD c_reservedBits = 0xFFF00000;
    const LANGID language = LANGIDFROMLCID(value);
    return !(value & c_reservedBits) && PRIMARYLANGID(language) != LANG_NEUTRAL &&
           IsValidLocale(MAKELCID(language, SORT_DEFAULT), LCID_SUPPORTED);
}

std::optional<LCID> ReadLocale(HKEY key, const wchar_t* name) noexcept
{
    const auto value = ReadDword(key, name);
    if (!value || !IsLanguage(*value))
        return std::nullopt;
    return *value;
}

// The string as stored (an expandable string is not expanded).
std::optional<std::wstring> ReadPath(HKEY key, const wchar_t* name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    // The value may change between the two reads: a longer one fails the
    // second read with ERROR_MORE_DATA, and a value of another type by then
    // is passed over too.
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    value.resize(wcsnlen(value.c_str(), size / sizeof(wchar_t)));
    return value;
}

// "C:\folder" or "\\server\share": a folder that does not depend on the
// process's current folder or current drive.
bool IsAbsoluteFolder(std::wstring_view folder) noexcept
{
    auto isSeparator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    const bool drivePath = folder.size() >= 3 && iswalpha(folder[0]) && folder[1] == L':' && isSeparator(folder[2]);
    const bool uncPath = folder.size() >= 3 && isSeparator(folder[0]) && isSeparator(folder[1]);
    return drivePath || uncPath;
}

// The configured folder when it is absolute; a relative one (which would
// depend on the process's current folder, where any document may lie) counts
// as none.
std::optional<std::wstring> SatelliteFolderSetting()
{
    for (HKEY root : c_settingRoots) {
        if (UniqueHKey key = OpenLocaleKey(root)) {
            if (auto folder = ReadPath(key.Get(), c_satellitePathValue))
                return IsAbsoluteFolder(*folder) ? folder : std::nullopt;
        }
    }
    return std::nullopt;
}

bool FileExists(const std::wstring& path) noexcept
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The satellite file for the module: beside it, else in the configured
// folder; empty when neither exists. The current folder is never searched.
std::wstring FindSatellite(const std::wstring& modulePath)
{
    std::wstring_view baseName = FileNamePart(modulePath);
    baseName = baseName.substr(0, baseName.find_last_of(L'.'));
    const LCID locale = ConfiguredLocale(baseName).value_or(ConvertDefaultLocale(LOCALE_USER_DEFAULT));
    const std::wstring fileName = SatelliteFileName(baseName, locale);
    std::wstring candidate = JoinPath(FolderOf(modulePath), fileName);
    if (FileExists(candidate))
        return candidate;
    if (const auto folder = SatelliteFolderSetting()) {
        candidate = JoinPath(*folder, fileName);
        if (FileExists(candidate))
            return candidate;
    }
    return {};
}

} // namespace

std::optional<LCID> ConfiguredLocale(std::wstring_view moduleBaseName)
{
    const std::wstring valueName(moduleBaseName);
    for (HKEY root : c_settingRoots) {
        UniqueHKey key = OpenLocaleKey(root);
        if (!key)
            continue;
        if (auto locale = ReadLocale(key.Get(), valueName.c_str()))
            return locale;
        if (auto locale = ReadLocale(key.Get(), c_defaultValue))
            return locale;
    }
    return std::nullopt;
}

std::wstring SatelliteFileName(std::wstring_view moduleBaseName, LCID locale)
{
    return std::wstring(moduleBaseName) + L".lang-" + std::to_wstring(LANGIDFROMLCID(locale)) + L".dll";
}

HINSTANCE SelectResourceModule(HINSTANCE module, HINSTANCE current) noexcept
{
    try {
        const std::wstring satellitePath = FindSatellite(ModuleFilePath(module));
        if (satellitePath.empty())
            return current;
        // Mapped as an image for its resources only: nothing of it runs, and
        // the handle's low bits mark it as such for the resource functions.
        UniqueHModule satellite(LoadLibraryExW(satellitePath.c_str(), nullptr,
                                               LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
        if (!satellite || ProductVersion(satellite.Get()) != ProductVersion(module))
            return current;
        g_satellite = std::move(satellite);
        return g_satellite.Get();
    } catch (...) {
        return current;
    }
}

void InitializeResourceInstance(HINSTANCE module) noexcept
{
    g_module = module;
    PublishResourceInstance(SelectResourceModule(module, module));
}

void FreeResourceModule() noexcept
{
    PublishResourceInstance(g_module);
    g_satellite.Reset();
}
