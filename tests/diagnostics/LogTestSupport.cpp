#include "LogTestSupport.h"

#include <algorithm>

#include "support/TestSupport.h"

std::string NumberedBytes(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (i / 7 + i) % 26);
    return bytes;
}

void WriteAgedFile(const std::wstring& path, const std::string& bytes, int daysAgo)
{
    WriteFileBytes(path, bytes);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart -= static_cast<ULONGLONG>(daysAgo) * 864000000000ULL;
    const FILETIME written{time.LowPart, time.HighPart};
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
    CloseHandle(file);
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::vector<std::string>> SplitReports(const std::string& log)
{
    std::vector<std::vector<std::string>> reports;
    for (std::string& line : SplitLines(log)) {
        if (line.rfind("*** ", 0) == 0 || reports.empty())
            reports.emplace_back();
        reports.back().push_back(std::move(line));
    }
    return reports;
}

std::vector<std::string> Block(const std::vector<std::string>& report, const std::string& first)
{
    const auto start = std::find(report.begin(), report.end(), first);
    return {start, std::find(start, report.end(), std::string())};
}

std::wstring WindowsFolder()
{
    wchar_t folder[MAX_PATH];
    GetWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}
