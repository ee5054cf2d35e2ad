// The destination edit of a page that writes a file, taken on Next: the
// typed path gets the page's extension when it has none, is checked
// (CheckOutputPath: missing, a folder, in a folder that does not exist, the
// source itself), and an existing file is replaced only after the user said
// so, whatever way the path was entered. The path the Save As dialog has
// just asked about (OFN_OVERWRITEPROMPT) is not asked about again as long
// as it stays unchanged.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

class CDestinationField
{
public:
    // The path the user chose, and so confirmed, in the Save As dialog.
    void SetConfirmed(std::wstring path) { m_confirmed = std::move(path); }

    // Reads the page's edit, shows the completed path in it and checks it.
    // The path to write; nothing when the page must stay: the user has been
    // told what is wrong or declined to replace the file, and the edit's
    // text is selected for another try.
    std::optional<std::wstring> Take(HWND page, int editId, const std::wstring& source, const wchar_t* extension);

private:
    std::wstring m_confirmed;
};

// Puts the focus into the edit with its whole text selected, ready to be
// typed over.
void SelectEditText(HWND page, HWND edit);
