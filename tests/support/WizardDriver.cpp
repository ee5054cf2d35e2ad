#include "support/WizardDriver.h"

#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <vector>

#include "support/TestSupport.h"

namespace {

constexpr DWORD c_pollInterval = 10;
// A busy wizard thread (a conversion, an exception report) answers late;
// it is waited for, not taken for hung.
constexpr DWORD c_sendLimit = 10000;
const wchar_t c_confirmationsKey[] = L"SOFTWARE\\Norvask\\Tervolin\\Confirmations";
// The file name box of the open and save dialogs, the tree of the folder
// browser.
constexpr int c_fileNameBox = 0x47c;
constexpr int c_folderTree = 0x3744;

LRESULT SendWithLimit(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, c_sendLimit, &result);
    return static_cast<LRESULT>(result);
}

std::wstring ClassName(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

bool IsSheet(HWND window)
{
    return GetDlgItem(window, c_nextButton) != nullptr;
}

BOOL CALLBACK CollectVisibleDialog(HWND window, LPARAM context)
{
    if (IsWindowVisible(window) && ClassName(window) == L"#32770")
        reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleDialogsOf(DWORD threadId)
{
    std::vector<HWND> dialogs;
    EnumThreadWindows(threadId, CollectVisibleDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

HWND FindVisibleDialog(DWORD threadId, bool sheet, const std::function<bool(HWND)>& match = nullptr)
{
    for (HWND dialog : VisibleDialogsOf(threadId))
        if (IsSheet(dialog) == sheet && (!match || match(dialog)))
            return dialog;
    return nullptr;
}

bool HasChild(HWND dialog, const wchar_t* className)
{
    return FindWindowExW(dialog, nullptr, className, nullptr) != nullptr;
}

std::wstring SelectedTreeText(HWND tree)
{
    wchar_t text[MAX_PATH] = {};
    TVITEMW item = {};
    item.mask = TVIF_TEXT;
    item.hItem = reinterpret_cast<HTREEITEM>(SendWithLimit(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    item.pszText = text;
    item.cchTextMax = static_cast<int>(std::size(text));
    if (item.hItem)
        SendWithLimit(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return text;
}

void PostKey(HWND window, UINT down, UINT up, WPARAM key, LPARAM flags)
{
    PostMessageW(window, down, key, flags | 1);
    PostMessageW(window, up, key, flags | 0xC0000001);
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMilliseconds)
{
    const ULONGLONG end = GetTickCount64() + timeoutMilliseconds;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(c_pollInterval);
    }
}

FARPROC WizardExportAddress(const char* name)
{
    static const HMODULE module = [] {
        const std::wstring path = EnvironmentValue(L"TERVOLIN_BIN") + L"\\Tervolin.dll";
        const HMODULE loaded = LoadLibraryW(path.c_str());
        if (!loaded)
            ThrowLastErrorFor(path);
        return loaded;
    }();
    const FARPROC address = GetProcAddress(module, name);
    ThrowLastErrorIf(!address);
    return address;
}

WizardRun::WizardRun(std::function<HRESULT()> start) : m_start(std::move(start))
{
    m_thread.Reset(CreateThread(nullptr, 0, Run, this, 0, &m_threadId));
    ThrowLastErrorIf(!m_thread);
}

WizardRun::~WizardRun()
{
    while (WaitForSingleObject(m_thread.Get(), c_pollInterval * 5) == WAIT_TIMEOUT)
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
}

DWORD WINAPI WizardRun::Run(void* context)
{
    auto* self = static_cast<WizardRun*>(context);
    self->m_result = self->m_start();
    return 0;
}

std::optional<HRESULT> WizardRun::Result(DWORD timeoutMilliseconds)
{
    if (WaitForSingleObject(m_thread.Get(), timeoutMilliseconds) != WAIT_OBJECT_0)
        return std::nullopt;
    return m_result;
}

HWND WizardRun::Sheet()
{
    HWND sheet = nullptr;
    WaitUntil([&] { return (sheet = FindVisibleDialog(m_threadId, true)) != nullptr; });
    return sheet;
}

HWND WizardRun::Page()
{
    const HWND sheet = FindVisibleDialog(m_threadId, true);
    return sheet ? reinterpret_cast<HWND>(SendWithLimit(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)) : nullptr;
}

int WizardRun::PageIndex()
{
    const HWND sheet = FindVisibleDialog(m_threadId, true);
    const HWND page = Page();
    if (!sheet || !page || !IsWindowVisible(page))
        return -1;
    return static_cast<int>(SendWithLimit(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0));
}

HWND WizardRun::WaitForPage(int index)
{
    return WaitUntil([&] { return PageIndex() == index; }) ? Page() : nullptr;
}

HWND WizardRun::PageControl(int id)
{
    const HWND page = Page();
    return page ? GetDlgItem(page, id) : nullptr;
}

HWND WizardRun::WaitForMessageBox(DWORD timeoutMilliseconds)
{
    return WaitForDialog(nullptr, timeoutMilliseconds);
}

HWND WizardRun::WaitForDialog(const std::function<bool(HWND)>& match, DWORD timeoutMilliseconds)
{
    HWND dialog = nullptr;
    WaitUntil([&] { return (dialog = FindVisibleDialog(m_threadId, false, match)) != nullptr; },
              timeoutMilliseconds);
    return dialog;
}

bool WizardRun::WaitForNoMessageBox()
{
    return WaitUntil([&] { return FindVisibleDialog(m_threadId, false) == nullptr; });
}

HWND WizardRun::Focus() const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(m_threadId, &info) ? info.hwndFocus : nullptr;
}

void WizardRun::Press(int button)
{
    PostMessageW(Sheet(), PSM_PRESSBUTTON, button, 0);
}

void WizardRun::Click(int id)
{
    if (const HWND page = Page())
        AnswerDialog(page, id);
}

bool WizardRun::ButtonEnabled(int id)
{
    const HWND button = GetDlgItem(Sheet(), id);
    return button && IsWindowVisible(button) && IsWindowEnabled(button);
}

// Without a focus window the key is lost, as it would be for the user.
void WizardRun::Key(UINT virtualKey)
{
    if (const HWND focus = Focus())
        PostKey(focus, WM_KEYDOWN, WM_KEYUP, virtualKey, 0);
}

void WizardRun::AltKey(wchar_t letter)
{
    // The context bit (29) says that Alt is held.
    if (const HWND focus = Focus())
        PostMessageW(focus, WM_SYSCHAR, letter, (1 << 29) | 1);
}

std::wstring WindowText(HWND window)
{
    wchar_t text[1024] = {};
    SendWithLimit(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
    return text;
}

std::wstring MessageBoxText(HWND box)
{
    return WindowText(GetDlgItem(box, 0xFFFF));
}

HWND FindDialogOfThread(DWORD threadId, HWND except)
{
    for (HWND dialog : VisibleDialogsOf(threadId))
        if (dialog != except)
            return dialog;
    return nullptr;
}

int CurrentPageIndex(HWND sheet)
{
    const auto page = SendWithLimit(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
    return page ? static_cast<int>(SendWithLimit(sheet, PSM_HWNDTOINDEX, static_cast<WPARAM>(page), 0)) : -1;
}

HWND FocusOfThreadOf(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

void SetText(HWND control, const std::wstring& text)
{
    SendWithLimit(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring DialogText(HWND dialog)
{
    std::wstring text;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(ClassName(child).c_str(), L"Static") != 0)
            continue;
        const std::wstring part = WindowText(child);
        if (part.empty())
            continue;
        if (!text.empty())
            text += L'\n';
        text += part;
    }
    return text;
}

void AnswerDialog(HWND dialog, int buttonId)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, buttonId)));
}

void ChooseComboItem(HWND dialog, int comboId, int item)
{
    const HWND combo = GetDlgItem(dialog, comboId);
    SendWithLimit(combo, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    SendWithLimit(dialog, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

bool ChooseComboText(HWND dialog, int comboId, const std::wstring& text)
{
    const LRESULT item = SendWithLimit(GetDlgItem(dialog, comboId), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(text.c_str()));
    if (item < 0)
        return false;
    ChooseComboItem(dialog, comboId, static_cast<int>(item));
    return true;
}

std::wstring SelectedComboText(HWND dialog, int comboId)
{
    return ComboItemText(dialog, comboId,
                         static_cast<int>(SendWithLimit(GetDlgItem(dialog, comboId), CB_GETCURSEL, 0, 0)));
}

std::wstring ComboItemText(HWND dialog, int comboId, int item)
{
    const HWND combo = GetDlgItem(dialog, comboId);
    const LRESULT length = item < 0 ? CB_ERR : SendWithLimit(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(item), 0);
    if (length <= 0)
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendWithLimit(combo, CB_GETLBTEXT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

bool IsChecked(HWND checkBox)
{
    return SendWithLimit(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool TickCheckBox(HWND dialog, int checkBoxId)
{
    HWND checkBox = nullptr;
    if (!WaitUntil([&] { return (checkBox = GetDlgItem(dialog, checkBoxId)) != nullptr; }))
        return false;
    PostMessageW(checkBox, BM_CLICK, 0, 0);
    return WaitUntil([&] { return IsChecked(checkBox); });
}

bool IsPropertySheet(HWND dialog)
{
    return SendWithLimit(dialog, PSM_GETCURRENTPAGEHWND, 0, 0) != 0;
}

bool IsFileDialog(HWND dialog)
{
    return GetDlgItem(dialog, c_fileNameBox) != nullptr;
}

bool IsMessageBox(HWND dialog)
{
    return !IsPropertySheet(dialog) && !IsFileDialog(dialog) && !GetDlgItem(dialog, c_folderTree) &&
           (GetDlgItem(dialog, IDYES) || GetDlgItem(dialog, IDOK)) && !HasChild(dialog, L"Edit") &&
           !HasChild(dialog, WC_TREEVIEWW);
}

bool IsFolderBrowser(HWND dialog)
{
    return !IsMessageBox(dialog) && !IsFileDialog(dialog) && !IsPropertySheet(dialog) && HasChild(dialog, L"Edit");
}

HWND SelectSheetPage(HWND sheet, int index)
{
    SendWithLimit(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
    return reinterpret_cast<HWND>(SendWithLimit(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

void AnswerFileDialog(HWND dialog, const std::wstring& path)
{
    SetText(GetDlgItem(dialog, c_fileNameBox), path);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

void BrowseFileDialogInto(HWND dialog, const std::wstring& folder)
{
    const HWND name = GetDlgItem(dialog, c_fileNameBox);
    SetText(name, folder);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    // The dialog clears the box once it has moved into the folder.
    WaitUntil([&] { return WindowText(name) != folder; });
}

void AnswerFolderBrowser(HWND dialog, const std::wstring& folder)
{
    // Wine's browser returns the folder selected in its tree, whatever the
    // edit box says: select it there, again until the tree shows it (the
    // browser may still be filling its tree).
    const HWND tree = FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
    const std::wstring leaf = folder.substr(folder.find_last_of(L"\\/") + 1);
    WaitUntil([&] {
        SendWithLimit(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
        return !tree || _wcsicmp(SelectedTreeText(tree).c_str(), leaf.c_str()) == 0;
    });
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

int ListCount(HWND list)
{
    return static_cast<int>(SendWithLimit(list, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring ListText(HWND list, int item, int column)
{
    wchar_t text[512] = {};
    LVITEMW request = {};
    request.iSubItem = column;
    request.pszText = text;
    request.cchTextMax = static_cast<int>(std::size(text));
    SendWithLimit(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&request));
    return text;
}

void SelectListItems(HWND list, const std::vector<int>& items)
{
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendWithLimit(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    for (const int item : items)
        SendWithLimit(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&state));
}

std::vector<int> SelectedListItems(HWND list)
{
    std::vector<int> items;
    const auto next = [&](int after) {
        return static_cast<int>(SendWithLimit(list, LVM_GETNEXTITEM, static_cast<WPARAM>(after), LVNI_SELECTED));
    };
    for (int item = next(-1); item >= 0; item = next(item))
        items.push_back(item);
    return items;
}

std::optional<DWORD> ConfirmationValue(const wchar_t* name)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, c_confirmationsKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

void SetConfirmationValue(const wchar_t* name, DWORD value)
{
    UniqueHKey key;
    ThrowIfFailed(HResultFromWin32(RegCreateKeyExW(HKEY_CURRENT_USER, c_confirmationsKey, 0, nullptr, 0,
                                                   KEY_SET_VALUE, nullptr, key.Put(), nullptr)));
    ThrowIfFailed(HResultFromWin32(
        RegSetValueExW(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value))));
}

void DeleteConfirmationValue(const wchar_t* name)
{
    RegDeleteKeyValueW(HKEY_CURRENT_USER, c_confirmationsKey, name);
}
