#include "MapWizardDriver.h"

#include <prsht.h>
#include <shlobj.h>

#include "support/TestSupport.h"

namespace {

std::wstring ClassName(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM found)
{
    if (IsWindowVisible(window) && ClassName(window) == L"#32770")
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleDialogs(DWORD threadId)
{
    std::vector<HWND> dialogs;
    EnumThreadWindows(threadId, CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

using StartWizard = HRESULT(WINAPI*)(HWND);
using StartWizardWithPath = HRESULT(WINAPI*)(HWND, LPCWSTR, DWORD);

} // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() > end)
            return false;
        Sleep(10);
    }
}

WizardRun::WizardRun(const char* exportName, const std::wstring* path, DWORD limitMilliseconds)
{
    m_started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const std::wstring module = EnvironmentValue(L"TERVOLIN_BIN") + L"\\Tervolin.dll";
    const std::wstring source = path ? *path : std::wstring();
    const bool withPath = path != nullptr;
    m_thread = std::thread([this, module, source, withPath, exportName] {
        m_threadId = GetCurrentThreadId();
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &m_threadHandle, SYNCHRONIZE,
                        FALSE, 0);
        SetEvent(m_started);
        HMODULE library = LoadLibraryW(module.c_str());
        if (!library) {
            m_result = HRESULT_FROM_WIN32(GetLastError());
            return;
        }
        FARPROC start = GetProcAddress(library, exportName);
        if (!start)
            m_result = HRESULT_FROM_WIN32(GetLastError());
        else if (withPath)
            m_result = reinterpret_cast<StartWizardWithPath>(start)(nullptr, source.c_str(), 0);
        else
            m_result = reinterpret_cast<StartWizard>(start)(nullptr);
        FreeLibrary(library);
    });
    WaitForSingleObject(m_started, INFINITE);
    // A wizard still open long after the test's last step is stuck.
    m_watchdog = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread([watchdog = m_watchdog, limitMilliseconds] {
        if (WaitForSingleObject(watchdog, limitMilliseconds) == WAIT_TIMEOUT) {
            fprintf(stderr, "wizard run did not end within %lu ms\n", limitMilliseconds);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        CloseHandle(watchdog);
    }).detach();
}

// A test that stopped half-way: close what is open over the wizard, then the
// wizard itself (Finish on the completion page, else Cancel answered Yes).
void WizardRun::Close()
{
    ULONGLONG pressed = 0;
    for (int attempt = 0; attempt < 100 && WaitForSingleObject(m_threadHandle, 0) == WAIT_TIMEOUT; ++attempt) {
        bool answered = false;
        for (HWND dialog : VisibleDialogs(m_threadId))
            if (dialog != m_sheet) {
                PostMessageW(dialog, WM_COMMAND, IsMessageBox(dialog) ? IDYES : IDCANCEL, 0);
                answered = true;
            }
        if (!answered && m_sheet && IsWindow(m_sheet) && GetTickCount64() - pressed > 1000) {
            const HWND finish = GetDlgItem(m_sheet, 0x3025);
            const bool last = IsWindowVisible(finish) && IsWindowEnabled(finish);
            PostMessageW(m_sheet, PSM_PRESSBUTTON, last ? PSBTN_FINISH : PSBTN_CANCEL, 0);
            pressed = GetTickCount64();
        }
        WaitForSingleObject(m_threadHandle, 50);
    }
}

WizardRun::~WizardRun()
{
    if (!m_joined)
        Close();
    Wait();
    SetEvent(m_watchdog);
    CloseHandle(m_started);
    CloseHandle(m_threadHandle);
}

HRESULT WizardRun::Wait()
{
    if (!m_joined) {
        m_thread.join();
        m_joined = true;
    }
    return m_result;
}

HWND WizardRun::Sheet()
{
    if (m_sheet && IsWindow(m_sheet))
        return m_sheet;
    WaitUntil([&] {
        for (HWND dialog : VisibleDialogs(m_threadId))
            if (GetDlgItem(dialog, 0x3024) && SendMessageW(dialog, PSM_GETCURRENTPAGEHWND, 0, 0)) {
                m_sheet = dialog;
                return true;
            }
        return false;
    });
    return m_sheet;
}

HWND WizardRun::Page()
{
    return reinterpret_cast<HWND>(SendMessageW(Sheet(), PSM_GETCURRENTPAGEHWND, 0, 0));
}

int WizardRun::CurrentPage()
{
    HWND page = Page();
    return page ? static_cast<int>(SendMessageW(Sheet(), PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0)) : -1;
}

bool WizardRun::WaitForPage(int index)
{
    return WaitUntil([&] { return Sheet() && CurrentPage() == index; });
}

void WizardRun::Press(int button)
{
    PostMessageW(Sheet(), PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
}

HWND WizardRun::WaitForDialog(const std::function<bool(HWND)>& match)
{
    HWND found = nullptr;
    WaitUntil([&] {
        for (HWND dialog : VisibleDialogs(m_threadId))
            if (dialog != m_sheet && match(dialog)) {
                found = dialog;
                return true;
            }
        return false;
    });
    return found;
}

HWND WizardRun::WaitForMessageBox()
{
    return WaitForDialog(IsMessageBox);
}

bool WizardRun::NoDialogShows()
{
    return !WaitUntil(
        [&] {
            for (HWND dialog : VisibleDialogs(m_threadId))
                if (dialog != m_sheet)
                    return true;
            return false;
        },
        500);
}

std::wstring ControlText(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool IsPropertySheet(HWND dialog)
{
    return SendMessageW(dialog, PSM_GETCURRENTPAGEHWND, 0, 0) != 0;
}

bool IsMessageBox(HWND dialog)
{
    return !IsPropertySheet(dialog) && !GetDlgItem(dialog, 0x47c) && !GetDlgItem(dialog, 0x3744) &&
           (GetDlgItem(dialog, IDYES) || GetDlgItem(dialog, IDOK)) && !FindWindowExW(dialog, nullptr, L"Edit", nullptr) &&
           !FindWindowExW(dialog, nullptr, L"SysTreeView32", nullptr);
}

std::wstring MessageBoxText(HWND box)
{
    std::wstring text;
    for (HWND child = FindWindowExW(box, nullptr, L"Static", nullptr); child;
         child = FindWindowExW(box, child, L"Static", nullptr))
        text += ControlText(child);
    return text;
}

int ListCount(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring ListText(HWND list, int item, int column)
{
    wchar_t text[512] = {};
    LVITEMW request = {};
    request.iSubItem = column;
    request.pszText = text;
    request.cchTextMax = static_cast<int>(std::size(text));
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&request));
    return text;
}

void SelectListItems(HWND list, const std::vector<int>& items)
{
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = 0;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    for (const int item : items) {
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&state));
    }
}

std::vector<int> SelectedListItems(HWND list)
{
    std::vector<int> items;
    for (int item = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
         item >= 0; item = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(item), LVNI_SELECTED)))
        items.push_back(item);
    return items;
}

void Click(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void ChooseComboItem(HWND dialog, int id, int item)
{
    HWND combo = GetDlgItem(dialog, id);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

void SetControlText(HWND dialog, int id, const std::wstring& text)
{
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void AnswerFileDialog(HWND dialog, const std::wstring& path)
{
    SetControlText(dialog, 0x47c, path);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

std::wstring SelectedTreeText(HWND tree)
{
    wchar_t text[MAX_PATH] = {};
    TVITEMW item = {};
    item.mask = TVIF_TEXT;
    item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    item.pszText = text;
    item.cchTextMax = static_cast<int>(std::size(text));
    if (item.hItem)
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return text;
}

void AnswerFolderBrowser(HWND dialog, const std::wstring& folder)
{
    // Wine's browser returns the folder selected in its tree, whatever the
    // edit box says: select it there, again until the tree shows it (the
    // browser may still be filling its tree).
    HWND tree = FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
    const std::wstring leaf = folder.substr(folder.find_last_of(L"\\/") + 1);
    WaitUntil([&] {
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
        return !tree || _wcsicmp(SelectedTreeText(tree).c_str(), leaf.c_str()) == 0;
    });
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}
