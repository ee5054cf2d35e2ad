// Facts about a loaded module file: its path and the numbers of its version
// resource, read from the mapped image (which also works for a library
// mapped for its resources only).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// Full path of a loaded module; nullptr gives the process's executable.
std::wstring ModuleFilePath(HMODULE module);

// The root block of the module's version resource; empty when the module has
// none or it is malformed.
std::optional<VS_FIXEDFILEINFO> FixedFileInfo(HMODULE module) noexcept;

// The 64-bit product version (dwProductVersionMS:dwProductVersionLS), 0 when
// the module has no version resource.
ULONGLONG ProductVersion(HMODULE module) noexcept;

// "major.minor.build.revision" from the high and low words of the two double
// words of a version.
std::wstring FormatVersion(DWORD mostSignificant, DWORD leastSignificant);
