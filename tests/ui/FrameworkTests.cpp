// Window-placement, filter, header-text and error-text helpers.
#include <gtest/gtest.h>

#include "base/ErrorText.h"
#include "base/Handle.h"
#include "ui/FileDialog.h"
#include "ui/MessageBox.h"
#include "ui/WindowPlacement.h"
#include "ui/WizardPage.h"
#include "ui/WizardSheet.h"
#include "ui/WizardResources.h"
#include "import/OziConversion.h"

namespace {

UniqueWindow CreateTopLevel(const RECT& r, DWORD style, HWND owner = nullptr)
{
    return UniqueWindow(CreateWindowExW(0, L"STATIC", L"window", style, r.left, r.top, r.right - r.left,
                                        r.bottom - r.top, owner, nullptr, GetModuleHandleW(nullptr), nullptr));
}

RECT WindowRect(HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    return r;
}

RECT WorkArea()
{
    RECT r{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
    return r;
}

} // namespace

TEST(PrepareFilter, ReplacesEveryBarInPlace)
{
    const struct
    {
        std::wstring filter;
        std::wstring expected;
        size_t replaced;
    } rows[] = {
        {L"All Files (*.*)|*.*|", std::wstring(L"All Files (*.*)\0*.*\0", 20), 2},
        {L"KML Files (*.kml)|*.kml|All Files (*.*)|*.*|",
         std::wstring(L"KML Files (*.kml)\0*.kml\0All Files (*.*)\0*.*\0", 44), 4},
        {L"", L"", 0},
        {L"no bars", L"no bars", 0},
    };
    for (const auto& row : rows) {
        std::wstring filter = row.filter;
        EXPECT_EQ(row.replaced, PrepareFilter(filter)) << row.filter;
        EXPECT_EQ(row.expected, filter) << row.filter;
    }
}

TEST(WizardPage, HeaderTextSplitsAtTheFirstLineFeed)
{
    const struct
    {
        UINT id;
        const wchar_t* title;
        const wchar_t* subtitle;
    } rows[] = {
        {9101, L"Input and Output", L"Specify input and output file paths"},
        {9102, L"Only a title", L""},
        {9103, L"Title", L"Subtitle"},
        {9104, L"", L"Subtitle only"},
    };
    CWizardSheet sheet(IDS_TRACK_WIZARD_TITLE, IDS_IMPORT_WIZARD_CANCEL);
    for (const auto& row : rows) {
        CWizardPage page(sheet, 9001);
        page.SetHeaderText(row.id);
        EXPECT_EQ(row.title, page.HeaderTitle()) << row.id;
        EXPECT_EQ(row.subtitle, page.HeaderSubtitle()) << row.id;
        EXPECT_STREQ(row.title, page.PageStructure().pszHeaderTitle);
        EXPECT_STREQ(row.subtitle, page.PageStructure().pszHeaderSubTitle);
        // The sheet shows the texts the structure holds only when told to.
        const DWORD shown = PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
        EXPECT_EQ(shown, page.PageStructure().dwFlags & shown);
    }
    EXPECT_EQ(L"Tervolin Import Track Wizard", sheet.Title());
    // The Wizard97 header and watermark arrive as handles of loaded
    // pictures, the only form Wine paints.
    const PROPSHEETHEADERW& header = sheet.Header();
    const DWORD pictures = PSH_WIZARD97 | PSH_HEADER | PSH_WATERMARK | PSH_USEHBMHEADER | PSH_USEHBMWATERMARK;
    EXPECT_EQ(pictures, header.dwFlags & pictures);
    for (HBITMAP picture : {header.hbmHeader, header.hbmWatermark}) {
        BITMAP size{};
        ASSERT_EQ(static_cast<int>(sizeof size), GetObjectW(picture, sizeof size, &size));
        EXPECT_GT(size.bmWidth, 0);
        EXPECT_GT(size.bmHeight, 0);
    }
}

TEST(WindowPlacement, CenterWindowOverTheOwnerInsideTheWorkArea)
{
    const RECT area = WorkArea();
    const LONG width = 200;
    const LONG height = 100;
    const struct
    {
        RECT owner;
        LONG left; // expected
        LONG top;
    } rows[] = {
        {{100, 100, 500, 400}, 200, 200},
        // An owner at the right and bottom edges: the window stays inside.
        {{area.right - 100, area.bottom - 50, area.right + 300, area.bottom + 250}, area.right - width,
         area.bottom - height},
        // At the left and top edges.
        {{area.left - 300, area.top - 200, area.left + 50, area.top + 40}, area.left, area.top},
    };
    for (const auto& row : rows) {
        UniqueWindow owner = CreateTopLevel(row.owner, WS_POPUP | WS_VISIBLE);
        UniqueWindow window = CreateTopLevel({0, 0, width, height}, WS_POPUP, owner.Get());
        CenterWindow(window.Get());
        const RECT placed = WindowRect(window.Get());
        EXPECT_EQ(row.left, placed.left) << row.owner.left;
        EXPECT_EQ(row.top, placed.top) << row.owner.left;
        EXPECT_EQ(width, placed.right - placed.left);
    }

    // Without a visible owner, the work area is the reference.
    UniqueWindow hiddenOwner = CreateTopLevel({0, 0, 50, 50}, WS_POPUP);
    UniqueWindow window = CreateTopLevel({0, 0, width, height}, WS_POPUP, hiddenOwner.Get());
    CenterWindow(window.Get());
    EXPECT_EQ((area.left + area.right) / 2 - width / 2, WindowRect(window.Get()).left);
    EXPECT_EQ((area.top + area.bottom) / 2 - height / 2, WindowRect(window.Get()).top);

    // A child is centred in its parent's client area.
    UniqueWindow parent = CreateTopLevel({10, 10, 410, 310}, WS_POPUP | WS_VISIBLE);
    HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 100, 50, parent.Get(), nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    CenterWindow(child);
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent.Get(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(150, r.left);
    EXPECT_EQ(125, r.top);
}

TEST(WindowPlacement, CascadeFromParentKeepsTheOwnersCaptionVisible)
{
    const int shift = GetSystemMetrics(SM_CYBORDER) + GetSystemMetrics(SM_CYCAPTION);
    const struct
    {
        RECT window;
        bool captionless; // an owner without caption between the window and the captioned one
        LONG expectedShift;
    } rows[] = {
        {{100, 100, 400, 300}, false, shift},
        {{100, 100, 400, 300}, true, shift},
        {{130, 100, 400, 300}, false, 0},
    };
    for (const auto& row : rows) {
        UniqueWindow captioned = CreateTopLevel({100, 100, 500, 400}, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
        UniqueWindow plain;
        HWND owner = captioned.Get();
        if (row.captionless) {
            plain = CreateTopLevel({0, 0, 10, 10}, WS_POPUP, captioned.Get());
            owner = plain.Get();
        }
        UniqueWindow window = CreateTopLevel(row.window, WS_POPUP | WS_CAPTION, owner);
        CascadeFromParent(window.Get());
        const RECT placed = WindowRect(window.Get());
        EXPECT_EQ(row.window.left + row.expectedShift, placed.left);
        EXPECT_EQ(row.window.top + row.expectedShift, placed.top);
        EXPECT_EQ(row.window.right - row.window.left, placed.right - placed.left);
    }
}

TEST(ErrorText, OwnWordsThenTheSystemsThenTheCode)
{
    EXPECT_EQ(L"the datum is not WGS 84", GetErrorText(MakeOwnFailure(OziFailure::TrackDatum)));
    EXPECT_EQ(L"check failed (0xA765FFFF)", GetErrorText(MakeOwnFailure(0xFFFF)));
    EXPECT_EQ(L"error 0x80041234", GetErrorText(static_cast<HRESULT>(0x80041234)));
    const std::wstring system = GetErrorText(HResultFromWin32(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(system.empty());
    EXPECT_EQ(std::wstring::npos, system.find(L"0x80070002")) << system;
    // The host's one-line messages use the same words, the system's with
    // the code in place of the full stop.
    const HRESULT codes[] = {MakeOwnFailure(OziFailure::TrackDatum), MakeOwnFailure(0xFFFF),
                             static_cast<HRESULT>(0x80041234), HResultFromWin32(ERROR_FILE_NOT_FOUND)};
    for (const HRESULT hr : codes) {
        std::wstring words = GetErrorText(hr);
        if (words.back() == L'.')
            words.pop_back();
        EXPECT_TRUE(DescribeResult(hr).starts_with(words)) << DescribeResult(hr) << L" / " << words;
    }
}
