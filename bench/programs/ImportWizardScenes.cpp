// Scenes of the three import wizards: every page, the success message with
// its check box, the cancel question and the About box.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "import/ImportResources.h"
#include "programs/Screenshots.h"
#include "support/TestSupport.h"

namespace {

struct ImportScene
{
    const wchar_t* name;
    const char* startExport;
    const wchar_t* sample;
    int sourceEdit;
    int destinationEdit;
    const wchar_t* destination;
    const wchar_t* introductionValue;
    const wchar_t* completeValue;
};

std::function<HRESULT()> Start(const char* startExport)
{
    return [startExport] { return WizardExport<StartWizard>(startExport)(nullptr); };
}

// Introduction, content page filled in, success message, completion.
bool ShowImportWizard(const ImportScene& scene)
{
    DeleteConfirmationValue(scene.introductionValue);
    DeleteConfirmationValue(scene.completeValue);
    TempFolder folder(c_sceneFolder);
    const std::wstring name = scene.name;
    WizardRun run(Start(scene.startExport));
    if (!run.WaitForPage(0))
        return false;
    Shot(name + L"-1-introduction", run.Sheet());
    run.Press(PSBTN_NEXT);
    if (!run.WaitForPage(1))
        return false;
    SetText(run.PageControl(scene.sourceEdit), PictureSample(scene.sample));
    SetText(run.PageControl(scene.destinationEdit), folder.File(scene.destination));
    if (!WaitUntil([&] { return run.ButtonEnabled(c_nextButton); }))
        return false;
    Shot(name + L"-2-content", run.Sheet());
    run.Press(PSBTN_NEXT);
    const HWND success = run.WaitForMessageBox();
    if (!success)
        return false;
    Shot(name + L"-3-import-complete", success, run.Sheet());
    AnswerDialog(success, IDOK);
    if (!run.WaitForPage(2))
        return false;
    Shot(name + L"-4-completion", run.Sheet());
    run.Press(PSBTN_FINISH);
    return run.Result(c_patience) == S_OK;
}

const ImportScene c_kml = {L"kml", "StartImportKmlWaypointsWizard", L"alpine-huts.kml", IDC_KML_SOURCE,
                           IDC_KML_DESTINATION, L"huts.upt", L"CImportKmlWaypointsWizard::CIntroductionPage",
                           L"CImportKmlWaypointsWizard::CLocationsPage::ImportComplete"};
const ImportScene c_track = {L"track", "StartImportTrackWizard", L"ridge-walk.plt", IDC_TRACK_INPUT,
                             IDC_TRACK_OUTPUT, L"ridge-walk.log", L"CImportTrackWizard::CIntroductionPage",
                             L"CImportTrackWizard::CPagePaths::ImportComplete"};
const ImportScene c_waypoints = {L"waypoints", "StartImportWaypointsWizard", L"lakes.wpt", IDC_WAYPOINT_INPUT,
                                 IDC_WAYPOINT_OUTPUT, L"lakes.upt", L"CImportWaypointsWizard::CIntroductionPage",
                                 L"CImportWaypointsWizard::CPagePaths::ImportComplete"};

// The question Cancel asks on a content page, and the About box of the
// sheet's system menu.
bool ShowSheetBoxes()
{
    DeleteConfirmationValue(c_track.introductionValue);
    WizardRun run(Start(c_track.startExport));
    if (!run.WaitForPage(0))
        return false;
    constexpr WPARAM c_aboutCommand = 0xE140;
    PostMessageW(run.Sheet(), WM_SYSCOMMAND, c_aboutCommand, 0);
    const HWND about = run.WaitForMessageBox();
    if (!about)
        return false;
    Shot(L"about", about, run.Sheet());
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    if (!run.WaitForNoMessageBox())
        return false;
    run.Press(PSBTN_NEXT);
    if (!run.WaitForPage(1))
        return false;
    run.Press(PSBTN_CANCEL);
    const HWND question = run.WaitForMessageBox();
    if (!question)
        return false;
    Shot(L"cancel-question", question, run.Sheet());
    AnswerDialog(question, IDYES);
    return run.Result(c_patience) == S_OK;
}

const SceneRegistration c_kmlScene(L"kml", [] { return ShowImportWizard(c_kml); });
const SceneRegistration c_trackScene(L"track", [] { return ShowImportWizard(c_track); });
const SceneRegistration c_waypointsScene(L"waypoints", [] { return ShowImportWizard(c_waypoints); });
const SceneRegistration c_boxesScene(L"boxes", ShowSheetBoxes);

} // namespace
