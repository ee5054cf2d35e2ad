// wizard_timings.exe [ROUNDS]: times the import wizards through the exports
// of Tervolin.dll. For every round of every wizard it prints the time from
// the export call to the first page being visible, and of a whole scripted
// run (introduction, content page filled in, conversion, success message,
// completion, Finish). Figures are milliseconds; the driver looks at the
// windows every millisecond.
#include <windows.h>
#include <objbase.h>
#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "import/ImportResources.h"
#include "support/TestSupport.h"
#include "support/WizardDriver.h"

namespace {

struct TimedWizard
{
    const char* name;
    const char* startExport;
    const wchar_t* sample;
    int sourceEdit;
    int destinationEdit;
    const wchar_t* introductionValue;
    const wchar_t* completeValue;
};

const TimedWizard c_wizards[] = {
    {"kml", "StartImportKmlWaypointsWizard", L"alpine-huts.kml", IDC_KML_SOURCE, IDC_KML_DESTINATION,
     L"CImportKmlWaypointsWizard::CIntroductionPage", L"CImportKmlWaypointsWizard::CLocationsPage::ImportComplete"},
    {"track", "StartImportTrackWizard", L"ridge-walk.plt", IDC_TRACK_INPUT, IDC_TRACK_OUTPUT,
     L"CImportTrackWizard::CIntroductionPage", L"CImportTrackWizard::CPagePaths::ImportComplete"},
    {"waypoints", "StartImportWaypointsWizard", L"lakes.wpt", IDC_WAYPOINT_INPUT, IDC_WAYPOINT_OUTPUT,
     L"CImportWaypointsWizard::CIntroductionPage", L"CImportWaypointsWizard::CPagePaths::ImportComplete"},
};

double Now()
{
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool WaitClosely(const std::function<bool()>& condition)
{
    const double end = Now() + c_patience;
    while (!condition()) {
        if (Now() > end)
            return false;
        Sleep(1);
    }
    return true;
}

struct Timing
{
    double firstPage = 0;
    double wholeRun = 0;
};

bool TimeRun(const TimedWizard& wizard, const std::wstring& output, Timing& timing)
{
    DeleteConfirmationValue(wizard.introductionValue);
    DeleteConfirmationValue(wizard.completeValue);
    std::atomic<double> called{0};
    WizardRun run([&] {
        called = Now();
        return WizardExport<StartWizard>(wizard.startExport)(nullptr);
    });
    if (!WaitClosely([&] { return run.PageIndex() == 0; }))
        return false;
    timing.firstPage = Now() - called;
    run.Press(PSBTN_NEXT);
    if (!WaitClosely([&] { return run.PageIndex() == 1; }))
        return false;
    SetText(run.PageControl(wizard.destinationEdit), output);
    SetText(run.PageControl(wizard.sourceEdit), EnvironmentValue(L"TERVOLIN_SOURCE") + L"\\samples\\" + wizard.sample);
    if (!WaitClosely([&] { return run.ButtonEnabled(c_nextButton); }))
        return false;
    run.Press(PSBTN_NEXT);
    HWND success = nullptr;
    if (!WaitClosely([&] { return (success = run.WaitForMessageBox()) != nullptr; }))
        return false;
    AnswerDialog(success, IDOK);
    if (!WaitClosely([&] { return run.PageIndex() == 2; }))
        return false;
    run.Press(PSBTN_FINISH);
    if (run.Result() != S_OK)
        return false;
    timing.wholeRun = Now() - called;
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Watchdog watchdog(300000);
    // The main thread sets up its windowing (through COM) before any wizard
    // thread loads the DLL: the first window call of a thread and a thread
    // that loads the common controls under the loader lock deadlock in Wine.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 5;
    TempFolder folder;
    std::printf("%-10s %6s %18s %18s\n", "wizard", "round", "first page (ms)", "whole run (ms)");
    for (const auto& wizard : c_wizards) {
        for (int round = 1; round <= rounds; ++round) {
            Timing timing;
            if (!TimeRun(wizard, folder.File(L"out"), timing)) {
                std::fprintf(stderr, "%s: the run did not go through\n", wizard.name);
                return 1;
            }
            std::printf("%-10s %6d %18.1f %18.1f\n", wizard.name, round, timing.firstPage, timing.wholeRun);
        }
    }
    return 0;
}
