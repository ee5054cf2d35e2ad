// Whole-file reads and writes for the tests and the fuzz driver (which is a
// plain program without the test framework). Failures raise the file's
// system error, naming the path.
#pragma once

#include <string>

std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
