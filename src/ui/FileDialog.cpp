#include "ui/FileDialog.h"

#include <commdlg.h>
#include <shlguid.h>
#include <shlobj.h>

#include <algorithm>

#include "base/ResourceString.h"

static_assert(sizeof(void*) != 4 || sizeof(OPENFILENAMEW) == 88, "file dialog structure of 88 bytes");

namespace {

// The longest path the system takes (with the \\?\ prefix), so that no
// chosen path is cut or refused for the buffer's sake.
constexpr size_t c_pathCapacity = 32768;
constexpr size_t c_titleCapacity = 256;

// The dialogs need a hook for OFN_ENABLEHOOK; it leaves every message to
// the dialog.
UINT_PTR CALLBACK FileDialogHook(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

} // namespace

size_t PrepareFilter(std::wstring& filter)
{
    size_t replaced = 0;
    for (wchar_t& c : filter) {
        if (c == L'|') {
            c = L'\0';
            ++replaced;
        }
    }
    return replaced;
}

int ShowFileDialog(HWND owner, bool open, const wchar_t* defaultExtension, std::wstring& path, DWORD flags,
                   std::wstring filter)
{
    PrepareFilter(filter);
    std::wstring file(c_pathCapacity, L'\0');
    std::wstring title(c_titleCapacity, L'\0');
    path.copy(file.data(), std::min(path.size(), c_pathCapacity - 1));

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.hInstance = ResourceInstance();
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(c_pathCapacity);
    dialog.lpstrFileTitle = title.data();
    dialog.nMaxFileTitle = static_cast<DWORD>(c_titleCapacity);
    dialog.lpstrDefExt = defaultExtension;
    // The dialog runs inside the caller's process: it must not move that
    // process's current folder (which would also keep the folder in use).
    dialog.Flags = flags | OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    dialog.lpfnHook = FileDialogHook;
    const BOOL chosen = open ? GetOpenFileNameW(&dialog) : GetSaveFileNameW(&dialog);
    if (!chosen)
        return IDCANCEL;
    path = file.c_str();
    return IDOK;
}

ComPtr<IAutoComplete> EnablePathAutoComplete(HWND edit) noexcept
{
    ComPtr<IACList2> list;
    ComPtr<IAutoComplete> completion;
    HRESULT hr = CoCreateInstance(CLSID_ACListISF, nullptr, CLSCTX_ALL, IID_IACList2, list.PutVoid());
    if (SUCCEEDED(hr))
        hr = list->SetOptions(ACLO_FILESYSONLY);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_AutoComplete, nullptr, CLSCTX_ALL, IID_IAutoComplete, completion.PutVoid());
    if (SUCCEEDED(hr))
        hr = completion->Init(edit, list.Get(), nullptr, nullptr);
    ComPtr<IAutoComplete2> options;
    if (SUCCEEDED(hr))
        hr = completion->QueryInterface(IID_IAutoComplete2, options.PutVoid());
    if (SUCCEEDED(hr))
        hr = options->SetOptions(ACO_AUTOSUGGEST | ACO_AUTOAPPEND | ACO_UPDOWNKEYDROPSLIST);
    if (FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        return {};
    }
    return completion;
}
