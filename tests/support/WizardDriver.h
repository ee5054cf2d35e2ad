// Driving the wizards of Tervolin.dll as a user would, through the DLL's
// real exports.
//
// A WizardRun calls an export on a thread of its own; the test's thread
// finds the sheet, its pages, buttons and message boxes and acts on them.
// Actions are POSTED to the wizard's thread (a sent Next that opens a
// message box would block the test), and every look at the windows polls
// with a time limit, since the wizard's thread changes them on its own
// schedule. A Watchdog ends the whole test process when a test overruns, so
// that a window nobody closes fails the run instead of hanging it.
//
//   WizardRun run([] { return WizardExport<StartWizard>("StartImportTrackWizard")(nullptr); });
//   run.Press(PSBTN_NEXT);
//   ASSERT_TRUE(run.WaitForPage(1));
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Handle.h"
#include "support/Watchdog.h"

// How long every look at the windows waits before it gives up.
constexpr DWORD c_patience = 5000;

// Polls the condition every few milliseconds until it holds or the time is
// up; returns whether it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMilliseconds = c_patience);

// An export of the build's Tervolin.dll (loaded once, from TERVOLIN_BIN).
FARPROC WizardExportAddress(const char* name);
template <typename F>
F WizardExport(const char* name)
{
    return reinterpret_cast<F>(WizardExportAddress(name));
}
using StartWizard = HRESULT(WINAPI*)(HWND parent);
using StartWizardWithPath = HRESULT(WINAPI*)(HWND parent, LPCWSTR path, DWORD reserved);

// Ids of the wizard buttons of a property sheet.
constexpr int c_backButton = 0x3023;
constexpr int c_nextButton = 0x3024;
constexpr int c_finishButton = 0x3025;

class WizardRun
{
public:
    // Starts the call on a new thread (without COM: the export sets up its
    // own apartment).
    explicit WizardRun(std::function<HRESULT()> start);
    // Unwinds whatever is still open (a quit message ends every modal loop)
    // and waits for the thread.
    ~WizardRun();
    WizardRun(const WizardRun&) = delete;
    WizardRun& operator=(const WizardRun&) = delete;

    DWORD ThreadId() const { return m_threadId; }

    // Waits for the export to return; its result, or nothing when it is
    // still running after the wait.
    std::optional<HRESULT> Result(DWORD timeoutMilliseconds = c_patience);

    // The visible sheet, waiting for it; null when none appears.
    HWND Sheet();
    // Index and window of the current page, -1 and null without a sheet.
    int PageIndex();
    HWND Page();
    // Waits until the current page has the index; the page, or null.
    HWND WaitForPage(int index);
    // A control of the current page.
    HWND PageControl(int id);

    // Waits for a visible dialog of the thread that is not the sheet (a
    // message box, a file dialog); null when none appears.
    HWND WaitForMessageBox(DWORD timeoutMilliseconds = c_patience);
    // The same for a dialog that matches (IsMessageBox, IsFileDialog...).
    HWND WaitForDialog(const std::function<bool(HWND)>& match, DWORD timeoutMilliseconds = c_patience);
    // Waits until no such dialog is visible any more.
    bool WaitForNoMessageBox();

    // The window of the thread with the keyboard focus.
    HWND Focus() const;

    // Posts PSM_PRESSBUTTON (PSBTN_NEXT, PSBTN_BACK, PSBTN_FINISH, PSBTN_CANCEL).
    void Press(int button);
    // Posts a click of a button of the current page (safe when it opens a
    // modal window).
    void Click(int id);
    // The button of the sheet is enabled and visible.
    bool ButtonEnabled(int id);

    // Keys as the keyboard gives them to the window with the focus: a
    // virtual key, or Alt with a letter (a mnemonic).
    void Key(UINT virtualKey);
    void AltKey(wchar_t letter);

private:
    static DWORD WINAPI Run(void* context);

    std::function<HRESULT()> m_start;
    HRESULT m_result = E_PENDING;
    DWORD m_threadId = 0;
    UniqueHandle m_thread;
};

// Text of a window of any thread.
std::wstring WindowText(HWND window);
// The text of a message box (its static control 0xFFFF).
std::wstring MessageBoxText(HWND box);
// The first visible dialog (class "#32770") of the thread that is not
// `except`, or null.
HWND FindDialogOfThread(DWORD threadId, HWND except = nullptr);
// The index of the sheet's current page, or -1.
int CurrentPageIndex(HWND sheet);
// The window that has the keyboard focus in the thread of `window`.
HWND FocusOfThreadOf(HWND window);
// Sets it as typing would (the control notifies its parent).
void SetText(HWND control, const std::wstring& text);
// The texts of the static controls of a dialog, joined by line breaks: what
// a message box says.
std::wstring DialogText(HWND dialog);
// Posts a click of the dialog's button with that id (IDOK, IDYES, IDNO...).
void AnswerDialog(HWND dialog, int buttonId);
// Chooses a combo box item as the user would: the selection, then
// CBN_SELCHANGE to the dialog.
void ChooseComboItem(HWND dialog, int comboId, int item);
// The same for the item showing exactly that text; false when there is none.
bool ChooseComboText(HWND dialog, int comboId, const std::wstring& text);
// The text of the combo box's selected item, empty with no selection.
std::wstring SelectedComboText(HWND dialog, int comboId);
// The text of one item of the combo box, empty when there is none.
std::wstring ComboItemText(HWND dialog, int comboId, int item);
// Clicks a check box of a dialog and waits until it shows ticked.
bool TickCheckBox(HWND dialog, int checkBoxId);
bool IsChecked(HWND checkBox);

// The kinds of dialog a wizard opens besides its sheet. A message box has
// Yes or OK and no edit box or tree; a file dialog has the file name box.
bool IsMessageBox(HWND dialog);
bool IsFileDialog(HWND dialog);
bool IsFolderBrowser(HWND dialog);
bool IsPropertySheet(HWND dialog);
// Turns a property sheet to the page with that index; the page.
HWND SelectSheetPage(HWND sheet, int index);

// Types a path into an open or save dialog and presses OK.
void AnswerFileDialog(HWND dialog, const std::wstring& path);
// Types a folder into an open or save dialog and presses OK, as a user
// browses into it; waits until the dialog has moved there.
void BrowseFileDialogInto(HWND dialog, const std::wstring& folder);
// Chooses a folder in the folder browser and presses OK.
void AnswerFolderBrowser(HWND dialog, const std::wstring& folder);

// The items of a list view of any thread of the process.
int ListCount(HWND list);
std::wstring ListText(HWND list, int item, int column = 0);
// Selects exactly these items.
void SelectListItems(HWND list, const std::vector<int>& items);
std::vector<int> SelectedListItems(HWND list);

// The values of HKEY_CURRENT_USER\SOFTWARE\Norvask\Tervolin\Confirmations.
std::optional<DWORD> ConfirmationValue(const wchar_t* name);
void SetConfirmationValue(const wchar_t* name, DWORD value);
void DeleteConfirmationValue(const wchar_t* name);
