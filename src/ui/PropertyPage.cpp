#include "ui/PropertyPage.h"

#include "base/ResourceString.h"
#include "ui/WindowGuard.h"

// The page structure with header texts and activation context.
static_assert(sizeof(void*) != 4 || sizeof(PROPSHEETPAGEW) == 52, "property sheet page structure of 52 bytes");

namespace {

// Messages whose result is the dialog procedure's return value itself.
bool AnswersThroughReturnValue(UINT message) noexcept
{
    switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return true;
    }
    return false;
}

} // namespace

CPropertyPage::CPropertyPage(UINT templateId)
{
    m_page.dwSize = sizeof m_page;
    m_page.hInstance = ResourceInstance();
    m_page.pszTemplate = MAKEINTRESOURCEW(templateId);
    m_page.pfnDlgProc = DialogProcedure;
    m_page.lParam = reinterpret_cast<LPARAM>(this);
}

INT_PTR CALLBACK CPropertyPage::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* page = reinterpret_cast<CPropertyPage*>(reinterpret_cast<const PROPSHEETPAGEW*>(lParam)->lParam);
        page->m_window = window;
        SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
    }
    auto* page = reinterpret_cast<CPropertyPage*>(GetWindowLongPtrW(window, DWLP_USER));
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
    if (AnswersThroughReturnValue(message))
        return static_cast<INT_PTR>(*result);
    SetWindowLongPtrW(window, DWLP_MSGRESULT, static_cast<LONG_PTR>(*result));
    return TRUE;
}

std::optional<LRESULT> CPropertyPage::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
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
        return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    }
    return std::nullopt;
}
