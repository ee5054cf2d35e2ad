// The export wizard's scene: every page, with the format list open on KML.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "import/ExportResources.h"
#include "programs/Screenshots.h"
#include "support/TestSupport.h"

namespace {

constexpr int c_kmlItem = 1;

bool ShowExportWizard()
{
    DeleteConfirmationValue(L"CExportWizard::CIntroductionPage");
    TempFolder folder(c_sceneFolder);
    WizardRun run([] { return WizardExport<StartWizard>("StartExportWizard")(nullptr); });
    if (!run.WaitForPage(0))
        return false;
    Shot(L"export-1-introduction", run.Sheet());
    run.Press(PSBTN_NEXT);
    if (!run.WaitForPage(1))
        return false;
    SetText(run.PageControl(IDC_EXPORT_SOURCE), PictureSample(L"ridge-walk.log"));
    SetText(run.PageControl(IDC_EXPORT_DESTINATION), folder.File(L"ridge-walk.gpx"));
    ChooseComboItem(run.Page(), IDC_EXPORT_FORMAT, c_kmlItem);
    if (!WaitUntil([&] { return run.ButtonEnabled(c_nextButton); }))
        return false;
    Shot(L"export-2-content", run.Sheet());
    run.Press(PSBTN_NEXT);
    if (!run.WaitForPage(2))
        return false;
    Shot(L"export-3-completion", run.Sheet());
    run.Press(PSBTN_FINISH);
    return run.Result(c_patience) == S_OK;
}

const SceneRegistration c_exportScene(L"export", ShowExportWizard);

} // namespace
