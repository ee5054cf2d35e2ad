// The completion page of the import and export wizards: it names the file
// just written and what it holds, and its "Open folder" button shows that
// file selected in the file manager. Until a file is written the page
// keeps the template's text and hides the button.
#pragma once

#include <string>

#include "ui/CommonPages.h"

class CImportCompletionPage : public CCompletionPage
{
public:
    CImportCompletionPage(CWizardSheet& sheet, UINT templateId);

    // What the page says when it opens, and the file "Open folder" shows.
    void SetResult(std::wstring text, std::wstring path);

protected:
    LRESULT OnSetActive() override;
    void OnCommand(WORD id, WORD code, HWND control) override;

private:
    std::wstring m_text;
    std::wstring m_path;
};
