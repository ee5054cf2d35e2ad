// Path helpers shared by every subsystem: the folder of a path, the
// system's device names, and the test that keeps a user's output off a
// device.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// The folder part of a path ("." for a bare file name); the separator of a
// drive root or of a bare "C:" is kept, so the result names the same folder.
std::wstring FolderOf(std::wstring_view path);

// The name in the folder: "C:\out" and "lakes.upt" give
// "C:\out\lakes.upt"; a folder that ends in a separator, or a bare "C:",
// takes the name as it is.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// Whether the path names a folder that exists (false for an empty path).
bool IsExistingFolder(const std::wstring& path) noexcept;

// The part of a path after its last backslash or slash.
std::wstring_view FileNamePart(std::wstring_view path) noexcept;

// The path with "." and the extension added when its last part has no
// extension ("C:\out\lakes" gives "C:\out\lakes.upt"); a path with an
// extension or without a last part (a folder "C:\out\") stays as it is.
std::wstring WithDefaultExtension(const std::wstring& path, std::wstring_view extension);

// True for the system's device names: CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// COM0-9 and LPT0-9 (and with a superscript 1, 2 or 3), in any case, with or
// without an extension and with trailing spaces before it. Windows opens
// the device for such a name in any folder.
bool IsDeviceName(std::wstring_view name) noexcept;

// True when the path addresses a device rather than a file: a device
// namespace path (\\.\..., or \\?\ followed by anything but a drive or UNC
// path) or a path whose last part is a device name ("COM1", "E:\out\nul.upt").
bool IsDevicePath(std::wstring_view path) noexcept;

// Raises ERROR_INVALID_NAME with the path when IsDevicePath is true: every
// file the product writes for a user must be a file.
void ThrowIfDevicePath(const std::wstring& path);

// Text from a system call that fills a caller's buffer and, when the buffer
// is too small, returns the size it needs (GetTempPathW,
// GetWindowsDirectoryW, GetSystemDirectoryW, GetEnvironmentVariableW): the
// call is repeated with that size until the text fits, so no length of
// setting is cut or overflows. A call that returns 0 gives empty text, with
// GetLastError telling why.
template <typename Fill>
std::wstring GrowingSystemText(Fill fill)
{
    std::wstring text(MAX_PATH + 1, L'\0');
    for (;;) {
        const DWORD length = fill(text.data(), static_cast<DWORD>(text.size()));
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(length + 1);
    }
}
