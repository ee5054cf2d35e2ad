// COM plumbing shared by the automation objects: reference counting with
// aggregation, the interfaces every object offers (connection point
// container, class information, error information support, site), one
// connection point per object, the late-bound dispatch helpers and the
// firing of events through IDispatch::Invoke.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <array>
#include <atomic>
#include <memory>
#include <span>
#include <vector>

#include "base/Handle.h"

// Connection point results (olectl.h; not in the cross compiler's headers).
#ifndef CONNECT_E_NOCONNECTION
constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = static_cast<HRESULT>(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = static_cast<HRESULT>(0x80040202);
#endif

// Creates an object of class T (constructed with its outer unknown) and
// hands out the requested interface, or the inner unknown when aggregated.
// An outer unknown may only ask for IUnknown (CLASS_E_NOAGGREGATION).
template <typename T>
HRESULT CreateAggregatableObject(IUnknown* outer, REFIID iid, void** result) noexcept
{
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (outer && iid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    try {
        T* object = new T(outer);
        IUnknown* inner = object->InnerUnknown();
        inner->AddRef();
        const HRESULT hr = inner->QueryInterface(iid, result);
        inner->Release();
        return hr;
    } catch (...) {
        return ResultFromCaughtException();
    }
}

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

// Base of the automation objects: reference count, aggregation, module
// lock, and the interfaces both classes offer in the same way. The derived
// class implements IUnknown of its interfaces by delegating to
// ControllingUnknown() and answers its own interfaces in FindInterface
// before asking this base.
class CAutomationObject : public IConnectionPointContainer,
                          public ISupportErrorInfo,
                          public IProvideClassInfo2,
                          public IObjectWithSite
{
public:
    CAutomationObject(const CAutomationObject&) = delete;
    CAutomationObject& operator=(const CAutomationObject&) = delete;

    IUnknown* InnerUnknown() noexcept { return &m_inner; }
    IUnknown* ControllingUnknown() const noexcept { return m_controlling; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override
    {
        return m_controlling->QueryInterface(iid, result);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_controlling->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_controlling->Release(); }

    // IConnectionPointContainer (the one point of the object)
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID iid, void** site) override;

protected:
    // classId: the coclass; mainInterface: the one with error information;
    // events: the source dispinterface of the object's connection point.
    CAutomationObject(IUnknown* outer, REFCLSID classId, REFIID mainInterface, REFIID events) noexcept;
    virtual ~CAutomationObject();

    // The interface of this object for iid (not yet referenced), or null.
    virtual void* FindInterface(REFIID iid) noexcept;

    CConnectionPoint& EventPoint() noexcept { return m_eventPoint; }

private:
    class CInnerUnknown final : public IUnknown
    {
    public:
        explicit CInnerUnknown(CAutomationObject& owner) noexcept : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        CAutomationObject& m_owner;
    };

    CInnerUnknown m_inner;
    IUnknown* m_controlling;
    LONG m_references = 0;
    const CLSID& m_classId;
    const IID& m_mainInterface;
    CConnectionPoint m_eventPoint;
    CriticalSection m_siteLock;
    ComPtr<IUnknown> m_site;
};

// A name of the late-bound interface and its DISPID.
struct DispatchName
{
    const wchar_t* name;
    DISPID id;
};

// GetIDsOfNames from a fixed table, ignoring letter case; an unknown name
// gets DISPID_UNKNOWN and the call DISP_E_UNKNOWNNAME.
HRESULT IdsOfNamesFromTable(std::span<const DispatchName> table, LPOLESTR* names, UINT count,
                            DISPID* ids) noexcept;

// The module's type library, loaded again from the module file on each call.
ComPtr<ITypeLib> LoadModuleTypeLibrary();

// GetTypeInfoCount and GetTypeInfo of a dual interface.
HRESULT TypeInfoCount(UINT* count) noexcept;
HRESULT TypeInfoOf(REFGUID guid, UINT index, ITypeInfo** info) noexcept;

// The checks Invoke makes before looking at the DISPID: DISPPARAMS present,
// at most one argument; the result VARIANT is initialised.
HRESULT BeginInvoke(const DISPPARAMS* parameters, VARIANT* result) noexcept;

// The only argument of an Invoke, changed to type (default conversion
// flags). Raises DISP_E_BADPARAMCOUNT when there is not exactly one
// argument and DISP_E_TYPEMISMATCH (argument index 0) when it cannot be
// changed.
class CInvokeArgument
{
public:
    CInvokeArgument(const DISPPARAMS& parameters, VARTYPE type, UINT* argumentError);
    ~CInvokeArgument() { VariantClear(&m_value); }
    CInvokeArgument(const CInvokeArgument&) = delete;
    CInvokeArgument& operator=(const CInvokeArgument&) = delete;

    const VARIANT& Value() const noexcept { return m_value; }

private:
    VARIANT m_value;
};

// Raises DISP_E_BADPARAMCOUNT unless the call has no arguments.
void RequireNoArguments(const DISPPARAMS& parameters);

// The result of a member called through Invoke: on failure fills the
// EXCEPINFO (scode and the thread's error information) and returns the
// member's own HRESULT.
HRESULT MemberResult(HRESULT hr, EXCEPINFO* exception) noexcept;

class CVariantArray;
class CVariantArrayPool;

// Event arguments in parameter order; each VARIANT is cleared with the list.
// They are kept in the object itself: building an event allocates nothing.
// Arrays go back to the pool, when one is given, instead of being
// destroyed.
class CEventArguments
{
public:
    CEventArguments() = default;
    explicit CEventArguments(CVariantArrayPool* pool) noexcept : m_pool(pool) {}
    ~CEventArguments();
    CEventArguments(const CEventArguments&) = delete;
    CEventArguments& operator=(const CEventArguments&) = delete;

    CEventArguments& Long(LONG value);
    CEventArguments& Double(double value);
    CEventArguments& Date(double value);
    CEventArguments& Bool(bool value);
    CEventArguments& String(const std::wstring& value);
    // Takes over the VARIANT (the caller's copy is emptied).
    CEventArguments& Variant(VARIANT& value);
    // Takes over the array (which becomes empty) as a VT_ARRAY|VT_VARIANT.
    CEventArguments& Array(CVariantArray& array);

    // Calls Invoke(id) on every sink with the arguments in reverse order.
    // A failing sink leaves its exception as the thread's error
    // information; the result is the last failure, S_OK when none.
    HRESULT Fire(const CConnectionPoint::SinkList& sinks, DISPID id);

private:
    static constexpr size_t c_maximumArguments = 8;

    // The next argument, initialised to the type; the caller sets its value.
    VARIANT& Add(VARTYPE type);

    std::array<VARIANT, c_maximumArguments> m_values;
    size_t m_count = 0;
    CVariantArrayPool* m_pool = nullptr;
};

// One-dimensional SAFEARRAYs of VARIANTs kept for reuse. The arguments of
// an event belong to the code that fires it, and sinks may not keep them,
// so once every sink has returned, its arrays can carry the next event
// instead of being destroyed and created again: an interpreter with a pool
// fires satellite lists without heap operations. Arrays of up to
// c_largestCount elements are kept, at most c_keptPerCount of each size;
// an array a sink has left locked or reshaped is destroyed instead.
//
// One event at a time uses the pool, through a Use: building and firing
// an event then takes no lock. An event built meanwhile on another thread,
// or by a sink that calls back into the object, gets no pool and creates
// and destroys its arrays as usual.
class CVariantArrayPool
{
public:
    static constexpr ULONG c_largestCount = 32;
    static constexpr size_t c_keptPerCount = 64;

    class Use
    {
    public:
        explicit Use(CVariantArrayPool& pool) noexcept
            : m_pool(pool.m_busy.exchange(true, std::memory_order_acquire) ? nullptr : &pool)
        {
        }
        ~Use()
        {
            if (m_pool)
                m_pool->m_busy.store(false, std::memory_order_release);
        }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

        // The pool, or nullptr when it is in use elsewhere.
        CVariantArrayPool* Get() const noexcept { return m_pool; }

    private:
        CVariantArrayPool* m_pool;
    };

    CVariantArrayPool() = default;
    ~CVariantArrayPool();
    CVariantArrayPool(const CVariantArrayPool&) = delete;
    CVariantArrayPool& operator=(const CVariantArrayPool&) = delete;

    // An array of count VT_EMPTY elements with lower bound 0; nullptr when
    // memory runs out. Only through a Use.
    SAFEARRAY* Take(ULONG count) noexcept;
    // Takes the array back: its elements are cleared (arrays among them
    // return to the pool too) and it is kept or destroyed. Only through a
    // Use.
    void Return(SAFEARRAY* array) noexcept;

private:
    static bool IsReusable(const SAFEARRAY* array) noexcept;

    std::atomic<bool> m_busy{false};
    std::array<std::vector<SAFEARRAY*>, c_largestCount + 1> m_free;
};

// A SAFEARRAY of VARIANTs with lower bound 0, wrapped in a VARIANT of type
// VT_ARRAY|VT_VARIANT. Elements are set before the array is handed over.
// With a pool the array comes from it and goes back to it.
class CVariantArray
{
public:
    explicit CVariantArray(ULONG count, CVariantArrayPool* pool = nullptr);
    ~CVariantArray();
    CVariantArray(const CVariantArray&) = delete;
    CVariantArray& operator=(const CVariantArray&) = delete;

    VARIANT& operator[](ULONG index) noexcept { return m_elements[index]; }

    // Moves the array into a VARIANT; this object becomes empty.
    void Detach(VARIANT& target) noexcept;

private:
    SAFEARRAY* m_array;
    VARIANT* m_elements;
    CVariantArrayPool* m_pool;
};

// BSTR that raises E_OUTOFMEMORY when it cannot be allocated.
BSTR AllocateString(std::wstring_view text);

// An automation object whose main interface is the dual Interface: IUnknown
// goes to the controlling unknown, the type information comes from the
// module's type library, names are looked up in the class's table. The class
// itself implements Invoke and the members of Interface.
template <typename Interface>
class CDualObject : public CAutomationObject, public Interface
{
public:
    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override
    {
        return CAutomationObject::QueryInterface(iid, result);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return CAutomationObject::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CAutomationObject::Release(); }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return TypeInfoCount(count); }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        return TypeInfoOf(__uuidof(Interface), index, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        return IdsOfNamesFromTable(m_names, names, count, ids);
    }

protected:
    CDualObject(IUnknown* outer, REFCLSID classId, REFIID events, std::span<const DispatchName> names) noexcept
        : CAutomationObject(outer, classId, __uuidof(Interface), events), m_names(names)
    {
    }

    void* FindInterface(REFIID iid) noexcept override
    {
        if (iid == __uuidof(Interface) || iid == IID_IDispatch)
            return static_cast<Interface*>(this);
        return CAutomationObject::FindInterface(iid);
    }

private:
    std::span<const DispatchName> m_names;
};
