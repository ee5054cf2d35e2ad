// State of the loaded module shared by its subsystems.
#pragma once

#include <windows.h>

// The module's own instance handle, set when the DLL is loaded.
HINSTANCE ModuleInstance() noexcept;
