#include "ui/AboutDialog.h"

#include <string>

#include "base/ModuleFile.h"
#include "base/Handle.h"
#include "base/ResourceString.h"
#include "ui/WindowGuard.h"
#include "ui/WindowPlacement.h"
#include "ui/WizardResources.h"

namespace {

// The module file this code belongs to (Tervolin.dll), never a satellite.
HMODULE CodeModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&CodeModule), &module);
    return module;
}

HFONT CreateFontOf(HDC dc, int points, int weight, bool italic, const wchar_t* face)
{
    LOGFONTW font{};
    font.lfHeight = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
    font.lfWeight = weight;
    font.lfItalic = italic;
    font.lfCharSet = DEFAULT_CHARSET;
    wcscpy_s(font.lfFaceName, face);
    return CreateFontIndirectW(&font);
}

// Fills a control's "Module Version %d.%d.%d.%d" text with a version, the
// four numbers in place of the four "%d" in order (a translated text gets no
// other say in the formatting); empty for version 0.
void FormatVersionInto(HWND control, DWORD mostSignificant, DWORD leastSignificant)
{
    std::wstring text;
    if (mostSignificant != 0 || leastSignificant != 0) {
        wchar_t format[128] = {};
        GetWindowTextW(control, format, static_cast<int>(std::size(format)));
        const WORD numbers[] = {HIWORD(mostSignificant), LOWORD(mostSignificant), HIWORD(leastSignificant),
                                LOWORD(leastSignificant)};
        size_t next = 0;
        for (const wchar_t* c = format; *c; ++c) {
            if (c[0] == L'%' && c[1] == L'd' && next < std::size(numbers)) {
                text += std::to_wstring(numbers[next++]);
                ++c;
            } else {
                text += *c;
            }
        }
    }
    SetWindowTextW(control, text.c_str());
}

} // namespace

INT_PTR CAboutDialog::DoModal(HWND owner)
{
    return DialogBoxParamW(ResourceInstance(), MAKEINTRESOURCEW(IDD_ABOUT), owner, DialogProcedure,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CAboutDialog::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CAboutDialog*>(lParam);
        dialog->m_window = window;
        SetWindowLongPtrW(window, DWLP_USER, lParam);
    }
    auto* dialog = reinterpret_cast<CAboutDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog)
        return FALSE;
    const std::optional<LRESULT> result =
        GuardWindowMessage(window, [&] { return dialog->HandleMessage(message, wParam, lParam); });
    return result ? static_cast<INT_PTR>(*result) : FALSE;
}

std::optional<LRESULT> CAboutDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return FALSE; // the focus is on OK already
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(m_window, LOWORD(wParam));
            return TRUE;
        }
        break;
    case WM_DESTROY:
        m_productFont.Reset();
        m_warningFont.Reset();
        break;
    }
    return std::nullopt;
}

void CAboutDialog::OnInitDialog()
{
    SetIcon();
    SetFonts();
    FitWarning();
    ShowVersions();
    m_web.Attach(GetDlgItem(m_window, IDC_ABOUT_WEB));
    m_email.Attach(GetDlgItem(m_window, IDC_ABOUT_EMAIL));
    CenterWindow(m_window, GetParent(m_window));
    SetFocus(GetDlgItem(m_window, IDOK));
}

void CAboutDialog::SetIcon()
{
    m_icon.Reset(static_cast<HICON>(
        LoadImageW(ResourceInstance(), MAKEINTRESOURCEW(IDI_TERVOLIN), IMAGE_ICON, 48, 48, LR_DEFAULTCOLOR)));
    if (m_icon)
        SendDlgItemMessageW(m_window, IDC_ABOUT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(m_icon.Get()), 0);
}

void CAboutDialog::SetFonts()
{
    {
        const WindowDC dc(m_window);
        m_productFont.Reset(CreateFontOf(dc.Get(), 12, FW_BOLD, true, L"Arial"));
        m_warningFont.Reset(CreateFontOf(dc.Get(), 7, FW_NORMAL, false, L"Lucida Console"));
    }
    if (m_productFont)
        SendDlgItemMessageW(m_window, IDC_ABOUT_PRODUCT, WM_SETFONT, reinterpret_cast<WPARAM>(m_productFont.Get()), TRUE);
    if (m_warningFont)
        SendDlgItemMessageW(m_window, IDC_ABOUT_WARNING, WM_SETFONT, reinterpret_cast<WPARAM>(m_warningFont.Get()), TRUE);
}

// Sets the legal warning and sizes its control and the box to its measured
// height.
void CAboutDialog::FitWarning()
{
    HWND warning = GetDlgItem(m_window, IDC_ABOUT_WARNING);
    const std::wstring text = LoadResourceString(IDS_LEGAL_WARNING);
    SetWindowTextW(warning, text.c_str());

    RECT control{};
    GetWindowRect(warning, &control);
    RECT measured = control;
    {
        const WindowDC dc(warning);
        const SelectedObject font(dc.Get(), m_warningFont ? m_warningFont.Get() : GetStockObject(DEFAULT_GUI_FONT));
        DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &measured, DT_CALCRECT | DT_WORDBREAK);
    }

    const LONG grown = (measured.bottom - measured.top) - (control.bottom - control.top);
    RECT box{};
    GetWindowRect(m_window, &box);
    SetWindowPos(m_window, nullptr, 0, 0, box.right - box.left, box.bottom - box.top + grown,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(warning, nullptr, 0, 0, control.right - control.left, measured.bottom - measured.top + 4,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CAboutDialog::ShowVersions()
{
    const auto info = FixedFileInfo(CodeModule());
    const VS_FIXEDFILEINFO none{};
    const VS_FIXEDFILEINFO& version = info ? *info : none;
    FormatVersionInto(GetDlgItem(m_window, IDC_ABOUT_PRODUCT_VERSION), version.dwProductVersionMS,
                      version.dwProductVersionLS);
    FormatVersionInto(GetDlgItem(m_window, IDC_ABOUT_MODULE_VERSION), version.dwFileVersionMS,
                      version.dwFileVersionLS);
}
