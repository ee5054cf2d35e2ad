#include "ui/WizardPage.h"

#include "base/ResourceString.h"
#include "ui/MessageBox.h"
#include "ui/WindowGuard.h"
#include "ui/WizardSheet.h"

// The page structure with header texts and activation context.
static_assert(sizeof(void*) != 4 || sizeof(PROPSHEETPAGEW_V3) == 52, "property sheet page structure of 52 bytes");

namespace {
// Posted to a page once it is the visible page: the sheet has then shown
// it and applied its buttons.
constexpr UINT c_pageShown = WM_APP + 0x31;
// The sheet's Next button.
constexpr int c_nextButtonId = 0x3024;
} // namespace

CWizardPage::CWizardPage(CWizardSheet& sheet, UINT templateId) : m_sheet(sheet)
{
    m_page.dwSize = sizeof m_page;
    m_page.dwFlags = PSP_USECALLBACK;
    m_page.hInstance = ResourceInstance();
    m_page.pszTemplate = MAKEINTRESOURCEW(templateId);
    m_page.pfnDlgProc = DialogProcedure;
    m_page.pfnCallback = PageCallback;
    m_page.lParam = reinterpret_cast<LPARAM>(this);
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
    m_page.pszHeaderTitle = m_headerTitle.c_str();
    m_page.pszHeaderSubTitle = m_headerSubtitle.c_str();
    m_page.dwFlags |= PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
}

void CWizardPage::SetWizardButtons(DWORD flags) const
{
    const HWND sheet = GetParent(m_window);
    PostMessageW(sheet, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(flags));
    // Without Next the sheet makes Back the default button, and Enter in an
    // edit would go back. The default stays on the disabled Next instead:
    // Enter does nothing until the page is complete.
    if ((flags & (PSWIZB_NEXT | PSWIZB_FINISH)) == 0)
        PostMessageW(sheet, DM_SETDEFID, c_nextButtonId, 0);
}

BOOL CWizardPage::OnQueryCancel()
{
    return ShowMessageBox(m_window, MAKEINTRESOURCEW(m_sheet.CancelQuestion()),
                          MAKEINTRESOURCEW(c_captionConfirmation), MB_YESNO | MB_ICONWARNING) != IDYES;
}

void CWizardPage::OnShown()
{
    HWND sheet = GetParent(m_window);
    HWND focus = nullptr;
    const LRESULT defaultId = SendMessageW(sheet, DM_GETDEFID, 0, 0);
    if (HIWORD(defaultId) == DC_HASDEFID) {
        HWND button = GetDlgItem(sheet, LOWORD(defaultId));
        if (button && IsWindowEnabled(button) && IsWindowVisible(button))
            focus = button;
    }
    if (!focus)
        focus = GetNextDlgTabItem(m_window, nullptr, FALSE);
    if (focus)
        SendMessageW(sheet, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
    RedrawWindow(sheet, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

UINT CALLBACK CWizardPage::PageCallback(HWND, UINT message, PROPSHEETPAGEW*)
{
    // PSPCB_CREATE: the page may be created.
    return message == PSPCB_CREATE ? TRUE : 0;
}

INT_PTR CALLBACK CWizardPage::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* page = reinterpret_cast<CWizardPage*>(reinterpret_cast<const PROPSHEETPAGEW*>(lParam)->lParam);
        page->m_window = window;
        SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
    }
    auto* page = reinterpret_cast<CWizardPage*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!page)
        return FALSE;
    const std::optional<LRESULT> result =
        GuardWindowMessage(window, [&] { return page->HandleMessage(message, wParam, lParam); });
    if (message == WM_NCDESTROY) {
        page->m_window = nullptr;
        SetWindowLongPtrW(window, DWLP_USER, 0);
    }
    if (!result)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_QUERYDRAGICON:
        return static_cast<INT_PTR>(*result);
    default:
        SetWindowLongPtrW(window, DWLP_MSGRESULT, static_cast<LONG_PTR>(*result));
        return TRUE;
    }
}

std::optional<LRESULT> CWizardPage::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (auto result = OnMessage(message, wParam, lParam))
        return result;
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_NOTIFY:
        return HandleNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case c_pageShown:
        m_sheet.RestoreCaption();
        OnShown();
        return 0;
    }
    return std::nullopt;
}

std::optional<LRESULT> CWizardPage::HandleNotify(const NMHDR& header)
{
    if (header.hwndFrom != m_window && header.hwndFrom != GetParent(m_window))
        return std::nullopt;
    switch (header.code) {
    case PSN_SETACTIVE: {
        const LRESULT result = OnSetActive();
        if (result == 0)
            PostMessageW(m_window, c_pageShown, 0, 0);
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
