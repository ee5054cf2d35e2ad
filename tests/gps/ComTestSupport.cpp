#include "gps/ComTestSupport.h"

#include "support/TestSupport.h"

TervolinDll::TervolinDll() : m_path(EnvironmentValue(L"TERVOLIN_BIN") + L"\\Tervolin.dll")
{
    m_module.Reset(LoadLibraryW(m_path.c_str()));
    if (!m_module)
        ADD_FAILURE() << "cannot load Tervolin.dll from TERVOLIN_BIN";
}

HRESULT TervolinDll::GetClassObject(REFCLSID classId, REFIID iid, void** result) const
{
    return CallExport<REFCLSID, REFIID, void**>("DllGetClassObject", classId, iid, result);
}

HRESULT TervolinDll::CanUnloadNow() const
{
    return CallExport("DllCanUnloadNow");
}

HRESULT TervolinDll::RegisterServer() const
{
    return CallExport("DllRegisterServer");
}

HRESULT TervolinDll::UnregisterServer() const
{
    return CallExport("DllUnregisterServer");
}

HRESULT TervolinDll::Install(bool install, const wchar_t* commandLine) const
{
    return CallExport<BOOL, LPCWSTR>("DllInstall", install ? TRUE : FALSE, commandLine);
}

RecordingSink::~RecordingSink()
{
    Unadvise();
    for (auto& call : m_calls)
        for (auto& argument : call.arguments)
            VariantClear(&argument);
}

STDMETHODIMP RecordingSink::QueryInterface(REFIID iid, void** result)
{
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == m_events) {
        *result = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP RecordingSink::GetTypeInfoCount(UINT* count)
{
    *count = 0;
    return S_OK;
}

STDMETHODIMP RecordingSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*, UINT*)
{
    RecordedCall call{id, GetCurrentThreadId(), {}};
    for (UINT i = parameters->cArgs; i > 0; --i) {
        VARIANT copy;
        VariantInit(&copy);
        VariantCopy(&copy, &parameters->rgvarg[i - 1]);
        call.arguments.push_back(copy);
    }
    CriticalSectionLock lock(m_lock);
    m_calls.push_back(std::move(call));
    return S_OK;
}

std::vector<RecordedCall> RecordingSink::Calls()
{
    CriticalSectionLock lock(m_lock);
    return m_calls;
}

size_t RecordingSink::CallCount()
{
    CriticalSectionLock lock(m_lock);
    return m_calls.size();
}

bool RecordingSink::WaitForCalls(size_t count, DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (CallCount() < count) {
        if (GetTickCount64() >= end)
            return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

void RecordingSink::Advise(IUnknown* object)
{
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(m_events, m_point.Put()));
    ASSERT_EQ(S_OK, m_point->Advise(static_cast<IDispatch*>(this), &m_cookie));
}

void RecordingSink::Unadvise()
{
    if (m_point)
        m_point->Unadvise(m_cookie);
    m_point.Reset();
}

LineBatch::LineBatch(const std::vector<std::wstring>& lines)
{
    SAFEARRAYBOUND bound{static_cast<ULONG>(lines.size()), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (LONG i = 0; i < static_cast<LONG>(lines.size()); ++i) {
        VARIANT line;
        line.vt = VT_BSTR;
        line.bstrVal = SysAllocString(lines[i].c_str());
        SafeArrayPutElement(array, &i, &line);
        VariantClear(&line);
    }
    VariantInit(&m_value);
    m_value.vt = VT_ARRAY | VT_VARIANT;
    m_value.parray = array;
}

std::vector<VARIANT> ArrayElements(const VARIANT& array)
{
    std::vector<VARIANT> elements;
    if (array.vt != (VT_ARRAY | VT_VARIANT) || SafeArrayGetDim(array.parray) != 1) {
        ADD_FAILURE() << "not a one-dimensional VARIANT array";
        return elements;
    }
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(array.parray, 1, &lower);
    SafeArrayGetUBound(array.parray, 1, &upper);
    EXPECT_EQ(0, lower);
    for (LONG i = lower; i <= upper; ++i) {
        VARIANT element;
        VariantInit(&element);
        SafeArrayGetElement(array.parray, &i, &element);
        elements.push_back(element); // shares nothing: GetElement copies
    }
    return elements;
}

namespace {

DWORD WINAPI RunInApartment(void* parameter)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    (*static_cast<const std::function<void()>*>(parameter))();
    CoUninitialize();
    return 0;
}

} // namespace

void RunInMultithreadedApartment(const std::function<void()>& function)
{
    UniqueHandle thread(CreateThread(nullptr, 0, RunInApartment, const_cast<std::function<void()>*>(&function), 0,
                                     nullptr));
    ASSERT_TRUE(thread);
    WaitForSingleObject(thread.Get(), INFINITE);
}
