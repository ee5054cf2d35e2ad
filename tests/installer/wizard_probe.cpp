// wizard_probe: starts a command line that opens a wizard (as a shortcut or
// a shell verb would), drives the wizard from outside its process and
// prints what it shows.
//
//   wizard_probe STEP... -- PROGRAM [ARGUMENTS...]
//
// Steps, in order: "next" presses Next and waits for the page to change or
// a message box to appear; "dump" prints the current page; "set ID TEXT"
// puts a text into a control of the current page; "cancel" presses Cancel,
// answers a confirmation with Yes and waits for the program to end. A
// message box that appears is printed and closed with its default button.
// Output lines:
//   caption: <the wizard's caption>
//   text <control id>: <text>        (for each control of the page)
//   message: <caption> | <text>
//   exit: <exit code of the program>
// Exits with 1 when a step times out; the program is then ended.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/Handle.h"

namespace {

constexpr DWORD c_stepTimeout = 15000;

// The started program, and its process handle owned for the run.
PROCESS_INFORMATION g_program{};
UniqueHandle g_programProcess;

// The text the window itself holds (GetWindowText would only give the
// caption the system keeps for a window of another process).
std::wstring Text(HWND window)
{
    wchar_t text[1024] = L"";
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, c_stepTimeout,
                        &length);
    return text;
}

void Print(const std::wstring& line)
{
    // UTF-8, so that translated texts reach the test as they are.
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, bytes.data(), size, nullptr, nullptr);
    std::printf("%s\n", bytes.c_str());
    std::fflush(stdout);
}

std::wstring ClassName(HWND window)
{
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

BOOL CALLBACK CollectProgramDialog(HWND window, LPARAM dialogs)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == g_program.dwProcessId && IsWindowVisible(window) && ClassName(window) == L"#32770")
        reinterpret_cast<std::vector<HWND>*>(dialogs)->push_back(window);
    return TRUE;
}

// The visible dialogs of the program: its wizard sheet and message boxes.
std::vector<HWND> ProgramDialogs()
{
    std::vector<HWND> dialogs;
    EnumWindows(CollectProgramDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

HWND CurrentPage(HWND sheet)
{
    return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

HWND FindSheet()
{
    for (HWND dialog : ProgramDialogs())
        if (CurrentPage(dialog))
            return dialog;
    return nullptr;
}

HWND FindMessageBox()
{
    for (HWND dialog : ProgramDialogs())
        if (GetDlgItem(dialog, 0xFFFF) && !CurrentPage(dialog))
            return dialog;
    return nullptr;
}

template <typename Condition>
bool WaitUntil(Condition condition)
{
    for (DWORD waited = 0; waited < c_stepTimeout; waited += 20) {
        if (condition())
            return true;
        Sleep(20);
    }
    return condition();
}

bool ProgramEnded()
{
    return WaitForSingleObject(g_program.hProcess, 0) == WAIT_OBJECT_0;
}

void PrintMessageBox(HWND box)
{
    Print(L"message: " + Text(box) + L" | " + Text(GetDlgItem(box, 0xFFFF)));
}

// Until the wizard has handled what the last step started (a page's
// activation fills its controls after the page exists).
void Settle(HWND sheet)
{
    WaitForInputIdle(g_program.hProcess, c_stepTimeout);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(sheet, WM_NULL, 0, 0, SMTO_NORMAL, c_stepTimeout, &result);
}

void Dump(HWND sheet)
{
    Settle(sheet);
    Print(L"caption: " + Text(sheet));
    for (HWND child = GetWindow(CurrentPage(sheet), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        Print(L"text " + std::to_wstring(GetDlgCtrlID(child)) + L": " + Text(child));
}

// Presses Next; a message box that the page shows is printed and closed.
bool Next(HWND sheet)
{
    const HWND page = CurrentPage(sheet);
    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
    HWND box = nullptr;
    if (!WaitUntil([&] { return (box = FindMessageBox()) || CurrentPage(sheet) != page; }))
        return false;
    if (box) {
        PrintMessageBox(box);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return WaitUntil([&] { return !FindMessageBox(); });
    }
    return true;
}

void SetText(HWND sheet, int id, const wchar_t* text)
{
    Settle(sheet);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(CurrentPage(sheet), id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text),
                        SMTO_NORMAL, c_stepTimeout, &result);
}

bool Cancel(HWND sheet)
{
    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    HWND box = nullptr;
    if (!WaitUntil([&] { return ProgramEnded() || (box = FindMessageBox()); }))
        return false;
    if (box) {
        PrintMessageBox(box);
        PostMessageW(box, WM_COMMAND, IDYES, 0);
    }
    if (!WaitUntil(ProgramEnded))
        return false;
    DWORD code = 0;
    GetExitCodeProcess(g_program.hProcess, &code);
    Print(L"exit: " + std::to_wstring(code));
    return true;
}

std::wstring Quoted(const std::wstring& argument)
{
    return argument.find_first_of(L" \t") == std::wstring::npos ? argument : L"\"" + argument + L"\"";
}

int Fail(const wchar_t* what)
{
    Print(std::wstring(L"timeout: ") + what);
    TerminateProcess(g_program.hProcess, 1);
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    int separator = 1;
    while (separator < argc && std::wstring(argv[separator]) != L"--")
        ++separator;
    if (separator + 1 >= argc) {
        std::fprintf(stderr, "usage: wizard_probe next|dump|set ID TEXT|cancel... -- PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    std::wstring commandLine;
    for (int i = separator + 1; i < argc; ++i)
        commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(argv[i]);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &g_program)) {
        std::fprintf(stderr, "cannot start the program: error %lu\n", GetLastError());
        return 1;
    }
    g_programProcess.Reset(g_program.hProcess);
    UniqueHandle thread(g_program.hThread);
    HWND sheet = nullptr;
    if (!WaitUntil([&] { return (sheet = FindSheet()) != nullptr; }))
        return Fail(L"no wizard appeared");
    for (int i = 1; i < separator; ++i) {
        const std::wstring step = argv[i];
        bool done = true;
        if (step == L"dump") {
            Dump(sheet);
        } else if (step == L"set" && i + 2 < separator) {
            SetText(sheet, _wtoi(argv[i + 1]), argv[i + 2]);
            i += 2;
        } else if (step == L"next") {
            done = Next(sheet);
        } else if (step == L"cancel") {
            done = Cancel(sheet);
        }
        if (!done)
            return Fail(step.c_str());
    }
    return 0;
}
