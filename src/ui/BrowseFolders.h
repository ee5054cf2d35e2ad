// Where the file dialogs of the Browse buttons start: in the folder where
// the user last chose a file in that wizard, else in the user's Documents
// folder, never in the program's folder.
//
// The folders are remembered per user under the key
// HKEY_CURRENT_USER\SOFTWARE\Norvask\Tervolin\Folders, one REG_SZ per
// wizard named after its class ("CImportTrackWizard").
#pragma once

#include <string>

// The remembered folder of the wizard when it still exists, else the
// user's Documents folder; empty when the system names neither.
std::wstring BrowseStartFolder(const wchar_t* wizardName);

// The path a file dialog starts with: the edit's text when the user typed
// one, else the start folder with a trailing separator.
std::wstring BrowseStartPath(const std::wstring& typed, const wchar_t* wizardName);

// Remembers the folder of a path the user chose. Failures are ignored: the
// dialog merely starts in Documents next time.
void RememberBrowseFolder(const wchar_t* wizardName, const std::wstring& chosenPath);
