// The shell's folder windows for the wizards: choosing a folder to save
// into, and opening a folder (or a file's) the wizard has just written to.
#pragma once

#include <windows.h>

#include <string>

// The folder browser with `prompt` above the tree; the chosen folder's
// path, or empty when the user cancelled. Paths up to the system's longest
// are returned whole.
std::wstring BrowseForFolder(HWND owner, const std::wstring& prompt);

// Opens the folder in a shell window; raises the failure when the shell
// cannot.
void OpenFolder(HWND owner, const std::wstring& folder);

// Opens the folder of a file just written in a shell window, the file
// selected; raises the failure, naming the file, when it is gone (moved
// meanwhile) or the shell cannot.
void ShowFileInFolder(const std::wstring& path);
