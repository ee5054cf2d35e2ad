#include "GuiTestSupport.h"

#include <commctrl.h>
#include <prsht.h>

#include <cstdio>

Watchdog::Watchdog(DWORD milliseconds)
    : m_done(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_thread(nullptr), m_milliseconds(milliseconds)
{
    m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

Watchdog::~Watchdog()
{
    SetEvent(m_done);
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    CloseHandle(m_done);
}

DWORD WINAPI Watchdog::Run(void* parameter)
{
    auto* watchdog = static_cast<Watchdog*>(parameter);
    if (WaitForSingleObject(watchdog->m_done, watchdog->m_milliseconds) == WAIT_TIMEOUT) {
        std::fprintf(stderr, "watchdog: the test did not end in %lu ms\n",
                     static_cast<unsigned long>(watchdog->m_milliseconds));
        std::fflush(stderr);
        ExitProcess(3);
    }
    return 0;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(10);
    }
}

namespace {
struct DialogSearch
{
    HWND except;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (window != search->except && IsWindowVisible(window) && wcscmp(className, L"#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND FindDialogOfThread(DWORD threadId, HWND except)
{
    DialogSearch search{except, nullptr};
    EnumThreadWindows(threadId, FindDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring MessageBoxText(HWND box)
{
    return WindowText(GetDlgItem(box, 0xFFFF));
}

int CurrentPageIndex(HWND sheet)
{
    HWND page = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    return page ? static_cast<int>(SendMessageW(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0)) : -1;
}

HWND FocusOfThreadOf(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}
