// A small wizard of the framework's pages, run on the test's thread and
// driven from a second one as a user would.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/Handle.h"
#include "support/WizardDriver.h"
#include "ui/CommonPages.h"
#include "ui/Confirmations.h"
#include "ui/MessageBox.h"
#include "ui/WizardResources.h"
#include "ui/WizardSheet.h"

namespace {

constexpr wchar_t c_introductionValue[] = L"CTestWizard::CIntroductionPage";
constexpr wchar_t c_confirmationsKey[] = L"SOFTWARE\\Norvask\\Tervolin\\Confirmations";

// A content page whose Next reports success in a message box, as the
// import pages do, before the completion page appears.
class CTestContentPage : public CWizardPage
{
public:
    explicit CTestContentPage(CWizardSheet& sheet) : CWizardPage(sheet, 9001) { SetHeaderText(9101); }

protected:
    LRESULT OnSetActive() override
    {
        SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
        return 0;
    }

    LRESULT OnWizardNext() override
    {
        ShowMessageBox(Window(), L"Import complete", MAKEINTRESOURCEW(c_captionInformation), MB_ICONINFORMATION);
        return 0;
    }
};

class CTestWizard : public CWizardSheet
{
public:
    CTestWizard() : CWizardSheet(IDS_TRACK_WIZARD_TITLE, IDS_IMPORT_WIZARD_CANCEL)
    {
        AddPage(m_introduction.PageStructure());
        AddPage(m_content.PageStructure());
        AddPage(m_completion.PageStructure());
    }

    std::atomic<HWND> window{nullptr};

protected:
    std::optional<LRESULT> OnMessage(UINT, WPARAM, LPARAM) override
    {
        window = Window();
        return std::nullopt;
    }

private:
    CIntroductionPage m_introduction{*this, IDD_TRACK_INTRODUCTION, c_introductionValue};
    CTestContentPage m_content{*this};
    CCompletionPage m_completion{*this, IDD_TRACK_COMPLETION};
};

std::optional<DWORD> IntroductionValue()
{
    return ReadConfirmation(c_introductionValue);
}

void SetIntroductionValue(std::optional<DWORD> value)
{
    if (value) {
        WriteConfirmation(c_introductionValue, *value);
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, c_confirmationsKey, c_introductionValue);
    }
}

HWND Button(HWND sheet, int id)
{
    return GetDlgItem(sheet, id);
}

bool IsOn(HWND sheet, int id)
{
    HWND button = Button(sheet, id);
    return button && IsWindowVisible(button) && IsWindowEnabled(button);
}

void Press(HWND sheet, int button)
{
    PostMessageW(sheet, PSM_PRESSBUTTON, button, 0);
}

HWND Page(HWND sheet)
{
    return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

// Runs the wizard on this thread while `drive` works it from another.
template <typename Drive>
void RunDriven(CTestWizard& wizard, Drive drive)
{
    Watchdog watchdog;
    std::thread driver([&] {
        ASSERT_TRUE(WaitUntil([&] { return wizard.window.load() != nullptr; }));
        drive(wizard.window.load());
    });
    wizard.DoModal(nullptr);
    driver.join();
}

} // namespace

TEST(Wizard, SkippedIntroductionComesBackOnBackAndUncheckingStoresZero)
{
    SetIntroductionValue(1);
    CTestWizard wizard;
    RunDriven(wizard, [](HWND sheet) {
        // Opened on the content page, under the wizard's title (not the
        // page's); its default button has the focus.
        EXPECT_TRUE(WaitUntil([&] { return CurrentPageIndex(sheet) == 1; }));
        EXPECT_TRUE(WaitUntil([&] { return WindowText(sheet) == L"Tervolin Import Track Wizard"; }));
        EXPECT_TRUE(WaitUntil([&] { return FocusOfThreadOf(sheet) == Button(sheet, c_nextButton); }));

        Press(sheet, PSBTN_BACK);
        ASSERT_TRUE(WaitUntil([&] { return CurrentPageIndex(sheet) == 0; }));
        HWND skip = GetDlgItem(Page(sheet), IDC_SKIP_INTRODUCTION);
        EXPECT_TRUE(WaitUntil([&] { return SendMessageW(skip, BM_GETCHECK, 0, 0) == BST_CHECKED; }));
        EXPECT_TRUE(WaitUntil([&] { return IsOn(sheet, c_nextButton) && !IsOn(sheet, c_backButton); }));
        SendMessageW(skip, BM_SETCHECK, BST_UNCHECKED, 0);
        Press(sheet, PSBTN_NEXT);
        ASSERT_TRUE(WaitUntil([&] { return CurrentPageIndex(sheet) == 1; }));
        EXPECT_EQ(0u, IntroductionValue());

        // Next shows a message box first; once it is closed the completion
        // page has the keyboard: Enter reaches Finish.
        Press(sheet, PSBTN_NEXT);
        HWND box = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (box = FindDialogOfThread(GetWindowThreadProcessId(sheet, nullptr), sheet)); }));
        EXPECT_EQ(L"Import complete", MessageBoxText(box));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitUntil([&] { return CurrentPageIndex(sheet) == 2; }));
        EXPECT_TRUE(WaitUntil([&] { return IsOn(sheet, c_finishButton) && !IsOn(sheet, c_backButton); }));
        EXPECT_FALSE(IsWindowEnabled(Button(sheet, IDCANCEL)));
        EXPECT_TRUE(WaitUntil([&] { return FocusOfThreadOf(sheet) == Button(sheet, c_finishButton); }));
        Press(sheet, PSBTN_FINISH);
    });
    EXPECT_EQ(0u, IntroductionValue());
}

TEST(Wizard, IntroductionShownUnlessTheValueIsExactlyOne)
{
    const std::optional<DWORD> values[] = {std::nullopt, 0u, 2u};
    for (const auto& value : values) {
        SetIntroductionValue(value);
        CTestWizard wizard;
        RunDriven(wizard, [](HWND sheet) {
            EXPECT_TRUE(WaitUntil([&] { return CurrentPageIndex(sheet) == 0; }));
            // Cancel on the introduction closes at once.
            Press(sheet, PSBTN_CANCEL);
        });
    }
    SetIntroductionValue(std::nullopt);
}

TEST(Wizard, CancelOnAContentPageAsksAndNoKeepsTheWizard)
{
    SetIntroductionValue(1);
    CTestWizard wizard;
    RunDriven(wizard, [](HWND sheet) {
        ASSERT_TRUE(WaitUntil([&] { return CurrentPageIndex(sheet) == 1; }));
        const DWORD thread = GetWindowThreadProcessId(sheet, nullptr);
        for (const int answer : {IDNO, IDYES}) {
            Press(sheet, PSBTN_CANCEL);
            HWND box = nullptr;
            ASSERT_TRUE(WaitUntil([&] { return (box = FindDialogOfThread(thread, sheet)); }));
            EXPECT_EQ(L"Do you really want to close the wizard?", MessageBoxText(box));
            EXPECT_EQ(L"Tervolin \u2013 Confirmation", WindowText(box));
            PostMessageW(box, WM_COMMAND, answer, 0);
            if (answer == IDNO) {
                ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
                EXPECT_EQ(1, CurrentPageIndex(sheet));
            }
        }
    });
    SetIntroductionValue(std::nullopt);
}

namespace {

INT_PTR CALLBACK PlainDialogProcedure(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

int Height(HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    return r.bottom - r.top;
}

int AboutItems(HWND sheet)
{
    HMENU menu = GetSystemMenu(sheet, FALSE);
    int count = 0;
    for (int i = 0; i < GetMenuItemCount(menu); ++i)
        count += GetMenuItemID(menu, i) == CWizardSheet::c_aboutCommand;
    return count;
}

} // namespace

TEST(Wizard, AboutBoxFromTheSystemMenu)
{
    // The About template as the dialog manager makes it, to see the growth.
    HWND plain = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), nullptr,
                                    PlainDialogProcedure, 0);
    ASSERT_TRUE(plain);
    const int plainHeight = Height(plain);
    const int plainWarningHeight = Height(GetDlgItem(plain, IDC_ABOUT_WARNING));
    DestroyWindow(plain);

    SetIntroductionValue(std::nullopt);
    CTestWizard wizard;
    RunDriven(wizard, [&](HWND sheet) {
        ASSERT_TRUE(WaitUntil([&] { return AboutItems(sheet) == 1; }));
        // Restoring the sheet sizes it again; the command is there once.
        RECT client{};
        GetClientRect(sheet, &client);
        for (int i = 0; i < 2; ++i)
            SendMessageW(sheet, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
        EXPECT_EQ(1, AboutItems(sheet));

        PostMessageW(sheet, WM_SYSCOMMAND, CWizardSheet::c_aboutCommand, 0);
        HWND about = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            return (about = FindDialogOfThread(GetWindowThreadProcessId(sheet, nullptr), sheet));
        }));
        EXPECT_EQ(L"About", WindowText(about));
        EXPECT_EQ(sheet, GetWindow(about, GW_OWNER));
        EXPECT_EQ(L"Product Version 5.6.7.8", WindowText(GetDlgItem(about, IDC_ABOUT_PRODUCT_VERSION)));
        EXPECT_EQ(L"Module Version 1.2.3.4", WindowText(GetDlgItem(about, IDC_ABOUT_MODULE_VERSION)));
        const int warningHeight = Height(GetDlgItem(about, IDC_ABOUT_WARNING)) - 4;
        EXPECT_GT(warningHeight, plainWarningHeight);
        EXPECT_EQ(warningHeight - plainWarningHeight, Height(about) - plainHeight);

        // Escape closes it; the wizard is still there.
        PostMessageW(about, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }));
        EXPECT_EQ(0, CurrentPageIndex(sheet));
        Press(sheet, PSBTN_CANCEL);
    });
}
