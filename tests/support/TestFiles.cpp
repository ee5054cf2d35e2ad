#include "support/TestFiles.h"

#include <windows.h>

#include "base/Exception.h"
#include "base/Handle.h"

std::string ReadFileBytes(const std::wstring& path)
{
    UniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    if (!file)
        ThrowLastErrorFor(path);
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueHFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file)
        ThrowLastErrorFor(path);
    DWORD written = 0;
    ThrowLastErrorIf(!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}
