// The exported wizard entry points. Each runs one wizard modally over the
// caller's window on the calling thread and returns when the user has
// finished or cancelled it:
//
//   StartImportTrackWizard(parent)                 @8
//   StartImportTrackWizard2(parent, path, 0)       @11, the path fills the input
//   StartMapWizard(parent) @10, StartMapWizard2(parent, mapPath, 0) @13
//   StartExportWizard(parent) @15, StartExportWizard2(parent, sourcePath, 0) @16
//
// The calling thread becomes (or stays) a single-threaded OLE apartment for
// the call; its OLE initialisation count is the same afterwards. Failures
// before the wizard shows are the result; failures inside the wizard are
// shown to the user in it and leave the result S_OK.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <string>

#include "base/Exception.h"
#include "base/Handle.h"
#include "base/ModuleState.h"
#include "base/ResourceString.h"
#include "import/ExportWizard.h"
#include "import/ImportWizards.h"
#include "map/MapWizard.h"

namespace {

// The module's manifest: resource type 24, id 2. It binds the module to
// version 6 of the common controls.
constexpr WORD c_manifestId = 2;

struct ActivationContextTraits
{
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ReleaseActCtx(h); }
};
using UniqueActivationContext = UniqueAny<ActivationContextTraits>;

// Keeps the module's own activation context active on this thread while it
// lives, so that the common controls initialised under it, the sheet, its
// pages and the message boxes of the run all use version 6, whatever the
// host's own manifest says.
class ModuleActivationContext
{
public:
    ModuleActivationContext()
    {
        const std::wstring moduleFile = ModuleFileName();
        ACTCTXW description = {};
        description.cbSize = sizeof(description);
        description.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        description.lpSource = moduleFile.c_str();
        description.hModule = ModuleInstance();
        description.lpResourceName = MAKEINTRESOURCEW(c_manifestId);
        m_context.Reset(CreateActCtxW(&description));
        ThrowLastErrorIf(!m_context);
        ThrowLastErrorIf(!ActivateActCtx(m_context.Get(), &m_cookie));
    }
    ~ModuleActivationContext() { DeactivateActCtx(0, m_cookie); }
    ModuleActivationContext(const ModuleActivationContext&) = delete;
    ModuleActivationContext& operator=(const ModuleActivationContext&) = delete;

private:
    UniqueActivationContext m_context;
    ULONG_PTR m_cookie = 0;
};

// A failure that left no error code still raises a failure (E_FAIL).
void InitializeCommonControls()
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_DATE_CLASSES};
    ThrowLastErrorIf(!InitCommonControlsEx(&controls));
}

// A handle that is not a window counts as none; without one the wizard is
// owned by the thread's active window, which may be none as well.
HWND ParentOrActiveWindow(HWND parent) noexcept
{
    if (!IsWindow(parent))
        parent = nullptr;
    return parent ? parent : GetActiveWindow();
}

template <typename Wizard>
void RunWizard(HWND parent, LPCWSTR initialSource)
{
    ModuleActivationContext activation;
    InitializeCommonControls();
    Wizard wizard;
    wizard.SetInitialSource(TextOrResourceString(initialSource));
    wizard.DoModal(parent);
}

// Everything that fails inside becomes the result; nothing is thrown across
// the export, whatever its type. A success code raised to end the wizard
// early is a success.
template <typename Wizard>
HRESULT StartWizard(HWND parent, LPCWSTR initialSource) noexcept
{
    const HRESULT hr = ResultOfCall([&]() -> HRESULT {
        parent = ParentOrActiveWindow(parent);
        // Returned, not raised: a caller's wrong apartment is no fault of
        // the module worth an exception report.
        const HRESULT ole = OleInitialize(nullptr);
        if (FAILED(ole))
            return ole;
        ScopeExit uninitialize([] { OleUninitialize(); });
        RunWizard<Wizard>(parent, initialSource);
        return S_OK;
    });
    return FAILED(hr) ? hr : S_OK;
}

} // namespace

extern "C" {

HRESULT WINAPI StartImportKmlWaypointsWizard(HWND parent)
{
    return StartWizard<CImportKmlWaypointsWizard>(parent, nullptr);
}

// The location (a file path or an http(s) address; a value of at most 0xFFFF
// is a string resource id) becomes the wizard's source; the last argument is
// accepted and ignored.
HRESULT WINAPI StartImportKmlWaypointsWizard2(HWND parent, LPCWSTR location, DWORD)
{
    return StartWizard<CImportKmlWaypointsWizard>(parent, location);
}

HRESULT WINAPI StartImportTrackWizard(HWND parent)
{
    return StartWizard<CImportTrackWizard>(parent, nullptr);
}

// The forms with a path, for shell verbs on .plt and .wpt files: the path
// fills the input edit, as the location does for the KML wizard.
HRESULT WINAPI StartImportTrackWizard2(HWND parent, LPCWSTR inputPath, DWORD)
{
    return StartWizard<CImportTrackWizard>(parent, inputPath);
}

HRESULT WINAPI StartImportWaypointsWizard(HWND parent)
{
    return StartWizard<CImportWaypointsWizard>(parent, nullptr);
}

HRESULT WINAPI StartImportWaypointsWizard2(HWND parent, LPCWSTR inputPath, DWORD)
{
    return StartWizard<CImportWaypointsWizard>(parent, inputPath);
}

HRESULT WINAPI StartMapWizard(HWND parent)
{
    return StartWizard<CMapWizard>(parent, nullptr);
}

// The map path (or a string resource id) fills the source page, so that a
// shell verb on a map file opens the wizard on it; the last argument is
// accepted and ignored.
HRESULT WINAPI StartMapWizard2(HWND parent, LPCWSTR mapPath, DWORD)
{
    return StartWizard<CMapWizard>(parent, mapPath);
}

HRESULT WINAPI StartExportWizard(HWND parent)
{
    return StartWizard<CExportWizard>(parent, nullptr);
}

// The path of a waypoint file or track log (or a string resource id) fills
// the source, so that a shell verb on such a file opens the wizard on it;
// the last argument is accepted and ignored.
HRESULT WINAPI StartExportWizard2(HWND parent, LPCWSTR sourcePath, DWORD)
{
    return StartWizard<CExportWizard>(parent, sourcePath);
}

} // extern "C"
