// Helpers for tests that use Tervolin.dll as a COM client would: the DLL
// loaded from TERVOLIN_BIN, objects made by its class objects, and a sink
// that records every Invoke of an event interface.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/Handle.h"
#include "gps/Tervolin_h.h"

// Tervolin.dll, loaded for the life of the object.
class TervolinDll
{
public:
    TervolinDll();

    HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** result) const;
    HRESULT CanUnloadNow() const;
    HRESULT RegisterServer() const;
    HRESULT UnregisterServer() const;
    HRESULT Install(bool install, const wchar_t* commandLine) const;
    const std::wstring& Path() const { return m_path; }

    // A new object of the class, through its class object.
    template <typename T>
    ComPtr<T> Create(REFCLSID classId) const
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, GetClassObject(classId, IID_IClassFactory, factory.PutVoid()));
        ComPtr<T> object;
        if (factory) {
            EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, __uuidof(T), object.PutVoid()));
        }
        return object;
    }

private:
    // Calls the export with the arguments; E_FAIL when the DLL or the
    // export is missing (the constructor has reported that already).
    template <typename... Arguments>
    HRESULT CallExport(const char* name, Arguments... arguments) const
    {
        using Function = HRESULT(WINAPI*)(Arguments...);
        const auto function =
            m_module ? reinterpret_cast<Function>(GetProcAddress(m_module.Get(), name)) : Function{};
        return function ? function(arguments...) : E_FAIL;
    }

    std::wstring m_path;
    UniqueHModule m_module;
};

// An event sink for one dispinterface that lives on the test's stack (its
// references are not counted) and hands every Invoke to a function; it
// advises itself to an object and unadvises when it ends.
class CallbackSink final : public IDispatch
{
public:
    using OnEvent = std::function<void(DISPID id, DISPPARAMS& parameters)>;

    CallbackSink(REFIID events, OnEvent onEvent) : m_events(events), m_onEvent(std::move(onEvent)) {}
    ~CallbackSink() { Unadvise(); }
    CallbackSink(const CallbackSink&) = delete;
    CallbackSink& operator=(const CallbackSink&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override
    {
        const bool known = iid == IID_IUnknown || iid == IID_IDispatch || iid == m_events;
        *result = known ? static_cast<IDispatch*>(this) : nullptr;
        return known ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*, UINT*) override
    {
        m_onEvent(id, *parameters);
        return S_OK;
    }

    // Connects to the object's connection point for the events.
    void Advise(IUnknown* object)
    {
        ComPtr<IConnectionPointContainer> container = ComPtr<IUnknown>(object).As<IConnectionPointContainer>();
        ThrowIfFailed(container->FindConnectionPoint(m_events, m_point.Put()));
        ThrowIfFailed(m_point->Advise(this, &m_cookie));
    }
    // Disconnects (also from inside an event).
    void Unadvise()
    {
        if (ComPtr<IConnectionPoint> point = std::move(m_point))
            point->Unadvise(m_cookie);
    }

private:
    const IID& m_events;
    OnEvent m_onEvent;
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
};

// One recorded Invoke: the DISPID, the thread and copies of the arguments
// in parameter order.
struct RecordedCall
{
    DISPID id;
    DWORD threadId;
    std::vector<VARIANT> arguments;
};

// An event sink for one dispinterface. Every call is recorded under a lock,
// so events may arrive on any thread.
class RecordingSink final : public IDispatch
{
public:
    explicit RecordingSink(REFIID events) : m_events(events) {}
    ~RecordingSink();

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_references); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_references); }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*, UINT*) override;

    std::vector<RecordedCall> Calls();
    size_t CallCount();
    // Pumps messages until at least count calls arrived or the time is up.
    bool WaitForCalls(size_t count, DWORD milliseconds);
    LONG References() const { return m_references; }

    // Connects to / disconnects from the object's connection point.
    void Advise(IUnknown* object);
    void Unadvise();

private:
    const IID& m_events;
    LONG m_references = 0;
    CriticalSection m_lock;
    std::vector<RecordedCall> m_calls;
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
};

// A VT_ARRAY|VT_VARIANT of BSTR lines, as the connection's Input event sends.
class LineBatch
{
public:
    explicit LineBatch(const std::vector<std::wstring>& lines);
    ~LineBatch() { VariantClear(&m_value); }
    VARIANT& Value() { return m_value; }

private:
    VARIANT m_value;
};

// The elements of a one-dimensional VARIANT array.
std::vector<VARIANT> ArrayElements(const VARIANT& array);

// Runs a function on a new thread in the multithreaded apartment.
void RunInMultithreadedApartment(const std::function<void()>& function);
