// The page base of every property sheet page, in wizards and in ordinary
// property sheets alike.
//
// A page owns its PROPSHEETPAGEW; `this` travels in its lParam and arrives
// with WM_INITDIALOG, from where the dialog procedure finds the object again
// (no thunks). Every message runs inside the one exception guard of the page
// (ui/WindowGuard.h). Results of WM_CTLCOLOR* and the other messages that
// answer through the procedure's own return value are returned as such; all
// others through DWLP_MSGRESULT. Once the window is gone (WM_NCDESTROY) the
// page forgets it, and the window forgets the page.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <optional>

class CPropertyPage
{
public:
    // The page made from the dialog template `templateId` of the resource
    // instance.
    explicit CPropertyPage(UINT templateId);
    virtual ~CPropertyPage() = default;
    CPropertyPage(const CPropertyPage&) = delete;
    CPropertyPage& operator=(const CPropertyPage&) = delete;

    // Attributes
    HWND Window() const noexcept { return m_window; }
    PROPSHEETPAGEW& PageStructure() noexcept { return m_page; }

    // GetDlgItem of the page.
    HWND Item(int id) const noexcept { return GetDlgItem(m_window, id); }

protected:
    // Overridables

    // WM_INITDIALOG. TRUE: the dialog manager puts the focus on the first
    // control; FALSE: the page has set the focus itself.
    virtual BOOL OnInitDialog() { return TRUE; }

    // WM_COMMAND from a control or menu.
    virtual void OnCommand(WORD /*id*/, WORD /*code*/, HWND /*control*/) {}

    // WM_NOTIFY from a control, the page or its sheet. Return a value to
    // consume it (stored as DWLP_MSGRESULT).
    virtual std::optional<LRESULT> OnNotify(const NMHDR& /*header*/) { return std::nullopt; }

    // Any message, before the handling above. Return a value to consume it
    // (the dialog procedure's result as described at the top).
    virtual std::optional<LRESULT> OnMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/)
    {
        return std::nullopt;
    }

    // The whole dispatch of a message: OnMessage, then the overridables
    // above. A page kind with messages of its own extends it and chains.
    virtual std::optional<LRESULT> HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    PROPSHEETPAGEW m_page{};
    HWND m_window = nullptr;
};
