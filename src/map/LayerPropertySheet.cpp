#include "map/LayerPropertySheet.h"

#include <windowsx.h>

#include "base/Exception.h"
#include "base/ResourceString.h"
#include "map/LayerTables.h"
#include "map/MapResources.h"
#include "ui/MessageBox.h"
#include "ui/WindowGuard.h"

namespace {

struct AppearanceControl
{
    int id;
    AppearanceList list;
};

constexpr AppearanceControl c_appearanceControls[] = {
    {IDC_LAYER_COLOUR, APPEARANCELIST_COLOUR},
    {IDC_LAYER_STYLE, APPEARANCELIST_STYLE},
    {IDC_LAYER_COLOUR4, APPEARANCELIST_COLOUR4},
    {IDC_LAYER_STYLE4, APPEARANCELIST_STYLE4},
};

// "Highest\nHigh\n..." split into its lines.
std::vector<std::wstring> Lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find(L'\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace

CLayerPropertySheet::CLayerPropertySheet(LayerConfiguration& layers, std::vector<size_t> positions)
    : m_layers(layers), m_positions(std::move(positions))
{
    if (m_positions.empty())
        ThrowHr(E_INVALIDARG);
}

INT_PTR CLayerPropertySheet::DoModal(HWND parent)
{
    const std::wstring caption = LoadResourceString(IDS_LAYER_SHEET_CAPTION);
    PROPSHEETPAGEW pages[] = {m_optionsPage.PageStructure(), m_zoomLevelsPage.PageStructure()};
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOCONTEXTHELP;
    header.hwndParent = parent;
    header.hInstance = ResourceInstance();
    header.pszCaption = caption.c_str();
    header.nPages = static_cast<UINT>(std::size(pages));
    header.nStartPage = 0;
    header.ppsp = pages;
    const INT_PTR result = PropertySheetW(&header);
    ThrowLastErrorIf(result < 0);
    return result;
}

// Pages -----------------------------------------------------------------------

CLayerPropertySheet::CPage::CPage(CLayerPropertySheet& sheet, UINT templateId, UINT tabTitleId)
    : m_sheet(sheet), m_tabTitle(LoadResourceString(tabTitleId))
{
    m_page.dwSize = sizeof m_page;
    m_page.dwFlags = PSP_USETITLE;
    m_page.hInstance = ResourceInstance();
    m_page.pszTemplate = MAKEINTRESOURCEW(templateId);
    m_page.pszTitle = m_tabTitle.c_str();
    m_page.pfnDlgProc = DialogProcedure;
    m_page.lParam = reinterpret_cast<LPARAM>(this);
}

void CLayerPropertySheet::CPage::Changed() const
{
    PropSheet_Changed(GetParent(m_window), m_window);
}

const LayerRecord& CLayerPropertySheet::CPage::FirstLayer() const
{
    return m_sheet.m_layers.VisibleLayer(m_sheet.m_positions.front());
}

INT_PTR CALLBACK CLayerPropertySheet::CPage::DialogProcedure(HWND window, UINT message, WPARAM wParam,
                                                             LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* page = reinterpret_cast<CPage*>(reinterpret_cast<const PROPSHEETPAGEW*>(lParam)->lParam);
        page->m_window = window;
        SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
    }
    auto* page = reinterpret_cast<CPage*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!page)
        return FALSE;
    const std::optional<LRESULT> result =
        GuardWindowMessage(window, [&] { return page->HandleMessage(message, wParam, lParam); });
    if (!result)
        return FALSE;
    if (message == WM_INITDIALOG)
        return static_cast<INT_PTR>(*result);
    SetWindowLongPtrW(window, DWLP_MSGRESULT, static_cast<LONG_PTR>(*result));
    return TRUE;
}

std::optional<LRESULT> CLayerPropertySheet::CPage::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_NOTIFY: {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (header.code != PSN_APPLY) {
            OnNotify(header);
            return std::nullopt;
        }
        // A failure keeps the sheet open on this page.
        try {
            Apply();
        } catch (const CAtlException& failure) {
            ShowErrorMessage(m_window, failure);
            return PSNRET_INVALID_NOCHANGEPAGE;
        } catch (...) {
            ShowErrorMessage(m_window, ResultFromCaughtException());
            return PSNRET_INVALID_NOCHANGEPAGE;
        }
        return PSNRET_NOERROR;
    }
    case WM_NCDESTROY:
        m_window = nullptr;
        return std::nullopt;
    }
    return std::nullopt;
}

// Options ---------------------------------------------------------------------

CLayerPropertySheet::COptionsPage::COptionsPage(CLayerPropertySheet& sheet)
    : CPage(sheet, IDD_LAYER_OPTIONS, IDS_LAYER_OPTIONS_TAB)
{
}

void CLayerPropertySheet::COptionsPage::OnInitDialog()
{
    m_filling = true;
    const LayerRecord& first = FirstLayer();
    for (const auto& control : c_appearanceControls) {
        const HWND list = Item(control.id);
        const auto names = AppearanceNames(control.list);
        SendMessageW(list, CB_INITSTORAGE, names.size(), names.size() * 24 * sizeof(wchar_t));
        for (const wchar_t* name : names)
            ComboBox_AddString(list, name);
        const std::optional<size_t> shown = ShownAppearance(first, control.list);
        ComboBox_SetCurSel(list, shown ? static_cast<int>(*shown) : -1);
    }
    m_choices = AppearanceChoices();
    m_filling = false;
}

void CLayerPropertySheet::COptionsPage::OnCommand(WORD id, WORD code)
{
    if (code != CBN_SELCHANGE || m_filling)
        return;
    for (const auto& control : c_appearanceControls) {
        if (control.id != id)
            continue;
        const int selected = ComboBox_GetCurSel(Item(id));
        if (selected < 0)
            return;
        m_choices.Choose(control.list, static_cast<size_t>(selected));
        Changed();
    }
}

void CLayerPropertySheet::COptionsPage::Apply()
{
    if (m_choices.HasChanges())
        m_sheet.m_layers.ApplyAppearance(m_sheet.m_positions, m_choices.TakeChange());
}

// Zoom Levels -----------------------------------------------------------------

CLayerPropertySheet::CZoomLevelsPage::CZoomLevelsPage(CLayerPropertySheet& sheet)
    : CPage(sheet, IDD_LAYER_ZOOM_LEVELS, IDS_LAYER_ZOOM_LEVELS_TAB)
{
}

void CLayerPropertySheet::CZoomLevelsPage::OnInitDialog()
{
    m_filling = true;
    const HWND levels = Item(IDC_LAYER_DETAIL_LEVELS);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = 200;
    ListView_InsertColumn(levels, 0, &column);
    ListView_SetExtendedListViewStyle(levels, LVS_EX_FULLROWSELECT);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    for (std::wstring& name : Lines(LoadResourceString(IDS_LAYER_DETAIL_LEVELS))) {
        item.pszText = name.data();
        ListView_InsertItem(levels, &item);
        ++item.iItem;
    }
    ListView_SetItemState(levels, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    // The distances are the same in every language; "Any" is translated.
    std::vector<std::wstring> choices{LoadResourceString(IDS_LAYER_ZOOM_ANY)};
    for (int index = 1; index < c_zoomLevelCount; ++index)
        choices.push_back(ZoomLevelText(index));
    for (int field = 0; field < c_zoomFieldCount; ++field) {
        const HWND list = Item(IDC_LAYER_ZOOM_FIRST + field);
        for (int index = 0; index < c_zoomLevelCount; ++index)
            ComboBox_SetItemData(list, ComboBox_AddString(list, choices[index].c_str()), index);
    }
    m_filling = false;
    ShowValues();
}

std::vector<int> CLayerPropertySheet::CZoomLevelsPage::SelectedLevels() const
{
    std::vector<int> levels;
    const HWND list = Item(IDC_LAYER_DETAIL_LEVELS);
    for (int item = ListView_GetNextItem(list, -1, LVNI_SELECTED); item >= 0;
         item = ListView_GetNextItem(list, item, LVNI_SELECTED))
        levels.push_back(item);
    return levels;
}

// The six lists show the first selected level's values; with no level
// selected they are disabled.
void CLayerPropertySheet::CZoomLevelsPage::ShowValues()
{
    const std::vector<int> levels = SelectedLevels();
    for (int field = 0; field < c_zoomFieldCount; ++field) {
        const HWND list = Item(IDC_LAYER_ZOOM_FIRST + field);
        EnableWindow(list, !levels.empty());
        if (levels.empty())
            continue;
        const int index = m_choices.Shown(FirstLayer(), levels.front(), field);
        ComboBox_SetCurSel(list, index >= 0 && index < c_zoomLevelCount ? index : -1);
    }
}

void CLayerPropertySheet::CZoomLevelsPage::OnNotify(const NMHDR& header)
{
    if (header.idFrom != IDC_LAYER_DETAIL_LEVELS || header.code != LVN_ITEMCHANGED || m_filling)
        return;
    const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
    if ((change.uChanged & LVIF_STATE) && ((change.uOldState ^ change.uNewState) & LVIS_SELECTED))
        ShowValues();
}

void CLayerPropertySheet::CZoomLevelsPage::OnCommand(WORD id, WORD code)
{
    const int field = id - IDC_LAYER_ZOOM_FIRST;
    if (code != CBN_SELCHANGE || m_filling || field < 0 || field >= c_zoomFieldCount)
        return;
    const HWND list = Item(id);
    const int selected = ComboBox_GetCurSel(list);
    if (selected < 0)
        return;
    const std::vector<int> levels = SelectedLevels();
    if (levels.empty())
        return;
    m_choices.Choose(levels, field, static_cast<int>(ComboBox_GetItemData(list, selected)));
    Changed();
}

void CLayerPropertySheet::CZoomLevelsPage::Apply()
{
    if (m_choices.IsChanged())
        m_sheet.m_layers.ApplyZoomLevels(m_sheet.m_positions, m_choices.TakePending());
}
