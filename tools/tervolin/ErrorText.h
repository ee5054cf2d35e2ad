// Words for failures, for the messages of the command-line host.
#pragma once

#include <string>

#include "base/Exception.h"

// One line describing the failure: the file, the position in it when known
// (positionNoun names what is counted: "line", "placemark") and the problem:
//   samples/bad.wpt: line 2: the datum is not WGS 84
std::wstring DescribeFailure(const CAtlException& failure, const std::wstring& defaultPath,
                             const wchar_t* positionNoun = L"line");

// The problem alone: the module's own words for its codes, the system's
// message for everything else. positionNoun picks the words of the
// conversion that counts it where two conversions share a code.
std::wstring DescribeResult(HRESULT hr, const wchar_t* positionNoun = nullptr);
