// The exception log: a text file of reports named after the module (its file
// name with the extension ".log").
//
// The log lives in the Windows directory, where support staff look for it.
// A standard user cannot write there on current Windows, so when the file
// cannot be opened there the report goes to the same name in
// %LOCALAPPDATA%\Norvask\Tervolin instead. Both files are pruned when the
// module loads: a log last written more than 14 days ago is deleted, one
// larger than 1 MiB is cut to its last 512 KiB.
#pragma once

#include <windows.h>

#include <string>

struct ExceptionLogPaths
{
    std::wstring primary;        // in the Windows directory
    std::wstring fallbackFolder; // %LOCALAPPDATA%\Norvask\Tervolin, empty when unknown
    std::wstring fallback;       // the log in that folder, empty when unknown
};

// The log paths for a module file name such as "Tervolin.dll".
ExceptionLogPaths ExceptionLogPathsFor(const std::wstring& moduleFileName);

constexpr ULONGLONG c_exceptionLogSizeLimit = 1048576;
constexpr DWORD c_exceptionLogKeptSize = 524288;
constexpr ULONGLONG c_exceptionLogAgeLimitDays = 14;

// Deletes the log when it was last written more than 14 days ago, or keeps
// only its last 512 KiB when it is larger than 1 MiB. A missing file, or any
// failure, leaves things as they are.
void PruneExceptionLog(const std::wstring& path) noexcept;

// Appends bytes to the log: up to 10 attempts 10 ms apart. An attempt that
// cannot open the log in the Windows directory for any reason other than
// another writer holding it uses the fallback file. False when every attempt
// failed and the bytes were dropped.
bool AppendToExceptionLog(const ExceptionLogPaths& paths, const char* bytes, DWORD size) noexcept;
