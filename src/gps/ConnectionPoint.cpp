#include "gps/ConnectionPoint.h"

#include <new>
#include <utility>

#include "gps/SnapshotEnumerator.h"

namespace {

// The sinks of a connection point with their cookies.
struct ConnectionTraits
{
    using Interface = IEnumConnections;
    using Element = CONNECTDATA;
    struct Item
    {
        ComPtr<IUnknown> sink;
        DWORD cookie;
    };

    static Element Copy(const Item& connection) noexcept
    {
        connection.sink->AddRef();
        return {connection.sink.Get(), connection.cookie};
    }
};

} // namespace

CConnectionPoint::SinkList CConnectionPoint::Sinks()
{
    CriticalSectionLock lock(m_lock);
    return m_sinkList;
}

HRESULT CConnectionPoint::RenewSinkList(SinkList& old) noexcept
{
    return ResultOfCall([&] {
        auto sinks = std::make_shared<std::vector<ComPtr<IDispatch>>>();
        sinks->reserve(m_sinks.size());
        for (const auto& sink : m_sinks)
            if (sink)
                sinks->push_back(sink);
        old = std::exchange(m_sinkList, std::move(sinks));
    });
}

STDMETHODIMP CConnectionPoint::QueryInterface(REFIID iid, void** result)
{
    if (!result)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
        *result = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CConnectionPoint::GetConnectionInterface(IID* iid)
{
    if (!iid)
        return E_POINTER;
    *iid = m_events;
    return S_OK;
}

STDMETHODIMP CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!container)
        return E_POINTER;
    *container = &m_container;
    m_container.AddRef();
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!cookie)
        return E_POINTER;
    *cookie = 0;
    if (!sink)
        return E_POINTER;
    ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(m_events, events.PutVoid())) || !events)
        return CONNECT_E_CANNOTCONNECT;
    SinkList oldList; // released after the lock is left
    try {
        CriticalSectionLock lock(m_lock);
        size_t slot = 0;
        while (slot < m_sinks.size() && m_sinks[slot])
            ++slot;
        if (slot == m_sinks.size())
            m_sinks.emplace_back();
        m_sinks[slot] = std::move(events);
        if (FAILED(RenewSinkList(oldList))) {
            m_sinks[slot].Reset();
            return CONNECT_E_ADVISELIMIT;
        }
        *cookie = static_cast<DWORD>(slot + 1);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return CONNECT_E_ADVISELIMIT;
    }
}

STDMETHODIMP CConnectionPoint::Unadvise(DWORD cookie)
{
    ComPtr<IDispatch> released; // both released after the lock is left
    SinkList oldList;
    CriticalSectionLock lock(m_lock);
    if (cookie == 0 || cookie > m_sinks.size() || !m_sinks[cookie - 1])
        return CONNECT_E_NOCONNECTION;
    released = std::move(m_sinks[cookie - 1]);
    if (const HRESULT hr = RenewSinkList(oldList); FAILED(hr)) {
        m_sinks[cookie - 1] = std::move(released);
        return hr;
    }
    return S_OK;
}

STDMETHODIMP CConnectionPoint::EnumConnections(IEnumConnections** connections)
{
    if (!connections)
        return E_POINTER;
    *connections = nullptr;
    return ResultOfCall([&]() -> HRESULT {
        // The sinks are copied under the lock; the enumerator is made (or
        // the copy released after a failure) outside it.
        std::vector<ConnectionTraits::Item> snapshot;
        {
            CriticalSectionLock lock(m_lock);
            for (size_t slot = 0; slot < m_sinks.size(); ++slot)
                if (m_sinks[slot])
                    snapshot.push_back({m_sinks[slot].Get(), static_cast<DWORD>(slot + 1)});
        }
        return CSnapshotEnumerator<ConnectionTraits>::Create(std::move(snapshot), connections);
    });
}
