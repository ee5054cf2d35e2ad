#include "import/ImportPageRules.h"

#include <windows.h>

#include "base/Handle.h"
#include "base/Text.h"
#include "import/KmlLocation.h"

bool IsExistingFileOrFolder(const std::wstring& path)
{
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CanImportLocations(const std::wstring& source, const std::wstring& destination)
{
    return !destination.empty() && (IsHttpLocation(source) || IsExistingFileOrFolder(source));
}

bool CanConvertPaths(const std::wstring& input, const std::wstring& output)
{
    return !output.empty() && IsExistingFileOrFolder(input);
}

bool CanExportPaths(const std::wstring& source, const std::wstring& destination)
{
    const DWORD attributes = source.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(source.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           !destination.empty();
}

namespace {

// A folder path with its separator: "E:\" stays, "E:\Tracks" gets one.
std::wstring WithSeparator(const std::wstring& folder)
{
    return !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/') ? folder : folder + L'\\';
}

bool HoldsFileLike(const std::wstring& folder, const wchar_t* pattern)
{
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((WithSeparator(folder) + pattern).c_str(), &found));
    if (!search)
        return false;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return true;
    } while (FindNextFileW(search.Get(), &found));
    return false;
}

bool HoldsSentenceFile(const std::wstring& folder)
{
    return HoldsFileLike(folder, L"*.upt") || HoldsFileLike(folder, L"*.log");
}

std::vector<std::wstring> Subfolders(const std::wstring& folder)
{
    std::vector<std::wstring> subfolders;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((WithSeparator(folder) + L"*").c_str(), &found));
    if (!search)
        return subfolders;
    do {
        const std::wstring_view name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && name != L"." && name != L"..")
            subfolders.push_back(WithSeparator(folder) + found.cFileName);
    } while (FindNextFileW(search.Get(), &found));
    return subfolders;
}

} // namespace

std::wstring FindSentenceFolder(const std::vector<std::wstring>& folders)
{
    for (const auto& folder : folders) {
        if (HoldsSentenceFile(folder))
            return folder;
        for (const auto& subfolder : Subfolders(folder))
            if (HoldsSentenceFile(subfolder))
                return subfolder;
    }
    return {};
}

std::vector<std::wstring> RemovableDriveRoots()
{
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode);
    std::vector<std::wstring> roots;
    const DWORD drives = GetLogicalDrives();
    for (int drive = 0; drive < 26; ++drive) {
        if ((drives & (1u << drive)) == 0)
            continue;
        const std::wstring root = std::wstring(1, static_cast<wchar_t>(L'A' + drive)) + L":\\";
        if (GetDriveTypeW(root.c_str()) == DRIVE_REMOVABLE &&
            GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0))
            roots.push_back(root);
    }
    SetThreadErrorMode(previousMode, nullptr);
    return roots;
}
