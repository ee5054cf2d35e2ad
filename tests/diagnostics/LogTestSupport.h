// Helpers of the exception log tests: log files with chosen size and age,
// and the log split into reports and lines.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Bytes that differ from position to position, so that a wrong cut shows.
std::string NumberedBytes(size_t size);

// Creates the file with the content and a last write time so many days ago.
void WriteAgedFile(const std::wstring& path, const std::string& bytes, int daysAgo);

// The text split at "\r\n" (a final line end gives no empty last line).
std::vector<std::string> SplitLines(const std::string& text);

// The reports of a log: each starts at a line beginning with "*** ".
std::vector<std::vector<std::string>> SplitReports(const std::string& log);

// The lines of a report from the first one equal to `first` up to the next
// empty line, without it; empty when there is no such line.
std::vector<std::string> Block(const std::vector<std::string>& report, const std::string& first);

std::wstring WindowsFolder();
