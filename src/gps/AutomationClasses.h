// The creatable classes of the module, as the class object table and the
// registration code see them.
#pragma once

#include <windows.h>

// Creation functions of the class factories (aggregation supported).
HRESULT CreateSerialConnection(IUnknown* outer, REFIID iid, void** result) noexcept;
HRESULT CreateSerialInterpreter(IUnknown* outer, REFIID iid, void** result) noexcept;

// Class initialisation at module start-up (true) and shut-down (false):
// the connection registers and unregisters the class of its message
// window; the interpreter needs none.
void SerialConnectionClassInit(bool starting) noexcept;
