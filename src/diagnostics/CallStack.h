// The "** Call Stack" block of a report: up to 15 frames walked from the
// context of the report with the debug-help library, each shown with its
// module, symbol and source line as far as they are known.
//
// The library is loaded and its symbol handler initialised on the first
// report that needs a call stack, once per process; when that fails, reports
// have no call stack. Symbols come from the debug information that the
// handler finds for each module (for this project's binaries: DWARF, in the
// file named by the module's debug link, beside the module).
#pragma once

#include <windows.h>

#include <string>

class ExceptionReportWriter;

constexpr int c_callStackFrameLimit = 15;

// Writes the block for the thread state in the context; nothing when the walk
// yields no frame. The module's folder leads the symbol search path.
void WriteCallStack(ExceptionReportWriter& writer, HMODULE module, const CONTEXT& context) noexcept;

// The symbol search path: the module's folder and its parent, the folders of
// PATH, _NT_SYMBOL_PATH and _NT_ALTERNATE_SYMBOL_PATH, the root of the
// Windows directory and "C:\", each followed by ";".
std::wstring SymbolSearchPath(HMODULE module);
