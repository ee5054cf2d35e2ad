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

#include <memory>

#include "gps/ComSupport.h"
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
    void Notify(ReaderNotice notice, LONG argument) override;

    // Events, on the window's thread or the worker.
    void HandleNotice(ReaderNotice notice, LONG argument) noexcept;
    void DeliverLines();

    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    CriticalSection m_dataLock;
    bool m_portsFilled = false;
    PortTable m_ports;
    PortRecord m_port;
    LONG m_timeout = 5000;

    CriticalSection m_connectionLock;
    std::shared_ptr<ReaderThread> m_worker;

    CriticalSection m_lineQueueLock;
    std::vector<std::string> m_lineQueue;

    UniqueWindow m_window;
};
