#include "base/OutputFiles.h"

#include <algorithm>
#include <atomic>
#include <cwchar>

#include "ErrorStrings.h"
#include "base/Exception.h"
#include "base/FilePath.h"
#include "base/ResourceString.h"

namespace {

constexpr unsigned c_uniqueNameAttempts = 64;

// Eight hex digits that differ between calls and between processes.
std::wstring UniqueSuffix()
{
    static std::atomic<unsigned> counter{0};
    const unsigned value = (GetCurrentProcessId() * 2654435761u) ^ (GetTickCount() << 8) ^
                           (counter.fetch_add(1) * 40503u);
    wchar_t digits[9];
    std::swprintf(digits, std::size(digits), L"%08X", value);
    return digits;
}

// Raises the error for the path with the words of the string (its %1 the
// insert) and the code at their end.
[[noreturn]] void ThrowOutputFailure(DWORD error, const std::wstring& path, UINT wordsId,
                                     const std::wstring& insert = {})
{
    CAtlException failure(HResultFromWin32(error));
    wchar_t code[16];
    std::swprintf(code, std::size(code), L"0x%08X", static_cast<unsigned>(failure.m_hr));
    if (const auto words = TryFormatResourceString(wordsId, {insert}))
        failure.SetDetailIfUnknown(*words + L" (" + code + L")");
    failure.SetPathIfUnknown(path);
    throw failure;
}

// Volume and file index of an existing file, without opening it for reading.
bool TryGetFileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& identity)
{
    UniqueHFile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.Get(), &identity);
}

} // namespace

void CheckOutputPath(const std::wstring& output)
{
    if (output.empty())
        ThrowOutputFailure(ERROR_INVALID_NAME, output, IDS_FAILURE_OUTPUT_MISSING);
    ThrowIfDevicePath(output);
    if (IsExistingFolder(output))
        ThrowOutputFailure(ERROR_ACCESS_DENIED, output, IDS_FAILURE_OUTPUT_IS_FOLDER, output);
    const std::wstring folder = FolderOf(output);
    if (!IsExistingFolder(folder))
        ThrowOutputFailure(ERROR_PATH_NOT_FOUND, output, IDS_FAILURE_FOLDER_MISSING, folder);
}

void CheckOutputPath(const std::wstring& input, const std::wstring& output)
{
    CheckOutputPath(output);
    ThrowIfSameFile(input, output);
}

void ThrowIfSameFile(const std::wstring& source, const std::wstring& destination)
{
    BY_HANDLE_FILE_INFORMATION sourceIdentity;
    BY_HANDLE_FILE_INFORMATION destinationIdentity;
    if (!TryGetFileIdentity(source, sourceIdentity) || !TryGetFileIdentity(destination, destinationIdentity))
        return;
    if (sourceIdentity.dwVolumeSerialNumber == destinationIdentity.dwVolumeSerialNumber &&
        sourceIdentity.nFileIndexHigh == destinationIdentity.nFileIndexHigh &&
        sourceIdentity.nFileIndexLow == destinationIdentity.nFileIndexLow)
        ThrowOutputFailure(ERROR_SHARING_VIOLATION, destination, IDS_FAILURE_OUTPUT_IS_INPUT);
}

UniqueHFile CreateUniqueFile(const std::wstring& folder, DWORD access, DWORD share, DWORD attributes,
                             const std::wstring& failurePath, std::wstring& createdPath)
{
    for (unsigned attempt = 0; attempt < c_uniqueNameAttempts; ++attempt) {
        const std::wstring path = JoinPath(folder, L"tvl" + UniqueSuffix() + L".tmp");
        UniqueHFile file(CreateFileW(path.c_str(), access, share, nullptr, CREATE_NEW, attributes, nullptr));
        if (file) {
            createdPath = path;
            return file;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            ThrowLastErrorFor(failurePath);
    }
    SetLastError(ERROR_FILE_EXISTS);
    ThrowLastErrorFor(failurePath);
}

void WriteAll(HANDLE file, const void* bytes, size_t size)
{
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        ThrowLastErrorIf(!WriteFile(file, next, chunk, &written, nullptr));
        if (written == 0)
            ThrowWin32(ERROR_WRITE_FAULT);
        next += written;
        size -= written;
    }
}

PendingFile::PendingFile(const std::wstring& destination) : m_destination(destination)
{
    CheckOutputPath(destination);
    m_file = CreateUniqueFile(FolderOf(destination), GENERIC_WRITE, FILE_SHARE_READ,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, destination, m_temporary);
}

PendingFile::~PendingFile()
{
    if (m_temporary.empty())
        return;
    m_file.Reset();
    DeleteFileW(m_temporary.c_str());
}

void PendingFile::Commit()
{
    const bool closed = CloseHandle(m_file.Release()) != FALSE;
    if (!closed || !MoveFileExW(m_temporary.c_str(), m_destination.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        ThrowLastErrorFor(m_destination);
    m_temporary.clear();
}

std::wstring TemporaryFolder()
{
    std::wstring folder = GrowingSystemText([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
    ThrowLastErrorIf(folder.empty());
    if (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder;
}

TemporaryFile::TemporaryFile()
{
    const std::wstring folder = TemporaryFolder();
    m_file = CreateUniqueFile(folder, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              FILE_ATTRIBUTE_TEMPORARY, folder, m_path);
}

TemporaryFile::~TemporaryFile()
{
    m_file.Reset();
    DeleteFileW(m_path.c_str());
}

void TemporaryFile::Rewrite(std::string_view bytes)
{
    ThrowLastErrorIf(SetFilePointer(m_file.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER);
    WriteAll(m_file.Get(), bytes.data(), bytes.size());
    ThrowLastErrorIf(!SetEndOfFile(m_file.Get()));
}
