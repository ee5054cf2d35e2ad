// The serial worker's loop on an open port, apart from the port itself so
// that its waiting can be checked over a stand-in port.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The worker's notices to its client.
enum class ReaderNotice : UINT
{
    Error = 0x0401,   // argument: the HRESULT of the failure
    Input = 0x0402,   // argument: 0; lines were queued with QueueLines
    Timeout = 0x0403, // argument: milliseconds of silence
};

// What the worker needs from the object that owns it. Called on the worker
// thread.
class ReaderClient
{
public:
    virtual std::wstring PortToOpen() = 0;
    // Silence interval in milliseconds; 0 or less gives no silence notices.
    virtual LONG SilenceInterval() = 0;
    virtual void QueueLines(std::vector<std::string>& lines) = 0;
    virtual void Notify(ReaderNotice notice, LONG argument) noexcept = 0;

protected:
    ~ReaderClient() = default;
};

// The overlapped operations the read loop starts on an open port. A start
// returns S_OK when the operation completed at once (its results written),
// S_FALSE when it is pending: the completion event is then signalled when
// it ends, and Finish collects it. Failures are returned, not raised: a
// receiver that goes away is an ordinary event on a serial line.
class PortOperations
{
public:
    virtual HANDLE CompletionEvent() const noexcept = 0;
    // Waits for a port event; mask receives the events (EV_RXCHAR).
    virtual HRESULT StartEventWait(DWORD& mask) noexcept = 0;
    virtual HRESULT StartRead(char* buffer, DWORD size, DWORD& read) noexcept = 0;
    // The byte count of the pending operation after its event was signalled.
    virtual HRESULT Finish(DWORD& transferred) noexcept = 0;
    // Ends a pending operation and waits until it no longer writes.
    virtual void Cancel() noexcept = 0;

protected:
    ~PortOperations() = default;
};

// The worker's loop on an open port: waits for received characters, reads
// them, queues the lines they complete and notifies the client. Every wait
// on a pending operation, the read included, gives a silence notice each
// time silenceInterval passes without a received byte (none for 0 or
// less), so a receiver that goes quiet is noticed whatever the driver
// reports. Returns S_OK when stop is signalled, else the failure.
HRESULT RunReadLoop(PortOperations& port, HANDLE stop, LONG silenceInterval, ReaderClient& client) noexcept;
