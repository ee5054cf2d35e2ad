// Driving windows of the test's own process from a second thread: polling
// with time limits, a watchdog per test, message boxes and wizard buttons.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Ends the process when the test is still running after `milliseconds`, so
// that a stuck dialog fails the run instead of hanging it.
class Watchdog
{
public:
    explicit Watchdog(DWORD milliseconds = 20000);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static DWORD WINAPI Run(void* parameter);
    HANDLE m_done;
    HANDLE m_thread;
    DWORD m_milliseconds;
};

// Polls the condition every 10 ms until it holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds = 5000);

// The first visible dialog (class "#32770") of the thread that is not
// `except`, or null.
HWND FindDialogOfThread(DWORD threadId, HWND except = nullptr);

std::wstring WindowText(HWND window);

// The text of a message box (its static control 0xFFFF).
std::wstring MessageBoxText(HWND box);

// Wizard buttons of a property sheet.
constexpr int c_backButton = 0x3023;
constexpr int c_nextButton = 0x3024;
constexpr int c_finishButton = 0x3025;

// The index of the sheet's current page, or -1.
int CurrentPageIndex(HWND sheet);

// The window that has the keyboard focus in the thread of `window`.
HWND FocusOfThreadOf(HWND window);
