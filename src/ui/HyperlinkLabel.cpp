#include "ui/HyperlinkLabel.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include "base/Handle.h"
#include "base/ResourceString.h"
#include "ui/WindowGuard.h"

namespace {

constexpr wchar_t c_linkColorsKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer\\Settings";
// Tool ids: (segment index + 1) * 8 + rectangle index.
constexpr UINT_PTR c_toolsPerSegment = 8;

bool Contains(const RECT& rect, POINT point)
{
    return PtInRect(&rect, point) != FALSE;
}

std::optional<COLORREF> ReadColor(HKEY key, const wchar_t* name)
{
    wchar_t text[16] = {};
    DWORD type = 0;
    DWORD size = sizeof text - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    return ParseColorSetting(std::wstring_view(text, wcsnlen(text, std::size(text))));
}

// A word: a run of characters above U+0020, or one character at or below it.
size_t WordEnd(const std::wstring& text, size_t begin)
{
    if (text[begin] <= L' ')
        return begin + 1;
    size_t end = begin;
    while (end < text.size() && text[end] > L' ')
        ++end;
    return end;
}

} // namespace

CHyperlinkLabel::~CHyperlinkLabel()
{
    if (m_window)
        RemoveWindowSubclass(m_window, Subclass, 1);
}

void CHyperlinkLabel::Attach(HWND control)
{
    m_window = control;
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    if (!(style & SS_NOTIFY))
        SetWindowLongW(control, GWL_STYLE, style | SS_NOTIFY);
    m_handCursor = LoadCursorW(nullptr, IDC_HAND);
    m_font = reinterpret_cast<HFONT>(SendMessageW(GetParent(control), WM_GETFONT, 0, 0));
    if (!m_font)
        m_font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    if (!m_linkFont) {
        LOGFONTW font{};
        GetObjectW(m_font, sizeof font, &font);
        font.lfUnderline = TRUE;
        m_linkFont.Reset(CreateFontIndirectW(&font));
    }
    m_tooltip.Reset(CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, control, nullptr, ResourceInstance(), nullptr));
    SetWindowSubclass(control, Subclass, 1, reinterpret_cast<DWORD_PTR>(this));
    if (m_segments.empty()) {
        const int length = GetWindowTextLengthW(control);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), length + 1)));
        if (auto segments = ParseHyperlinkMarkup(text))
            m_segments = std::move(*segments);
    }
    ReadLinkColors();
    Layout();
    RebuildTools();
}

LRESULT CALLBACK CHyperlinkLabel::Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR data)
{
    auto* label = reinterpret_cast<CHyperlinkLabel*>(data);
    const std::optional<LRESULT> result =
        GuardWindowMessage(window, [&] { return label->HandleMessage(message, wParam, lParam); });
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, Subclass, id);
        label->m_window = nullptr;
    }
    return result ? *result : DefSubclassProc(window, message, wParam, lParam);
}

std::optional<LRESULT> CHyperlinkLabel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_MOUSEFIRST && message <= WM_XBUTTONDBLCLK && m_tooltip) {
        MSG relayed{m_window, message, wParam, lParam, 0, {}};
        SendMessageW(m_tooltip.Get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
    }
    const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (message) {
    case WM_SETTEXT: {
        const LRESULT result = DefSubclassProc(m_window, message, wParam, lParam);
        const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
        SetMarkup(text ? text : L"");
        return result;
    }
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(m_window, &paint);
        Paint(dc, true, true);
        EndPaint(m_window, &paint);
        return 0;
    }
    case WM_PRINTCLIENT:
        Paint(reinterpret_cast<HDC>(wParam), lParam & PRF_ERASEBKGND, lParam & PRF_CLIENT);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SIZE:
        Layout();
        RebuildTools();
        return std::nullopt;
    case WM_MOUSEMOVE:
        if (!LinkAt(point))
            return std::nullopt;
        SetCursor(m_handCursor);
        return 0;
    case WM_SETCURSOR: {
        POINT cursor{};
        GetCursorPos(&cursor);
        ScreenToClient(m_window, &cursor);
        if (!LinkAt(cursor))
            return std::nullopt;
        SetCursor(m_handCursor);
        return TRUE;
    }
    case WM_LBUTTONDOWN:
        if (!LinkAt(point))
            return std::nullopt;
        SetFocus(m_window);
        SetCapture(m_window);
        return 0;
    case WM_LBUTTONUP:
        if (GetCapture() != m_window)
            return std::nullopt;
        ReleaseCapture();
        if (auto link = LinkAt(point))
            Activate(*link);
        return 0;
    case WM_MOUSELEAVE:
    case WM_UPDATEUISTATE:
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS;
    case WM_CHAR:
        if (wParam == L'\r' || wParam == L' ') {
            if (auto link = OnlyLink())
                Activate(*link);
        }
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        Repaint(false);
        return 0;
    case WM_ENABLE:
        Repaint(true);
        return 0;
    case WM_SETFONT:
        m_font = reinterpret_cast<HFONT>(wParam);
        Layout();
        RebuildTools();
        if (LOWORD(lParam))
            Repaint(true);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(m_font);
    case WM_NOTIFY: {
        auto& header = *reinterpret_cast<NMHDR*>(lParam);
        if (header.hwndFrom == m_tooltip.Get() && header.code == TTN_GETDISPINFOW)
            return OnTooltipText(header);
        return std::nullopt;
    }
    case WM_DESTROY:
        m_tooltip.Reset();
        return std::nullopt;
    }
    return std::nullopt;
}

void CHyperlinkLabel::ReadLinkColors()
{
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, c_linkColorsKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
        key.Release();
        return;
    }
    if (auto color = ReadColor(key.Get(), L"Anchor Color"))
        m_linkColor = *color;
    if (auto color = ReadColor(key.Get(), L"Anchor Color Visited"))
        m_visitedColor = *color;
}

std::wstring CHyperlinkLabel::PlainText() const
{
    std::wstring text;
    for (const auto& segment : m_segments)
        text += segment.text;
    return text;
}

void CHyperlinkLabel::SetMarkup(const std::wstring& text)
{
    if (text == PlainText())
        return;
    auto segments = ParseHyperlinkMarkup(text);
    if (!segments)
        return;
    m_segments = std::move(*segments);
    Layout();
    RebuildTools();
    Repaint(false);
}

void CHyperlinkLabel::Layout()
{
    m_plainRuns.clear();
    m_linkRuns.clear();
    const std::wstring text = PlainText();
    RECT client{};
    GetClientRect(m_window, &client);

    std::vector<int> advances(text.size() + 1, 0);
    SIZE extent{};
    TEXTMETRICW metrics{};
    {
        const WindowDC dc(m_window);
        const SelectedObject font(dc.Get(), m_font);
        GetTextExtentExPointW(dc.Get(), text.c_str(), static_cast<int>(text.size()), 0, nullptr, advances.data(),
                              &extent);
        GetTextMetricsW(dc.Get(), &metrics);
    }
    const LONG lineHeight = text.empty() ? metrics.tmHeight : extent.cy;

    // Left edges of the characters from their widths, control characters
    // taking none; offsets[i] is where character i starts, offsets[n] the end.
    std::vector<LONG> offsets(text.size() + 1, 0);
    for (size_t i = 0; i < text.size(); ++i) {
        const LONG width = text[i] < L' ' ? 0 : advances[i] - (i == 0 ? 0 : advances[i - 1]);
        offsets[i + 1] = offsets[i] + width;
    }

    std::vector<RECT> characters(text.size());
    LONG x = client.left;
    LONG y = client.top;
    for (size_t begin = 0; begin < text.size();) {
        const size_t end = WordEnd(text, begin);
        const LONG width = offsets[end] - offsets[begin];
        const bool overflows = x + width > client.right && text[begin] != L' ';
        if ((overflows || text[begin] == L'\n') && x != client.left) {
            x = client.left;
            y += lineHeight;
        }
        for (size_t i = begin; i < end; ++i)
            characters[i] = {x + offsets[i] - offsets[begin], y, x + offsets[i + 1] - offsets[begin], y + lineHeight};
        x += width;
        begin = end;
    }

    size_t first = 0;
    for (size_t index = 0; index < m_segments.size(); ++index) {
        CHyperlinkSegment& segment = m_segments[index];
        segment.rects.clear();
        auto& runs = segment.isLink ? m_linkRuns : m_plainRuns;
        const size_t last = first + segment.text.size();
        for (size_t i = first; i < last;) {
            if (text[i] < L' ') {
                ++i;
                continue;
            }
            size_t end = i + 1;
            while (end < last && text[end] >= L' ' && characters[end].top == characters[i].top)
                ++end;
            const RECT rect{characters[i].left, characters[i].top, characters[end - 1].right, characters[i].bottom};
            segment.rects.push_back(rect);
            runs.push_back({rect, index, text.substr(i, end - i)});
            i = end;
        }
        first = last;
    }
}

void CHyperlinkLabel::RebuildTools()
{
    HWND tooltip = m_tooltip.Get();
    if (!tooltip)
        return;
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    while (SendMessageW(tooltip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&tool)))
        SendMessageW(tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tooltip, TTM_ACTIVATE, TRUE, 0);
    for (size_t index = 0; index < m_segments.size(); ++index) {
        const CHyperlinkSegment& segment = m_segments[index];
        if (!segment.isLink)
            continue;
        // A link over more lines than a segment has ids for keeps the
        // tooltip of its first lines.
        for (size_t j = 0; j < segment.rects.size() && j < c_toolsPerSegment; ++j) {
            TTTOOLINFOW add{};
            add.cbSize = TTTOOLINFOW_V2_SIZE;
            add.hwnd = m_window;
            add.uId = (index + 1) * c_toolsPerSegment + j;
            add.rect = segment.rects[j];
            add.hinst = ResourceInstance();
            add.lpszText = LPSTR_TEXTCALLBACKW;
            SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&add));
        }
    }
}

LRESULT CHyperlinkLabel::OnTooltipText(NMHDR& header)
{
    auto& info = reinterpret_cast<NMTTDISPINFOW&>(header);
    const size_t index = info.hdr.idFrom / c_toolsPerSegment - 1;
    m_tooltipText.clear();
    if (index < m_segments.size()) {
        const CHyperlinkSegment& segment = m_segments[index];
        m_tooltipText = segment.title.empty() ? segment.href : segment.title;
    }
    info.lpszText = m_tooltipText.data();
    return 0;
}

void CHyperlinkLabel::Paint(HDC dc, bool background, bool content)
{
    RECT client{};
    GetClientRect(m_window, &client);
    if (background) {
        HBRUSH brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(m_window), WM_CTLCOLORSTATIC,
                                                             reinterpret_cast<WPARAM>(dc),
                                                             reinterpret_cast<LPARAM>(m_window)));
        if (brush)
            FillRect(dc, &client, brush);
    }
    if (!content)
        return;
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, m_font);
    constexpr UINT format = DT_NOPREFIX | DT_NOCLIP | DT_SINGLELINE;
    for (Run& run : m_plainRuns)
        DrawTextW(dc, run.text.c_str(), static_cast<int>(run.text.size()), &run.rect, format);
    SelectObject(dc, m_linkFont ? m_linkFont.Get() : m_font);
    const COLORREF oldColor = GetTextColor(dc);
    const bool enabled = IsWindowEnabled(m_window);
    for (Run& run : m_linkRuns) {
        SetTextColor(dc, !enabled                           ? GetSysColor(COLOR_GRAYTEXT)
                         : m_segments[run.segment].visited ? m_visitedColor
                                                           : m_linkColor);
        DrawTextW(dc, run.text.c_str(), static_cast<int>(run.text.size()), &run.rect, format);
    }
    SetTextColor(dc, oldColor);
    SelectObject(dc, oldFont);
    SetBkMode(dc, oldMode);
    if (GetFocus() == m_window)
        DrawFocus(dc);
}

void CHyperlinkLabel::DrawFocus(HDC dc)
{
    const auto link = OnlyLink();
    if (link && m_segments[*link].rects.size() == 1) {
        DrawFocusRect(dc, &m_segments[*link].rects.front());
        return;
    }
    RECT all{};
    for (const auto& segment : m_segments) {
        for (const RECT& rect : segment.rects)
            UnionRect(&all, &all, &rect);
    }
    if (!IsRectEmpty(&all))
        DrawFocusRect(dc, &all);
}

std::optional<size_t> CHyperlinkLabel::LinkAt(POINT point) const
{
    for (const Run& run : m_linkRuns) {
        if (Contains(run.rect, point))
            return run.segment;
    }
    return std::nullopt;
}

std::optional<size_t> CHyperlinkLabel::OnlyLink() const
{
    std::optional<size_t> link;
    for (size_t index = 0; index < m_segments.size(); ++index) {
        if (!m_segments[index].isLink)
            continue;
        if (link)
            return std::nullopt;
        link = index;
    }
    return link;
}

void CHyperlinkLabel::Activate(size_t index)
{
    CHyperlinkSegment& segment = m_segments[index];
    const std::wstring href = segment.href;
    NMHYPERLINKLABEL notification{};
    notification.header.hwndFrom = m_window;
    notification.header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(m_window));
    notification.header.code = c_hyperlinkActivated;
    notification.id = segment.id.c_str();
    notification.href = href.c_str();
    notification.open = !href.empty();
    notification.visited = TRUE;
    SendMessageW(GetParent(m_window), WM_NOTIFY, notification.header.idFrom,
                 reinterpret_cast<LPARAM>(&notification));
    // The parent may have changed the text; the segment is looked up again.
    if (index < m_segments.size() && m_segments[index].visited != (notification.visited != FALSE)) {
        m_segments[index].visited = notification.visited != FALSE;
        Repaint(true);
    }
    if (notification.open) {
        const auto result = reinterpret_cast<INT_PTR>(
            ShellExecuteW(nullptr, L"open", href.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        if (result <= 32)
            MessageBeep(MB_ICONHAND);
    }
}

void CHyperlinkLabel::Repaint(bool now)
{
    InvalidateRect(m_window, nullptr, TRUE);
    if (now)
        UpdateWindow(m_window);
}
