// Class factories, DllGetClassObject and DllCanUnloadNow.
#include "module/ClassObjects.h"

#include <unknwn.h>

#include <new>

#include "RegistryResources.h"
#include "base/Handle.h"
#include "base/ModuleState.h"
#include "gps/AutomationClasses.h"
#include "gps/Tervolin_h.h"

namespace {

CriticalSection g_factoryLock; // serialises the creation of cached factories

ClassObjectEntry g_classObjects[] = {
    {__uuidof(CSerialConnection), CreateSerialConnection, SerialConnectionClassInit, L"CSerialConnection Object",
     IDR_SERIALCONNECTION, nullptr},
    {__uuidof(CSerialInterpreter), CreateSerialInterpreter, nullptr, L"CSerialInterpreter Object",
     IDR_SERIALINTERPRETER, nullptr},
};

// A class factory cached in the table for the life of the module. The
// table's own reference does not lock the module; every reference a client
// holds does, as does LockServer(TRUE).
class CClassFactory final : public IClassFactory
{
public:
    explicit CClassFactory(const ClassObjectEntry& entry) noexcept : m_entry(entry) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override
    {
        if (!result)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *result = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }

    STDMETHODIMP_(ULONG) AddRef() override
    {
        const LONG references = InterlockedIncrement(&m_references);
        if (references == 2)
            ModuleLock();
        return static_cast<ULONG>(references);
    }

    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG references = InterlockedDecrement(&m_references);
        if (references == 1)
            ModuleUnlock();
        else if (references == 0)
            delete this;
        return static_cast<ULONG>(references);
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** result) override
    {
        return m_entry.createInstance(outer, iid, result);
    }

    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ModuleLock();
        else
            ModuleUnlock();
        return S_OK;
    }

private:
    const ClassObjectEntry& m_entry;
    LONG m_references = 1; // the table's
};

HRESULT CachedFactory(ClassObjectEntry& entry, IUnknown** factory) noexcept
{
    CriticalSectionLock lock(g_factoryLock);
    if (!entry.cachedFactory) {
        entry.cachedFactory = new (std::nothrow) CClassFactory(entry);
        if (!entry.cachedFactory)
            return E_OUTOFMEMORY;
    }
    *factory = entry.cachedFactory;
    return S_OK;
}

} // namespace

std::span<ClassObjectEntry> ClassObjects() noexcept
{
    return g_classObjects;
}

void StartClassObjects() noexcept
{
    for (auto& entry : g_classObjects)
        if (entry.classInit)
            entry.classInit(true);
}

void StopClassObjects() noexcept
{
    for (auto& entry : g_classObjects) {
        if (entry.classInit)
            entry.classInit(false);
        if (IUnknown* factory = std::exchange(entry.cachedFactory, nullptr))
            factory->Release();
    }
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** result)
{
    if (!result)
        return E_POINTER;
    *result = nullptr;
    for (auto& entry : g_classObjects) {
        if (!entry.createInstance || entry.classId != classId)
            continue;
        IUnknown* factory = nullptr;
        HRESULT hr = CachedFactory(entry, &factory);
        if (SUCCEEDED(hr))
            hr = factory->QueryInterface(iid, result);
        if (*result || FAILED(hr))
            return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}
