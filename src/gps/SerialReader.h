// The serial ports of the machine and the worker thread that reads one.
//
// The worker opens "\\.\<port>" (a port name only) for overlapped I/O, sets a read interval
// time-out of 10 ms, waits for received characters (EV_RXCHAR) together
// with its stop event, reads up to 8192 bytes at a time, cuts them into
// lines (CLineAssembler) and hands complete lines to its client. A wait
// that lasts the client's silence interval gives a silence notice with the
// total silence so far; a failure after opening gives an error notice, a
// pause of up to a second and a new attempt; a failure to open gives an
// error notice and ends the worker.
//
// Lifetime: the worker thread holds a reference of its own to its
// ReaderThread and a reference to the module, released when the thread
// returns, so a stop requested on the worker thread itself (a client
// disconnecting inside an event) never frees what the thread still uses.
// After each notice the worker checks the stop event before it touches its
// client again.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/FailureCodes.h"
#include "base/Handle.h"
#include "gps/PortName.h"
#include "gps/ReadLoop.h"

// A port as the system lists it: the name it is opened by (COM3) and the
// kernel device name (\Device\USBSER000). Ports are used with the line
// settings they already have.
struct PortRecord
{
    std::wstring portName;
    std::wstring deviceName;
};

// Ports by exact port name.
using PortTable = std::map<std::wstring, PortRecord>;

// The string values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (device name =
// port name); empty when the key cannot be opened.
PortTable EnumerateSerialPorts();

// The port name of the first USB serial port (\Device\USBSER000, any
// letter case), the receiver when it is connected by USB; empty when none.
std::wstring FindAssumedPort(const PortTable& ports);

class ReaderThread
{
public:
    // Creates the thread suspended, resumes it and waits until it signals
    // that it started (or ended). A predecessor is a stopped worker whose
    // thread may still hold the port (a client reconnecting inside an event
    // on that thread): the new thread waits for it to end before it opens
    // the port. Raises the system error when the thread cannot be created.
    static std::shared_ptr<ReaderThread> Start(ReaderClient& client,
                                               std::shared_ptr<ReaderThread> predecessor = nullptr);

    ~ReaderThread();
    ReaderThread(const ReaderThread&) = delete;
    ReaderThread& operator=(const ReaderThread&) = delete;

    // Signals the stop event and waits until the thread has ended. On the
    // worker thread itself it cannot wait: the thread ends on its own after
    // returning, and the result is false.
    bool Stop() noexcept;

private:
    explicit ReaderThread(ReaderClient& client);

    static DWORD WINAPI ThreadProcedure(void* parameter);
    DWORD Run() noexcept;
    bool AwaitPredecessor() noexcept;
    HRESULT ReadPort(HANDLE port, HANDLE io) noexcept;
    bool Stopping() const noexcept;
    void WaitForThreadEnd() noexcept;

    ReaderClient& m_client;
    std::shared_ptr<ReaderThread> m_predecessor;
    UniqueHandle m_started;
    UniqueHandle m_stop;
    UniqueHandle m_thread;
    DWORD m_threadId = 0;
    HMODULE m_moduleReference = nullptr;
};
