// Small helpers for the wizards' windows: a window's whole text, the wait
// cursor while work blocks the window's thread, and the list-view steps
// every list page takes.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

// The window's whole text, however long.
std::wstring WindowText(HWND window);

// Where the user goes on in a page's source and destination path edits: the
// destination when only it is empty, else the source (the one that can be
// wrong when both are typed).
HWND PathToFill(HWND source, HWND destination);

// The wait cursor while a file is read or written on the window's thread;
// the previous cursor comes back when it goes out of scope.
class WaitCursor
{
public:
    WaitCursor() noexcept : m_previous(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(m_previous); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR m_previous;
};

// Adds a report-view column titled by a string resource.
void AddListColumn(HWND list, int index, UINT textId, int width, int format = LVCFMT_LEFT);

// The selected items in ascending order.
std::vector<size_t> SelectedListItems(HWND list);

// Selects and focuses the item and scrolls it into view; other items keep
// their selection.
void SelectListItem(HWND list, int item);
