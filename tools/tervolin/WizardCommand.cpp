// tervolin wizard kml|track|waypoints|map|export [PATH]: opens a wizard of
// Tervolin.dll through its export, as a shortcut or a shell verb would. With
// a path, the export's form that takes one fills the wizard's source.
#include <windows.h>

#include "Commands.h"
#include "Console.h"
#include "ServerModule.h"
#include "base/ErrorText.h"
#include "base/Exception.h"

namespace {

using StartWizard = HRESULT(WINAPI*)(HWND parent);
using StartWizardWithPath = HRESULT(WINAPI*)(HWND parent, LPCWSTR path, DWORD reserved);

struct Wizard
{
    const wchar_t* kind;
    const char* startExport;
    const char* startWithPathExport;
    const wchar_t* usage;
};

const Wizard c_wizards[] = {
    {L"kml", "StartImportKmlWaypointsWizard", "StartImportKmlWaypointsWizard2",
     L"tervolin wizard kml [LOCATION]        import KML placemarks (a file or an http(s):// address)"},
    {L"track", "StartImportTrackWizard", "StartImportTrackWizard2",
     L"tervolin wizard track [IN.plt]        import an OziExplorer track"},
    {L"waypoints", "StartImportWaypointsWizard", "StartImportWaypointsWizard2",
     L"tervolin wizard waypoints [IN.wpt]    import OziExplorer waypoints"},
    {L"map", "StartMapWizard", "StartMapWizard2",
     L"tervolin wizard map [MAP]             open a map (.img, .imi, .mgi) and edit its layers"},
    {L"export", "StartExportWizard", "StartExportWizard2",
     L"tervolin wizard export [IN.upt|IN.log] export eXplorist waypoints or a track log to GPX or KML"},
};

void PrintWizardHelp()
{
    std::wstring text = L"Usage:\n";
    for (const auto& wizard : c_wizards) {
        text += L"  ";
        text += wizard.usage;
        text += L'\n';
    }
    text += L"\nOpens the wizard and returns when it is finished or cancelled. A path fills the\n"
            L"wizard's source; the wizard asks for everything else.\n";
    PrintOut(text);
}

HRESULT Start(const ServerModule& module, const Wizard& wizard, const Arguments& arguments)
{
    if (arguments.size() == 1)
        return module.Export<StartWizard>(wizard.startExport)(nullptr);
    return module.Export<StartWizardWithPath>(wizard.startWithPathExport)(nullptr, arguments[1].c_str(), 0);
}

} // namespace

int RunWizardCommand(const Arguments& arguments)
{
    if (arguments.empty() || arguments[0] == L"--help" || arguments[0] == L"-h") {
        PrintWizardHelp();
        return arguments.empty() ? c_exitUsage : c_exitSuccess;
    }
    for (const auto& wizard : c_wizards) {
        if (arguments[0] != wizard.kind)
            continue;
        if (arguments.size() > 2) {
            PrintError(std::wstring(L"usage: ") + wizard.usage + L"\n");
            return c_exitUsage;
        }
        const HRESULT result = ResultOfCall([&] { return Start(ServerModule(), wizard, arguments); });
        if (SUCCEEDED(result))
            return c_exitSuccess;
        PrintError(L"tervolin: the " + std::wstring(wizard.kind) + L" wizard did not open: " +
                   DescribeResult(result) + L"\n");
        return c_exitFailure;
    }
    PrintError(L"tervolin: unknown wizard \"" + arguments[0] + L"\" (see tervolin wizard --help)\n");
    return c_exitUsage;
}
