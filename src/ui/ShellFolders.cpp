#include "ui/ShellFolders.h"

#include <shellapi.h>
#include <shlobj.h>

#include "base/Exception.h"
#include "base/Handle.h"

namespace {

struct ItemIdListTraits
{
    using Type = PIDLIST_ABSOLUTE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type list) noexcept { ILFree(list); }
};
using UniqueItemIdList = UniqueAny<ItemIdListTraits>;

} // namespace

std::wstring BrowseForFolder(HWND owner, const std::wstring& prompt)
{
    BROWSEINFOW browse = {};
    browse.hwndOwner = owner;
    browse.lpszTitle = prompt.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_VALIDATE | BIF_NEWDIALOGSTYLE;
    const UniqueItemIdList folder(SHBrowseForFolderW(&browse));
    if (!folder)
        return {};
    // Room for the longest path the system takes, not MAX_PATH: a folder
    // chosen deep in a tree must not be cut.
    std::wstring path(32768, L'\0');
    const BOOL found =
        SHGetPathFromIDListEx(folder.Get(), path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
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

void ShowFileInFolder(const std::wstring& path)
{
    const UniqueItemIdList item(ILCreateFromPathW(path.c_str()));
    const HRESULT hr =
        item ? SHOpenFolderAndSelectItems(item.Get(), 0, nullptr, 0) : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (FAILED(hr)) {
        CAtlException failure(hr);
        failure.SetPathIfUnknown(path);
        throw failure;
    }
}
