#include "import/ImportPageRules.h"

#include <windows.h>

#include "base/Text.h"

bool IsExistingFileOrFolder(const std::wstring& path)
{
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsHttpLocation(std::wstring_view location) noexcept
{
    for (std::wstring_view scheme : {L"http://", L"https://"})
        if (location.size() >= scheme.size() && EqualsIgnoreCase(location.substr(0, scheme.size()), scheme))
            return true;
    return false;
}

bool CanImportLocations(const std::wstring& source, const std::wstring& destination)
{
    return !destination.empty() && (IsHttpLocation(source) || IsExistingFileOrFolder(source));
}

bool CanConvertPaths(const std::wstring& input)
{
    return IsExistingFileOrFolder(input);
}
