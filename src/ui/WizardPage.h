// The page base of every wizard page.
//
// A page owns its PROPSHEETPAGEW; `this` travels in its lParam and arrives
// with WM_INITDIALOG, from where the dialog procedure finds the object
// again (no thunks). WM_NOTIFY from the sheet is routed to the named
// overridables below, whose return values are the sheet's codes. Every
// message runs inside the one exception guard of the page (ui/WindowGuard.h).
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

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <optional>
#include <string>

class CWizardSheet;

class CWizardPage
{
public:
    // The page of `sheet` made from the dialog template `templateId` of the
    // resource instance. Add it to the sheet with CWizardSheet::AddPage.
    CWizardPage(CWizardSheet& sheet, UINT templateId);
    virtual ~CWizardPage() = default;
    CWizardPage(const CWizardPage&) = delete;
    CWizardPage& operator=(const CWizardPage&) = delete;

    // Attributes
    HWND Window() const noexcept { return m_window; }
    CWizardSheet& Sheet() const noexcept { return m_sheet; }
    PROPSHEETPAGEW_V3& PageStructure() noexcept { return m_page; }
    const std::wstring& HeaderTitle() const noexcept { return m_headerTitle; }
    const std::wstring& HeaderSubtitle() const noexcept { return m_headerSubtitle; }

    // Operations

    // Header title and subtitle of an interior page from one string: the
    // title, a line feed, the subtitle ("Input and Output\nSpecify input
    // and output file paths"). Without a line feed the subtitle is empty.
    // Call in the constructor, before the page is added.
    void SetHeaderText(UINT stringId);

    // PSWIZB_BACK | PSWIZB_NEXT and so on, posted to the sheet. Without Next
    // or Finish, Enter does nothing (Back never becomes the default).
    void SetWizardButtons(DWORD flags) const;

    // GetDlgItem of the page.
    HWND Item(int id) const noexcept { return GetDlgItem(m_window, id); }

protected:
    // Overridables: the return values are those the sheet expects.

    // WM_INITDIALOG. TRUE: the dialog manager puts the focus on the first
    // control; FALSE: the page has set the focus itself.
    virtual BOOL OnInitDialog() { return TRUE; }

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

    // WM_COMMAND from a control or menu.
    virtual void OnCommand(WORD /*id*/, WORD /*code*/, HWND /*control*/) {}

    // Any other message, before the default handling. Return a value to
    // consume it (the dialog procedure's result; for WM_NOTIFY and other
    // messages with results it is stored as DWLP_MSGRESULT).
    virtual std::optional<LRESULT> OnMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/)
    {
        return std::nullopt;
    }

    // The page has just become the visible page. The default gives the
    // sheet's default button the keyboard focus, else the page's first tab
    // stop, and repaints the sheet (its watermark).
    virtual void OnShown();

    // For exterior pages (introduction, completion): PSP_HIDEHEADER.
    void HideHeader() noexcept { m_page.dwFlags |= PSP_HIDEHEADER; }

private:
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static UINT CALLBACK PageCallback(HWND window, UINT message, PROPSHEETPAGEW* page);

    std::optional<LRESULT> HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> HandleNotify(const NMHDR& header);

    CWizardSheet& m_sheet;
    PROPSHEETPAGEW_V3 m_page{};
    HWND m_window = nullptr;
    std::wstring m_headerTitle;
    std::wstring m_headerSubtitle;
};
