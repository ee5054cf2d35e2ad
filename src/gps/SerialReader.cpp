#include "gps/SerialReader.h"

#include <objbase.h>

#include "base/Text.h"
#include "gps/LineAssembler.h"
#include "module/Module.h"

namespace {

constexpr DWORD c_readBufferSize = 8192;
constexpr DWORD c_readIntervalMilliseconds = 10;
constexpr DWORD c_retryPauseMilliseconds = 1000;
constexpr DWORD c_valueNameCharacters = 128;
constexpr DWORD c_valueDataBytes = 512;

HRESULT LastErrorResult() noexcept
{
    const DWORD error = GetLastError();
    return error == 0 ? E_FAIL : HResultFromWin32(error);
}

// An overlapped operation on the port that may still be pending. Leaving
// scope ends it: Wine cancels a pending WaitCommEvent only after the event
// mask is cleared, and the OVERLAPPED must not go away before the
// operation has completed.
class PendingPortIo
{
public:
    PendingPortIo(HANDLE port, HANDLE io) noexcept : m_port(port) { m_overlapped.hEvent = io; }
    ~PendingPortIo()
    {
        if (!m_pending)
            return;
        SetCommMask(m_port, 0);
        CancelIo(m_port);
        DWORD ignored = 0;
        GetOverlappedResult(m_port, &m_overlapped, &ignored, TRUE);
    }
    PendingPortIo(const PendingPortIo&) = delete;
    PendingPortIo& operator=(const PendingPortIo&) = delete;

    OVERLAPPED* Overlapped() noexcept { return &m_overlapped; }
    void SetPending(bool pending) noexcept { m_pending = pending; }

    // The result of the completed operation (after its event was signalled).
    bool Complete(DWORD& transferred) noexcept
    {
        m_pending = false;
        return GetOverlappedResult(m_port, &m_overlapped, &transferred, FALSE) != FALSE;
    }

private:
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

std::shared_ptr<ReaderThread> ReaderThread::Start(ReaderClient& client)
{
    std::shared_ptr<ReaderThread> reader(new ReaderThread(client));
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

void ReaderThread::Stop() noexcept
{
    SetEvent(m_stop.Get());
    if (GetCurrentThreadId() != m_threadId)
        WaitForThreadEnd();
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
    while (!Stopping()) {
        HRESULT failure = S_OK;
        try {
            const std::wstring path = L"\\\\.\\" + m_client.PortToOpen();
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

// Reads until the stop event (S_OK) or a failure (its HRESULT).
HRESULT ReaderThread::ReadPort(HANDLE port, HANDLE io) noexcept
{
    try {
        COMMTIMEOUTS timeouts{};
        if (!GetCommTimeouts(port, &timeouts))
            return LastErrorResult();
        timeouts.ReadIntervalTimeout = c_readIntervalMilliseconds;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = 0;
        if (!SetCommTimeouts(port, &timeouts) || !SetCommMask(port, EV_RXCHAR))
            return LastErrorResult();

        const LONG interval = m_client.SilenceInterval();
        const DWORD waitLimit = interval > 0 ? static_cast<DWORD>(interval) : INFINITE;
        DWORD silence = 0;
        CLineAssembler assembler;
        std::vector<std::string> lines;
        // The buffer and the event mask are written by pending operations,
        // so they must outlive the operation that ends them.
        char buffer[c_readBufferSize];
        DWORD mask = 0;
        const HANDLE stopOrIo[] = {m_stop.Get(), io};
        PendingPortIo operation(port, io);

        for (;;) {
            mask = 0;
            if (!WaitCommEvent(port, &mask, operation.Overlapped())) {
                if (GetLastError() != ERROR_IO_PENDING)
                    return LastErrorResult();
                operation.SetPending(true);
                for (;;) {
                    const DWORD waited = WaitForMultipleObjects(2, stopOrIo, FALSE, waitLimit);
                    if (waited == WAIT_OBJECT_0)
                        return S_OK;
                    if (waited == WAIT_OBJECT_0 + 1)
                        break;
                    if (waited != WAIT_TIMEOUT)
                        return LastErrorResult();
                    silence += waitLimit;
                    m_client.Notify(ReaderNotice::Timeout, static_cast<LONG>(silence));
                    if (Stopping())
                        return S_OK;
                }
                DWORD ignored = 0;
                if (!operation.Complete(ignored))
                    return LastErrorResult();
            }
            silence = 0;
            if (!(mask & EV_RXCHAR))
                continue;

            DWORD read = 0;
            if (!ReadFile(port, buffer, sizeof buffer, &read, operation.Overlapped())) {
                if (GetLastError() != ERROR_IO_PENDING)
                    return LastErrorResult();
                operation.SetPending(true);
                const DWORD waited = WaitForMultipleObjects(2, stopOrIo, FALSE, INFINITE);
                if (waited == WAIT_OBJECT_0)
                    return S_OK;
                if (waited != WAIT_OBJECT_0 + 1 || !operation.Complete(read))
                    return LastErrorResult();
            }
            lines.clear();
            if (read > 0 && assembler.Append(std::string_view(buffer, read), lines) > 0) {
                if (Stopping())
                    return S_OK;
                m_client.QueueLines(lines);
                m_client.Notify(ReaderNotice::Input, 0);
                if (Stopping())
                    return S_OK;
            }
        }
    } catch (...) {
        return ResultFromCaughtException();
    }
}
