#include "import/ImportCompletionPage.h"

#include "ui/ShellFolders.h"
#include "ui/WizardResources.h"

CImportCompletionPage::CImportCompletionPage(CWizardSheet& sheet, UINT templateId)
    : CCompletionPage(sheet, templateId)
{
}

void CImportCompletionPage::SetResult(std::wstring text, std::wstring path)
{
    m_text = std::move(text);
    m_path = std::move(path);
}

LRESULT CImportCompletionPage::OnSetActive()
{
    if (!m_text.empty())
        SetDlgItemTextW(Window(), IDC_COMPLETION_TEXT, m_text.c_str());
    ShowWindow(Item(IDC_COMPLETION_OPEN_FOLDER), m_path.empty() ? SW_HIDE : SW_SHOW);
    return CCompletionPage::OnSetActive();
}

void CImportCompletionPage::OnCommand(WORD id, WORD code, HWND)
{
    if (id == IDC_COMPLETION_OPEN_FOLDER && code == BN_CLICKED)
        ShowFileInFolder(m_path);
}
