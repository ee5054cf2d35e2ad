// The SerialConnection automation object: reads text lines from a serial
// port on a worker thread (ReaderThread) and fires them as
// _SerialConnectionEvents (Input, Error, Timeout).
//
// Created in a single-threaded apartment, the object owns a message-only
// window: the worker posts its notices there as the registered message
// "WM_PRIVATE" and the events are fired on the creating thread. Created in
// the multithreaded apartment, it has no window and the worker fires the
// events itself. No lock is held while an event is fired.
#pragma once

#include <deque>
#include <memory>

#include "gps/ComSupport.h"
#include "gps/LineQueue.h"
#include "gps/SerialReader.h"
#include "gps/Tervolin_h.h"

class CSerialConnection final : public CDualObject<ISerialConnection>, private ReaderClient
{
public:
    explicit CSerialConnection(IUnknown* outer);

    // Registers (true) or unregisters (false) the class of the message window.
    static void ClassInit(bool starting) noexcept;

    // IDispatch
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // ISerialConnection
    STDMETHODIMP get_AssumedPort(BSTR* port) override;
    STDMETHODIMP get_Port(BSTR* port) override;
    STDMETHODIMP put_Port(BSTR port) override;
    STDMETHODIMP Connect() override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP get_Timeout(LONG* timeout) override;
    STDMETHODIMP put_Timeout(LONG timeout) override;

private:
    ~CSerialConnection() override;

    HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS& parameters, VARIANT* result, UINT* argumentError);
    void StopWorker() noexcept;

    // ReaderClient (worker thread)
    std::wstring PortToOpen() override;
    LONG SilenceInterval() override;
    void QueueLines(std::vector<std::string>& lines) override;
    void Notify(ReaderNotice notice, LONG argument) noexcept override;

    // Events, on the window's thread or the worker.
    void HandleNotice(ReaderNotice notice, LONG argument) noexcept;
    void HandlePendingNotices() noexcept;
    void DeliverLines();

    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    CriticalSection m_dataLock;
    bool m_portsFilled = false;
    PortTable m_ports;
    PortRecord m_port;
    LONG m_timeout = 5000;

    CriticalSection m_connectionLock;
    std::shared_ptr<ReaderThread> m_worker;
    // A worker stopped on its own thread, which may still hold the port:
    // the next worker waits for it to end.
    std::shared_ptr<ReaderThread> m_stoppedWorker;

    // With a window, the worker's notices wait here for it in order, and
    // one "WM_PRIVATE" at a time is posted for them: a failed post is
    // retried by the next notice. The line queue is bounded; the oldest
    // lines give way and an Error event says so.
    struct Notice
    {
        ReaderNotice notice;
        LONG argument;
    };
    CriticalSection m_lineQueueLock;
    CLineQueue m_lineQueue;
    std::vector<Notice> m_notices; // never grows beyond its reserved capacity
    bool m_noticePosted = false;

    UniqueWindow m_window;
};
