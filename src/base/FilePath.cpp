#include "base/FilePath.h"

#include <windows.h>

#include <cwchar>

#include "base/Exception.h"
#include "base/Text.h"

std::wstring FolderOf(std::wstring_view path)
{
    const size_t separator = path.find_last_of(L"\\/:");
    if (separator == std::wstring_view::npos)
        return L".";
    const bool keep = separator == 0 || path[separator] == L':' || (separator == 2 && path[1] == L':');
    return std::wstring(path.substr(0, keep ? separator + 1 : separator));
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/' || folder.back() == L':')
        return folder + name;
    return folder + L'\\' + name;
}

bool IsExistingFolder(const std::wstring& path) noexcept
{
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring_view FileNamePart(std::wstring_view path) noexcept
{
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

std::wstring WithDefaultExtension(const std::wstring& path, std::wstring_view extension)
{
    const size_t separator = path.find_last_of(L"\\/:");
    const size_t nameStart = separator == std::wstring::npos ? 0 : separator + 1;
    if (nameStart == path.size() || path.find(L'.', nameStart) != std::wstring::npos)
        return path;
    return path + L'.' + std::wstring(extension);
}

namespace {

constexpr const wchar_t* c_deviceNames[] = {
    L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$",
};
// COM and LPT followed by one digit, a superscript one to three included.
constexpr const wchar_t* c_numberedDevices[] = {L"COM", L"LPT"};
constexpr wchar_t c_deviceDigits[] = L"0123456789\u00B9\u00B2\u00B3";

// Prefixes under which a path is a file-system path: a drive or a share.
bool IsFileSystemAfterPrefix(std::wstring_view rest) noexcept
{
    const bool drive = rest.size() >= 3 && iswalpha(rest[0]) && rest[1] == L':' && (rest[2] == L'\\' || rest[2] == L'/');
    const bool share = rest.size() >= 4 && EqualsIgnoreCase(rest.substr(0, 4), L"UNC\\");
    return drive || share;
}

} // namespace

bool IsDeviceName(std::wstring_view name) noexcept
{
    // The part before the first dot, without trailing spaces, decides; a
    // stream or drive colon ends the name too ("COM1:").
    std::wstring_view base = name.substr(0, std::min(name.find(L'.'), name.find(L':')));
    while (!base.empty() && base.back() == L' ')
        base.remove_suffix(1);
    for (const wchar_t* device : c_deviceNames)
        if (EqualsIgnoreCase(base, device))
            return true;
    if (base.size() != 4 || base[3] == 0 || !std::wcschr(c_deviceDigits, base[3]))
        return false;
    for (const wchar_t* device : c_numberedDevices)
        if (EqualsIgnoreCase(base.substr(0, 3), device))
            return true;
    return false;
}

bool IsDevicePath(std::wstring_view path) noexcept
{
    const bool prefixed = path.size() >= 4 && (path[0] == L'\\' || path[0] == L'/') &&
                          (path[1] == L'\\' || path[1] == L'/') && (path[2] == L'.' || path[2] == L'?') &&
                          (path[3] == L'\\' || path[3] == L'/');
    if (prefixed && (path[2] == L'.' || !IsFileSystemAfterPrefix(path.substr(4))))
        return true;
    const size_t separator = path.find_last_of(L"\\/");
    std::wstring_view name = separator == std::wstring_view::npos ? path : path.substr(separator + 1);
    // "C:COM1" names the device as well.
    if (separator == std::wstring_view::npos && name.size() > 2 && name[1] == L':')
        name.remove_prefix(2);
    return IsDeviceName(name);
}

void ThrowIfDevicePath(const std::wstring& path)
{
    if (!IsDevicePath(path))
        return;
    SetLastError(ERROR_INVALID_NAME);
    ThrowLastErrorFor(path);
}
