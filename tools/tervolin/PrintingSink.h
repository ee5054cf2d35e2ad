// The event sink of the host's nmea command: prints each event it knows of
// one automation object as a JSON line into an output buffer.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <span>
#include <string>

#include "JsonEventWriter.h"
#include "base/Exception.h"
#include "base/Handle.h"
#include "gps/Tervolin_h.h"

// Sees every event of a sink before it is printed.
using EventObserver = std::function<void(DISPID id, const DISPPARAMS& parameters)>;

// An event sink that prints each event it knows as one JSON line into the
// output buffer. Lives on the stack of the command; COM references are
// only counted.
class PrintingSink final : public IDispatch
{
public:
    // Events without a format are not printed (but still observed).
    PrintingSink(REFIID events, std::span<const EventFormat> formats, std::string& output,
                 EventObserver observer = nullptr)
        : m_events(events), m_formats(formats), m_output(output), m_observer(std::move(observer))
    {
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == m_events) {
            *result = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
    STDMETHODIMP_(ULONG) Release() override { return --m_references; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (m_observer)
            m_observer(id, *parameters);
        for (const auto& format : m_formats)
            if (format.id == id)
                AppendJsonEvent(m_output, format, *parameters);
        return S_OK;
    }

    // Connects to the object's connection point for the sink's events.
    void Advise(IUnknown* object)
    {
        ComPtr<IConnectionPointContainer> container = ComPtr<IUnknown>(object).As<IConnectionPointContainer>();
        ThrowIfFailed(container->FindConnectionPoint(m_events, m_point.Put()));
        ThrowIfFailed(m_point->Advise(static_cast<IDispatch*>(this), &m_cookie));
    }

    ~PrintingSink()
    {
        if (m_point)
            m_point->Unadvise(m_cookie);
    }

private:
    const IID& m_events;
    std::span<const EventFormat> m_formats;
    std::string& m_output;
    EventObserver m_observer;
    ULONG m_references = 1;
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
};
