// A static text control turned into a label of plain text and links.
//
// The static's text carries anchor markup (ui/HyperlinkMarkup.h). The label
// wraps the text at word boundaries, draws links underlined in the
// browser's link colours (HKEY_CURRENT_USER\SOFTWARE\Microsoft\Internet
// Explorer\Settings, "Anchor Color" and "Anchor Color Visited"; blue and
// purple without them), shows each link's TITLE, else its HREF, as a
// tooltip, and a hand cursor over links. A click on a link, or Enter or
// Space when the text has exactly one link, activates it: the parent gets
// WM_NOTIFY with NMHYPERLINKLABEL (code c_hyperlinkActivated) and may clear
// `open` or `visited`; then the HREF is opened with the shell ("open"
// verb), and a failure only beeps.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/Handle.h"
#include "ui/HyperlinkMarkup.h"

constexpr UINT c_hyperlinkActivated = 1025;

struct NMHYPERLINKLABEL
{
    NMHDR header;        // hwndFrom: the label, idFrom: its control id
    const wchar_t* id;   // the link's ID, "" without one
    const wchar_t* href; // the link's HREF, "" without one
    BOOL open;           // TRUE when HREF is not empty: the label opens it
    BOOL visited;        // TRUE: the link is drawn as visited from now on
};

class CHyperlinkLabel
{
public:
    CHyperlinkLabel() = default;
    ~CHyperlinkLabel();
    CHyperlinkLabel(const CHyperlinkLabel&) = delete;
    CHyperlinkLabel& operator=(const CHyperlinkLabel&) = delete;

    // Subclasses the static control (in WM_INITDIALOG of its dialog) and
    // lays out its current text. The label stays attached until the
    // control is destroyed.
    void Attach(HWND control);

    HWND Window() const noexcept { return m_window; }
    HWND Tooltip() const noexcept { return m_tooltip.Get(); }
    const std::vector<CHyperlinkSegment>& Segments() const noexcept { return m_segments; }
    COLORREF LinkColor() const noexcept { return m_linkColor; }
    COLORREF VisitedColor() const noexcept { return m_visitedColor; }

private:
    struct Run
    {
        RECT rect;
        size_t segment;
        std::wstring text;
    };

    static LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR data);
    std::optional<LRESULT> HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void ReadLinkColors();
    void SetMarkup(const std::wstring& text);
    std::wstring PlainText() const;
    void Layout();
    void RebuildTools();
    void Paint(HDC dc, bool background, bool content);
    void DrawFocus(HDC dc);
    std::optional<size_t> LinkAt(POINT point) const;
    std::optional<size_t> OnlyLink() const;
    void Activate(size_t segment);
    LRESULT OnTooltipText(NMHDR& header);
    void Repaint(bool now);

    HWND m_window = nullptr;
    std::vector<CHyperlinkSegment> m_segments;
    std::vector<Run> m_plainRuns;
    std::vector<Run> m_linkRuns;
    HFONT m_font = nullptr; // not owned
    UniqueGdiObject m_linkFont;
    COLORREF m_linkColor = RGB(0, 0, 255);
    COLORREF m_visitedColor = RGB(128, 0, 128);
    HCURSOR m_handCursor = nullptr;
    UniqueWindow m_tooltip;
    std::wstring m_tooltipText;
};
