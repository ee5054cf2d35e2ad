#include "import/ExportWizard.h"

#include <commdlg.h>
#include <windowsx.h>

#include "base/FilePath.h"
#include "base/ResourceString.h"
#include "import/ExportResources.h"
#include "import/ImportPageRules.h"
#include "ui/BrowseFolders.h"
#include "ui/FileDialog.h"
#include "ui/MessageBox.h"
#include "ui/WindowHelpers.h"
#include "ui/WizardResources.h"

namespace {

// Names the folder the file dialogs remember.
constexpr wchar_t c_wizardName[] = L"CExportWizard";

constexpr DWORD c_openFlags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST;
constexpr DWORD c_saveFlags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;

// The formats of the list, in list order, with their file dialogs.
struct FormatChoice
{
    ExportFormat format;
    UINT itemId;
    const wchar_t* defaultExtension;
    UINT filterId;
};

const FormatChoice c_formatChoices[] = {
    {ExportFormat::Gpx, IDS_EXPORT_FORMAT_GPX, L"gpx", IDS_FILTER_GPX_EXPORT},
    {ExportFormat::Kml, IDS_EXPORT_FORMAT_KML, L"kml", IDS_FILTER_KML_EXPORT},
};

const FormatChoice& ChoiceOf(ExportFormat format)
{
    for (const auto& choice : c_formatChoices)
        if (choice.format == format)
            return choice;
    return c_formatChoices[0];
}

size_t SkippedLines(const SentenceSkips& skipped)
{
    return skipped.unknownLines + skipped.badChecksums + skipped.otherKind + skipped.invalidFixes;
}

} // namespace

CExportWizard::CPagePaths::CPagePaths(CExportWizard& wizard) : CWizardPage(wizard, IDD_EXPORT_PATHS), m_wizard(wizard)
{
    SetHeaderText(IDS_EXPORT_PATHS_HEADER);
}

BOOL CExportWizard::CPagePaths::OnInitDialog()
{
    m_initializing = true;
    const HWND list = Item(IDC_EXPORT_FORMAT);
    for (const auto& choice : c_formatChoices) {
        const int item = ComboBox_AddString(list, LoadResourceString(choice.itemId).c_str());
        ComboBox_SetItemData(list, item, static_cast<LPARAM>(choice.format));
    }
    ComboBox_SetCurSel(list, 0);
    SetDlgItemTextW(Window(), IDC_EXPORT_SOURCE, m_source.c_str());
    if (!m_source.empty())
        SetDlgItemTextW(Window(), IDC_EXPORT_DESTINATION, WithExportExtension(m_source, SelectedFormat()).c_str());
    m_sourceCompletion = EnablePathAutoComplete(Item(IDC_EXPORT_SOURCE));
    m_destinationCompletion = EnablePathAutoComplete(Item(IDC_EXPORT_DESTINATION));
    m_initializing = false;
    return TRUE;
}

LRESULT CExportWizard::CPagePaths::OnSetActive()
{
    UpdateButtons();
    return 0;
}

// As on the import pages: an enabled Next once both paths are there, else
// the path to fill.
HWND CExportWizard::CPagePaths::InitialFocus() const
{
    return IsComplete() ? nullptr : PathToFill(Item(IDC_EXPORT_SOURCE), Item(IDC_EXPORT_DESTINATION));
}

void CExportWizard::CPagePaths::OnCommand(WORD id, WORD code, HWND)
{
    if (code == EN_CHANGE && !m_initializing && (id == IDC_EXPORT_SOURCE || id == IDC_EXPORT_DESTINATION))
        UpdateButtons();
    else if (code == CBN_SELCHANGE && id == IDC_EXPORT_FORMAT)
        FollowFormat();
    else if (code == BN_CLICKED && id == IDC_EXPORT_SOURCE_BROWSE)
        BrowseSource();
    else if (code == BN_CLICKED && id == IDC_EXPORT_DESTINATION_BROWSE)
        BrowseDestination();
}

std::wstring CExportWizard::CPagePaths::EditText(int id) const
{
    return WindowText(Item(id));
}

ExportFormat CExportWizard::CPagePaths::SelectedFormat() const
{
    const HWND list = Item(IDC_EXPORT_FORMAT);
    const int item = ComboBox_GetCurSel(list);
    return item < 0 ? c_formatChoices[0].format : static_cast<ExportFormat>(ComboBox_GetItemData(list, item));
}

bool CExportWizard::CPagePaths::IsComplete() const
{
    return CanExportPaths(EditText(IDC_EXPORT_SOURCE), EditText(IDC_EXPORT_DESTINATION));
}

void CExportWizard::CPagePaths::UpdateButtons() const
{
    const bool complete = IsComplete();
    SetWizardButtons(complete ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_BACK);
    ShowWindow(Item(IDC_EXPORT_HINT), complete ? SW_HIDE : SW_SHOW);
}

// The destination's extension follows the chosen format.
void CExportWizard::CPagePaths::FollowFormat()
{
    const std::wstring destination = EditText(IDC_EXPORT_DESTINATION);
    if (!destination.empty())
        SetDlgItemTextW(Window(), IDC_EXPORT_DESTINATION, WithExportExtension(destination, SelectedFormat()).c_str());
}

void CExportWizard::CPagePaths::BrowseSource()
{
    std::wstring path = EditText(IDC_EXPORT_SOURCE);
    // The receiver's files are on its card or drive: start there, else
    // where the user last chose a file.
    if (path.empty())
        path = FindSentenceFolder(RemovableDriveRoots());
    if (path.empty())
        path = BrowseStartFolder(c_wizardName);
    if (!path.empty() && path.back() != L'\\' && IsExistingFolder(path))
        path += L'\\';
    if (ShowFileDialog(Window(), true, L"upt", path, c_openFlags, LoadResourceString(IDS_FILTER_SENTENCE_FILES)) !=
        IDOK)
        return;
    RememberBrowseFolder(c_wizardName, path);
    SetDlgItemTextW(Window(), IDC_EXPORT_SOURCE, path.c_str());
    if (EditText(IDC_EXPORT_DESTINATION).empty())
        SetDlgItemTextW(Window(), IDC_EXPORT_DESTINATION, WithExportExtension(path, SelectedFormat()).c_str());
    UpdateButtons();
}

void CExportWizard::CPagePaths::BrowseDestination()
{
    const FormatChoice& choice = ChoiceOf(SelectedFormat());
    std::wstring path = BrowseStartPath(EditText(IDC_EXPORT_DESTINATION), c_wizardName);
    if (ShowFileDialog(Window(), false, choice.defaultExtension, path, c_saveFlags,
                       LoadResourceString(choice.filterId)) != IDOK)
        return;
    RememberBrowseFolder(c_wizardName, path);
    SetDlgItemTextW(Window(), IDC_EXPORT_DESTINATION, path.c_str());
    // The save dialog has asked before replacing an existing file.
    m_destinationField.SetConfirmed(path);
    UpdateButtons();
}

LRESULT CExportWizard::CPagePaths::OnWizardNext()
{
    m_source = EditText(IDC_EXPORT_SOURCE);
    const std::optional<std::wstring> taken = m_destinationField.Take(
        Window(), IDC_EXPORT_DESTINATION, m_source, ChoiceOf(SelectedFormat()).defaultExtension);
    if (!taken)
        return -1;
    const std::wstring& destination = *taken;
    const HWND focus = GetFocus();
    try {
        WaitCursor wait;
        const ExportCounts counts = ExportSentenceFile(m_source, destination);
        const UINT words = counts.kind == SentenceKind::Waypoints ? IDS_EXPORT_COMPLETE_WAYPOINTS
                                                                  : IDS_EXPORT_COMPLETE_TRACK_POINTS;
        m_wizard.m_completion.SetResult(words, destination, counts.points, IDS_EXPORT_COMPLETE_SKIPPED,
                                        SkippedLines(counts.skipped));
        return 0;
    } catch (CAtlException& failure) {
        failure.SetPathIfUnknown(m_source);
        ShowErrorMessage(Window(), failure);
    } catch (...) {
        ShowErrorMessage(Window(), ResultFromCaughtException());
    }
    if (focus)
        FocusControl(focus);
    return -1;
}

CExportWizard::CExportWizard()
    : CWizardSheet(IDS_EXPORT_WIZARD_TITLE, IDS_EXPORT_WIZARD_CANCEL),
      m_introduction(*this, IDD_EXPORT_INTRODUCTION, L"CExportWizard::CIntroductionPage"),
      m_completion(*this, IDD_EXPORT_COMPLETION)
{
    AddPages(m_introduction, m_paths, m_completion);
}
