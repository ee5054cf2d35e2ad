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
    return ResultOfCall([&]() -> HRESULT {
        const DWORD limit = silenceInterval > 0 ? static_cast<DWORD>(silenceInterval) : INFINITE;
        const HANDLE stopOrIo[] = {stop, port.CompletionEvent()};
        const auto stopping = [stop] { return WaitForSingleObject(stop, 0) != WAIT_TIMEOUT; };
        DWORD silence = 0;
        // Waits for the operation that start began: S_OK with its byte
        // count when it completed, S_FALSE when stopped, else the failure.
        const auto complete = [&](HRESULT start, DWORD& transferred) -> HRESULT {
            if (start != S_FALSE)
                return start;
            for (;;) {
                const DWORD waited = WaitForMultipleObjects(2, stopOrIo, FALSE, limit);
                if (waited == WAIT_OBJECT_0 + 1)
                    return port.Finish(transferred);
                if (waited == WAIT_OBJECT_0)
                    return S_FALSE;
                if (waited != WAIT_TIMEOUT)
                    return LastErrorResult();
                silence += limit;
                client.Notify(ReaderNotice::Timeout, static_cast<LONG>(silence));
                if (stopping())
                    return S_FALSE;
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
            DWORD ignored = 0;
            if (const HRESULT hr = complete(port.StartEventWait(mask), ignored); hr != S_OK)
                return hr == S_FALSE ? S_OK : hr;
            if (!(mask & EV_RXCHAR))
                continue;
            DWORD read = 0;
            if (const HRESULT hr = complete(port.StartRead(buffer, sizeof buffer, read), read); hr != S_OK)
                return hr == S_FALSE ? S_OK : hr;
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
    });
}
