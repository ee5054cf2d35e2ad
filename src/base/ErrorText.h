// Words for failures, shared by the command-line host's messages and the
// wizards' error boxes.
//
// The module's own codes (0xA765nnnn) have words in the string table of the
// resource instance (resources/ErrorStrings.rc), so a satellite library
// translates them; every other code has the system's message.
#pragma once

#include <optional>
#include <string>

#include "base/Exception.h"

// One line describing the failure: the file, the position in it when known
// (positionNoun names what is counted: "line", "placemark") and the problem:
//   samples/bad.wpt: line 2: the datum is not WGS 84
// The failure's own path wins over defaultPath; without either the line
// starts at the position. Detail() replaces the code's words when set.
std::wstring DescribeFailure(const CAtlException& failure, const std::wstring& defaultPath,
                             const wchar_t* positionNoun = L"line");

// The words for a code, the one text of each HRESULT: the module's own
// words for its codes, the system's message (without its line break) for
// the others, "check failed (0xA76500CC)" or "error 0x80004005" in the
// user's language when neither has any. positionNoun picks
// the words of the conversion that counts it where two conversions share a
// code.
std::wstring GetErrorText(HRESULT hr, const wchar_t* positionNoun = nullptr);

// The problem alone, for one-line messages: GetErrorText, with the code
// after the system's words ("The system cannot find the file specified
// (0x80070002)"), as a user reports them.
std::wstring DescribeResult(HRESULT hr, const wchar_t* positionNoun = nullptr);

