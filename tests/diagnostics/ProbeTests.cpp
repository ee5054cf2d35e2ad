// The exception log of a DLL armed like Tervolin.dll: DiagnosticsProbe.dll
// writes DiagnosticsProbe.log in the Windows folder of the test prefix.
#include <windows.h>

#include <algorithm>
#include <map>
#include <regex>
#include <thread>

#include "LogTestSupport.h"
#include "base/Handle.h"
#include "support/TestSupport.h"
#include "version.h"

namespace {

std::wstring BesideTheTests(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file(path, length);
    return file.replace(file.find_last_of(L'\\') + 1, std::wstring::npos, name);
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// Frame lines name the module as the symbol handler knows it; Wine's writes
// it in lower case.
bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text.data(), static_cast<int>(prefix.size()),
                          prefix.data(), static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

std::vector<std::string>::const_iterator FindStarting(const std::vector<std::string>& lines, const char* prefix)
{
    return std::find_if(lines.begin(), lines.end(),
                        [prefix](const std::string& line) { return StartsWithIgnoringCase(line, prefix); });
}

LONG WINAPI SentinelFilter(EXCEPTION_POINTERS*)
{
    return EXCEPTION_CONTINUE_SEARCH;
}

class ProbeTest : public testing::Test
{
protected:
    ProbeTest()
        : m_log(WindowsFolder() + L"\\DiagnosticsProbe.log"),
          m_fallbackFolder(EnvironmentValue(L"LOCALAPPDATA") + L"\\Norvask\\Tervolin"),
          m_fallback(m_fallbackFolder + L"\\DiagnosticsProbe.log")
    {
        RemoveLogs();
    }
    ~ProbeTest() override
    {
        m_probe.Reset();
        SetErrorInfo(0, nullptr);
        RemoveLogs();
    }

    void RemoveLogs()
    {
        DeleteFileW(m_log.c_str());
        RemoveDirectoryW(m_log.c_str());
        DeleteFileW(m_fallback.c_str());
        RemoveDirectoryW(m_fallbackFolder.c_str());
        RemoveDirectoryW(std::wstring(m_fallbackFolder, 0, m_fallbackFolder.find_last_of(L'\\')).c_str());
    }

    void Load()
    {
        m_probe.Reset(LoadLibraryW(BesideTheTests(L"DiagnosticsProbe.dll").c_str()));
        ASSERT_TRUE(m_probe) << GetLastError();
    }

    HRESULT ThrowAndCatch(HRESULT hr)
    {
        const auto function = reinterpret_cast<HRESULT (*)(HRESULT)>(GetProcAddress(m_probe.Get(), "ProbeThrowAndCatch"));
        return function(hr);
    }

    static std::vector<std::vector<std::string>> ReportsIn(const std::wstring& log)
    {
        return FileExists(log) ? SplitReports(ReadFileBytes(log)) : std::vector<std::vector<std::string>>();
    }

    const std::wstring m_log;
    const std::wstring m_fallbackFolder;
    const std::wstring m_fallback;
    UniqueHModule m_probe;
};

// The lines of a report of a CAtlException thrown by ThrowHr in the probe
// and caught there, in the program `application`.
void ExpectThrowReport(const std::vector<std::string>& report, HRESULT hr)
{
    ASSERT_GE(report.size(), 9u);
    EXPECT_EQ(report[0], "*** Exception");
    EXPECT_TRUE(std::regex_match(report[1], std::regex("Process: 0x[0-9a-f]{8}, Thread: 0x[0-9a-f]{8}, Date: [^,]+, "
                                                       "Time: [^,]+, Application: diagnostics_probe_tests\\.exe")))
        << report[1];
    EXPECT_TRUE(std::regex_match(report[2], std::regex("Module: DiagnosticsProbe\\.dll, Product Version: " TERVOLIN_VERSION_TEXT
                                                       ", File Version: " TERVOLIN_VERSION_TEXT
                                                       ", File Time: \\d\\d\\.\\d\\d\\.\\d{4}, \\d\\d:\\d\\d")))
        << report[2];
    std::smatch code;
    ASSERT_TRUE(std::regex_match(report[3], code,
                                 std::regex("Code: 0xe06d7363, Flags: 0x00000001, Address: (0x[0-9a-f]{8})")))
        << report[3];
    EXPECT_TRUE(std::regex_match(report[4], std::regex("Parameters: 0x19930520, 0x[0-9a-f]{8}, 0x[0-9a-f]{8}")))
        << report[4];
    char native[40];
    std::snprintf(native, sizeof native, "Native Parameters: 0x%08x, ...", static_cast<unsigned>(hr));
    EXPECT_EQ(report[5], native);
    EXPECT_EQ(report[6], "");
    EXPECT_EQ(report[7], "** Call Stack");
    // The first frame is the throw statement itself.
    EXPECT_TRUE(StartsWithIgnoringCase(report[8], "DiagnosticsProbe!" + code[1].str() + " ThrowHr (+ ")) << report[8];
    EXPECT_NE(report[8].find("Exception.cpp, "), std::string::npos) << report[8];
    EXPECT_EQ(report.back(), "");
}

TEST_F(ProbeTest, CaughtExceptionLeavesReportWithHResultAndCallStack)
{
    Load();
    EXPECT_EQ(ThrowAndCatch(0x8007000E), 0x8007000E);

    const auto reports = ReportsIn(m_log);
    ASSERT_EQ(reports.size(), 1u);
    const auto& report = reports.front();
    ExpectThrowReport(report, 0x8007000E);
    const auto caller = FindStarting(report, "DiagnosticsProbe!");
    ASSERT_NE(caller + 1, report.end());
    EXPECT_NE(caller[1].find(" ProbeThrowAndCatch (+ "), std::string::npos) << caller[1];
    EXPECT_NE(caller[1].find("DiagnosticsProbe.cpp, "), std::string::npos) << caller[1];
    EXPECT_TRUE(Block(report, "** Error Information").empty());
}

TEST_F(ProbeTest, ReportShowsTheErrorObjectOfTheThread)
{
    ComPtr<ICreateErrorInfo> creator;
    ASSERT_EQ(CreateErrorInfo(creator.Put()), S_OK);
    creator->SetGUID(GUID_NULL); // Wine leaves it undefined
    creator->SetDescription(const_cast<LPOLESTR>(L"The port is busy"));
    ASSERT_EQ(SetErrorInfo(0, creator.As<IErrorInfo>().Get()), S_OK);
    Load();

    ThrowAndCatch(0x80070005);

    const auto reports = ReportsIn(m_log);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(Block(reports.front(), "** Error Information"),
              (std::vector<std::string>{"** Error Information", "Description The port is busy"}));
}

TEST_F(ProbeTest, ReportsOfConcurrentThreadsStayWhole)
{
    constexpr int c_threads = 8;
    constexpr int c_throwsPerThread = 10;
    Load();
    std::vector<std::thread> threads;
    for (int t = 0; t < c_threads; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < c_throwsPerThread; ++i)
                ThrowAndCatch(static_cast<HRESULT>(0xA7650000u + t));
        });
    }
    for (auto& thread : threads)
        thread.join();

    const auto reports = ReportsIn(m_log);
    ASSERT_EQ(reports.size(), static_cast<size_t>(c_threads * c_throwsPerThread));
    std::map<std::string, int> perHResult;
    const std::regex frame(R"(\w+!0x[0-9a-f]{8}.*)");
    for (const auto& report : reports) {
        ASSERT_GE(report.size(), 10u);
        EXPECT_EQ(report[0], "*** Exception");
        EXPECT_TRUE(StartsWith(report[1], "Process: "));
        EXPECT_TRUE(StartsWith(report[2], "Module: DiagnosticsProbe.dll"));
        EXPECT_TRUE(StartsWith(report[3], "Code: 0xe06d7363"));
        ++perHResult[report[5]];
        EXPECT_EQ(report[7], "** Call Stack");
        for (size_t i = 8; i + 1 < report.size(); ++i)
            EXPECT_TRUE(std::regex_match(report[i], frame)) << report[i];
        EXPECT_EQ(report.back(), "");
    }
    EXPECT_EQ(perHResult.size(), static_cast<size_t>(c_threads));
    for (const auto& [line, count] : perHResult)
        EXPECT_EQ(count, c_throwsPerThread) << line;
}

TEST_F(ProbeTest, LoadingDeletesAnOldLog)
{
    WriteAgedFile(m_log, "old report\r\n", 15);
    Load();
    EXPECT_FALSE(FileExists(m_log));
}

TEST_F(ProbeTest, LoadingCutsALargeLogToItsLast512KiB)
{
    const std::string bytes = NumberedBytes(3 * 1048576);
    WriteAgedFile(m_log, bytes, 1);
    Load();
    EXPECT_EQ(ReadFileBytes(m_log), bytes.substr(bytes.size() - 524288));
}

TEST_F(ProbeTest, LockedLogLosesTheReportAndTheProgramGoesOn)
{
    WriteFileBytes(m_log, "earlier\r\n");
    Load();
    {
        UniqueHFile holder(CreateFileW(m_log.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(ThrowAndCatch(0x80070020), 0x80070020);
    }
    EXPECT_EQ(ReadFileBytes(m_log), "earlier\r\n");
    EXPECT_FALSE(FileExists(m_fallback));
}

TEST_F(ProbeTest, ReportGoesToLocalAppDataWhenTheWindowsFolderRefuses)
{
    ASSERT_TRUE(CreateDirectoryW(m_log.c_str(), nullptr));
    Load();
    ThrowAndCatch(0x80070005);
    const auto reports = ReportsIn(m_fallback);
    ASSERT_EQ(reports.size(), 1u);
    ExpectThrowReport(reports.front(), 0x80070005);
}

TEST_F(ProbeTest, UnloadPutsThePreviousFilterBack)
{
    for (LPTOP_LEVEL_EXCEPTION_FILTER previous : {&SentinelFilter, LPTOP_LEVEL_EXCEPTION_FILTER{}}) {
        const LPTOP_LEVEL_EXCEPTION_FILTER original = SetUnhandledExceptionFilter(previous);
        Load();
        const LPTOP_LEVEL_EXCEPTION_FILTER whileLoaded = SetUnhandledExceptionFilter(previous);
        SetUnhandledExceptionFilter(whileLoaded);
        m_probe.Reset();
        EXPECT_NE(whileLoaded, previous);
        EXPECT_EQ(SetUnhandledExceptionFilter(original), previous);
    }
}

TEST_F(ProbeTest, UnhandledAccessViolationIsReportedAndPassedOn)
{
    std::wstring commandLine = L"\"" + BesideTheTests(L"diagnostics_crash_host.exe") + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 42u) << "the filter installed before the probe was not called";

    const auto reports = ReportsIn(m_log);
    ASSERT_EQ(reports.size(), 2u);
    const char* const kinds[] = {"*** Exception", "*** Unhandled Exception"};
    for (size_t i = 0; i < 2; ++i) {
        const auto& report = reports[i];
        SCOPED_TRACE(kinds[i]);
        ASSERT_GE(report.size(), 8u);
        EXPECT_EQ(report[0], kinds[i]);
        EXPECT_NE(report[1].find("Application: diagnostics_crash_host.exe"), std::string::npos) << report[1];
        EXPECT_TRUE(StartsWith(report[3], "Code: 0xc0000005, Flags: 0x00000000, Address: 0x")) << report[3];
        EXPECT_TRUE(std::regex_match(report[4], std::regex("Parameters: 0x00000001, 0x[0-9a-f]{8}"))) << report[4];
        const auto stack = Block(report, "** Call Stack");
        ASSERT_GE(stack.size(), 2u);
        EXPECT_NE(stack[1].find(" ProbeAccessViolation (+ "), std::string::npos) << stack[1];
    }
}

} // namespace
