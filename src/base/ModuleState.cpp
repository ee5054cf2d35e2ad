#include "base/ModuleState.h"

#include "base/ModuleFile.h"

namespace {

HINSTANCE g_moduleInstance = nullptr;
LONG g_lockCount = 0;

} // namespace

HINSTANCE ModuleInstance() noexcept
{
    return g_moduleInstance;
}

void SetModuleInstance(HINSTANCE instance) noexcept
{
    g_moduleInstance = instance;
}

void ModuleLock() noexcept
{
    InterlockedIncrement(&g_lockCount);
}

void ModuleUnlock() noexcept
{
    InterlockedDecrement(&g_lockCount);
}

LONG ModuleLockCount() noexcept
{
    return InterlockedCompareExchange(&g_lockCount, 0, 0);
}

std::wstring ModuleFileName()
{
    return ModuleFilePath(ModuleInstance());
}
