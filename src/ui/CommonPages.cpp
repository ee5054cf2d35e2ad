#include "ui/CommonPages.h"

#include "ui/WizardResources.h"
#include "base/ResourceString.h"
#include "ui/Confirmations.h"
#include "ui/ShellFolders.h"
#include "ui/WizardSheet.h"

CIntroductionPage::CIntroductionPage(CWizardSheet& sheet, UINT templateId, std::wstring valueName)
    : CWizardPage(sheet, templateId), m_valueName(std::move(valueName))
{
    HideHeader();
}

namespace {

// Without a title font the title keeps the dialog font.
void SetTitleFont(HWND title, CWizardSheet& sheet)
{
    if (HFONT font = sheet.GetTitleFont())
        SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

} // namespace

BOOL CIntroductionPage::OnInitDialog()
{
    SetTitleFont(Item(IDC_INTRODUCTION_TITLE), Sheet());
    return TRUE;
}

LRESULT CIntroductionPage::OnSetActive()
{
    SetWizardButtons(PSWIZB_NEXT);
    if (m_activatedOnce)
        return 0;
    m_activatedOnce = true;
    if (ReadConfirmation(m_valueName.c_str()) != c_skipIntroduction)
        return 0;
    SendMessageW(Item(IDC_SKIP_INTRODUCTION), BM_SETCHECK, BST_CHECKED, 0);
    return -1;
}

LRESULT CIntroductionPage::OnWizardNext()
{
    const bool skip = SendMessageW(Item(IDC_SKIP_INTRODUCTION), BM_GETCHECK, 0, 0) == BST_CHECKED;
    WriteConfirmation(m_valueName.c_str(), skip ? c_skipIntroduction : 0);
    return 0;
}

CCompletionPage::CCompletionPage(CWizardSheet& sheet, UINT templateId) : CWizardPage(sheet, templateId)
{
    HideHeader();
}

BOOL CCompletionPage::OnInitDialog()
{
    SendMessageW(Item(IDC_COMPLETION_ICON), STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_INFORMATION)),
                 0);
    SetTitleFont(Item(IDC_COMPLETION_TITLE), Sheet());
    return TRUE;
}

void CCompletionPage::SetResult(std::wstring text, std::wstring path)
{
    m_text = std::move(text);
    m_path = std::move(path);
}

void CCompletionPage::SetResult(UINT wordsId, std::wstring path, size_t count, UINT skippedId, size_t skipped)
{
    std::wstring text = TryFormatResourceString(wordsId, {path, std::to_wstring(count)}).value_or(path);
    if (skipped != 0)
        text += TryFormatResourceString(skippedId, {std::to_wstring(skipped)}).value_or(std::wstring());
    SetResult(std::move(text), std::move(path));
}

LRESULT CCompletionPage::OnSetActive()
{
    if (!m_text.empty())
        SetDlgItemTextW(Window(), IDC_COMPLETION_TEXT, m_text.c_str());
    ShowWindow(Item(IDC_COMPLETION_OPEN_FOLDER), m_path.empty() ? SW_HIDE : SW_SHOW);
    SetWizardButtons(PSWIZB_FINISH);
    EnableWindow(GetDlgItem(GetParent(Window()), IDCANCEL), FALSE);
    return 0;
}

void CCompletionPage::OnCommand(WORD id, WORD code, HWND)
{
    if (id == IDC_COMPLETION_OPEN_FOLDER && code == BN_CLICKED)
        ShowFileInFolder(m_path);
}
