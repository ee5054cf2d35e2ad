#include "map/MapWizard.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windowsx.h>

#include "base/Exception.h"
#include "base/FilePath.h"
#include "base/ResourceString.h"
#include "base/Text.h"
#include "map/LayerPropertySheet.h"
#include "map/MapResources.h"
#include "map/NumberFormat.h"
#include "ui/FileDialog.h"
#include "ui/MessageBox.h"
#include "ui/WizardResources.h"

namespace {

constexpr wchar_t c_singleFileSaved[] = L"CMapWizard::CSourceContentsPage::SingleFileSaved";
constexpr wchar_t c_multipleFilesSaved[] = L"CMapWizard::CSourceContentsPage::MultipleFilesSaved";
constexpr UINT c_savedMessageType = MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2;

std::wstring WindowText(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The string resource with each "%s" or "%d" replaced by the next value.
std::wstring FormatResourceString(UINT id, std::initializer_list<std::wstring> values)
{
    const std::wstring format = LoadResourceString(id);
    std::wstring text;
    auto value = values.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size() && (format[i + 1] == L's' || format[i + 1] == L'd') &&
            value != values.end()) {
            text += *value++;
            ++i;
        } else {
            text += format[i];
        }
    }
    return text;
}

// The wait cursor while a file is read or written on the wizard's thread.
class WaitCursor
{
public:
    WaitCursor() : m_previous(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(m_previous); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR m_previous;
};

// Runs the work of a Next button: a failure is shown and keeps the page.
template <typename Work>
LRESULT MoveOnUnlessFailed(HWND page, Work work)
{
    try {
        work();
        return 0;
    } catch (const CAtlException& failure) {
        ShowErrorMessage(page, failure);
    } catch (...) {
        ShowErrorMessage(page, ResultFromCaughtException());
    }
    return -1;
}

void AddColumn(HWND list, int index, UINT textId, int width, int format = LVCFMT_LEFT)
{
    std::wstring text = LoadResourceString(textId);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = format;
    column.cx = width;
    column.pszText = text.data();
    ListView_InsertColumn(list, index, &column);
}

std::vector<size_t> SelectedItems(HWND list)
{
    std::vector<size_t> selected;
    for (int item = ListView_GetNextItem(list, -1, LVNI_SELECTED); item >= 0;
         item = ListView_GetNextItem(list, item, LVNI_SELECTED))
        selected.push_back(static_cast<size_t>(item));
    return selected;
}

void SelectItem(HWND list, int item)
{
    ListView_SetItemState(list, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list, item, FALSE);
}

bool PathExists(const std::wstring& path)
{
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void OpenFolder(HWND owner, const std::wstring& folder)
{
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(owner, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    ThrowLastErrorIf(result <= 32);
}

// The folder browser for a multiple extraction; empty when cancelled.
std::wstring BrowseForFolder(HWND owner)
{
    const std::wstring prompt = LoadResourceString(IDS_MAP_SAVE_MULTIPLE);
    BROWSEINFOW browse = {};
    browse.hwndOwner = owner;
    browse.lpszTitle = prompt.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_VALIDATE | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE folder = SHBrowseForFolderW(&browse);
    if (!folder)
        return {};
    // Room for the longest path the system takes, not MAX_PATH: a folder
    // chosen deep in a tree must not be cut.
    std::wstring path(32768, L'\0');
    const BOOL found = SHGetPathFromIDListEx(folder, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
    CoTaskMemFree(folder);
    if (!found)
        ThrowWin32(ERROR_PATH_NOT_FOUND);
    path.resize(wcsnlen(path.c_str(), path.size()));
    return path;
}

// A destination typed without extension gets the source's kind: ".imi"
// after an .imi source, ".img" otherwise.
const wchar_t* DestinationExtension(const std::wstring& source)
{
    const size_t dot = source.find_last_of(L".\\/:");
    const bool imi = dot != std::wstring::npos && EqualsIgnoreCase(std::wstring_view(source).substr(dot), L".imi");
    return imi ? L"imi" : L"img";
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
        return folder + name;
    return folder + L"\\" + name;
}

} // namespace

CMapWizard::CMapWizard()
    : CWizardSheet(IDS_MAP_WIZARD_TITLE, IDS_MAP_WIZARD_CANCEL),
      m_introductionPage(*this, IDD_MAP_INTRODUCTION, L"CMapWizard::CIntroductionPage"),
      m_completionPage(*this, IDD_MAP_COMPLETION)
{
    AddPage(m_introductionPage);
    AddPage(m_sourcePage);
    AddPage(m_contentsPage);
    AddPage(m_actionPage);
    AddPage(m_layersPage);
    AddPage(m_destinationPage);
    AddPage(m_completionPage);
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

// Source map contents ---------------------------------------------------------

CMapWizard::CSourceContentsPage::CSourceContentsPage(CMapWizard& wizard)
    : CWizardPage(wizard, IDD_MAP_CONTENTS), m_wizard(wizard)
{
    SetHeaderText(IDS_MAP_CONTENTS_HEADER);
}

BOOL CMapWizard::CSourceContentsPage::OnInitDialog()
{
    const HWND list = Item(IDC_MAP_CONTENTS);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
    AddColumn(list, 0, IDS_MAP_COLUMN_FILE_NAME, 150);
    AddColumn(list, 1, IDS_MAP_COLUMN_OFFSET, 100, LVCFMT_RIGHT);
    AddColumn(list, 2, IDS_MAP_COLUMN_LENGTH, 100, LVCFMT_RIGHT);
    return TRUE;
}

// The source page has loaded the container; the list is rebuilt only for
// a newly loaded one.
LRESULT CMapWizard::CSourceContentsPage::OnSetActive()
{
    const MapContainer& container = m_wizard.m_container;
    if (m_shownGeneration != container.generation) {
        ListView_DeleteAllItems(Item(IDC_MAP_CONTENTS));
        Fill();
        m_shownGeneration = container.generation;
    }
    Update();
    return 0;
}

// One item per entry in directory order; the texts are asked for when shown.
void CMapWizard::CSourceContentsPage::Fill()
{
    const HWND list = Item(IDC_MAP_CONTENTS);
    SetWindowRedraw(list, FALSE);
    const auto& entries = m_wizard.m_container.entries;
    ListView_SetItemCount(list, static_cast<int>(entries.size()));
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.pszText = LPSTR_TEXTCALLBACKW;
    for (size_t i = 0; i < entries.size(); ++i) {
        item.iItem = static_cast<int>(i);
        item.lParam = static_cast<LPARAM>(i);
        ListView_InsertItem(list, &item);
    }
    SetWindowRedraw(list, TRUE);
}

void CMapWizard::CSourceContentsPage::Update()
{
    EnableWindow(Item(IDC_MAP_SAVE_AS), ListView_GetSelectedCount(Item(IDC_MAP_CONTENTS)) > 0);
    SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
}

void CMapWizard::CSourceContentsPage::OnGetDisplayInfo(NMLVDISPINFOW& info)
{
    if (!(info.item.mask & LVIF_TEXT) || info.item.cchTextMax <= 0)
        return;
    const auto& entries = m_wizard.m_container.entries;
    const auto index = static_cast<size_t>(info.item.iItem);
    if (index >= entries.size())
        return;
    const ContainerEntry& entry = entries[index];
    switch (info.item.iSubItem) {
    case 0:
        m_itemText = entry.name;
        break;
    case 1:
        m_itemText = FormatGroupedInteger(entry.offset);
        break;
    default:
        m_itemText = FormatGroupedInteger(entry.length);
        break;
    }
    info.item.pszText = m_itemText.data();
}

std::optional<LRESULT> CMapWizard::CSourceContentsPage::OnMessage(UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_NOTIFY)
        return std::nullopt;
    auto& header = *reinterpret_cast<NMHDR*>(lParam);
    if (header.idFrom != IDC_MAP_CONTENTS)
        return std::nullopt;
    switch (header.code) {
    case LVN_GETDISPINFOW:
        OnGetDisplayInfo(*reinterpret_cast<NMLVDISPINFOW*>(lParam));
        return 0;
    case LVN_GETINFOTIPW: {
        auto& tip = *reinterpret_cast<NMLVGETINFOTIPW*>(lParam);
        const auto& entries = m_wizard.m_container.entries;
        if (tip.iItem >= 0 && static_cast<size_t>(tip.iItem) < entries.size() && tip.cchTextMax > 0)
            lstrcpynW(tip.pszText, DescribeEntry(entries[static_cast<size_t>(tip.iItem)]).c_str(), tip.cchTextMax);
        return 0;
    }
    case LVN_ITEMCHANGED:
        Update();
        return 0;
    }
    return std::nullopt;
}

void CMapWizard::CSourceContentsPage::OnCommand(WORD id, WORD code, HWND)
{
    if (code != BN_CLICKED)
        return;
    if (id == IDC_MAP_SELECT_ALL) {
        ListView_SetItemState(Item(IDC_MAP_CONTENTS), -1, LVIS_SELECTED, LVIS_SELECTED);
        SetFocus(Item(IDC_MAP_CONTENTS));
    } else if (id == IDC_MAP_SAVE_AS) {
        SaveSelected();
    }
}

void CMapWizard::CSourceContentsPage::SaveSelected()
{
    std::vector<const ContainerEntry*> entries;
    for (const size_t item : SelectedItems(Item(IDC_MAP_CONTENTS)))
        entries.push_back(&m_wizard.m_container.entries.at(item));
    if (entries.size() == 1)
        SaveOne(*entries.front());
    else if (!entries.empty())
        SaveSeveral(entries);
}

void CMapWizard::CSourceContentsPage::SaveOne(const ContainerEntry& entry)
{
    std::wstring path = IsPlainFileName(entry.name) ? entry.name : std::wstring();
    if (ShowFileDialog(Window(), false, nullptr, path, OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY,
                       LoadResourceString(IDS_MAP_FILTER_ALL)) != IDOK)
        return;
    {
        WaitCursor wait;
        ExtractEntry(m_wizard.m_container, entry, path);
    }
    const std::wstring text = FormatResourceString(IDS_MAP_SINGLE_FILE_SAVED, {entry.name, path});
    if (ShowConfirmationMessageBox(Window(), c_singleFileSaved, text.c_str(), MAKEINTRESOURCEW(c_captionInformation),
                                   c_savedMessageType) == IDYES)
        OpenFolder(Window(), FolderOf(path));
}

// Entries whose names differ only in letter case would land in one file:
// the later ones are written as "NAME (2).EXT" and so on.
// A name that would leave the folder or name a device refuses the whole set
// before the folder is even asked for.
void CMapWizard::CSourceContentsPage::SaveSeveral(const std::vector<const ContainerEntry*>& entries)
{
    const ExtractionNames names = PlanExtraction(entries);
    const std::wstring folder = BrowseForFolder(Window());
    if (folder.empty())
        return;
    {
        WaitCursor wait;
        for (size_t i = 0; i < entries.size(); ++i)
            ExtractEntry(m_wizard.m_container, *entries[i], JoinPath(folder, names.fileNames[i]));
    }
    const std::wstring text =
        FormatResourceString(IDS_MAP_MULTIPLE_FILES_SAVED, {std::to_wstring(entries.size()), folder});
    if (ShowConfirmationMessageBox(Window(), c_multipleFilesSaved, text.c_str(),
                                   MAKEINTRESOURCEW(c_captionInformation), c_savedMessageType) == IDYES)
        OpenFolder(Window(), folder);
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
    AddColumn(list, 0, IDS_MAP_COLUMN_ACTION, 150);
    AddColumn(list, 1, IDS_MAP_COLUMN_DESCRIPTION, 250);
    std::wstring action = LoadResourceString(IDS_MAP_ACTION_LAYERS);
    std::wstring description = LoadResourceString(IDS_MAP_ACTION_LAYERS_DESCRIPTION);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.pszText = action.data();
    ListView_InsertItem(list, &item);
    ListView_SetItemText(list, 0, 1, description.data());
    // The one action starts chosen, so Next goes on at once.
    SelectItem(list, 0);
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
    AddColumn(list, 0, IDS_MAP_COLUMN_LAYER, 250);
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
        SelectItem(list, static_cast<int>(position));
    SetWindowRedraw(list, TRUE);
    m_filling = false;
}

std::vector<size_t> CMapWizard::CLayersPage::Selected() const
{
    return SelectedItems(Item(IDC_MAP_LAYER_LIST));
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

void CMapWizard::CLayersPage::Remove()
{
    const std::vector<size_t> selected = Selected();
    if (selected.empty())
        return;
    m_wizard.m_layers.RemoveLayers(selected);
    Fill({});
    Update();
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
    SetFocus(Item(IDC_MAP_LAYER_LIST));
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
    });
}
