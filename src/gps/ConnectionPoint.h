// A connection point for one source dispinterface, living inside the
// automation object that is its container.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <memory>
#include <vector>

#include "base/Handle.h"

// Connection point results (olectl.h; not in the cross compiler's headers).
#ifndef CONNECT_E_NOCONNECTION
constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = static_cast<HRESULT>(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = static_cast<HRESULT>(0x80040202);
#endif

// A connection point for one source dispinterface. Sinks are kept as
// IDispatch references; a cookie is the 1-based slot of its sink. The
// point lives inside its container and shares its reference count.
class CConnectionPoint final : public IConnectionPoint
{
public:
    CConnectionPoint(IConnectionPointContainer& container, REFIID events) noexcept
        : m_container(container), m_events(events)
    {
    }

    // The sinks connected now: a list that Advise and Unadvise replace and
    // never change, so that events are fired without holding the lock.
    using SinkList = std::shared_ptr<const std::vector<ComPtr<IDispatch>>>;
    SinkList Sinks();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override { return m_container.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_container.Release(); }

    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    // Enumerates the sinks connected now with their cookies; later advises
    // and unadvises do not change an enumerator already made.
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

private:
    IConnectionPointContainer& m_container;
    const IID& m_events;
    // A new list of the connected sinks for Sinks(); the old one is handed
    // back to be released outside the lock.
    HRESULT RenewSinkList(SinkList& old) noexcept;

    CriticalSection m_lock;
    std::vector<ComPtr<IDispatch>> m_sinks; // empty entries are free slots
    SinkList m_sinkList;
};
