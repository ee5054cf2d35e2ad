// The one guard of the host's commands: whatever fails inside a command is
// told on standard error in one line and ends it with the failure exit
// code; nothing escapes to the entry point.
#pragma once

#include <string>
#include <utility>

#include "Commands.h"
#include "Console.h"
#include "base/ErrorText.h"
#include "base/Exception.h"

// Runs the body and returns its exit code. A failure that escapes it is
// printed as "tervolin: <path>: <position>: <words>" (DescribeFailure:
// the failure's own path wins over path, positionNoun names what its
// position counts) and gives c_exitFailure.
template <typename Body>
int RunReportingFailure(const std::wstring& path, const wchar_t* positionNoun, Body&& body)
{
    try {
        return body();
    } catch (const CAtlException& failure) {
        PrintError(L"tervolin: " + DescribeFailure(failure, path, positionNoun) + L"\n");
    } catch (...) {
        PrintError(L"tervolin: " + DescribeFailure(CAtlException(ResultFromCaughtException()), path, positionNoun) +
                   L"\n");
    }
    return c_exitFailure;
}

// The same for work whose failures count lines.
template <typename Body>
int RunReportingFailure(const std::wstring& path, Body&& body)
{
    return RunReportingFailure(path, L"line", std::forward<Body>(body));
}
