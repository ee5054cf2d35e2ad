// Module entry point of Tervolin.dll: keeps the module handle that every
// resource load and registration step uses.
#include <windows.h>

#include "base/ModuleState.h"
#include "diagnostics/ExceptionReporting.h"
#include "module/ClassObjects.h"
#include "module/ResourceModule.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        SetModuleInstance(instance);
        DisableThreadLibraryCalls(instance);
        StartClassObjects();
        InitializeResourceInstance(instance);
        InstallExceptionReporting(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        UninstallExceptionReporting();
        StopClassObjects();
        FreeResourceModule();
    }
    return TRUE;
}
