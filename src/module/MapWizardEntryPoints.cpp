// StartMapWizard(parent) @10 and StartMapWizard2(parent, mapPath, 0) @13:
// the map wizard run modally over the caller's window on the calling thread.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "base/Exception.h"
#include "base/ResourceString.h"
#include "map/MapWizard.h"
#include "module/Module.h"

namespace {

HRESULT StartMapWizardWith(HWND parent, LPCWSTR mapPath) noexcept
{
    try {
        if (!IsWindow(parent))
            parent = nullptr;
        if (!parent)
            parent = GetActiveWindow();
        const HRESULT ole = OleInitialize(nullptr);
        if (FAILED(ole))
            return ole;
        try {
            INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_DATE_CLASSES};
            ThrowLastErrorIf(!InitCommonControlsEx(&controls));
            CMapWizard wizard;
            wizard.SetInitialSource(TextOrResourceString(mapPath));
            wizard.DoModal(parent);
        } catch (...) {
            OleUninitialize();
            throw;
        }
        OleUninitialize();
        return S_OK;
    } catch (const CAtlException& failure) {
        return FAILED(failure.m_hr) ? failure.m_hr : S_OK;
    } catch (...) {
        return ResultFromCaughtException();
    }
}

} // namespace

extern "C" {

HRESULT WINAPI StartMapWizard(HWND parent)
{
    return StartMapWizardWith(parent, nullptr);
}

HRESULT WINAPI StartMapWizard2(HWND parent, LPCWSTR mapPath, DWORD)
{
    return StartMapWizardWith(parent, mapPath);
}

}
