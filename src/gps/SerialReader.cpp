#include "gps/SerialReader.h"

#include <objbase.h>

#include "base/ModuleState.h"
#include "base/Text.h"

namespace {

constexpr DWORD c_readIntervalMilliseconds = 10;
constexpr DWORD c_retryPauseMilliseconds = 1000;
constexpr DWORD c_valueNameCharacters = 128;
constexpr DWORD c_valueDataBytes = 512;

HRESULT LastErrorResult() noexcept
{
    const DWORD error = GetLastError();
    return error == 0 ? E_FAIL : HResultFromWin32(error);
}

// The operations of an open serial port. Cancel ends a pending operation:
// Wine cancels a pending WaitCommEvent only after the event mask is
// cleared, and the OVERLAPPED must not go away before the operation has
// completed.
class COverlappedPort final : public PortOperations
{
public:
    COverlappedPort(HANDLE port, HANDLE io) noexcept : m_port(port) { m_overlapped.hEvent = io; }
    ~COverlappedPort() { Cancel(); }
    COverlappedPort(const COverlappedPort&) = delete;
    COverlappedPort& operator=(const COverlappedPort&) = delete;

    HANDLE CompletionEvent() const noexcept override { return m_overlapped.hEvent; }
    HRESULT StartEventWait(DWORD& mask) noexcept override
    {
        return Started(WaitCommEvent(m_port, &mask, &m_overlapped));
    }
    HRESULT StartRead(char* buffer, DWORD size, DWORD& read) noexcept override
    {
        return Started(ReadFile(m_port, buffer, size, &read, &m_overlapped));
    }
    HRESULT Finish(DWORD& transferred) noexcept override
    {
        m_pending = false;
        transferred = 0;
        return GetOverlappedResult(m_port, &m_overlapped, &transferred, FALSE) ? S_OK : LastErrorResult();
    }
    void Cancel() noexcept override
    {
        if (!m_pending)
            return;
        m_pending = false;
        SetCommMask(m_port, 0);
        CancelIo(m_port);
        DWORD ignored = 0;
        GetOverlappedResult(m_port, &m_overlapped, &ignored, TRUE);
    }

private:
    HRESULT Started(BOOL completed) noexcept
    {
        if (completed)
            return S_OK;
        if (GetLastError() != ERROR_IO_PENDING)
            return LastErrorResult();
        m_pending = true;
        return S_FALSE;
    }

    HANDLE m_port;
    OVERLAPPED m_overlapped{};
    bool m_pending = false;
};

// COM for the worker thread, so that sinks called on it may use COM.
class WorkerApartment
{
public:
    WorkerApartment() noexcept : m_initialized(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~WorkerApartment()
    {
        if (m_initialized)
            CoUninitialize();
    }
    WorkerApartment(const WorkerApartment&) = delete;
    WorkerApartment& operator=(const WorkerApartment&) = delete;

private:
    bool m_initialized;
};

} // namespace

PortTable EnumerateSerialPorts()
{
    PortTable ports;
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, key.Put()) !=
        ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[c_valueNameCharacters];
        DWORD nameLength = c_valueNameCharacters;
        BYTE data[c_valueDataBytes];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        const LONG result = RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, &type, data, &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        std::wstring portName(reinterpret_cast<const wchar_t*>(data), dataSize / sizeof(wchar_t));
        portName.resize(wcsnlen(portName.c_str(), portName.size()));
        ports[portName] = PortRecord{portName, std::wstring(name, nameLength)};
    }
    return ports;
}

std::wstring FindAssumedPort(const PortTable& ports)
{
    for (const auto& [name, record] : ports)
        if (EqualsIgnoreCase(record.deviceName, L"\\Device\\USBSER000"))
            return name;
    return {};
}

ReaderThread::ReaderThread(ReaderClient& client)
    : m_client(client),
      m_started(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (!m_started || !m_stop)
        ThrowLastError();
    ModuleLock();
}

ReaderThread::~ReaderThread()
{
    ModuleUnlock();
}

std::shared_ptr<ReaderThread> ReaderThread::Start(ReaderClient& client, std::shared_ptr<ReaderThread> predecessor)
{
    std::shared_ptr<ReaderThread> reader(new ReaderThread(client));
    reader->m_predecessor = std::move(predecessor);
    auto threadReference = std::make_unique<std::shared_ptr<ReaderThread>>(reader);
    // The thread keeps the module loaded until its very last instruction.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&ReaderThread::ThreadProcedure), &reader->m_moduleReference))
        ThrowLastError();
    reader->m_thread.Reset(
        CreateThread(nullptr, 0, ThreadProcedure, threadReference.get(), CREATE_SUSPENDED, &reader->m_threadId));
    if (!reader->m_thread) {
        const DWORD error = GetLastError();
        FreeLibrary(reader->m_moduleReference);
        ThrowWin32(error);
    }
    threadReference.release();
    ResumeThread(reader->m_thread.Get());
    const HANDLE started[] = {reader->m_started.Get(), reader->m_thread.Get()};
    WaitForMultipleObjects(2, started, FALSE, INFINITE);
    return reader;
}

bool ReaderThread::Stop() noexcept
{
    SetEvent(m_stop.Get());
    if (GetCurrentThreadId() == m_threadId)
        return false;
    WaitForThreadEnd();
    return true;
}

// The object must never be left with a thread that may still use it: when
// waiting itself fails, keep polling the thread's exit code.
void ReaderThread::WaitForThreadEnd() noexcept
{
    if (WaitForSingleObject(m_thread.Get(), INFINITE) == WAIT_OBJECT_0)
        return;
    DWORD exitCode = STILL_ACTIVE;
    while (GetExitCodeThread(m_thread.Get(), &exitCode) && exitCode == STILL_ACTIVE)
        Sleep(10);
}

bool ReaderThread::Stopping() const noexcept
{
    return WaitForSingleObject(m_stop.Get(), 0) != WAIT_TIMEOUT;
}

DWORD WINAPI ReaderThread::ThreadProcedure(void* parameter)
{
    HMODULE module = nullptr;
    DWORD exitCode = 0;
    {
        std::unique_ptr<std::shared_ptr<ReaderThread>> self(static_cast<std::shared_ptr<ReaderThread>*>(parameter));
        module = (*self)->m_moduleReference;
        exitCode = (*self)->Run();
    }
    FreeLibraryAndExitThread(module, exitCode);
}

DWORD ReaderThread::Run() noexcept
{
    UniqueHandle io(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!io)
        return static_cast<DWORD>(LastErrorResult());
    SetEvent(m_started.Get());
    WorkerApartment apartment;
    if (!AwaitPredecessor())
        return 0;
    while (!Stopping()) {
        HRESULT failure = S_OK;
        try {
            // Only a port is opened, never a file or another device; no port
            // chosen is a port that does not exist.
            const auto name = SerialPortName(m_client.PortToOpen());
            if (!name) {
                m_client.Notify(ReaderNotice::Error, HResultFromWin32(ERROR_FILE_NOT_FOUND));
                break;
            }
            const std::wstring path = std::wstring(c_portDevicePrefix) + *name;
            UniqueHFile port(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OVERLAPPED, nullptr));
            if (!port) {
                m_client.Notify(ReaderNotice::Error, LastErrorResult());
                break;
            }
            failure = ReadPort(port.Get(), io.Get());
        } catch (...) {
            failure = ResultFromCaughtException();
        }
        if (SUCCEEDED(failure) || Stopping())
            break;
        m_client.Notify(ReaderNotice::Error, failure);
        WaitForSingleObject(m_stop.Get(), c_retryPauseMilliseconds);
    }
    return 0;
}

// Waits until the predecessor's thread has ended and lets it go; false
// when this worker was stopped first.
bool ReaderThread::AwaitPredecessor() noexcept
{
    if (!m_predecessor)
        return true;
    const HANDLE stopOrEnd[] = {m_stop.Get(), m_predecessor->m_thread.Get()};
    const bool ended = WaitForMultipleObjects(2, stopOrEnd, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
    if (ended)
        m_predecessor.reset();
    return ended;
}

// Reads until the stop event (S_OK) or a failure (its HRESULT).
HRESULT ReaderThread::ReadPort(HANDLE port, HANDLE io) noexcept
{
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(port, &timeouts))
        return LastErrorResult();
    timeouts.ReadIntervalTimeout = c_readIntervalMilliseconds;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(port, &timeouts) || !SetCommMask(port, EV_RXCHAR))
        return LastErrorResult();
    COverlappedPort operations(port, io);
    return RunReadLoop(operations, m_stop.Get(), m_client.SilenceInterval(), m_client);
}
