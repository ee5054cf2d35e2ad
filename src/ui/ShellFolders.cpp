#include "ui/ShellFolders.h"

#include <shellapi.h>
#include <shlobj.h>

#include "base/Exception.h"

std::wstring BrowseForFolder(HWND owner, const std::wstring& prompt)
{
    BROWSEINFOW browse = {};
    browse.hwndOwner = owner;
    browse.lpszTitle = prompt.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_VALIDATE | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE folder = SHBrowseForFolderW(&browse);
    if (!folder)
        return {};
    // Room for the longest path the system takes, not MAX_PATH: a folder
    // chosen deep in a tree must not be cut.
    std::wstring path(32768, L'\0');
    const BOOL found = SHGetPathFromIDListEx(folder, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
    CoTaskMemFree(folder);
    if (!found)
        ThrowWin32(ERROR_PATH_NOT_FOUND);
    path.resize(wcsnlen(path.c_str(), path.size()));
    return path;
}

void OpenFolder(HWND owner, const std::wstring& folder)
{
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(owner, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    ThrowLastErrorIf(result <= 32);
}
