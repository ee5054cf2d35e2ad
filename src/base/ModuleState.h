// State of the loaded module shared by its subsystems: the instance handle
// the module entry point records, the lock count DllCanUnloadNow answers
// from, and the module's file. Below every subsystem, so that the
// automation objects hold locks without knowing the module's exports.
#pragma once

#include <windows.h>

#include <string>

// The module's own instance handle: the one SetModuleInstance recorded when
// the DLL was loaded, nullptr in a program that is no DLL.
HINSTANCE ModuleInstance() noexcept;
void SetModuleInstance(HINSTANCE instance) noexcept;

// The module lock count that DllCanUnloadNow answers from: every live
// automation object, serial reader thread, locked or client-held class
// factory holds one lock. Changed only with interlocked operations.
void ModuleLock() noexcept;
void ModuleUnlock() noexcept;
LONG ModuleLockCount() noexcept;

// Full path of the module file, however long; raises the system error when
// it cannot be read.
std::wstring ModuleFileName();
