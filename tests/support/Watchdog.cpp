#include "support/Watchdog.h"

#include <cstdio>

namespace {

// How often the watch looks at the clock.
constexpr DWORD c_lookInterval = 50;

} // namespace

Watchdog::Watchdog(DWORD limitMilliseconds)
    : Watchdog(
          limitMilliseconds,
          [limitMilliseconds] {
              std::fprintf(stderr, "watchdog: the test is still running after %lu ms; a window was left open\n",
                           static_cast<unsigned long>(limitMilliseconds));
              std::fflush(stderr);
          },
          3)
{
    Arm();
}

Watchdog::Watchdog(DWORD limitMilliseconds, std::function<void()> onOverrun, UINT exitCode)
    : m_limit(limitMilliseconds), m_onOverrun(std::move(onOverrun)), m_exitCode(exitCode)
{
    m_done.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_thread.Reset(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
}

Watchdog::~Watchdog()
{
    SetEvent(m_done.Get());
    // The watching thread sees the event within one interval.
    WaitForSingleObject(m_thread.Get(), 20 * c_lookInterval);
}

void Watchdog::Arm() noexcept
{
    m_armedAt = GetTickCount64();
}

void Watchdog::Disarm() noexcept
{
    m_armedAt = 0;
}

DWORD WINAPI Watchdog::Watch(void* context)
{
    auto* self = static_cast<Watchdog*>(context);
    while (WaitForSingleObject(self->m_done.Get(), c_lookInterval) == WAIT_TIMEOUT) {
        const ULONGLONG armedAt = self->m_armedAt;
        if (armedAt != 0 && GetTickCount64() - armedAt > self->m_limit) {
            self->m_onOverrun();
            TerminateProcess(GetCurrentProcess(), self->m_exitCode);
        }
    }
    return 0;
}
