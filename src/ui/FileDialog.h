// The file dialog of the pages' Browse buttons and the completion of paths
// typed into their edits.
#pragma once

#include <windows.h>
#include <shldisp.h>

#include <string>

#include "base/Handle.h"

// Turns a filter written with "|" ("KML Files (*.kml)|*.kml|All Files
// (*.*)|*.*|") into the NUL-separated, double-NUL-ended list the file
// dialogs expect, in place; the length stays. Returns the count of "|"
// replaced.
size_t PrepareFilter(std::wstring& filter);

// The open (open true) or save dialog over `owner`, starting at `path` and
// leaving the chosen path in it. `filter` is written with "|" as for
// PrepareFilter; flags are OFN_ flags, to which OFN_EXPLORER,
// OFN_ENABLEHOOK and OFN_ENABLESIZING are added. Returns IDOK when the user
// chose a file (at most 259 characters), else IDCANCEL with `path` as it
// was.
int ShowFileDialog(HWND owner, bool open, const wchar_t* defaultExtension, std::wstring& path, DWORD flags,
                   std::wstring filter);

// Suggests and completes file-system paths in an edit control while the
// user types. Keep the returned object for the edit's lifetime. Empty when
// the shell cannot provide it (the thread's last error then holds the
// HRESULT); the edit then stays plain.
ComPtr<IAutoComplete> EnablePathAutoComplete(HWND edit) noexcept;
