// The About box of every wizard, opened from the sheet's system menu: the
// product icon and name, the product and module versions of the module
// file, the web and support e-mail links, the maker's notice and the legal
// warning, for which the box grows or shrinks to fit.
#pragma once

#include <windows.h>

#include "base/Handle.h"
#include "ui/HyperlinkLabel.h"

class CAboutDialog
{
public:
    // Runs the box modally over `owner`; IDOK or IDCANCEL.
    INT_PTR DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void SetIcon();
    void SetFonts();
    void FitWarning();
    void ShowVersions();

    HWND m_window = nullptr;
    UniqueIcon m_icon;
    UniqueGdiObject m_productFont;
    UniqueGdiObject m_warningFont;
    CHyperlinkLabel m_web;
    CHyperlinkLabel m_email;
};
