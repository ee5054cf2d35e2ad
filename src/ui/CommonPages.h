// The exterior pages every wizard shares: the introduction, which the user
// may skip on later runs, and the completion page, which only finishes.
#pragma once

#include <string>

#include "ui/WizardPage.h"

// The first page: the wizard's title in the bold title font, its description
// and "Skip introduction page next time". The choice is stored under the
// Confirmations key (ui/Confirmations.h) in the value `valueName` when the
// user presses Next; when it is 1, the first activation of a run moves on
// to the next page at once (Back shows the page again, box ticked). Cancel
// here closes the wizard without a question.
class CIntroductionPage : public CWizardPage
{
public:
    // valueName: the wizard class name and "::CIntroductionPage".
    CIntroductionPage(CWizardSheet& sheet, UINT templateId, std::wstring valueName);

protected:
    BOOL OnInitDialog() override;
    LRESULT OnSetActive() override;
    LRESULT OnWizardNext() override;
    BOOL OnQueryCancel() override { return FALSE; }

private:
    std::wstring m_valueName;
    bool m_activatedOnce = false;
};

// The last page: "Wizard Completed" with an information icon; Finish is the
// only way out (no Back, Cancel disabled). Given a result, it names the file
// just written and what it holds, and its "Open folder" button shows that
// file selected in the file manager; until then the page keeps the
// template's text and hides the button.
class CCompletionPage : public CWizardPage
{
public:
    CCompletionPage(CWizardSheet& sheet, UINT templateId);

    // What the page says when it opens, and the file "Open folder" shows.
    void SetResult(std::wstring text, std::wstring path);

    // The same for a file of count items: the words of wordsId (%1 the path,
    // %2 the count) and, when some were skipped, a line of skippedId (%1
    // their number). Without the string, the path alone.
    void SetResult(UINT wordsId, std::wstring path, size_t count, UINT skippedId, size_t skipped);

protected:
    BOOL OnInitDialog() override;
    LRESULT OnSetActive() override;
    BOOL OnQueryCancel() override { return FALSE; }
    void OnCommand(WORD id, WORD code, HWND control) override;

private:
    std::wstring m_text;
    std::wstring m_path;
};
