#include "ui/MessageBox.h"

#include <commctrl.h>

#include <cwchar>
#include <utility>

#include "base/ErrorText.h"
#include "base/Handle.h"
#include "base/ResourceString.h"
#include "ui/Confirmations.h"
#include "ui/WizardResources.h"
#include "ui/WindowPlacement.h"

namespace {

// What a hooked box does to the system's message box window.
class CMessageBoxHandler
{
public:
    // After the box's own WM_INITDIALOG processing (which lays it out).
    virtual void OnInitDialog(HWND box) = 0;
    // Before the box's own WM_DESTROY processing.
    virtual void OnDestroy(HWND) {}

protected:
    ~CMessageBoxHandler() = default;
};

// The handler waiting for the next message box of this thread; consumed by
// the first dialog that receives WM_INITDIALOG.
thread_local CMessageBoxHandler* t_pendingHandler = nullptr;

LRESULT CALLBACK MessageBoxSubclass(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR data)
{
    auto* handler = reinterpret_cast<CMessageBoxHandler*>(data);
    switch (message) {
    case WM_INITDIALOG: {
        const LRESULT result = DefSubclassProc(box, message, wParam, lParam);
        try {
            handler->OnInitDialog(box);
        } catch (...) {
            // The box still works, only without its additions.
        }
        return result;
    }
    case WM_DESTROY:
        handler->OnDestroy(box);
        DefSubclassProc(box, message, wParam, lParam);
        return 0;
    case WM_NCDESTROY:
        RemoveWindowSubclass(box, MessageBoxSubclass, id);
        break;
    }
    return DefSubclassProc(box, message, wParam, lParam);
}

bool IsDialogClass(HWND window)
{
    wchar_t className[8] = {};
    return GetClassNameW(window, className, static_cast<int>(std::size(className))) > 0 &&
           wcscmp(className, L"#32770") == 0;
}

LRESULT CALLBACK CallWindowHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && t_pendingHandler) {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (sent->message == WM_INITDIALOG && IsDialogClass(sent->hwnd)) {
            SetWindowSubclass(sent->hwnd, MessageBoxSubclass, 1,
                              reinterpret_cast<DWORD_PTR>(std::exchange(t_pendingHandler, nullptr)));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// MessageBoxW with the handler applied to its window. Without a hook the box
// still appears, plain.
int ShowHookedMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type, CMessageBoxHandler& handler)
{
    const std::wstring textString = TextOrResourceString(text);
    const std::wstring captionString = TextOrResourceString(caption);
    CMessageBoxHandler* const outer = std::exchange(t_pendingHandler, &handler);
    ScopeExit restore([outer] { t_pendingHandler = outer; });
    UniqueHook hook(SetWindowsHookExW(WH_CALLWNDPROC, CallWindowHook, nullptr, GetCurrentThreadId()));
    return MessageBoxW(owner, textString.c_str(), captionString.c_str(), type);
}

class CCenteringHandler final : public CMessageBoxHandler
{
public:
    void OnInitDialog(HWND box) override { CenterWindow(box); }
};

// Adds an etched line and the check box below the box's buttons and stores
// the choice when the box closes.
class CConfirmationHandler final : public CMessageBoxHandler
{
public:
    explicit CConfirmationHandler(const wchar_t* name) : m_name(name) {}

    void OnInitDialog(HWND box) override
    {
        RECT client{};
        GetClientRect(box, &client);
        const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(box, GWLP_HINSTANCE));
        CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ, 6, client.bottom,
                        client.right - 12, 1, box, reinterpret_cast<HMENU>(c_lineId), instance, nullptr);

        const int h = MeasureLineHeight(box);
        m_checkBox = CreateWindowExW(0, L"BUTTON", LoadResourceString(IDS_DONT_SHOW_AGAIN).c_str(),
                                     WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 6, client.bottom + h / 2,
                                     client.right - 12, 2 * h - 2 - h / 2, box,
                                     reinterpret_cast<HMENU>(c_checkBoxId), instance, nullptr);
        SendMessageW(m_checkBox, WM_SETFONT, SendMessageW(box, WM_GETFONT, 0, 0), TRUE);

        RECT frame{};
        GetWindowRect(box, &frame);
        SetWindowPos(box, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + 2 * h,
                     SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE);
        CenterWindow(box);
    }

    void OnDestroy(HWND) override
    {
        if (m_checkBox && SendMessageW(m_checkBox, BM_GETCHECK, 0, 0) != BST_UNCHECKED)
            WriteConfirmation(m_name, c_silenceMessage);
    }

private:
    static constexpr int c_lineId = 101;
    static constexpr int c_checkBoxId = 102;

    // The height of "X" in the default font of the box's DC.
    static int MeasureLineHeight(HWND box)
    {
        const WindowDC dc(box);
        SIZE extent{};
        GetTextExtentPoint32W(dc.Get(), L"X", 1, &extent);
        return extent.cy;
    }

    const wchar_t* m_name;
    HWND m_checkBox = nullptr;
};

} // namespace

int ShowMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    CCenteringHandler centering;
    return ShowHookedMessageBox(owner, text, caption, type, centering);
}

void ShowErrorMessage(HWND owner, HRESULT hr)
{
    ShowMessageBox(owner, GetErrorText(hr).c_str(), MAKEINTRESOURCEW(c_captionError), MB_ICONERROR);
}

void ShowErrorMessage(HWND owner, const CAtlException& failure, const wchar_t* positionNoun)
{
    ShowMessageBox(owner, DescribeFailure(failure, {}, positionNoun).c_str(), MAKEINTRESOURCEW(c_captionError),
                   MB_ICONERROR);
}

int ShowConfirmationMessageBox(HWND owner, const wchar_t* name, LPCWSTR text, LPCWSTR caption, UINT type)
{
    if (ReadConfirmation(name) == c_silenceMessage)
        return 0;
    CConfirmationHandler confirmation(name);
    return ShowHookedMessageBox(owner, text, caption, type, confirmation);
}
