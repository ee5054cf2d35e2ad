#include "ui/WindowHelpers.h"

#include "base/ResourceString.h"

std::wstring WindowText(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

HWND PathToFill(HWND source, HWND destination)
{
    return !WindowText(source).empty() && WindowText(destination).empty() ? destination : source;
}

void AddListColumn(HWND list, int index, UINT textId, int width, int format)
{
    std::wstring text = LoadResourceString(textId);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = format;
    column.cx = width;
    column.pszText = text.data();
    ListView_InsertColumn(list, index, &column);
}

std::vector<size_t> SelectedListItems(HWND list)
{
    std::vector<size_t> selected;
    for (int item = ListView_GetNextItem(list, -1, LVNI_SELECTED); item >= 0;
         item = ListView_GetNextItem(list, item, LVNI_SELECTED))
        selected.push_back(static_cast<size_t>(item));
    return selected;
}

void SelectListItem(HWND list, int item)
{
    ListView_SetItemState(list, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list, item, FALSE);
}
