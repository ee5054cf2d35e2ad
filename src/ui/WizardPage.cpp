#include "ui/WizardPage.h"

#include "base/ResourceString.h"
#include "ui/MessageBox.h"
#include "ui/WizardSheet.h"

namespace {
// Posted to a page once it is the visible page: the sheet has then shown
// it and applied its buttons.
constexpr UINT c_pageShown = WM_APP + 0x31;

// The sheet's Next button.
constexpr int c_nextButtonId = 0x3024;
} // namespace

CWizardPage::CWizardPage(CWizardSheet& sheet, UINT templateId) : CPropertyPage(templateId), m_sheet(sheet)
{
    PageStructure().dwFlags = PSP_USECALLBACK;
    PageStructure().pfnCallback = PageCallback;
}

void CWizardPage::SetHeaderText(UINT stringId)
{
    const std::wstring text = LoadResourceString(stringId);
    const size_t titleEnd = text.find(L'\n');
    m_headerTitle = text.substr(0, titleEnd);
    m_headerSubtitle.clear();
    if (titleEnd != std::wstring::npos) {
        const size_t subtitleEnd = text.find(L'\n', titleEnd + 1);
        m_headerSubtitle = text.substr(titleEnd + 1, subtitleEnd == std::wstring::npos
                                                         ? std::wstring::npos
                                                         : subtitleEnd - titleEnd - 1);
    }
    PageStructure().pszHeaderTitle = m_headerTitle.c_str();
    PageStructure().pszHeaderSubTitle = m_headerSubtitle.c_str();
    PageStructure().dwFlags |= PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
}

void CWizardPage::SetWizardButtons(DWORD flags) const
{
    const HWND sheet = GetParent(Window());
    PostMessageW(sheet, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(flags));
    // Without Next and Finish the sheet makes Back the default button; a
    // disabled default button ignores Enter.
    if (!(flags & (PSWIZB_NEXT | PSWIZB_FINISH)))
        PostMessageW(sheet, DM_SETDEFID, c_nextButtonId, 0);
}

void CWizardPage::FocusControl(HWND control) const
{
    SendMessageW(GetParent(Window()), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

BOOL CWizardPage::OnQueryCancel()
{
    return ShowMessageBox(Window(), MAKEINTRESOURCEW(m_sheet.CancelQuestion()),
                          MAKEINTRESOURCEW(c_captionConfirmation), MB_YESNO | MB_ICONWARNING) != IDYES;
}

void CWizardPage::OnShown()
{
    HWND sheet = GetParent(Window());
    HWND focus = InitialFocus();
    const LRESULT defaultId = SendMessageW(sheet, DM_GETDEFID, 0, 0);
    if (!focus && HIWORD(defaultId) == DC_HASDEFID) {
        HWND button = GetDlgItem(sheet, LOWORD(defaultId));
        if (button && IsWindowEnabled(button) && IsWindowVisible(button))
            focus = button;
    }
    if (!focus)
        focus = GetNextDlgTabItem(Window(), nullptr, FALSE);
    if (focus)
        FocusControl(focus);
    RedrawWindow(sheet, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

UINT CALLBACK CWizardPage::PageCallback(HWND, UINT message, PROPSHEETPAGEW*)
{
    // PSPCB_CREATE: the page may be created.
    return message == PSPCB_CREATE ? TRUE : 0;
}

std::optional<LRESULT> CWizardPage::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != c_pageShown)
        return CPropertyPage::HandleMessage(message, wParam, lParam);
    m_sheet.RestoreCaption();
    OnShown();
    return 0;
}

std::optional<LRESULT> CWizardPage::OnNotify(const NMHDR& header)
{
    if (header.hwndFrom != Window() && header.hwndFrom != GetParent(Window()))
        return std::nullopt;
    switch (header.code) {
    case PSN_SETACTIVE: {
        const LRESULT result = OnSetActive();
        if (result == 0)
            PostMessageW(Window(), c_pageShown, 0, 0);
        return result;
    }
    case PSN_KILLACTIVE:
        return OnKillActive();
    case PSN_WIZNEXT:
        return OnWizardNext();
    case PSN_WIZBACK:
        return OnWizardBack();
    case PSN_WIZFINISH:
        return OnWizardFinish();
    case PSN_QUERYCANCEL:
        return OnQueryCancel();
    case PSN_RESET:
        OnReset();
        return 0;
    }
    return std::nullopt;
}
