// Arms the exception log of a module from its load to its unload.
//
// While installed, the module appends a report to its log
// - of kind "Exception" for every exception passing through its own code
//   before any handler runs: every C++ exception thrown in the module (the
//   runtime's throw routine is wrapped at link time, so the report is written
//   at the throw point, with the call stack from there), and every system
//   exception raised by an instruction of the module (a vectored handler
//   that looks at the faulting address);
// - of kind "Unhandled Exception" when an exception reaches the process's
//   unhandled-exception filter; the filter that was installed before is
//   then called.
//
// A C++ exception is described as an exception record with the code
// 0xE06D7363 and the parameters 0x19930520, the address of the thrown object
// and the address of its type information, so that the report shows the
// first 32-bit word of the object (the HRESULT of a CAtlException).
//
// Reports are written one at a time under a process-wide critical section.
#pragma once

#include <windows.h>

// Prunes the module's log, installs the unhandled-exception filter (keeping
// the previous one) and starts reporting. Called once at module load.
void InstallExceptionReporting(HMODULE module) noexcept;

// Stops reporting and puts the previous unhandled-exception filter back,
// also when there was none. Called at module unload.
void UninstallExceptionReporting() noexcept;
