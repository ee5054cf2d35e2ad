#include "ui/WizardSheet.h"

#include <cstddef>
#include <utility>

#include "ui/WizardResources.h"
#include "base/Handle.h"
#include "base/ResourceString.h"
#include "ui/AboutDialog.h"
#include "ui/WindowGuard.h"
#include "ui/WindowPlacement.h"

// The header with watermark and header-bitmap fields.
static_assert(sizeof(void*) != 4 || sizeof(PROPSHEETHEADERW) == 52, "property sheet header of 52 bytes");

namespace {

// The sheet whose PropertySheetW call runs on this thread, until its window
// is attached in the PSCB_INITIALIZED callback.
thread_local CWizardSheet* t_startingSheet = nullptr;

// Posted to the sheet when it is attached: Wine sends the sheet no WM_SIZE
// after its creation, so the first-size steps run from here when none came.
constexpr UINT c_sheetAttached = WM_APP + 0x30;

// Wine paints the Wizard97 pictures only when they come as handles.
constexpr DWORD c_sheetFlags = PSH_USECALLBACK | PSH_WIZARD97 | PSH_WATERMARK | PSH_HEADER | PSH_USEHBMWATERMARK |
                               PSH_USEHBMHEADER;

HBITMAP LoadBitmapResource(UINT id)
{
    return static_cast<HBITMAP>(
        LoadImageW(ResourceInstance(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

HICON LoadIconResource(UINT id, int widthMetric, int heightMetric)
{
    return static_cast<HICON>(LoadImageW(ResourceInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                         GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), LR_SHARED));
}

} // namespace

CWizardSheet::CWizardSheet(UINT titleId, UINT cancelQuestionId)
    : m_title(LoadResourceString(titleId)), m_cancelQuestion(cancelQuestionId)
{
    m_headerBitmap.Reset(LoadBitmapResource(IDB_WIZARD_HEADER));
    m_watermarkBitmap.Reset(LoadBitmapResource(IDB_WIZARD_WATERMARK));
    m_header.dwSize = sizeof m_header;
    m_header.dwFlags = c_sheetFlags;
    m_header.hInstance = ResourceInstance();
    m_header.pszCaption = m_title.c_str();
    m_header.hbmWatermark = static_cast<HBITMAP>(m_watermarkBitmap.Get());
    m_header.hbmHeader = static_cast<HBITMAP>(m_headerBitmap.Get());
    m_header.pfnCallback = SheetCallback;
}

CWizardSheet::~CWizardSheet()
{
    // Handles that never reached a sheet window are still the sheet's.
    for (HPROPSHEETPAGE handle : m_pageHandles)
        DestroyPropertySheetPage(handle);
}

bool CWizardSheet::AddPage(const PROPSHEETPAGEW& page)
{
    HPROPSHEETPAGE handle = CreatePropertySheetPageW(&page);
    if (!handle)
        return false;
    if (m_window) {
        if (!SendMessageW(m_window, PSM_ADDPAGE, 0, reinterpret_cast<LPARAM>(handle))) {
            DestroyPropertySheetPage(handle);
            return false;
        }
    } else {
        m_pageHandles.push_back(handle);
    }
    return true;
}

INT_PTR CWizardSheet::DoModal(HWND parent)
{
    m_header.dwFlags &= ~PSH_MODELESS;
    if (!m_header.hwndParent)
        m_header.hwndParent = parent;
    m_header.phpage = m_pageHandles.data();
    m_header.nPages = static_cast<UINT>(m_pageHandles.size());
    CWizardSheet* const outer = std::exchange(t_startingSheet, this);
    ScopeExit restore([this, outer] {
        t_startingSheet = outer;
        m_header.phpage = nullptr;
        m_header.nPages = 0;
    });
    const INT_PTR result = PropertySheetW(&m_header);
    // PropertySheetW has taken the handles over, created or not.
    m_pageHandles.clear();
    return result;
}

HFONT CWizardSheet::GetTitleFont()
{
    if (m_titleFont)
        return static_cast<HFONT>(m_titleFont.Get());
    // The structure as it was before the padded-border field.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
        return nullptr;
    LOGFONTW font = metrics.lfMessageFont;
    font.lfWeight = FW_BOLD;
    font.lfItalic = FALSE;
    wcscpy_s(font.lfFaceName, L"Verdana Bold");
    font.lfHeight = GetDeviceCaps(WindowDC(nullptr).Get(), LOGPIXELSY) * 12 / -72;
    m_titleFont.Reset(CreateFontIndirectW(&font));
    return static_cast<HFONT>(m_titleFont.Get());
}

int CALLBACK CWizardSheet::SheetCallback(HWND window, UINT message, LPARAM)
{
    if (message == PSCB_INITIALIZED && t_startingSheet)
        std::exchange(t_startingSheet, nullptr)->Attach(window);
    return 0;
}

void CWizardSheet::Attach(HWND window)
{
    m_window = window;
    SetWindowSubclass(window, SheetSubclass, 1, reinterpret_cast<DWORD_PTR>(this));
    m_pageHandles.clear();
    PostMessageW(window, c_sheetAttached, 0, 0);
}

LRESULT CALLBACK CWizardSheet::SheetSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                             DWORD_PTR data)
{
    auto* sheet = reinterpret_cast<CWizardSheet*>(data);
    const std::optional<LRESULT> result =
        GuardWindowMessage(window, [&] { return sheet->HandleMessage(message, wParam, lParam); });
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, SheetSubclass, id);
        sheet->m_window = nullptr;
    }
    return result ? *result : DefSubclassProc(window, message, wParam, lParam);
}

std::optional<LRESULT> CWizardSheet::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == c_aboutCommand) {
        CAboutDialog().DoModal(m_window);
        return 0;
    }
    if (auto result = OnMessage(message, wParam, lParam))
        return result;
    switch (message) {
    case WM_SYSCOMMAND:
        if (wParam != c_aboutCommand)
            break;
        SendMessageW(m_window, WM_COMMAND, c_aboutCommand, 0);
        return 0;
    case WM_SIZE:
        // Not consumed: the standard procedure lays the sheet out.
        OnSize();
        break;
    case c_sheetAttached:
        if (m_sizeCount == 0)
            OnSize();
        return 0;
    case WM_DESTROY:
        m_titleApplied = false;
        m_aboutAppended = false;
        break;
    }
    return std::nullopt;
}

void CWizardSheet::OnSize()
{
    SendMessageW(m_window, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadIconResource(IDI_TERVOLIN, SM_CXSMICON, SM_CYSMICON)));
    SendMessageW(m_window, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconResource(IDI_TERVOLIN, SM_CXICON, SM_CYICON)));
    const LONG exStyle = GetWindowLongW(m_window, GWL_EXSTYLE);
    if (!(exStyle & WS_EX_APPWINDOW))
        SetWindowLongW(m_window, GWL_EXSTYLE, exStyle | WS_EX_APPWINDOW);
    AppendAboutCommand();
    if (m_sizeCount < 2 && m_sizeCount++ == 0) {
        CenterWindow(m_window);
        CascadeFromParent(m_window);
    }
    ApplyTitle();
}

// Once per window: a later WM_SIZE (restoring from the taskbar) must not
// add a second item.
void CWizardSheet::AppendAboutCommand()
{
    if (m_aboutAppended)
        return;
    HMENU menu = GetSystemMenu(m_window, FALSE);
    if (!menu)
        return;
    m_aboutAppended = true;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, c_aboutCommand, LoadResourceString(IDS_ABOUT_COMMAND).c_str());
}

void CWizardSheet::RestoreCaption() const
{
    wchar_t caption[256] = {};
    GetWindowTextW(m_window, caption, static_cast<int>(std::size(caption)));
    if (m_title != caption)
        SetWindowTextW(m_window, m_title.c_str());
}

void CWizardSheet::ApplyTitle()
{
    if (m_titleApplied)
        return;
    m_titleApplied = true;
    SendMessageW(m_window, PSM_SETTITLEW, 0, reinterpret_cast<LPARAM>(m_title.c_str()));
}
