// Helpers shared by the test executables: temporary folders, file bytes,
// the real-world test data and the thread locale.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/Exception.h"
#include "support/TestFiles.h"

// A fresh folder under the temporary directory, deleted with its contents
// when the object goes out of scope.
class TempFolder
{
public:
    TempFolder();
    // A folder of that name, emptied of what an earlier run left: the same
    // path every run.
    explicit TempFolder(const std::wstring& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

bool FileExists(const std::wstring& path);

// A sentence line as the writer must produce it, with the checksum computed
// independently of the writer (XOR of the bytes after '$', two upper-case
// hex digits) and CR LF.
std::string Sentence(const std::string& body);

// The value of an environment variable, empty when unset.
std::wstring EnvironmentValue(const wchar_t* name);

// Folder of the shared real-world files, or empty (with the test skipped by
// the caller) when it is absent.
std::wstring TestDataFolder();

// Runs the test body with the thread locale and the user's number format
// set to a locale whose decimal separator is a comma, then restores both.
class CommaDecimalLocale
{
public:
    CommaDecimalLocale();
    ~CommaDecimalLocale();

private:
    LCID m_threadLocale;
    std::wstring m_decimal;
};

// The HRESULT that the callable raises as CAtlException, S_OK when none.
template <typename F>
HRESULT RaisedResult(F&& f)
{
    try {
        f();
    } catch (const CAtlException& e) {
        return e.m_hr;
    }
    return S_OK;
}

// The words (CAtlException::Detail) of the failure the callable raises;
// empty when it raises none or one without words.
template <typename F>
std::wstring RaisedDetail(F&& f)
{
    try {
        f();
    } catch (const CAtlException& e) {
        return e.Detail();
    }
    return {};
}

#define SKIP_WITHOUT_TESTDATA(folder)                                                                   \
    if ((folder).empty())                                                                               \
    GTEST_SKIP() << "real-world test data (../shared/testdata) is absent"

// Runs a program to its end and collects its exit code and output.
struct ProcessResult
{
    DWORD exitCode = 0;
    std::string output; // standard output
    std::string errors; // standard error
};
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMilliseconds = 60000);

// Runs tervolin.exe from the build with the given arguments (already quoted).
ProcessResult RunHost(const std::wstring& arguments);
