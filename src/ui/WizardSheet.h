// The sheet base of every wizard: a modal Wizard97 property sheet with the
// module's header picture, watermark, icon and title.
//
// A wizard derives from CWizardSheet, holds its pages as members and adds
// them in order in its constructor:
//
//   class CImportTrackWizard : public CWizardSheet {
//   public:
//       CImportTrackWizard() : CWizardSheet(IDS_TRACK_WIZARD_TITLE, IDS_IMPORT_WIZARD_CANCEL)
//       { AddPage(m_introduction.PageStructure()); AddPage(m_paths.PageStructure()); ... }
//   private:
//       CIntroductionPage m_introduction{*this, IDD_TRACK_INTRODUCTION, L"CImportTrackWizard::CIntroductionPage"};
//       CPagePaths m_paths{*this};
//       CCompletionPage m_completion{*this, IDD_TRACK_COMPLETION};
//   };
//
// Once its window exists the sheet gives it the icon, its own taskbar
// button, the caption, the "About..." command of the system menu, and
// centres it over its owner (shifted when it would cover the owner's
// caption). Its messages run inside the sheet's one exception guard.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <optional>
#include <string>
#include <vector>

#include "base/Handle.h"

class CWizardSheet
{
public:
    // The title and the cancel question are string ids of the resource
    // instance.
    CWizardSheet(UINT titleId, UINT cancelQuestionId);
    virtual ~CWizardSheet();
    CWizardSheet(const CWizardSheet&) = delete;
    CWizardSheet& operator=(const CWizardSheet&) = delete;

    // Creates a page's handle from its structure (ui/PropertyPage.h) and adds
    // it (to the running sheet when its window exists). False when the page
    // cannot be created or added.
    bool AddPage(const PROPSHEETPAGEW& page);

    // Adds each page (anything with a PageStructure()) in order; raises the
    // failure when one cannot be added.
    template <typename... Pages>
    void AddPages(Pages&... pages)
    {
        (ThrowLastErrorIf(!AddPage(pages.PageStructure())), ...);
    }

    // Runs the sheet modally over `parent`; returns the PropertySheetW
    // result once the user has finished or cancelled.
    INT_PTR DoModal(HWND parent);

    // The bold 12-point "Verdana Bold" font of the exterior pages' titles,
    // created on first use and owned by the sheet; null when it cannot be
    // created.
    HFONT GetTitleFont();

    // Puts the wizard's title back into the caption, which the system sets
    // to the page's own title when a page is shown. Called by the page once
    // it is the visible page.
    void RestoreCaption() const;

    HWND Window() const noexcept { return m_window; }
    const std::wstring& Title() const noexcept { return m_title; }
    UINT CancelQuestion() const noexcept { return m_cancelQuestion; }
    const PROPSHEETHEADERW& Header() const noexcept { return m_header; }

    // The system-menu command that opens the About box.
    static constexpr UINT c_aboutCommand = 0xE140;

protected:
    // Messages of the sheet window before the sheet's own handling; return a
    // value to consume one.
    virtual std::optional<LRESULT> OnMessage(UINT, WPARAM, LPARAM) { return std::nullopt; }

private:
    static int CALLBACK SheetCallback(HWND window, UINT message, LPARAM lParam);
    static LRESULT CALLBACK SheetSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                          DWORD_PTR data);

    void Attach(HWND window);
    std::optional<LRESULT> HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnSize();
    void AppendAboutCommand();
    void ApplyTitle();

    PROPSHEETHEADERW m_header{};
    std::wstring m_title;
    UINT m_cancelQuestion;
    HWND m_window = nullptr;
    bool m_titleApplied = false;
    bool m_aboutAppended = false;
    int m_sizeCount = 0;
    UniqueGdiObject m_titleFont;
    UniqueGdiObject m_headerBitmap;
    UniqueGdiObject m_watermarkBitmap;
    std::vector<HPROPSHEETPAGE> m_pageHandles; // until the sheet window owns them
};
