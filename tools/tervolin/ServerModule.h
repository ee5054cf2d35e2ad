// Tervolin.dll as the host uses it: loaded from the host's own folder, its
// exports called directly, so that no registration is needed.
#pragma once

#include <windows.h>

#include "base/Handle.h"

class ServerModule
{
public:
    // Loads Tervolin.dll beside tervolin.exe; raises the system error.
    ServerModule();

    // A new object of the class through DllGetClassObject and its factory.
    template <typename T>
    ComPtr<T> Create(REFCLSID classId) const
    {
        ComPtr<IClassFactory> factory;
        ThrowIfFailed(Export<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>("DllGetClassObject")(
            classId, IID_IClassFactory, factory.PutVoid()));
        ComPtr<T> object;
        ThrowIfFailed(factory->CreateInstance(nullptr, __uuidof(T), object.PutVoid()));
        return object;
    }

    // Calls an export without arguments that returns an HRESULT
    // (DllRegisterServer, DllUnregisterServer).
    HRESULT Call(const char* name) const { return Export<HRESULT(WINAPI*)()>(name)(); }

    // The export of that name as a function of type F; raises the system
    // error when the module has no such export.
    template <typename F>
    F Export(const char* name) const
    {
        FARPROC address = GetProcAddress(m_module.Get(), name);
        ThrowLastErrorIf(!address);
        return reinterpret_cast<F>(address);
    }

private:
    UniqueHModule m_module;
};
