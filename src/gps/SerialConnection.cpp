#include "gps/SerialConnection.h"

#include <objbase.h>

#include "base/ModuleState.h"
#include "base/Text.h"
#include "gps/AutomationClasses.h"

namespace {

const wchar_t c_windowClassName[] = L"TervolinSerialConnectionWindow";
// Room for minutes of a fast receiver whose client is busy.
constexpr size_t c_maximumQueuedBytes = 16 * 1024 * 1024;
constexpr size_t c_maximumPendingNotices = 64;
UINT g_privateMessage = 0; // "WM_PRIVATE", registered at class initialisation

const DispatchName c_connectionNames[] = {
    {L"AssumedPort", 1}, {L"psPort", 0},     {L"get_AssumedPort", 1}, {L"Port", 2},
    {L"get_Port", 2},    {L"put_Port", 2},   {L"Connect", 3},         {L"Disconnect", 4},
    {L"Timeout", 5},     {L"pnTimeout", 0},  {L"get_Timeout", 5},     {L"put_Timeout", 5},
};

enum ConnectionEvent : DISPID
{
    ErrorId = 1,
    InputId = 2,
    TimeoutId = 3,
};

// True when the calling thread is (or may become) a single-threaded
// apartment; false in the multithreaded apartment.
bool InSingleThreadedApartment() noexcept
{
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
        return false;
    CoUninitialize();
    return true;
}

void ReturnString(const std::wstring& text, BSTR* result)
{
    *result = AllocateString(text);
}

} // namespace

CSerialConnection::CSerialConnection(IUnknown* outer)
    : CDualObject(outer, __uuidof(CSerialConnection), __uuidof(_SerialConnectionEvents), c_connectionNames),
      m_lineQueue(c_maximumQueuedBytes)
{
    if (InSingleThreadedApartment()) {
        m_notices.reserve(c_maximumPendingNotices);
        m_window.Reset(CreateWindowExW(0, c_windowClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       ModuleInstance(), this));
        if (!m_window)
            ThrowLastError();
    }
}

CSerialConnection::~CSerialConnection()
{
    StopWorker();
    m_window.Reset(); // notices still queued for it go with it
}

void CSerialConnection::ClassInit(bool starting) noexcept
{
    if (!starting) {
        UnregisterClassW(c_windowClassName, ModuleInstance());
        return;
    }
    g_privateMessage = RegisterWindowMessageW(L"WM_PRIVATE");
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = ModuleInstance();
    windowClass.lpszClassName = c_windowClassName;
    RegisterClassExW(&windowClass);
}

// ---- IDispatch

STDMETHODIMP CSerialConnection::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                       EXCEPINFO* exception, UINT* argumentError)
{
    if (const HRESULT hr = BeginInvoke(parameters, result); FAILED(hr))
        return hr;
    // Argument checks raise their DISP_E_ result, which is no member failure.
    return ResultOfCall([&]() -> HRESULT {
        return MemberResult(InvokeMember(id, flags, *parameters, result, argumentError), exception);
    });
}

// Raises for dispatch errors (argument count and type, unknown member);
// returns the called member's result.
HRESULT CSerialConnection::InvokeMember(DISPID id, WORD flags, const DISPPARAMS& parameters, VARIANT* result,
                                        UINT* argumentError)
{
    const bool get = (flags & DISPATCH_PROPERTYGET) != 0;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    VARIANT ignored;
    VariantInit(&ignored);
    VARIANT& target = result ? *result : ignored;
    ScopeExit clearIgnored([&] { VariantClear(&ignored); });
    switch (id) {
    case 1:
        RequireNoArguments(parameters);
        target.vt = VT_BSTR;
        return get_AssumedPort(&target.bstrVal);
    case 2:
        if (get) {
            RequireNoArguments(parameters);
            target.vt = VT_BSTR;
            return get_Port(&target.bstrVal);
        }
        if (put) {
            CInvokeArgument port(parameters, VT_BSTR, argumentError);
            return put_Port(port.Value().bstrVal);
        }
        ThrowHr(DISP_E_MEMBERNOTFOUND);
    case 3:
        RequireNoArguments(parameters);
        return Connect();
    case 4:
        RequireNoArguments(parameters);
        return Disconnect();
    case 5:
        if (get) {
            RequireNoArguments(parameters);
            target.vt = VT_I4;
            return get_Timeout(&target.lVal);
        }
        if (put) {
            CInvokeArgument timeout(parameters, VT_I4, argumentError);
            return put_Timeout(timeout.Value().lVal);
        }
        ThrowHr(DISP_E_MEMBERNOTFOUND);
    default:
        ThrowHr(DISP_E_MEMBERNOTFOUND);
    }
}

// ---- ISerialConnection

STDMETHODIMP CSerialConnection::get_AssumedPort(BSTR* port)
{
    if (!port)
        return E_POINTER;
    *port = nullptr;
    return ResultOfCall([&]() -> HRESULT {
        CriticalSectionLock lock(m_dataLock);
        if (!m_portsFilled) {
            m_ports = EnumerateSerialPorts();
            m_portsFilled = true;
        }
        ReturnString(FindAssumedPort(m_ports), port);
        return S_OK;
    });
}

STDMETHODIMP CSerialConnection::get_Port(BSTR* port)
{
    if (!port)
        return E_POINTER;
    *port = nullptr;
    return ResultOfCall([&]() -> HRESULT {
        CriticalSectionLock lock(m_dataLock);
        ReturnString(m_port.portName, port);
        return S_OK;
    });
}

// A port name ("COM3", "\\.\COM3", kept as "COM3") or an empty text for
// no port; any other text, such as a file path, is refused with
// E_INVALIDARG, so that Connect never opens a file.
STDMETHODIMP CSerialConnection::put_Port(BSTR port)
{
    return ResultOfCall([&]() -> HRESULT {
        const std::wstring_view text(port ? port : L"", SysStringLen(port));
        const auto portName = text.empty() ? std::optional<std::wstring>(L"") : SerialPortName(text);
        if (!portName)
            return E_INVALIDARG;
        const std::wstring& name = *portName;
        CriticalSectionLock connectionLock(m_connectionLock);
        if (m_worker)
            return MakeOwnFailure(SerialFailure::PortWhileConnected);
        CriticalSectionLock dataLock(m_dataLock);
        if (EqualsIgnoreCase(name, m_port.portName))
            return S_OK;
        const auto known = m_ports.find(name);
        m_port = known != m_ports.end() ? known->second : PortRecord{name, {}};
        return S_OK;
    });
}

STDMETHODIMP CSerialConnection::Connect()
{
    return ResultOfCall([&]() -> HRESULT {
        CriticalSectionLock lock(m_connectionLock);
        if (!m_worker)
            m_worker = ReaderThread::Start(*this, std::move(m_stoppedWorker));
        return S_OK;
    });
}

STDMETHODIMP CSerialConnection::Disconnect()
{
    StopWorker();
    return S_OK;
}

// The workers are taken out under the connection lock and stopped outside
// it, so that a client called on the worker thread may use the object. A
// worker stopped from its own thread goes on until the event returns; it
// is kept for the next Connect.
void CSerialConnection::StopWorker() noexcept
{
    std::shared_ptr<ReaderThread> workers[2];
    {
        CriticalSectionLock lock(m_connectionLock);
        workers[0] = std::move(m_stoppedWorker);
        workers[1] = std::move(m_worker);
    }
    std::shared_ptr<ReaderThread> stillRunning;
    for (auto& worker : workers)
        if (worker && !worker->Stop())
            stillRunning = std::move(worker);
    if (stillRunning) {
        CriticalSectionLock lock(m_connectionLock);
        m_stoppedWorker = std::move(stillRunning);
    }
}

STDMETHODIMP CSerialConnection::get_Timeout(LONG* timeout)
{
    if (!timeout)
        return E_POINTER;
    CriticalSectionLock lock(m_dataLock);
    *timeout = m_timeout;
    return S_OK;
}

STDMETHODIMP CSerialConnection::put_Timeout(LONG timeout)
{
    CriticalSectionLock lock(m_dataLock);
    m_timeout = timeout;
    return S_OK;
}

// ---- Worker side

std::wstring CSerialConnection::PortToOpen()
{
    CriticalSectionLock lock(m_dataLock);
    return m_port.portName;
}

LONG CSerialConnection::SilenceInterval()
{
    CriticalSectionLock lock(m_dataLock);
    return m_timeout;
}

void CSerialConnection::QueueLines(std::vector<std::string>& lines)
{
    CriticalSectionLock lock(m_lineQueueLock);
    m_lineQueue.Append(lines);
}

// Without a window the event is fired here, on the worker thread. With
// one, the notice joins the pending ones (consecutive Input notices are
// one) and a message is posted unless one is already on its way.
void CSerialConnection::Notify(ReaderNotice notice, LONG argument) noexcept
{
    if (!m_window) {
        HandleNotice(notice, argument);
        return;
    }
    CriticalSectionLock lock(m_lineQueueLock);
    const bool joinsLast =
        notice == ReaderNotice::Input && !m_notices.empty() && m_notices.back().notice == ReaderNotice::Input;
    if (!joinsLast && m_notices.size() < m_notices.capacity())
        m_notices.push_back({notice, argument});
    if (m_noticePosted || m_notices.empty())
        return;
    const Notice& first = m_notices.front();
    m_noticePosted = PostMessageW(m_window.Get(), g_privateMessage, static_cast<WPARAM>(first.notice),
                                  static_cast<LPARAM>(first.argument)) != FALSE;
}

// The last thing each branch does is firing: a client may release the
// object inside the event.
void CSerialConnection::HandleNotice(ReaderNotice notice, LONG argument) noexcept
{
    const HRESULT hr = ResultOfCall([&] {
        switch (notice) {
        case ReaderNotice::Error:
            CEventArguments().Long(argument).Fire(EventPoint().Sinks(), ErrorId);
            break;
        case ReaderNotice::Input:
            DeliverLines();
            break;
        case ReaderNotice::Timeout:
            CEventArguments().Long(argument).Fire(EventPoint().Sinks(), TimeoutId);
            break;
        }
    });
    if (FAILED(hr) && notice == ReaderNotice::Input)
        HandleNotice(ReaderNotice::Error, hr);
}

// On the window's thread: every notice pending now, in order; lines left
// behind by a notice that found no room go last. The object keeps itself
// alive until the end, as a client may release it inside an event.
void CSerialConnection::HandlePendingNotices() noexcept
{
    const ComPtr<IUnknown> self(ControllingUnknown());
    std::vector<Notice> notices;
    bool linesLeft = false;
    {
        CriticalSectionLock lock(m_lineQueueLock);
        notices.swap(m_notices);
        m_noticePosted = false;
        try {
            m_notices.reserve(c_maximumPendingNotices);
        } catch (...) {
            // Notices find no room until the next handling.
        }
    }
    for (const Notice& notice : notices)
        HandleNotice(notice.notice, notice.argument);
    {
        CriticalSectionLock lock(m_lineQueueLock);
        linesLeft = !m_lineQueue.Empty() && m_notices.empty();
    }
    if (linesLeft)
        HandleNotice(ReaderNotice::Input, 0);
}

// Lines dropped from a full queue are reported first, so the client knows
// that the batch does not follow the last one.
void CSerialConnection::DeliverLines()
{
    std::deque<std::string> lines;
    bool dropped = false;
    {
        CriticalSectionLock lock(m_lineQueueLock);
        dropped = m_lineQueue.Take(lines);
    }
    if (dropped)
        CEventArguments().Long(MakeOwnFailure(SerialFailure::LinesDropped)).Fire(EventPoint().Sinks(), ErrorId);
    if (lines.empty())
        return; // an earlier delivery took them
    CVariantArray array(static_cast<ULONG>(lines.size()));
    for (ULONG i = 0; i < lines.size(); ++i) {
        array[i].bstrVal = AllocateString(AnsiToWide(lines[i]));
        array[i].vt = VT_BSTR;
    }
    lines.clear();
    CEventArguments arguments;
    arguments.Array(array).Fire(EventPoint().Sinks(), InputId);
}

LRESULT CALLBACK CSerialConnection::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* connection = reinterpret_cast<CSerialConnection*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (connection && g_privateMessage != 0 && message == g_privateMessage)
        return SendMessageW(window, static_cast<UINT>(wParam), static_cast<WPARAM>(lParam), 0);
    switch (message) {
    case static_cast<UINT>(ReaderNotice::Error):
    case static_cast<UINT>(ReaderNotice::Input):
    case static_cast<UINT>(ReaderNotice::Timeout):
        // The message names the first pending notice; all of them are handled.
        if (connection)
            connection->HandlePendingNotices();
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HRESULT CreateSerialConnection(IUnknown* outer, REFIID iid, void** result) noexcept
{
    return CreateAggregatableObject<CSerialConnection>(outer, iid, result);
}

void SerialConnectionClassInit(bool starting) noexcept
{
    CSerialConnection::ClassInit(starting);
}
