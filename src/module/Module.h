// State of the loaded module shared by its subsystems.
#pragma once

#include <windows.h>

#include <string>

// The module's own instance handle, set when the DLL is loaded.
HINSTANCE ModuleInstance() noexcept;

// The module lock count that DllCanUnloadNow answers from: every live
// automation object, serial reader thread, locked or client-held class
// factory holds one lock. Changed only with interlocked operations.
void ModuleLock() noexcept;
void ModuleUnlock() noexcept;
LONG ModuleLockCount() noexcept;

// Full path of the module file. Raises the system error when it cannot be
// read and 0x8007007A when it fills the 260-character buffer.
std::wstring ModuleFileName();
