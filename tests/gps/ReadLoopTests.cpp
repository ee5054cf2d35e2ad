#include "support/TestSupport.h"

#include <deque>

#include "base/Handle.h"
#include "gps/ReadLoop.h"

namespace {

constexpr LONG c_silence = 40;

// One operation of the stand-in port: completed at once with a mask or
// with bytes. Once the script is used up, every operation stays pending
// for ever, as a read on a quiet port without total time-outs does.
struct Step
{
    DWORD mask;
    std::string bytes;
};

class ScriptedPort final : public PortOperations
{
public:
    explicit ScriptedPort(std::deque<Step> script)
        : m_script(std::move(script)), m_io(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }

    HANDLE CompletionEvent() const noexcept override { return m_io.Get(); }
    HRESULT StartEventWait(DWORD& mask) noexcept override
    {
        if (m_script.empty())
            return S_FALSE;
        mask = m_script.front().mask;
        m_script.pop_front();
        return S_OK;
    }
    HRESULT StartRead(char* buffer, DWORD size, DWORD& read) noexcept override
    {
        if (m_script.empty())
            return S_FALSE;
        const std::string& bytes = m_script.front().bytes;
        read = static_cast<DWORD>(std::min<size_t>(size, bytes.size()));
        std::copy_n(bytes.data(), read, buffer);
        m_script.pop_front();
        return S_OK;
    }
    HRESULT Finish(DWORD& transferred) noexcept override
    {
        transferred = 0;
        return S_OK;
    }
    void Cancel() noexcept override {}

private:
    std::deque<Step> m_script;
    UniqueHandle m_io;
};

// Records the notices and stops the loop at the second silence notice.
class RecordingClient final : public ReaderClient
{
public:
    explicit RecordingClient(HANDLE stop) : m_stop(stop) {}

    std::wstring PortToOpen() override { return L"COM1"; }
    LONG SilenceInterval() override { return c_silence; }
    void QueueLines(std::vector<std::string>& lines) override
    {
        m_lines.insert(m_lines.end(), lines.begin(), lines.end());
    }
    void Notify(ReaderNotice notice, LONG argument) noexcept override
    {
        m_notices.push_back(notice == ReaderNotice::Timeout ? "Timeout " + std::to_string(argument)
                                                            : notice == ReaderNotice::Input ? "Input" : "Error");
        if (notice == ReaderNotice::Timeout && argument >= 2 * c_silence)
            SetEvent(m_stop);
    }

    std::vector<std::string> m_notices;
    std::vector<std::string> m_lines;

private:
    HANDLE m_stop;
};

// Sets the stop event after a while, so that a loop that never notices the
// silence fails the test instead of hanging it.
DWORD WINAPI StopLater(void* stop)
{
    WaitForSingleObject(static_cast<HANDLE>(stop), 3000);
    SetEvent(static_cast<HANDLE>(stop));
    return 0;
}

} // namespace

TEST(ReadLoop, SilenceIsNoticedWhateverWaitIsPending)
{
    struct Row
    {
        const char* name;
        std::deque<Step> script;
        std::vector<std::string> notices;
    };
    const Row rows[] = {
        {"quiet from the start", {}, {"Timeout 40", "Timeout 80"}},
        // The driver reports a character event for bytes the last read
        // already took; the next read then waits for a byte that never comes.
        {"burst, then quiet",
         {{EV_RXCHAR, ""}, {0, "$GPGGA,1\r\n"}, {EV_RXCHAR, ""}},
         {"Input", "Timeout 40", "Timeout 80"}},
    };
    for (const auto& row : rows) {
        UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        UniqueHandle watchdog(CreateThread(nullptr, 0, StopLater, stop.Get(), 0, nullptr));
        ScriptedPort port(row.script);
        RecordingClient client(stop.Get());
        EXPECT_EQ(S_OK, RunReadLoop(port, stop.Get(), c_silence, client));
        EXPECT_EQ(row.notices, client.m_notices) << row.name;
        SetEvent(stop.Get());
        WaitForSingleObject(watchdog.Get(), INFINITE);
    }
}
