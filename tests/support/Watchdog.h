// Ends the test process when a stretch of work overruns its time limit, so
// that a window nobody closes or an input that never finishes fails the
// run instead of hanging it. Free of the test framework: the fuzz driver
// uses it too.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

#include "base/Handle.h"

class Watchdog
{
public:
    // Armed at once: the whole life of the object is the stretch (a GUI
    // test). Overrunning prints a message and exits with code 3.
    explicit Watchdog(DWORD limitMilliseconds = 30000);

    // Disarmed until Arm: stretches are marked one by one (the inputs of
    // the fuzz driver). Overrunning calls onOverrun, then exits with
    // exitCode.
    Watchdog(DWORD limitMilliseconds, std::function<void()> onOverrun, UINT exitCode);

    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Starts a stretch now; Disarm ends it.
    void Arm() noexcept;
    void Disarm() noexcept;

private:
    static DWORD WINAPI Watch(void* context);

    DWORD m_limit;
    std::function<void()> m_onOverrun;
    UINT m_exitCode;
    std::atomic<ULONGLONG> m_armedAt{0}; // 0: disarmed
    UniqueHandle m_done;
    UniqueHandle m_thread;
};
