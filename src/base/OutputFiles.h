// The two policies for files the product writes, each owned by one guard.
//
// PendingFile: a user's output. It is written under a new temporary name
// in the destination's folder and moved over the destination only by
// Commit(); on any failure the temporary file is deleted and an existing
// destination keeps its contents. The move replaces a link at the
// destination, never the file it points to.
//
// TemporaryFile: a scratch file in the user's temporary folder, deleted on
// every path.
//
// Both build their names without fixed-size buffers, so folders of any
// length either work or fail with the path in the failure.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "base/Handle.h"

// Creates a new file with a unique name "tvlXXXXXXXX.tmp" in the folder
// (CREATE_NEW, so an existing file is never opened), returning its path.
// Failures carry failurePath.
UniqueHFile CreateUniqueFile(const std::wstring& folder, DWORD access, DWORD share, DWORD attributes,
                             const std::wstring& failurePath, std::wstring& createdPath);

// Checks a user's output path before anything is written, so that the
// common mistakes are told in words that say what to do, followed by the
// system's code for support: no path at all, a path that is a folder, a
// folder that does not exist, a device (ThrowIfDevicePath). Failures carry
// the output's path.
void CheckOutputPath(const std::wstring& output);

// The same, and the output must not be the input itself.
void CheckOutputPath(const std::wstring& input, const std::wstring& output);

// Refuses a destination that names the same existing file as the source
// (another path, a link or a different case alike): nothing the product
// writes ever replaces its own input. Raises the sharing violation with the
// destination's path and words that ask for another file.
void ThrowIfSameFile(const std::wstring& source, const std::wstring& destination);

// Writes every byte or raises (a short write is ERROR_WRITE_FAULT).
void WriteAll(HANDLE file, const void* bytes, size_t size);

class PendingFile
{
public:
    // Checks the destination (CheckOutputPath) before anything is created.
    // Failures carry the destination's path.
    explicit PendingFile(const std::wstring& destination);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    HANDLE Get() const noexcept { return m_file.Get(); }
    const std::wstring& Destination() const noexcept { return m_destination; }

    // Closes the file and moves it over the destination.
    void Commit();

private:
    std::wstring m_destination;
    std::wstring m_temporary;
    UniqueHFile m_file;
};

class TemporaryFile
{
public:
    TemporaryFile();
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::wstring& Path() const noexcept { return m_path; }
    HANDLE Get() const noexcept { return m_file.Get(); }

    // Makes the file's whole content the given bytes.
    void Rewrite(std::string_view bytes);

private:
    std::wstring m_path;
    UniqueHFile m_file;
};

// The user's temporary folder (GetTempPathW into a buffer of the length it
// asks for), without the trailing separator.
std::wstring TemporaryFolder();
