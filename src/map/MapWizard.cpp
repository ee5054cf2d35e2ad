#include "map/MapWizard.h"

#include <commctrl.h>
#include <commdlg.h>
#include <windowsx.h>

#include "base/Exception.h"
#include "base/FilePath.h"
#include "base/ResourceString.h"
#include "base/Text.h"
#include "map/LayerPropertySheet.h"
#include "map/MapResources.h"
#include "ui/FileDialog.h"
#include "ui/MessageBox.h"
#include "ui/ShellFolders.h"
#include "ui/WindowGuard.h"
#include "ui/WindowHelpers.h"
#include "ui/WizardResources.h"

namespace {

// Runs the work of a Next button: a failure is shown and keeps the page.
template <typename Work>
LRESULT MoveOnUnlessFailed(HWND page, Work work)
{
    return GuardWindowMessage(page, [&]() -> LRESULT {
               work();
               return 0;
           })
        .value_or(-1);
}

bool PathExists(const std::wstring& path)
{
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A destination typed without extension gets the source's kind: ".imi"
// after an .imi source, ".img" otherwise.
const wchar_t* DestinationExtension(const std::wstring& source)
{
    const size_t dot = source.find_last_of(L".\\/:");
    const bool imi = dot != std::wstring::npos && EqualsIgnoreCase(std::wstring_view(source).substr(dot), L".imi");
    return imi ? L"imi" : L"img";
}

// The completion page's words: the new map and what changed in it.
std::wstring CompletionText(const std::wstring& destination, const LayerConfiguration& layers)
{
    const LayerEditSummary summary = layers.EditSummary();
    std::wstring text = FormatResourceString(
        IDS_MAP_COMPLETED, {destination, std::to_wstring(summary.removed), std::to_wstring(summary.edited)});
    if (summary.reordered)
        text += LoadResourceString(IDS_MAP_COMPLETED_REORDERED);
    return text;
}

} // namespace

CMapWizard::CMapWizard()
    : CWizardSheet(IDS_MAP_WIZARD_TITLE, IDS_MAP_WIZARD_CANCEL),
      m_introductionPage(*this, IDD_MAP_INTRODUCTION, L"CMapWizard::CIntroductionPage"),
      m_completionPage(*this, IDD_MAP_COMPLETION)
{
    AddPages(m_introductionPage, m_sourcePage, m_contentsPage, m_actionPage, m_layersPage, m_destinationPage,
             m_completionPage);
}

// Source map ------------------------------------------------------------------

CMapWizard::CSourcePage::CSourcePage(CMapWizard& wizard) : CWizardPage(wizard, IDD_MAP_SOURCE), m_wizard(wizard)
{
    SetHeaderText(IDS_MAP_SOURCE_HEADER);
}

BOOL CMapWizard::CSourcePage::OnInitDialog()
{
    // The choice to go on without a source map is never offered.
    ShowWindow(Item(IDC_MAP_NO_SOURCE), SW_HIDE);
    SetWindowTextW(Item(IDC_MAP_SOURCE_PATH), m_wizard.m_sourcePath.c_str());
    m_completion = EnablePathAutoComplete(Item(IDC_MAP_SOURCE_PATH));
    return TRUE;
}

LRESULT CMapWizard::CSourcePage::OnSetActive()
{
    Update();
    return 0;
}

// The path while it is empty, else Next.
HWND CMapWizard::CSourcePage::InitialFocus() const
{
    const HWND path = Item(IDC_MAP_SOURCE_PATH);
    return GetWindowTextLengthW(path) == 0 ? path : nullptr;
}

void CMapWizard::CSourcePage::Update()
{
    const bool noSource = IsDlgButtonChecked(Window(), IDC_MAP_NO_SOURCE) == BST_CHECKED;
    for (const int id : {IDC_MAP_SOURCE_LABEL, IDC_MAP_SOURCE_PATH, IDC_MAP_SOURCE_BROWSE})
        EnableWindow(Item(id), !noSource);
    const bool canGoOn = noSource || PathExists(WindowText(Item(IDC_MAP_SOURCE_PATH)));
    SetWizardButtons(canGoOn ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_BACK);
}

void CMapWizard::CSourcePage::Browse()
{
    std::wstring path = WindowText(Item(IDC_MAP_SOURCE_PATH));
    if (ShowFileDialog(Window(), true, L"img", path, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                       LoadResourceString(IDS_MAP_FILTER_SOURCE)) != IDOK)
        return;
    SetWindowTextW(Item(IDC_MAP_SOURCE_PATH), path.c_str());
    Update();
}

void CMapWizard::CSourcePage::OnCommand(WORD id, WORD code, HWND)
{
    if ((id == IDC_MAP_SOURCE_PATH && code == EN_CHANGE) || (id == IDC_MAP_NO_SOURCE && code == BN_CLICKED))
        Update();
    else if (id == IDC_MAP_SOURCE_BROWSE && code == BN_CLICKED)
        Browse();
}

// The map is loaded here, not on the contents page: a file that is no map
// keeps the user on this page with the path selected for correction.
LRESULT CMapWizard::CSourcePage::OnWizardNext()
{
    const bool noSource = IsDlgButtonChecked(Window(), IDC_MAP_NO_SOURCE) == BST_CHECKED;
    m_wizard.m_sourcePath = noSource ? std::wstring() : WindowText(Item(IDC_MAP_SOURCE_PATH));
    if (noSource)
        return 0;
    const LRESULT result = MoveOnUnlessFailed(Window(), [&] {
        WaitCursor wait;
        OpenContainer(m_wizard.m_container, m_wizard.m_sourcePath);
    });
    if (result != 0)
        SelectEditText(Window(), Item(IDC_MAP_SOURCE_PATH));
    return result;
}

// Action ----------------------------------------------------------------------

CMapWizard::CActionPage::CActionPage(CMapWizard& wizard) : CWizardPage(wizard, IDD_MAP_ACTION), m_wizard(wizard)
{
    SetHeaderText(IDS_MAP_ACTION_HEADER);
}

BOOL CMapWizard::CActionPage::OnInitDialog()
{
    const HWND list = Item(IDC_MAP_ACTIONS);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    AddListColumn(list, 0, IDS_MAP_COLUMN_ACTION, 150);
    AddListColumn(list, 1, IDS_MAP_COLUMN_DESCRIPTION, 250);
    std::wstring action = LoadResourceString(IDS_MAP_ACTION_LAYERS);
    std::wstring description = LoadResourceString(IDS_MAP_ACTION_LAYERS_DESCRIPTION);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.pszText = action.data();
    ListView_InsertItem(list, &item);
    ListView_SetItemText(list, 0, 1, description.data());
    // The one action starts chosen, so Next goes on at once.
    SelectListItem(list, 0);
    // Wide enough for the texts in the dialog font, whatever its size.
    ListView_SetColumnWidth(list, 0, LVSCW_AUTOSIZE);
    ListView_SetColumnWidth(list, 1, LVSCW_AUTOSIZE_USEHEADER);
    return TRUE;
}

LRESULT CMapWizard::CActionPage::OnSetActive()
{
    Update();
    return 0;
}

HWND CMapWizard::CActionPage::InitialFocus() const
{
    return Item(IDC_MAP_ACTIONS);
}

void CMapWizard::CActionPage::Update()
{
    const bool chosen = ListView_GetSelectedCount(Item(IDC_MAP_ACTIONS)) > 0;
    SetWizardButtons(chosen ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_BACK);
}

std::optional<LRESULT> CMapWizard::CActionPage::OnMessage(UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_NOTIFY)
        return std::nullopt;
    const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
    if (header.idFrom != IDC_MAP_ACTIONS)
        return std::nullopt;
    if (header.code == LVN_ITEMCHANGED) {
        Update();
        return 0;
    }
    if (header.code == NM_DBLCLK && ListView_GetSelectedCount(Item(IDC_MAP_ACTIONS)) == 1) {
        PostMessageW(GetParent(Window()), PSM_PRESSBUTTON, PSBTN_NEXT, 0);
        return 0;
    }
    return std::nullopt;
}

// Layers ----------------------------------------------------------------------

CMapWizard::CLayersPage::CLayersPage(CMapWizard& wizard) : CWizardPage(wizard, IDD_MAP_LAYERS), m_wizard(wizard)
{
    SetHeaderText(IDS_MAP_LAYERS_HEADER);
}

BOOL CMapWizard::CLayersPage::OnInitDialog()
{
    const HWND list = Item(IDC_MAP_LAYER_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    AddListColumn(list, 0, IDS_MAP_COLUMN_LAYER, 250);
    return TRUE;
}

LRESULT CMapWizard::CLayersPage::OnSetActive()
{
    Update();
    try {
        WaitCursor wait;
        m_wizard.m_layers.LoadLayerConfiguration(m_wizard.m_container);
    } catch (...) {
        Fill({});
        Update();
        throw;
    }
    Fill({});
    Update();
    return 0;
}

void CMapWizard::CLayersPage::Fill(const std::vector<size_t>& selected)
{
    const HWND list = Item(IDC_MAP_LAYER_LIST);
    const LayerConfiguration& layers = m_wizard.m_layers;
    m_filling = true;
    SetWindowRedraw(list, FALSE);
    ListView_DeleteAllItems(list);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    for (size_t position = 0; position < layers.VisibleCount(); ++position) {
        std::wstring identifier = layers.VisibleLayer(position).Identifier();
        item.iItem = static_cast<int>(position);
        item.pszText = identifier.data();
        ListView_InsertItem(list, &item);
    }
    for (const size_t position : selected)
        SelectListItem(list, static_cast<int>(position));
    SetWindowRedraw(list, TRUE);
    m_filling = false;
}

std::vector<size_t> CMapWizard::CLayersPage::Selected() const
{
    return SelectedListItems(Item(IDC_MAP_LAYER_LIST));
}

void CMapWizard::CLayersPage::Update()
{
    const std::vector<size_t> selected = Selected();
    const LayerConfiguration& layers = m_wizard.m_layers;
    const bool one = selected.size() == 1;
    EnableWindow(Item(IDC_MAP_REMOVE), !selected.empty());
    EnableWindow(Item(IDC_MAP_PROPERTIES), !selected.empty());
    EnableWindow(Item(IDC_MAP_MOVE_UP), one && layers.CanMoveLayerUp(selected.front()));
    EnableWindow(Item(IDC_MAP_MOVE_DOWN), one && layers.CanMoveLayerDown(selected.front()));
    SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
}

// The layer that followed the first removed one takes the selection (the
// last layer when the end was removed).
void CMapWizard::CLayersPage::Remove()
{
    const std::vector<size_t> selected = Selected();
    if (selected.empty())
        return;
    LayerConfiguration& layers = m_wizard.m_layers;
    layers.RemoveLayers(selected);
    const size_t count = layers.VisibleCount();
    Fill(count == 0 ? std::vector<size_t>{} : std::vector<size_t>{std::min(selected.front(), count - 1)});
    Update();
    FocusList();
}

HWND CMapWizard::CLayersPage::InitialFocus() const
{
    return Item(IDC_MAP_LAYER_LIST);
}

void CMapWizard::CLayersPage::FocusList() const
{
    FocusControl(Item(IDC_MAP_LAYER_LIST));
}

void CMapWizard::CLayersPage::Move(bool up)
{
    const std::vector<size_t> selected = Selected();
    if (selected.size() != 1)
        return;
    LayerConfiguration& layers = m_wizard.m_layers;
    const size_t position = up ? layers.MoveLayerUp(selected.front()) : layers.MoveLayerDown(selected.front());
    Fill({position});
    Update();
    FocusList();
}

void CMapWizard::CLayersPage::ShowProperties()
{
    const std::vector<size_t> selected = Selected();
    if (selected.empty())
        return;
    LayerConfiguration& layers = m_wizard.m_layers;
    CLayerPropertySheet sheet(layers, selected);
    sheet.DoModal(m_wizard.Window());
    layers.LayerSheetClosed(selected);
    Fill(selected);
    Update();
    FocusList();
}

void CMapWizard::CLayersPage::OnCommand(WORD id, WORD code, HWND)
{
    if (code != BN_CLICKED)
        return;
    switch (id) {
    case IDC_MAP_REMOVE:
        Remove();
        break;
    case IDC_MAP_MOVE_UP:
    case IDC_MAP_MOVE_DOWN:
        Move(id == IDC_MAP_MOVE_UP);
        break;
    case IDC_MAP_PROPERTIES:
        ShowProperties();
        break;
    }
}

std::optional<LRESULT> CMapWizard::CLayersPage::OnMessage(UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_NOTIFY)
        return std::nullopt;
    const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
    if (header.idFrom != IDC_MAP_LAYER_LIST)
        return std::nullopt;
    switch (header.code) {
    case LVN_ITEMCHANGED:
        if (!m_filling)
            Update();
        return 0;
    case NM_DBLCLK:
        ShowProperties();
        return 0;
    case LVN_KEYDOWN:
        if (reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey == VK_DELETE)
            Remove();
        return 0;
    case LVN_BEGINDRAG:
        return 0;
    }
    return std::nullopt;
}

LRESULT CMapWizard::CLayersPage::OnWizardNext()
{
    return MoveOnUnlessFailed(Window(), [&] {
        WaitCursor wait;
        m_wizard.m_layers.SaveLayerConfiguration();
    });
}

// Destination map -------------------------------------------------------------

CMapWizard::CDestinationPage::CDestinationPage(CMapWizard& wizard)
    : CWizardPage(wizard, IDD_MAP_DESTINATION), m_wizard(wizard)
{
    SetHeaderText(IDS_MAP_DESTINATION_HEADER);
}

BOOL CMapWizard::CDestinationPage::OnInitDialog()
{
    m_completion = EnablePathAutoComplete(Item(IDC_MAP_DESTINATION_PATH));
    return TRUE;
}

LRESULT CMapWizard::CDestinationPage::OnSetActive()
{
    Update();
    return 0;
}

HWND CMapWizard::CDestinationPage::InitialFocus() const
{
    const HWND path = Item(IDC_MAP_DESTINATION_PATH);
    return GetWindowTextLengthW(path) == 0 ? path : nullptr;
}

void CMapWizard::CDestinationPage::Update()
{
    const bool named = GetWindowTextLengthW(Item(IDC_MAP_DESTINATION_PATH)) > 0;
    SetWizardButtons(named ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_BACK);
}

void CMapWizard::CDestinationPage::Browse()
{
    std::wstring path = WindowText(Item(IDC_MAP_DESTINATION_PATH));
    if (ShowFileDialog(Window(), false, L"img", path, OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY,
                       LoadResourceString(IDS_MAP_FILTER_DESTINATION)) != IDOK)
        return;
    SetWindowTextW(Item(IDC_MAP_DESTINATION_PATH), path.c_str());
    // The save dialog has asked before replacing an existing file.
    m_destinationField.SetConfirmed(std::move(path));
    Update();
}

void CMapWizard::CDestinationPage::OnCommand(WORD id, WORD code, HWND)
{
    if (id == IDC_MAP_DESTINATION_PATH && code == EN_CHANGE)
        Update();
    else if (id == IDC_MAP_DESTINATION_BROWSE && code == BN_CLICKED)
        Browse();
}

// The source itself as the destination is refused before anything is
// written (and the source stays open without write sharing besides).
LRESULT CMapWizard::CDestinationPage::OnWizardNext()
{
    std::optional<std::wstring> destination = m_destinationField.Take(
        Window(), IDC_MAP_DESTINATION_PATH, m_wizard.m_sourcePath, DestinationExtension(m_wizard.m_sourcePath));
    if (!destination)
        return -1;
    m_wizard.m_destinationPath = std::move(*destination);
    return MoveOnUnlessFailed(Window(), [&] {
        WaitCursor wait;
        const ContainerChanges changes = m_wizard.m_layers.GetContainerChanges();
        WriteModifiedContainer(m_wizard.m_container, m_wizard.m_destinationPath, changes.dropNames,
                               changes.replacement);
        m_wizard.m_completionPage.SetResult(CompletionText(m_wizard.m_destinationPath, m_wizard.m_layers),
                                            m_wizard.m_destinationPath);
    });
}
