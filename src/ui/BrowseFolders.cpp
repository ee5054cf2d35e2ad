#include "ui/BrowseFolders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "base/FilePath.h"
#include "base/Handle.h"

namespace {

constexpr wchar_t c_foldersKey[] = L"SOFTWARE\\Norvask\\Tervolin\\Folders";

// A stored folder longer than the longest path is no folder of ours.
constexpr DWORD c_maximumFolderBytes = 32768 * sizeof(wchar_t);

std::wstring RememberedFolder(const wchar_t* wizardName)
{
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, c_foldersKey, wizardName, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size > c_maximumFolderBytes)
        return {};
    std::wstring folder(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(folder.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, c_foldersKey, wizardName, RRF_RT_REG_SZ, nullptr, folder.data(), &size) !=
        ERROR_SUCCESS)
        return {};
    folder.resize(wcsnlen(folder.c_str(), folder.size()));
    return folder;
}

std::wstring DocumentsFolder()
{
    wchar_t* path = nullptr;
    ScopeExit freePath([&] { CoTaskMemFree(path); });
    if (FAILED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path)) || !path)
        return {};
    return path;
}

} // namespace

std::wstring BrowseStartFolder(const wchar_t* wizardName)
{
    std::wstring folder = RememberedFolder(wizardName);
    return IsExistingFolder(folder) ? folder : DocumentsFolder();
}

std::wstring BrowseStartPath(const std::wstring& typed, const wchar_t* wizardName)
{
    if (!typed.empty())
        return typed;
    std::wstring folder = BrowseStartFolder(wizardName);
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    return folder;
}

void RememberBrowseFolder(const wchar_t* wizardName, const std::wstring& chosenPath)
{
    if (chosenPath.find_last_of(L"\\/") == std::wstring::npos)
        return;
    const std::wstring folder = FolderOf(chosenPath);
    UniqueHKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, c_foldersKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(),
                        nullptr) != ERROR_SUCCESS) {
        key.Release();
        return;
    }
    RegSetValueExW(key.Get(), wizardName, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}
