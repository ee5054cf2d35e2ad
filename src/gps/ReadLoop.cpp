#include "gps/ReadLoop.h"

#include "base/Exception.h"
#include "base/Handle.h"
#include "gps/LineAssembler.h"

namespace {

constexpr DWORD c_readBufferSize = 8192;

HRESULT LastErrorResult() noexcept
{
    const DWORD error = GetLastError();
    return error == 0 ? E_FAIL : HResultFromWin32(error);
}

} // namespace

HRESULT RunReadLoop(PortOperations& port, HANDLE stop, LONG silenceInterval, ReaderClient& client) noexcept
{
    try {
        const DWORD limit = silenceInterval > 0 ? static_cast<DWORD>(silenceInterval) : INFINITE;
        const HANDLE stopOrIo[] = {stop, port.CompletionEvent()};
        const auto stopping = [stop] { return WaitForSingleObject(stop, 0) != WAIT_TIMEOUT; };
        DWORD silence = 0;
        // True when the pending operation completed, false when stopped.
        const auto awaitCompletion = [&] {
            for (;;) {
                const DWORD waited = WaitForMultipleObjects(2, stopOrIo, FALSE, limit);
                if (waited == WAIT_OBJECT_0 + 1)
                    return true;
                if (waited == WAIT_OBJECT_0)
                    return false;
                if (waited != WAIT_TIMEOUT)
                    ThrowHr(LastErrorResult());
                silence += limit;
                client.Notify(ReaderNotice::Timeout, static_cast<LONG>(silence));
                if (stopping())
                    return false;
            }
        };
        CLineAssembler assembler;
        std::vector<std::string> lines;
        // Pending operations write the buffer and the event mask, so the
        // cancellation runs before they go out of scope.
        char buffer[c_readBufferSize];
        DWORD mask = 0;
        ScopeExit cancel([&port] { port.Cancel(); });
        for (;;) {
            mask = 0;
            if (!port.StartEventWait(mask)) {
                if (!awaitCompletion())
                    return S_OK;
                port.Finish();
            }
            if (!(mask & EV_RXCHAR))
                continue;
            DWORD read = 0;
            if (!port.StartRead(buffer, sizeof buffer, read)) {
                if (!awaitCompletion())
                    return S_OK;
                read = port.Finish();
            }
            if (read == 0)
                continue;
            silence = 0;
            lines.clear();
            if (assembler.Append(std::string_view(buffer, read), lines) == 0)
                continue;
            if (stopping())
                return S_OK;
            client.QueueLines(lines);
            client.Notify(ReaderNotice::Input, 0);
            if (stopping())
                return S_OK;
        }
    } catch (...) {
        return ResultFromCaughtException();
    }
}
