#include "import/ImportCompletionPage.h"

#include <shlobj.h>

#include "base/Handle.h"
#include "ui/MessageBox.h"
#include "ui/WizardResources.h"

namespace {

struct ItemIdListTraits
{
    using Type = PIDLIST_ABSOLUTE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type list) noexcept { ILFree(list); }
};
using UniqueItemIdList = UniqueAny<ItemIdListTraits>;

// Opens the file's folder in the file manager with the file selected; a
// failure (the file was moved meanwhile) is shown in words.
void ShowInFolder(HWND owner, const std::wstring& path)
{
    const UniqueItemIdList item(ILCreateFromPathW(path.c_str()));
    const HRESULT hr = item ? SHOpenFolderAndSelectItems(item.Get(), 0, nullptr, 0)
                            : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (FAILED(hr)) {
        CAtlException failure(hr);
        failure.SetPathIfUnknown(path);
        ShowErrorMessage(owner, failure);
    }
}

} // namespace

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
        ShowInFolder(Window(), m_path);
}
