// The map wizard's contents page: the packed files of the source map, and
// their extraction into a file or a folder.
#include "map/MapWizard.h"

#include <commctrl.h>
#include <commdlg.h>
#include <windowsx.h>

#include "base/Exception.h"
#include "base/FilePath.h"
#include "base/ResourceString.h"
#include "map/MapResources.h"
#include "map/NumberFormat.h"
#include "ui/FileDialog.h"
#include "ui/MessageBox.h"
#include "ui/ShellFolders.h"
#include "ui/WindowHelpers.h"

namespace {

constexpr wchar_t c_singleFileSaved[] = L"CMapWizard::CSourceContentsPage::SingleFileSaved";
constexpr wchar_t c_multipleFilesSaved[] = L"CMapWizard::CSourceContentsPage::MultipleFilesSaved";
constexpr UINT c_savedMessageType = MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2;

} // namespace

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
    AddListColumn(list, 0, IDS_MAP_COLUMN_FILE_NAME, 150);
    AddListColumn(list, 1, IDS_MAP_COLUMN_OFFSET, 100, LVCFMT_RIGHT);
    AddListColumn(list, 2, IDS_MAP_COLUMN_LENGTH, 100, LVCFMT_RIGHT);
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

HWND CMapWizard::CSourceContentsPage::InitialFocus() const
{
    return Item(IDC_MAP_CONTENTS);
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
        FocusControl(Item(IDC_MAP_CONTENTS));
    } else if (id == IDC_MAP_SAVE_AS) {
        SaveSelected();
    }
}

void CMapWizard::CSourceContentsPage::SaveSelected()
{
    std::vector<const ContainerEntry*> entries;
    for (const size_t item : SelectedListItems(Item(IDC_MAP_CONTENTS)))
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
        ShowFileInFolder(path);
}

// Entries whose names differ only in letter case would land in one file:
// the later ones are written as "NAME (2).EXT" and so on.
// A name that would leave the folder or name a device refuses the whole set
// before the folder is even asked for.
void CMapWizard::CSourceContentsPage::SaveSeveral(const std::vector<const ContainerEntry*>& entries)
{
    const ExtractionNames names = PlanExtraction(entries);
    const std::wstring folder = BrowseForFolder(Window(), LoadResourceString(IDS_MAP_SAVE_MULTIPLE));
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
