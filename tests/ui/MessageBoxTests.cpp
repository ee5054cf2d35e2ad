// Hooked message boxes: the error box's words, and boxes on several
// threads at once, each with its own hook.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/Handle.h"
#include "import/OziConversion.h"
#include "support/WizardDriver.h"
#include "ui/Confirmations.h"
#include "ui/MessageBox.h"

namespace {

constexpr wchar_t c_confirmationsKey[] = L"SOFTWARE\\Norvask\\Tervolin\\Confirmations";

UniqueWindow CreateOwner(int left, int top)
{
    return UniqueWindow(CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, left, top, 300, 200, nullptr,
                                        nullptr, GetModuleHandleW(nullptr), nullptr));
}

POINT Centre(HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

} // namespace

TEST(MessageBoxes, ErrorBoxSaysWhatTheHostSays)
{
    Watchdog watchdog;
    UniqueWindow owner = CreateOwner(100, 100);
    CAtlException failure(MakeOwnFailure(OziFailure::TrackDatum));
    failure.SetPositionIfUnknown(2);
    failure.SetPathIfUnknown(L"C:\\tracks\\bad.plt");
    std::wstring text;
    std::wstring caption;
    std::thread driver([&] {
        HWND box = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (box = FindDialogOfThread(GetWindowThreadProcessId(owner.Get(), nullptr))); }));
        text = MessageBoxText(box);
        caption = WindowText(box);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    ShowErrorMessage(owner.Get(), failure, L"line");
    driver.join();
    EXPECT_EQ(L"C:\\tracks\\bad.plt: line 2: the datum is not WGS 84", text);
    EXPECT_EQ(L"Tervolin \u2013 Error", caption);
}

// Two threads show confirmation boxes at the same time; each box gets its
// own check box and centring, and each stores its own name.
TEST(MessageBoxes, EveryThreadHasItsOwnHook)
{
    Watchdog watchdog;
    const wchar_t* const names[] = {L"Test::First::Done", L"Test::Second::Done"};
    const POINT origins[] = {{60, 80}, {420, 300}};
    for (const wchar_t* name : names)
        RegDeleteKeyValueW(HKEY_CURRENT_USER, c_confirmationsKey, name);

    std::atomic<DWORD> threadIds[2] = {0, 0};
    std::atomic<HWND> owners[2] = {nullptr, nullptr};
    std::atomic<int> results[2] = {-1, -1};
    std::atomic<int> ready{0};
    std::thread shows[2];
    for (int i = 0; i < 2; ++i) {
        shows[i] = std::thread([&, i] {
            UniqueWindow owner = CreateOwner(origins[i].x, origins[i].y);
            owners[i] = owner.Get();
            threadIds[i] = GetCurrentThreadId();
            ++ready;
            while (ready.load() < 2)
                Sleep(0);
            results[i] = ShowConfirmationMessageBox(owner.Get(), names[i], L"Saved", L"Information",
                                                    MB_YESNO | MB_ICONINFORMATION);
        });
    }
    HWND boxes[2] = {};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(WaitUntil([&] { return threadIds[i].load() && (boxes[i] = FindDialogOfThread(threadIds[i])); }));
    }
    for (int i = 0; i < 2; ++i) {
        HWND checkBox = GetDlgItem(boxes[i], 102);
        ASSERT_TRUE(WaitUntil([&] { return IsWindow(checkBox = GetDlgItem(boxes[i], 102)); })) << i;
        EXPECT_EQ(L"&Don't show this message again", WindowText(checkBox));
        const POINT box = Centre(boxes[i]);
        const POINT owner = Centre(owners[i]);
        EXPECT_LE(std::abs(box.x - owner.x), 1) << i;
        EXPECT_LE(std::abs(box.y - owner.y), 1) << i;
        SendMessageW(checkBox, BM_CLICK, 0, 0);
        PostMessageW(boxes[i], WM_COMMAND, IDNO, 0);
    }
    for (auto& show : shows)
        show.join();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(IDNO, results[i]);
        EXPECT_EQ(2u, ReadConfirmation(names[i])) << i;
        // Silenced: nothing is shown and the call says so.
        EXPECT_EQ(0, ShowConfirmationMessageBox(nullptr, names[i], L"Saved", L"Information", MB_OK));
        RegDeleteKeyValueW(HKEY_CURRENT_USER, c_confirmationsKey, names[i]);
    }
}
