#include "diagnostics/ExceptionLog.h"

#include <vector>

#include "base/FilePath.h"
#include "base/Handle.h"
#include "base/ModuleFile.h"

namespace {

constexpr int c_appendAttempts = 10;
constexpr DWORD c_appendRetryDelayMs = 10;
constexpr ULONGLONG c_fileTimeUnitsPerDay = 864000000000ULL;

std::wstring WindowsDirectory()
{
    std::wstring folder =
        GrowingSystemText([](wchar_t* buffer, DWORD size) { return GetWindowsDirectoryW(buffer, size); });
    ThrowLastErrorIf(folder.empty());
    return folder;
}

std::wstring LocalAppDataFolder()
{
    return GrowingSystemText(
        [](wchar_t* buffer, DWORD size) { return GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, size); });
}

std::wstring LogFileName(const std::wstring& moduleFileName)
{
    const size_t dot = moduleFileName.find_last_of(L'.');
    return moduleFileName.substr(0, dot) + L".log";
}

ULONGLONG DayOf(const FILETIME& time) noexcept
{
    return ((ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime) / c_fileTimeUnitsPerDay;
}

bool IsTooOld(const FILETIME& lastWrite) noexcept
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return DayOf(now) > DayOf(lastWrite) + c_exceptionLogAgeLimitDays;
}

// Moves the last 512 KiB of the file to its start and cuts it there. The
// tail is read whole before anything is written, so a failed read leaves the
// file unchanged.
void KeepTail(const std::wstring& path, ULONGLONG size)
{
    UniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    ThrowLastErrorIf(!file);
    std::vector<char> tail(c_exceptionLogKeptSize);
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(size - c_exceptionLogKeptSize);
    ThrowLastErrorIf(!SetFilePointerEx(file.Get(), offset, nullptr, FILE_BEGIN));
    DWORD transferred = 0;
    ThrowLastErrorIf(!ReadFile(file.Get(), tail.data(), c_exceptionLogKeptSize, &transferred, nullptr));
    if (transferred != c_exceptionLogKeptSize)
        ThrowHr(E_UNEXPECTED);
    offset.QuadPart = 0;
    ThrowLastErrorIf(!SetFilePointerEx(file.Get(), offset, nullptr, FILE_BEGIN));
    ThrowLastErrorIf(!WriteFile(file.Get(), tail.data(), c_exceptionLogKeptSize, &transferred, nullptr));
    ThrowLastErrorIf(!SetEndOfFile(file.Get()));
}

bool IsHeldByAnotherWriter(DWORD error) noexcept
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

UniqueHFile OpenForAppend(const std::wstring& path) noexcept
{
    return UniqueHFile(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Creates the fallback folder and its parent ("...\Norvask") when missing.
void CreateFallbackFolder(const std::wstring& folder) noexcept
{
    CreateDirectoryW(FolderOf(folder).c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
}

UniqueHFile OpenLog(const ExceptionLogPaths& paths) noexcept
{
    UniqueHFile file = OpenForAppend(paths.primary);
    if (file || IsHeldByAnotherWriter(GetLastError()) || paths.fallback.empty())
        return file;
    CreateFallbackFolder(paths.fallbackFolder);
    return OpenForAppend(paths.fallback);
}

bool AppendOnce(const ExceptionLogPaths& paths, const char* bytes, DWORD size) noexcept
{
    UniqueHFile file = OpenLog(paths);
    if (!file)
        return false;
    LARGE_INTEGER end{};
    DWORD written = 0;
    return SetFilePointerEx(file.Get(), end, nullptr, FILE_END) &&
           WriteFile(file.Get(), bytes, size, &written, nullptr) && written == size;
}

} // namespace

ExceptionLogPaths ExceptionLogPathsFor(const std::wstring& moduleFileName)
{
    const std::wstring name = LogFileName(moduleFileName);
    ExceptionLogPaths paths;
    paths.primary = WindowsDirectory() + L"\\" + name;
    const std::wstring localAppData = LocalAppDataFolder();
    if (!localAppData.empty()) {
        paths.fallbackFolder = localAppData + L"\\Norvask\\Tervolin";
        paths.fallback = paths.fallbackFolder + L"\\" + name;
    }
    return paths;
}

void PruneExceptionLog(const std::wstring& path) noexcept
{
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) ||
        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    if (IsTooOld(attributes.ftLastWriteTime)) {
        DeleteFileW(path.c_str());
        return;
    }
    const ULONGLONG size = (ULONGLONG{attributes.nFileSizeHigh} << 32) | attributes.nFileSizeLow;
    if (size <= c_exceptionLogSizeLimit)
        return;
    try {
        KeepTail(path, size);
    } catch (...) {
        // The log stays as it was.
    }
}

bool AppendToExceptionLog(const ExceptionLogPaths& paths, const char* bytes, DWORD size) noexcept
{
    for (int attempt = 1;; ++attempt) {
        if (AppendOnce(paths, bytes, size))
            return true;
        if (attempt == c_appendAttempts)
            return false;
        Sleep(c_appendRetryDelayMs);
    }
}
