#include "map/LayerPropertySheet.h"

#include <windowsx.h>

#include "base/Exception.h"
#include "base/Handle.h"
#include "base/ResourceString.h"
#include "map/LayerTables.h"
#include "map/MapResources.h"
#include "ui/MessageBox.h"
#include "ui/WindowGuard.h"
#include "ui/WindowPlacement.h"

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

// What each colour name looks like on a receiver's screen, in the order of
// the colour table.
constexpr COLORREF c_colourSwatches[] = {
    RGB(255, 0, 255),   RGB(128, 0, 0),     RGB(152, 251, 152), RGB(255, 255, 160), RGB(150, 75, 0),
    RGB(0, 255, 255),   RGB(255, 165, 0),   RGB(255, 255, 0),   RGB(255, 0, 0),     RGB(0, 0, 139),
    RGB(0, 128, 0),     RGB(0, 0, 255),     RGB(64, 64, 64),    RGB(192, 192, 192), RGB(0, 0, 0),
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

// The names a list shows, in table order: the translated names of the
// colours or of the styles.
std::vector<std::wstring> FriendlyNames(AppearanceList list)
{
    if (IsColourList(list)) {
        std::vector<std::wstring> names = Lines(LoadResourceString(IDS_LAYER_COLOUR_NAMES));
        if (names.size() != std::size(c_colourSwatches))
            ThrowWin32(ERROR_RESOURCE_NAME_NOT_FOUND);
        return names;
    }
    std::vector<std::wstring> names;
    const size_t count = AppearanceNames(list).size();
    names.reserve(count);
    for (size_t position = 0; position < count; ++position)
        names.push_back(LoadResourceString(static_cast<UINT>(IDS_LAYER_STYLE_FIRST + position)));
    return names;
}

bool IsColourControl(UINT id) noexcept
{
    return id == IDC_LAYER_COLOUR || id == IDC_LAYER_COLOUR4;
}

// One item of a colour list: the swatch, then the name. Without an item
// (layers whose colours differ) the field is left empty.
void DrawColourItem(const DRAWITEMSTRUCT& item)
{
    // An empty field is not painted as selected: there is nothing to mark.
    const bool empty = item.itemID == static_cast<UINT>(-1) || item.itemData >= std::size(c_colourSwatches);
    const bool selected = !empty && (item.itemState & ODS_SELECTED) != 0;
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    if (empty) {
        if (item.itemState & ODS_FOCUS)
            DrawFocusRect(item.hDC, &item.rcItem);
        return;
    }
    const int height = item.rcItem.bottom - item.rcItem.top;
    RECT swatch = {item.rcItem.left + 2, item.rcItem.top + 2, item.rcItem.left + 2 + 2 * (height - 4),
                   item.rcItem.bottom - 2};
    UniqueGdiObject brush(CreateSolidBrush(c_colourSwatches[item.itemData]));
    if (brush)
        FillRect(item.hDC, &swatch, static_cast<HBRUSH>(brush.Get()));
    FrameRect(item.hDC, &swatch, GetSysColorBrush(COLOR_WINDOWTEXT));
    const auto length = SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0);
    if (length > 0) {
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
        text.resize(wcsnlen(text.c_str(), text.size()));
        RECT textRect = item.rcItem;
        textRect.left = swatch.right + 4;
        SetBkMode(item.hDC, TRANSPARENT);
        SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &textRect,
                  DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    if (item.itemState & ODS_FOCUS)
        DrawFocusRect(item.hDC, &item.rcItem);
}

// The item of a list whose data is the table position, or -1.
int ItemOfPosition(HWND list, size_t position)
{
    const int count = ComboBox_GetCount(list);
    for (int item = 0; item < count; ++item)
        if (static_cast<size_t>(ComboBox_GetItemData(list, item)) == position)
            return item;
    return -1;
}

// Widens the drop-down of a list to its longest name, so that no name is cut.
void FitDroppedWidth(HWND list, const std::vector<std::wstring>& names)
{
    const WindowDC dc(list);
    if (!dc)
        return;
    const SelectedObject font(dc.Get(), reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    LONG widest = 0;
    for (const std::wstring& name : names) {
        SIZE size = {};
        if (GetTextExtentPoint32W(dc.Get(), name.c_str(), static_cast<int>(name.size()), &size))
            widest = std::max(widest, size.cx);
    }
    const int margins = 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL) + 8;
    SendMessageW(list, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + margins), 0);
}

} // namespace

CLayerPropertySheet::CLayerPropertySheet(LayerConfiguration& layers, std::vector<size_t> positions)
    : m_layers(layers), m_positions(std::move(positions))
{
    if (m_positions.empty())
        ThrowHr(E_INVALIDARG);
    for (const size_t position : m_positions)
        m_selection.push_back(&m_layers.VisibleLayer(position));
}

std::wstring CLayerPropertySheet::Caption() const
{
    if (m_selection.size() == 1)
        return FormatResourceString(IDS_LAYER_SHEET_CAPTION, {m_selection.front()->Identifier()});
    return FormatResourceString(IDS_LAYER_SHEET_CAPTION_SEVERAL, {std::to_wstring(m_selection.size())});
}

// Once the sheet window exists, before it is shown: centred over the
// wizard.
int CALLBACK CLayerPropertySheet::SheetCallback(HWND window, UINT message, LPARAM)
{
    if (message == PSCB_INITIALIZED)
        CenterWindow(window);
    return 0;
}

INT_PTR CLayerPropertySheet::DoModal(HWND parent)
{
    const std::wstring caption = Caption();
    PROPSHEETPAGEW pages[] = {m_optionsPage.PageStructure(), m_zoomLevelsPage.PageStructure()};
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOCONTEXTHELP | PSH_USECALLBACK;
    header.pfnCallback = SheetCallback;
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
    : CPropertyPage(templateId), m_sheet(sheet), m_tabTitle(LoadResourceString(tabTitleId))
{
    PageStructure().dwFlags = PSP_USETITLE;
    PageStructure().pszTitle = m_tabTitle.c_str();
}

void CLayerPropertySheet::CPage::Changed() const
{
    PropSheet_Changed(GetParent(Window()), Window());
}

std::optional<LRESULT> CLayerPropertySheet::CPage::OnNotify(const NMHDR& header)
{
    if (header.code != PSN_APPLY) {
        OnOtherNotify(header);
        return std::nullopt;
    }
    // A refusal or failure keeps the sheet open on this page.
    return GuardWindowMessage(Window(), [&]() -> LRESULT {
               return Apply() ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE;
           })
        .value_or(PSNRET_INVALID_NOCHANGEPAGE);
}

// Options ---------------------------------------------------------------------

CLayerPropertySheet::COptionsPage::COptionsPage(CLayerPropertySheet& sheet)
    : CPage(sheet, IDD_LAYER_OPTIONS, IDS_LAYER_OPTIONS_TAB)
{
}

BOOL CLayerPropertySheet::COptionsPage::OnInitDialog()
{
    m_filling = true;
    for (const auto& control : c_appearanceControls)
        FillList(control.id, control.list);
    m_choices = AppearanceChoices();
    m_filling = false;
    return TRUE;
}

// The list's names with the shared value selected; empty where the layers
// differ. Each item carries its position in the table, since the style
// lists sort their names; the drop-down is as wide as the longest name.
void CLayerPropertySheet::COptionsPage::FillList(int id, AppearanceList list)
{
    const HWND control = Item(id);
    const std::vector<std::wstring> names = FriendlyNames(list);
    SendMessageW(control, CB_INITSTORAGE, names.size(), names.size() * 24 * sizeof(wchar_t));
    for (size_t position = 0; position < names.size(); ++position)
        ComboBox_SetItemData(control, ComboBox_AddString(control, names[position].c_str()), position);
    const std::optional<size_t> shared = SharedAppearance(Layers(), list);
    ComboBox_SetCurSel(control, shared ? ItemOfPosition(control, *shared) : -1);
    FitDroppedWidth(control, names);
}

std::optional<LRESULT> CLayerPropertySheet::COptionsPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_DRAWITEM || !IsColourControl(static_cast<UINT>(wParam)))
        return std::nullopt;
    DrawColourItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    return TRUE;
}

void CLayerPropertySheet::COptionsPage::OnCommand(WORD id, WORD code, HWND)
{
    if (code != CBN_SELCHANGE || m_filling)
        return;
    for (const auto& control : c_appearanceControls) {
        if (control.id != id)
            continue;
        const int selected = ComboBox_GetCurSel(Item(id));
        if (selected < 0)
            return;
        m_choices.Choose(control.list, static_cast<size_t>(ComboBox_GetItemData(Item(id), selected)));
        Changed();
    }
}

bool CLayerPropertySheet::COptionsPage::Apply()
{
    if (m_choices.HasChanges())
        m_sheet.m_layers.ApplyAppearance(m_sheet.m_positions, m_choices.TakeChange());
    return true;
}

// Zoom Levels -----------------------------------------------------------------

CLayerPropertySheet::CZoomLevelsPage::CZoomLevelsPage(CLayerPropertySheet& sheet)
    : CPage(sheet, IDD_LAYER_ZOOM_LEVELS, IDS_LAYER_ZOOM_LEVELS_TAB)
{
}

BOOL CLayerPropertySheet::CZoomLevelsPage::OnInitDialog()
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
    return TRUE;
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

// The six lists show the value the layers share for the selected levels,
// empty where they differ; with no level selected they are disabled.
void CLayerPropertySheet::CZoomLevelsPage::ShowValues()
{
    const std::vector<int> levels = SelectedLevels();
    for (int field = 0; field < c_zoomFieldCount; ++field) {
        const HWND list = Item(IDC_LAYER_ZOOM_FIRST + field);
        EnableWindow(list, !levels.empty());
        if (levels.empty())
            continue;
        const int index = m_choices.Shared(Layers(), levels, field);
        ComboBox_SetCurSel(list, index >= 0 && index < c_zoomLevelCount ? index : -1);
    }
}

void CLayerPropertySheet::CZoomLevelsPage::OnOtherNotify(const NMHDR& header)
{
    if (header.idFrom != IDC_LAYER_DETAIL_LEVELS || header.code != LVN_ITEMCHANGED || m_filling)
        return;
    const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
    if ((change.uChanged & LVIF_STATE) && ((change.uOldState ^ change.uNewState) & LVIS_SELECTED))
        ShowValues();
}

void CLayerPropertySheet::CZoomLevelsPage::OnCommand(WORD id, WORD code, HWND)
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

bool CLayerPropertySheet::CZoomLevelsPage::Apply()
{
    if (!m_choices.IsChanged())
        return true;
    if (const std::optional<InvertedZoomRange> inverted = m_choices.FindInvertedRange(Layers())) {
        ShowInvertedRange(*inverted);
        return false;
    }
    m_sheet.m_layers.ApplyZoomLevels(m_sheet.m_positions, m_choices.TakePending());
    return true;
}

// Says which range is inverted, then shows that level with the "from" list
// focused for the correction.
void CLayerPropertySheet::CZoomLevelsPage::ShowInvertedRange(const InvertedZoomRange& range)
{
    const std::vector<std::wstring> levelNames = Lines(LoadResourceString(IDS_LAYER_DETAIL_LEVELS));
    const std::wstring text = FormatResourceString(
        IDS_LAYER_ZOOM_INVERTED, {Layers()[range.layer]->Identifier(), levelNames.at(static_cast<size_t>(range.level)),
                                  ZoomLevelText(range.from), ZoomLevelText(range.to)});
    ShowMessageBox(Window(), text.c_str(), MAKEINTRESOURCEW(c_captionError), MB_OK | MB_ICONWARNING);
    const HWND levels = Item(IDC_LAYER_DETAIL_LEVELS);
    ListView_SetItemState(levels, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(levels, range.level, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SetFocus(Item(IDC_LAYER_ZOOM_FIRST + range.fromField));
}
