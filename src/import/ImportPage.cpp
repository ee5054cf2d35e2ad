#include "import/ImportPage.h"

#include <commdlg.h>
#include <windowsx.h>

#include "base/ResourceString.h"
#include "base/Text.h"
#include "import/ImportResources.h"
#include "ui/BrowseFolders.h"
#include "ui/FileDialog.h"
#include "ui/MessageBox.h"
#include "ui/WindowHelpers.h"

namespace {

// Browse flags besides those the file dialog always adds (explorer style,
// hook, sizing): open an existing file; save, asking before overwriting.
constexpr DWORD c_openFlags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST;
constexpr DWORD c_saveFlags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;

} // namespace

CImportPage::CImportPage(CWizardSheet& sheet, const ImportPageLayout& layout, CCompletionPage& completion)
    : CWizardPage(sheet, layout.templateId), m_layout(layout), m_completion(completion)
{
    SetHeaderText(layout.headerId);
}

BOOL CImportPage::OnInitDialog()
{
    m_initializing = true;
    if (m_layout.linkLabelId != 0)
        m_link.Attach(Item(m_layout.linkLabelId));
    if (m_layout.typeComboId != 0) {
        const HWND combo = Item(m_layout.typeComboId);
        for (size_t index = 0; index < m_layout.inputTypes.size(); ++index) {
            const int item = ComboBox_AddString(combo, LoadResourceString(m_layout.inputTypes[index].itemId).c_str());
            ComboBox_SetItemData(combo, item, index);
        }
        ComboBox_SetCurSel(combo, 0);
        SelectTypeOf(m_source);
    }
    SetDlgItemTextW(Window(), m_layout.sourceEditId, m_source.c_str());
    m_sourceCompletion = EnablePathAutoComplete(Item(m_layout.sourceEditId));
    m_destinationCompletion = EnablePathAutoComplete(Item(m_layout.destination.editId));
    m_initializing = false;
    return TRUE;
}

LRESULT CImportPage::OnSetActive()
{
    UpdateButtons();
    return 0;
}

// An enabled Next (the default) once both paths are there; else the path
// to fill.
HWND CImportPage::InitialFocus() const
{
    return IsComplete() ? nullptr : PathToFill(Item(m_layout.sourceEditId), Item(m_layout.destination.editId));
}

void CImportPage::OnCommand(WORD id, WORD code, HWND)
{
    if (code == EN_CHANGE && !m_initializing && (id == m_layout.sourceEditId || id == m_layout.destination.editId)) {
        UpdateButtons();
    } else if (code == BN_CLICKED && id == m_layout.sourceBrowseId) {
        const ImportInputType& type = SelectedType();
        if (Browse(m_layout.sourceEditId, type.extension, type.filterId, true))
            SelectTypeOf(EditText(m_layout.sourceEditId));
    } else if (code == BN_CLICKED && id == m_layout.destination.browseId) {
        // The save dialog has asked before replacing an existing file.
        if (auto chosen = Browse(m_layout.destination.editId, m_layout.destination.defaultExtension,
                                 m_layout.destination.filterId, false))
            m_destinationField.SetConfirmed(std::move(*chosen));
    }
}

LRESULT CImportPage::OnWizardNext()
{
    m_source = EditText(m_layout.sourceEditId);
    std::optional<std::wstring> destination = m_destinationField.Take(
        Window(), m_layout.destination.editId, m_source, m_layout.destination.defaultExtension);
    if (!destination)
        return -1;
    m_destination = std::move(*destination);
    const std::optional<ImportCounts> counts = Convert();
    if (!counts)
        return -1;
    m_completion.SetResult(m_layout.resultId, m_destination, counts->written, IDS_IMPORT_RESULT_SKIPPED,
                           counts->skipped);
    ShowSuccess();
    return 0;
}

std::wstring CImportPage::EditText(int id) const
{
    return WindowText(Item(id));
}

bool CImportPage::IsComplete() const
{
    return m_layout.canConvert(EditText(m_layout.sourceEditId), EditText(m_layout.destination.editId));
}

void CImportPage::UpdateButtons() const
{
    const bool complete = IsComplete();
    SetWizardButtons(complete ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_BACK);
    ShowWindow(Item(IDC_IMPORT_HINT), complete ? SW_HIDE : SW_SHOW);
}

std::optional<std::wstring> CImportPage::Browse(int editId, const wchar_t* defaultExtension, UINT filterId,
                                                bool open)
{
    std::wstring path = BrowseStartPath(EditText(editId), m_layout.wizardName);
    if (ShowFileDialog(Window(), open, defaultExtension, path, open ? c_openFlags : c_saveFlags,
                       LoadResourceString(filterId)) != IDOK)
        return std::nullopt;
    RememberBrowseFolder(m_layout.wizardName, path);
    SetDlgItemTextW(Window(), editId, path.c_str());
    UpdateButtons();
    return path;
}

void CImportPage::SelectTypeOf(const std::wstring& source)
{
    if (m_layout.typeComboId == 0)
        return;
    const size_t dot = source.find_last_of(L"./\\");
    if (dot == std::wstring::npos || source[dot] != L'.')
        return;
    const std::wstring_view extension = std::wstring_view(source).substr(dot + 1);
    for (size_t index = 0; index < m_layout.inputTypes.size(); ++index)
        if (EqualsIgnoreCase(extension, m_layout.inputTypes[index].extension))
            ComboBox_SetCurSel(Item(m_layout.typeComboId), static_cast<int>(index));
}

const ImportInputType& CImportPage::SelectedType() const
{
    int selected = 0;
    if (m_layout.typeComboId != 0)
        selected = ComboBox_GetCurSel(Item(m_layout.typeComboId));
    const size_t index = selected >= 0 && static_cast<size_t>(selected) < m_layout.inputTypes.size()
                             ? static_cast<size_t>(selected)
                             : 0;
    return m_layout.inputTypes[index];
}

ImportOptions CImportPage::ChosenOptions() const
{
    ImportOptions options;
    options.pointsOnly = m_layout.pointsOnlyId != 0 && IsDlgButtonChecked(Window(), m_layout.pointsOnlyId) == BST_CHECKED;
    return options;
}

std::optional<ImportCounts> CImportPage::Convert()
{
    // The error box takes the focus; the user goes on typing where they were.
    const HWND focus = GetFocus();
    const ImportInputType& type = SelectedType();
    try {
        WaitCursor wait;
        return type.convert(m_source, m_destination, ChosenOptions());
    } catch (CAtlException& failure) {
        failure.SetPathIfUnknown(m_source);
        ShowErrorMessage(Window(), failure, type.positionNoun);
    } catch (...) {
        ShowErrorMessage(Window(), ResultFromCaughtException());
    }
    if (focus)
        FocusControl(focus);
    return std::nullopt;
}

void CImportPage::ShowSuccess() const
{
    ShowConfirmationMessageBox(Window(), m_layout.completeMessage, FormatResourceString(IDS_IMPORT_COMPLETE, {m_destination}).c_str(),
                               MAKEINTRESOURCEW(c_captionInformation), MB_OK | MB_ICONINFORMATION);
}
