// COM plumbing shared by the automation objects: reference counting with
// aggregation, the interfaces every object offers (connection point
// container, class information, error information support, site), the
// late-bound dispatch helpers and the firing of events through
// IDispatch::Invoke. The connection point and the arrays of event
// arguments have units of their own.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <array>
#include <span>

#include "base/Handle.h"
#include "gps/ConnectionPoint.h"
#include "gps/VariantArray.h"

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
    return ResultOfCall([&]() -> HRESULT {
        T* object = new T(outer);
        IUnknown* inner = object->InnerUnknown();
        inner->AddRef();
        const HRESULT hr = inner->QueryInterface(iid, result);
        inner->Release();
        return hr;
    });
}

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
