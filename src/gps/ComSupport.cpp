#include "gps/ComSupport.h"

#include <algorithm>

#include "base/ModuleState.h"
#include "base/Text.h"
#include "gps/SnapshotEnumerator.h"

namespace {

// The connection points of a container, each keeping the container alive.
struct ConnectionPointTraits
{
    using Interface = IEnumConnectionPoints;
    using Element = IConnectionPoint*;
    using Item = ComPtr<IConnectionPoint>;

    static Element Copy(const Item& point) noexcept
    {
        point->AddRef();
        return point.Get();
    }
};

} // namespace

// ---- CAutomationObject

CAutomationObject::CAutomationObject(IUnknown* outer, REFCLSID classId, REFIID mainInterface, REFIID events) noexcept
    : m_inner(*this),
      m_controlling(outer ? outer : &m_inner),
      m_classId(classId),
      m_mainInterface(mainInterface),
      m_eventPoint(*this, events)
{
    ModuleLock();
}

CAutomationObject::~CAutomationObject()
{
    ModuleUnlock();
}

void* CAutomationObject::FindInterface(REFIID iid) noexcept
{
    if (iid == IID_IObjectWithSite)
        return static_cast<IObjectWithSite*>(this);
    if (iid == IID_IConnectionPointContainer)
        return static_cast<IConnectionPointContainer*>(this);
    if (iid == IID_ISupportErrorInfo)
        return static_cast<ISupportErrorInfo*>(this);
    if (iid == IID_IProvideClassInfo2 || iid == IID_IProvideClassInfo)
        return static_cast<IProvideClassInfo2*>(this);
    return nullptr;
}

STDMETHODIMP CAutomationObject::CInnerUnknown::QueryInterface(REFIID iid, void** result)
{
    if (!result)
        return E_POINTER;
    *result = iid == IID_IUnknown ? static_cast<IUnknown*>(this) : m_owner.FindInterface(iid);
    if (!*result)
        return E_NOINTERFACE;
    static_cast<IUnknown*>(*result)->AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CAutomationObject::CInnerUnknown::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_owner.m_references));
}

STDMETHODIMP_(ULONG) CAutomationObject::CInnerUnknown::Release()
{
    const LONG references = InterlockedDecrement(&m_owner.m_references);
    if (references == 0)
        delete &m_owner;
    return static_cast<ULONG>(references);
}

STDMETHODIMP CAutomationObject::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    if (!points)
        return E_POINTER;
    *points = nullptr;
    return ResultOfCall([&]() -> HRESULT {
        return CSnapshotEnumerator<ConnectionPointTraits>::Create({&m_eventPoint}, points);
    });
}

STDMETHODIMP CAutomationObject::FindConnectionPoint(REFIID iid, IConnectionPoint** point)
{
    if (!point)
        return E_POINTER;
    *point = nullptr;
    ComPtr<IConnectionPoint> events(&m_eventPoint);
    IID eventsIid;
    m_eventPoint.GetConnectionInterface(&eventsIid);
    if (iid != eventsIid)
        return CONNECT_E_NOCONNECTION;
    *point = events.Detach();
    return S_OK;
}

STDMETHODIMP CAutomationObject::InterfaceSupportsErrorInfo(REFIID iid)
{
    return iid == m_mainInterface ? S_OK : S_FALSE;
}

STDMETHODIMP CAutomationObject::GetClassInfo(ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return ResultOfCall([&]() -> HRESULT {
        return LoadModuleTypeLibrary()->GetTypeInfoOfGuid(m_classId, info);
    });
}

STDMETHODIMP CAutomationObject::GetGUID(DWORD kind, GUID* guid)
{
    if (!guid)
        return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    return m_eventPoint.GetConnectionInterface(guid);
}

STDMETHODIMP CAutomationObject::SetSite(IUnknown* site)
{
    ComPtr<IUnknown> previous(site);
    CriticalSectionLock lock(m_siteLock);
    std::swap(previous, m_site);
    return S_OK;
}

STDMETHODIMP CAutomationObject::GetSite(REFIID iid, void** site)
{
    if (!site)
        return E_POINTER;
    *site = nullptr;
    CriticalSectionLock lock(m_siteLock);
    return m_site ? m_site->QueryInterface(iid, site) : E_FAIL;
}

// ---- Dispatch helpers

HRESULT IdsOfNamesFromTable(std::span<const DispatchName> table, LPOLESTR* names, UINT count, DISPID* ids) noexcept
{
    if (count > 0 && (!names || !ids))
        return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (const auto& entry : table)
            if (names[i] && EqualsIgnoreCase(entry.name, names[i])) {
                ids[i] = entry.id;
                break;
            }
        if (ids[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

ComPtr<ITypeLib> LoadModuleTypeLibrary()
{
    ComPtr<ITypeLib> library;
    ThrowIfFailed(LoadTypeLibEx(ModuleFileName().c_str(), REGKIND_NONE, library.Put()));
    return library;
}

HRESULT TypeInfoCount(UINT* count) noexcept
{
    if (!count)
        return E_POINTER;
    try {
        LoadModuleTypeLibrary();
        *count = 1;
    } catch (...) {
        *count = 0;
    }
    return S_OK;
}

HRESULT TypeInfoOf(REFGUID guid, UINT index, ITypeInfo** info) noexcept
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    return ResultOfCall([&]() -> HRESULT {
        return LoadModuleTypeLibrary()->GetTypeInfoOfGuid(guid, info);
    });
}

HRESULT BeginInvoke(const DISPPARAMS* parameters, VARIANT* result) noexcept
{
    if (!parameters)
        return DISP_E_BADVARTYPE;
    if (parameters->cArgs > 1)
        return DISP_E_BADPARAMCOUNT;
    if (result)
        VariantInit(result);
    return S_OK;
}

CInvokeArgument::CInvokeArgument(const DISPPARAMS& parameters, VARTYPE type, UINT* argumentError)
{
    VariantInit(&m_value);
    if (parameters.cArgs != 1 || !parameters.rgvarg)
        ThrowHr(DISP_E_BADPARAMCOUNT);
    if (FAILED(VariantChangeType(&m_value, &parameters.rgvarg[0], 0, type))) {
        if (argumentError)
            *argumentError = 0;
        ThrowHr(DISP_E_TYPEMISMATCH);
    }
}

void RequireNoArguments(const DISPPARAMS& parameters)
{
    if (parameters.cArgs != 0)
        ThrowHr(DISP_E_BADPARAMCOUNT);
}

HRESULT MemberResult(HRESULT hr, EXCEPINFO* exception) noexcept
{
    if (SUCCEEDED(hr) || !exception)
        return hr;
    *exception = EXCEPINFO{};
    exception->scode = hr;
    ComPtr<IErrorInfo> error;
    if (GetErrorInfo(0, error.Put()) == S_OK && error) {
        error->GetSource(&exception->bstrSource);
        error->GetDescription(&exception->bstrDescription);
        error->GetHelpFile(&exception->bstrHelpFile);
        error->GetHelpContext(&exception->dwHelpContext);
    }
    return hr;
}

// ---- Events

// Numbers and flags own nothing: only strings and arrays need clearing.
CEventArguments::~CEventArguments()
{
    for (size_t i = 0; i < m_count; ++i) {
        VARIANT& value = m_values[i];
        if (m_pool && value.vt == (VT_ARRAY | VT_VARIANT))
            m_pool->Return(value.parray);
        else if (value.vt == VT_BSTR || (value.vt & VT_ARRAY) != 0)
            VariantClear(&value);
    }
}

VARIANT& CEventArguments::Add(VARTYPE type)
{
    if (m_count == c_maximumArguments)
        ThrowHr(DISP_E_BADPARAMCOUNT);
    VARIANT& value = m_values[m_count++];
    VariantInit(&value);
    value.vt = type;
    return value;
}

CEventArguments& CEventArguments::Long(LONG value)
{
    Add(VT_I4).lVal = value;
    return *this;
}

CEventArguments& CEventArguments::Double(double value)
{
    Add(VT_R8).dblVal = value;
    return *this;
}

CEventArguments& CEventArguments::Date(double value)
{
    Add(VT_DATE).date = value;
    return *this;
}

CEventArguments& CEventArguments::Bool(bool value)
{
    Add(VT_BOOL).boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return *this;
}

CEventArguments& CEventArguments::String(const std::wstring& value)
{
    BSTR text = AllocateString(value);
    ScopeExit freeText([text] { SysFreeString(text); });
    Add(VT_BSTR).bstrVal = text;
    freeText.Dismiss();
    return *this;
}

CEventArguments& CEventArguments::Variant(VARIANT& value)
{
    Add(VT_EMPTY) = value;
    VariantInit(&value);
    return *this;
}

// The slot first: the array must stay owned by someone if that fails.
CEventArguments& CEventArguments::Array(CVariantArray& array)
{
    array.Detach(Add(VT_EMPTY));
    return *this;
}

namespace {

// Leaves a sink's exception as the thread's error information.
void SetErrorInfoFrom(const EXCEPINFO& exception) noexcept
{
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.Put())))
        return;
    create->SetSource(exception.bstrSource);
    create->SetDescription(exception.bstrDescription);
    create->SetHelpFile(exception.bstrHelpFile);
    create->SetHelpContext(exception.dwHelpContext);
    if (auto error = create.TryAs<IErrorInfo>())
        SetErrorInfo(0, error.Get());
}

} // namespace

HRESULT CEventArguments::Fire(const CConnectionPoint::SinkList& sinks, DISPID id)
{
    if (!sinks)
        return S_OK;
    std::array<VARIANT, c_maximumArguments> reversed;
    std::reverse_copy(m_values.begin(), m_values.begin() + static_cast<std::ptrdiff_t>(m_count), reversed.begin());
    DISPPARAMS parameters{reversed.data(), nullptr, static_cast<UINT>(m_count), 0};
    HRESULT last = S_OK;
    for (const auto& sink : *sinks) {
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception{};
        UINT argumentError = 0;
        const HRESULT hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result,
                                        &exception, &argumentError);
        VariantClear(&result);
        if (FAILED(hr)) {
            SetErrorInfoFrom(exception);
            last = hr;
        }
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }
    return last;
}

BSTR AllocateString(std::wstring_view text)
{
    BSTR result = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!result)
        ThrowHr(E_OUTOFMEMORY);
    return result;
}
