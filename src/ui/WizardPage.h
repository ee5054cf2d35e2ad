// The page base of every wizard page: a property page (ui/PropertyPage.h)
// whose notifications from the sheet are routed to the named overridables
// below, whose return values are the sheet's codes.
//
//   class CPagePaths : public CWizardPage {
//   public:
//       explicit CPagePaths(CWizardSheet& sheet) : CWizardPage(sheet, IDD_TRACK_PATHS)
//       { SetHeaderText(IDS_TRACK_PATHS_HEADER); }
//   protected:
//       BOOL OnInitDialog() override;
//       LRESULT OnWizardNext() override;
//   };
#pragma once

#include <optional>
#include <string>

#include "ui/PropertyPage.h"

class CWizardSheet;

class CWizardPage : public CPropertyPage
{
public:
    // The page of `sheet` made from the dialog template `templateId` of the
    // resource instance. Add its PageStructure() to the sheet with
    // CWizardSheet::AddPage.
    CWizardPage(CWizardSheet& sheet, UINT templateId);

    // Attributes
    CWizardSheet& Sheet() const noexcept { return m_sheet; }
    const std::wstring& HeaderTitle() const noexcept { return m_headerTitle; }
    const std::wstring& HeaderSubtitle() const noexcept { return m_headerSubtitle; }

    // Operations

    // Header title and subtitle of an interior page from one string: the
    // title, a line feed, the subtitle ("Input and Output\nSpecify input
    // and output file paths"). Without a line feed the subtitle is empty.
    // Call in the constructor, before the page is added.
    void SetHeaderText(UINT stringId);

    // PSWIZB_BACK | PSWIZB_NEXT and so on, posted to the sheet. Next stays
    // the default button while it is disabled, so that Enter then does
    // nothing instead of going back.
    void SetWizardButtons(DWORD flags) const;

    // Moves the keyboard focus to a control of the page as the dialog
    // manager does (the default button follows).
    void FocusControl(HWND control) const;

protected:
    // Overridables: the return values are those the sheet expects.

    // PSN_SETACTIVE. 0 shows the page; -1 skips it in the direction of
    // travel; a dialog template id moves to that page.
    virtual LRESULT OnSetActive() { return 0; }

    // PSN_KILLACTIVE. FALSE lets the page be left; TRUE keeps it.
    virtual BOOL OnKillActive() { return FALSE; }

    // PSN_WIZNEXT and PSN_WIZBACK. 0 moves to the next (previous) page; -1
    // stays; a dialog template id moves to that page.
    virtual LRESULT OnWizardNext() { return 0; }
    virtual LRESULT OnWizardBack() { return 0; }

    // PSN_WIZFINISH. FALSE lets the wizard finish; TRUE keeps it open.
    virtual BOOL OnWizardFinish() { return FALSE; }

    // PSN_QUERYCANCEL. FALSE lets Cancel close the wizard; TRUE keeps it
    // open. The default asks the sheet's cancel question ("Are you sure to
    // close the wizard?") and closes only on Yes.
    virtual BOOL OnQueryCancel();

    // PSN_RESET: the wizard is closing through Cancel.
    virtual void OnReset() {}

    // The page has just become the visible page. The default gives the
    // keyboard focus to InitialFocus(), else to the sheet's default button
    // when it is enabled, else to the page's first tab stop, and repaints
    // the sheet (its watermark).
    virtual void OnShown();

    // Where the user acts next when the page is shown (the first empty
    // path, the list to choose in); null for the default above.
    virtual HWND InitialFocus() const { return nullptr; }

    // The sheet's notifications to the overridables above.
    std::optional<LRESULT> OnNotify(const NMHDR& header) override;
    std::optional<LRESULT> HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // For exterior pages (introduction, completion): PSP_HIDEHEADER.
    void HideHeader() noexcept { PageStructure().dwFlags |= PSP_HIDEHEADER; }

private:
    static UINT CALLBACK PageCallback(HWND window, UINT message, PROPSHEETPAGEW* page);

    CWizardSheet& m_sheet;
    std::wstring m_headerTitle;
    std::wstring m_headerSubtitle;
};
