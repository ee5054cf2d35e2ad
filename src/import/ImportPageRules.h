// When the content pages of the import wizards offer Next: the rules on
// the texts of their edit controls, free of windows so that they can be
// checked on their own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// True when the path names an existing file or folder.
bool IsExistingFileOrFolder(const std::wstring& path);

// The KML wizard's source and destination: a destination is typed and the
// source is an existing file or folder or an http(s) address.
bool CanImportLocations(const std::wstring& source, const std::wstring& destination);

// The track and waypoint wizards' paths, the same rule as the KML wizard's
// but for addresses: an output is typed and the input names an existing
// file or folder. An unusable output is refused on Next with words.
bool CanConvertPaths(const std::wstring& input, const std::wstring& output);

// The export wizard's paths: the source names an existing file and a
// destination is typed.
bool CanExportPaths(const std::wstring& source, const std::wstring& destination);

// The first of the folders, or of their subfolders one level down, that
// holds a waypoint file (.upt) or track log (.log); empty when none does.
std::wstring FindSentenceFolder(const std::vector<std::wstring>& folders);

// The roots of the removable drives that have a medium ("E:\"), in drive
// order, without the system's "insert a disk" box for an empty drive.
std::vector<std::wstring> RemovableDriveRoots();
