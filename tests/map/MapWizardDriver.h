// Runs a wizard of Tervolin.dll on a thread of its own, through its export,
// and drives it from the test's thread as a user would: pages, buttons,
// lists, message boxes, file dialogs and the folder browser. Every check
// polls with a time limit; a run that does not end in time ends the
// process, so a stuck dialog cannot hang the test run.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

class WizardRun
{
public:
    // Calls the export `name` with (null parent, path, 0) when path is
    // given, else with (null parent). A run still open after
    // limitMilliseconds ends the process.
    WizardRun(const char* exportName, const std::wstring* path = nullptr, DWORD limitMilliseconds = 60000);
    ~WizardRun();
    WizardRun(const WizardRun&) = delete;
    WizardRun& operator=(const WizardRun&) = delete;

    // Waits for the export to return; its result.
    HRESULT Wait();

    // The wizard sheet, once it shows.
    HWND Sheet();
    // Index of the current page (0 introduction, ...), waiting until it is
    // `index`; false when it is not within the time limit.
    bool WaitForPage(int index);
    int CurrentPage();
    HWND Page();
    void Press(int button); // PSBTN_NEXT, PSBTN_BACK, PSBTN_FINISH, PSBTN_CANCEL

    // A dialog other than the wizard: message box, file dialog, folder
    // browser, property sheet. Null when none shows in time.
    HWND WaitForDialog(const std::function<bool(HWND)>& match);
    HWND WaitForMessageBox();
    // No dialog other than the wizard shows within a short time.
    bool NoDialogShows();

    DWORD ThreadId() const noexcept { return m_threadId; }

private:
    void Close();

    std::thread m_thread;
    HANDLE m_threadHandle = nullptr;
    DWORD m_threadId = 0;
    HANDLE m_started = nullptr;
    HRESULT m_result = E_PENDING;
    bool m_joined = false;
    HWND m_sheet = nullptr;
    HANDLE m_watchdog = nullptr;
};

// Polls until the condition holds or the time limit (ms) passes.
bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds = 10000);

std::wstring ControlText(HWND window);
// The texts of a message box's static controls, joined.
std::wstring MessageBoxText(HWND box);
bool IsMessageBox(HWND dialog);
bool IsPropertySheet(HWND dialog);

// List view items (cross-thread within the process).
int ListCount(HWND list);
std::wstring ListText(HWND list, int item, int column = 0);
void SelectListItems(HWND list, const std::vector<int>& items); // exactly these
std::vector<int> SelectedListItems(HWND list);

// Posts a click on a button of a dialog or page (safe when it opens a modal
// window).
void Click(HWND dialog, int id);
// Chooses a combo box item as the user would (selection and CBN_SELCHANGE).
void ChooseComboItem(HWND dialog, int id, int item);
void SetControlText(HWND dialog, int id, const std::wstring& text);

// Types a path into an open or save dialog and presses OK.
void AnswerFileDialog(HWND dialog, const std::wstring& path);
// Types a folder into the folder browser's edit box and presses OK.
void AnswerFolderBrowser(HWND dialog, const std::wstring& folder);
