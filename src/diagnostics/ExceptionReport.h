// One report of the exception log and the writer that collects its text.
//
// A report tells the kind, the process and thread with date and time, the
// host application, the module with its versions and file time, the
// exception record with its parameters, a symbolic call stack of up to 15
// frames, the nested exception records and, for reports of kind
// "Exception", the COM error information of the thread:
//
//   *** Exception
//   Process: 0x00000420, Thread: 0x00000424, Date: 07.12.2026, Time: 14:03:11, Application: host.exe
//   Module: Tervolin.dll, Product Version: 1.0.0.0, File Version: 1.0.0.0, File Time: 06.12.2026, 21:40
//   Code: 0xe06d7363, Flags: 0x00000001, Address: 0x6c4018b6
//   Parameters: 0x19930520, 0x0322ef60, 0x6c46c4a0
//   Native Parameters: 0x80070005, ...
//
//   ** Call Stack
//   Tervolin!0x6c4018b6 ThrowHr (+ 54) [Z:\src\base\Exception.cpp, 8] (+ 2)
//   ...
//
// Lines are wide text formatted like the C library's wide printf (with the
// Windows meaning of %s: a wide string; %hs is a narrow one), converted to
// the system ANSI code page and ended by "\r\n".
#pragma once

#include <windows.h>

#include <string>

#include "diagnostics/ExceptionLog.h"

enum class ExceptionReportKind
{
    Exception = 0,
    UnhandledException = 1,
};

// The code of exceptions thrown as objects by the language runtime; their
// second parameter points to the thrown object.
constexpr DWORD c_nativeExceptionCode = 0xE06D7363;

// Collects the lines of one report in a fixed 32 KiB buffer and appends it
// to the log whenever the next line does not fit, and at the end.
class ExceptionReportWriter
{
public:
    static constexpr size_t c_bufferSize = 32768;
    static constexpr size_t c_lineCharacters = 1024;

    explicit ExceptionReportWriter(const ExceptionLogPaths& log) noexcept : m_log(log) {}
    ExceptionReportWriter(const ExceptionReportWriter&) = delete;
    ExceptionReportWriter& operator=(const ExceptionReportWriter&) = delete;

    // Formats one line (at most 1023 characters; longer lines are cut).
    void Line(const wchar_t* format, ...) noexcept;

    // Appends what was collected to the log and empties the buffer.
    void Flush() noexcept;

private:
    void Append(const char* bytes, size_t size) noexcept;

    const ExceptionLogPaths& m_log;
    char m_buffer[c_bufferSize];
    size_t m_used = 0;
};

// What a report says about the module that writes it; gathered once when
// reporting is installed.
struct ExceptionReportModule
{
    HMODULE handle = nullptr;
    std::wstring line; // "Module: ..., Product Version: ..., File Version: ..., File Time: ..."
    ExceptionLogPaths log;
};

ExceptionReportModule DescribeReportingModule(HMODULE module);

// Builds one report for the exception record and the context of the thread
// that raised it and appends it to the module's log. Any failure ends the
// report early; what was collected is still written.
void WriteExceptionReport(const ExceptionReportModule& module, ExceptionReportKind kind,
                          const EXCEPTION_RECORD& record, const CONTEXT& context) noexcept;
