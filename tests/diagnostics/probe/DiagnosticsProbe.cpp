// A DLL that arms the exception log exactly as Tervolin.dll does, with
// functions that throw and fault inside it.
#include <windows.h>

#include "base/Exception.h"
#include "diagnostics/ExceptionReporting.h"

extern "C" __declspec(dllexport) HRESULT ProbeThrowAndCatch(HRESULT hr)
{
    try {
        ThrowHr(hr);
    } catch (const CAtlException& e) {
        return e.m_hr;
    }
}

extern "C" __declspec(dllexport) void ProbeAccessViolation()
{
    // A write to reserved address space (address 0 may be mapped under
    // Wine), through a volatile pointer so that the compiler emits it.
    int* volatile target = static_cast<int*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS));
    *target = 1;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        InstallExceptionReporting(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        UninstallExceptionReporting();
    }
    return TRUE;
}
