// Hyperlink labels: the anchor markup, and the control laid out in a dialog.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "base/Handle.h"
#include "ui/HyperlinkLabel.h"
#include "ui/HyperlinkMarkup.h"

namespace {

// One expected segment: "text" plain, "[text|href|title|id]" a link.
std::wstring Describe(const std::vector<CHyperlinkSegment>& segments)
{
    std::wstring description;
    for (const auto& segment : segments) {
        if (segment.isLink)
            description += L"[" + segment.text + L"|" + segment.href + L"|" + segment.title + L"|" + segment.id + L"]";
        else
            description += L"(" + segment.text + L")";
    }
    return description;
}

} // namespace

TEST(HyperlinkMarkup, Segments)
{
    const struct
    {
        const wchar_t* markup;
        const wchar_t* expected; // nullptr: rejected
    } rows[] = {
        {L"", L""},
        {L"No anchor at all", L"(No anchor at all)"},
        {L"Web: <A HREF=\"https://norvask.example\">norvask.example</A>",
         L"(Web: )[norvask.example|https://norvask.example||]"},
        {L"<a href=\"x.kml\" title=\"A file\" id=\"one\">lower</a> case", L"[lower|x.kml|A file|one]( case)"},
        {L"<A HREF=\"a\">one</A> and <A TITLE=\"T\" HREF=\"b\">two</A>.", L"[one|a||]( and )[two|b|T|](.)"},
        {L"<A ID=\"only\">no target</A>", L"[no target|||only]"},
        {L"empty <A HREF=\"gone\"></A>anchor", L"(empty )(anchor)"},
        {L"open <A HREF=\"x\">never closed", nullptr},
        {L"text < not a tag", L"(text < not a tag)"},
    };
    for (const auto& row : rows) {
        const auto segments = ParseHyperlinkMarkup(row.markup);
        if (!row.expected) {
            EXPECT_FALSE(segments.has_value()) << row.markup;
            continue;
        }
        ASSERT_TRUE(segments.has_value()) << row.markup;
        EXPECT_EQ(row.expected, Describe(*segments)) << row.markup;
    }
}

TEST(HyperlinkMarkup, ColorSettings)
{
    const struct
    {
        const wchar_t* text;
        std::optional<COLORREF> expected;
    } rows[] = {
        {L"0,0,255", RGB(0, 0, 255)},
        {L"128 0 128", RGB(128, 0, 128)},
        {L"0x80, 0x10,0xFF", RGB(0x80, 0x10, 0xFF)},
        {L"1,2,3,4", RGB(1, 2, 3)},
        {L"300,0,0", RGB(44, 0, 0)},
        {L"1,2", std::nullopt},
        {L"red,0,0", std::nullopt},
        {L"", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, ParseColorSetting(row.text)) << row.text;
}

namespace {

// The parent of the labels under test: keeps the last activation and
// forbids opening anything.
struct Activation
{
    int count = 0;
    NMHDR header{};
    std::wstring id;
    std::wstring href;
    BOOL open = FALSE;
    BOOL visited = FALSE;
};
Activation g_activation;

LRESULT CALLBACK ParentProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NOTIFY) {
        auto* notification = reinterpret_cast<NMHYPERLINKLABEL*>(lParam);
        if (notification->header.code == c_hyperlinkActivated) {
            ++g_activation.count;
            g_activation.header = notification->header;
            g_activation.id = notification->id;
            g_activation.href = notification->href;
            g_activation.open = notification->open;
            g_activation.visited = notification->visited;
            notification->open = FALSE;
            return 0;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class LabelTest : public testing::Test
{
protected:
    static constexpr int c_labelId = 77;

    LabelTest()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ParentProcedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"HyperlinkTestParent";
        RegisterClassW(&windowClass);
        m_parent.Reset(CreateWindowExW(0, L"HyperlinkTestParent", L"", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300,
                                       nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
        g_activation = {};
    }

    HWND CreateLabel(const wchar_t* markup, int width)
    {
        HWND control = CreateWindowExW(0, L"STATIC", markup, WS_CHILD | WS_VISIBLE, 0, 0, width, 200, m_parent.Get(),
                                       reinterpret_cast<HMENU>(c_labelId), GetModuleHandleW(nullptr), nullptr);
        m_label.Attach(control);
        return control;
    }

    void Click(const RECT& rect)
    {
        const LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        SendMessageW(m_label.Window(), WM_LBUTTONDOWN, MK_LBUTTON, point);
        SendMessageW(m_label.Window(), WM_LBUTTONUP, 0, point);
    }

    int ToolCount() { return static_cast<int>(SendMessageW(m_label.Tooltip(), TTM_GETTOOLCOUNT, 0, 0)); }

    UniqueWindow m_parent;
    CHyperlinkLabel m_label;
};

} // namespace

TEST_F(LabelTest, WrappedLinkHasARectangleAndAToolPerLineAndIsHotOnEach)
{
    HWND control = CreateLabel(L"Go <A ID=\"w\" HREF=\"https://norvask.example\">to the wrapped link</A> now", 70);
    const auto& segments = m_label.Segments();
    ASSERT_EQ(3u, segments.size());
    const CHyperlinkSegment& link = segments[1];
    ASSERT_GE(link.rects.size(), 2u);
    EXPECT_EQ(static_cast<int>(link.rects.size()), ToolCount());
    EXPECT_GT(link.rects[1].top, link.rects[0].top);
    EXPECT_TRUE(GetWindowLongW(control, GWL_STYLE) & SS_NOTIFY);

    Click(link.rects.back());
    EXPECT_EQ(1, g_activation.count);
    EXPECT_EQ(control, g_activation.header.hwndFrom);
    EXPECT_EQ(static_cast<UINT_PTR>(c_labelId), g_activation.header.idFrom);
    EXPECT_EQ(L"w", g_activation.id);
    EXPECT_EQ(L"https://norvask.example", g_activation.href);
    EXPECT_TRUE(g_activation.open);
    EXPECT_TRUE(g_activation.visited);
    EXPECT_TRUE(m_label.Segments()[1].visited);

    // A click on plain text activates nothing.
    Click(segments[0].rects.front());
    EXPECT_EQ(1, g_activation.count);
}

TEST_F(LabelTest, KeyboardActivatesOnlyALonelyLinkAndALinkWithoutTargetDoesNotOpen)
{
    // The browser's link colour is used; a malformed visited colour keeps
    // the default.
    const wchar_t* const key = L"SOFTWARE\\Microsoft\\Internet Explorer\\Settings";
    const wchar_t linkColor[] = L"10,20,30";
    const wchar_t visitedColor[] = L"purple";
    RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Anchor Color", REG_SZ, linkColor, sizeof linkColor);
    RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Anchor Color Visited", REG_SZ, visitedColor, sizeof visitedColor);
    CreateLabel(L"Email: <A TITLE=\"Write to us\">support</A>", 300);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Anchor Color");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Anchor Color Visited");
    EXPECT_EQ(RGB(10, 20, 30), m_label.LinkColor());
    EXPECT_EQ(RGB(128, 0, 128), m_label.VisitedColor());

    SendMessageW(m_label.Window(), WM_CHAR, L'\r', 0);
    EXPECT_EQ(1, g_activation.count);
    EXPECT_EQ(L"", g_activation.href);
    EXPECT_FALSE(g_activation.open);
    EXPECT_EQ(1, ToolCount());

    SetWindowTextW(m_label.Window(), L"<A HREF=\"a\">one</A> and <A HREF=\"b\">two</A>");
    ASSERT_EQ(3u, m_label.Segments().size());
    EXPECT_EQ(2, ToolCount());
    SendMessageW(m_label.Window(), WM_CHAR, L' ', 0);
    EXPECT_EQ(1, g_activation.count);
    Click(m_label.Segments()[2].rects.front());
    EXPECT_EQ(2, g_activation.count);
    EXPECT_EQ(L"b", g_activation.href);

    // Markup that is not closed keeps the previous segments.
    SetWindowTextW(m_label.Window(), L"<A HREF=\"c\">never closed");
    EXPECT_EQ(3u, m_label.Segments().size());
}
