// The scene of the map wizard on the sample map: every page, the message
// after one packed file is saved, and both pages of the layer property
// sheet. What the wizard writes goes to a temporary folder; the sample is
// only read.
#include <windows.h>
#include <prsht.h>

#include "map/MapResources.h"
#include "map/MapWizardPages.h"
#include "programs/Screenshots.h"
#include "support/TestSupport.h"

namespace {

// The packed file extracted on the contents page, and the layers whose
// properties are shown (the first two of the sample).
constexpr int c_extractedEntry = 2;
const std::vector<int> c_shownLayers = {0, 1};
// Low and Lowest in the detail level list of the zoom page.
const std::vector<int> c_shownDetailLevels = {3, 4};

bool NextEnabled(WizardRun& run)
{
    return WaitUntil([&] { return run.ButtonEnabled(c_nextButton); });
}

// Presses Next once it is enabled; the page that follows, or null.
HWND Next(WizardRun& run, int page)
{
    if (!NextEnabled(run))
        return nullptr;
    run.Press(PSBTN_NEXT);
    return run.WaitForPage(page);
}

bool Enabled(HWND control)
{
    return WaitUntil([&] { return IsWindowEnabled(control) != FALSE; });
}

// One packed file saved through Save As: the message that offers its folder.
bool ShowSingleFileSaved(WizardRun& run, const TempFolder& folder)
{
    SelectListItems(run.PageControl(IDC_MAP_CONTENTS), {c_extractedEntry});
    if (!Enabled(run.PageControl(IDC_MAP_SAVE_AS)))
        return false;
    Shot(L"map-3-contents", run.Sheet());
    run.Click(IDC_MAP_SAVE_AS);
    const HWND saveDialog = run.WaitForDialog(IsFileDialog);
    if (!saveDialog)
        return false;
    AnswerFileDialog(saveDialog, folder.File(ListText(run.PageControl(IDC_MAP_CONTENTS), c_extractedEntry)));
    const HWND saved = run.WaitForDialog(IsMessageBox);
    if (!saved)
        return false;
    Shot(L"map-3b-single-file-saved", saved, run.Sheet());
    AnswerDialog(saved, IDNO);
    return run.WaitForNoMessageBox();
}

// The style list of the sheet's first page dropped down: the names sorted
// in the user's language.
bool ShowStyleNames(HWND sheet, HWND optionsPage)
{
    const HWND styles = GetDlgItem(optionsPage, IDC_LAYER_STYLE);
    COMBOBOXINFO info = {};
    info.cbSize = sizeof info;
    // The pointer away from the list, which would otherwise mark the item under it.
    SetCursorPos(0, 0);
    SendMessageW(styles, CB_SHOWDROPDOWN, TRUE, 0);
    if (!GetComboBoxInfo(styles, &info) || !WaitUntil([&] { return IsWindowVisible(info.hwndList) != FALSE; }))
        return false;
    Shot(L"map-5d-layer-styles", sheet, info.hwndList);
    SendMessageW(styles, CB_SHOWDROPDOWN, FALSE, 0);
    return true;
}

// The property sheet over the wizard, on both of its pages, and its style
// list dropped down; closed with Cancel.
bool ShowLayerProperties(WizardRun& run)
{
    SelectListItems(run.PageControl(IDC_MAP_LAYER_LIST), c_shownLayers);
    if (!Enabled(run.PageControl(IDC_MAP_PROPERTIES)))
        return false;
    Shot(L"map-5-layers", run.Sheet());
    run.Click(IDC_MAP_PROPERTIES);
    const HWND sheet = run.WaitForDialog(IsPropertySheet);
    if (!sheet)
        return false;
    Shot(L"map-5b-layer-options", sheet, run.Sheet());
    if (!ShowStyleNames(sheet, PropSheet_GetCurrentPageHwnd(sheet)))
        return false;
    const HWND zoom = SelectSheetPage(sheet, 1);
    SelectListItems(GetDlgItem(zoom, IDC_LAYER_DETAIL_LEVELS), c_shownDetailLevels);
    Shot(L"map-5c-layer-zoom-levels", sheet, run.Sheet());
    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    return WaitUntil([&] { return !IsWindow(sheet); });
}

bool ShowMapWizard()
{
    for (const wchar_t* name : c_storedChoices)
        DeleteConfirmationValue(name);
    TempFolder folder(c_sceneFolder);
    WizardRun run([] { return WizardExport<StartWizard>("StartMapWizard")(nullptr); });
    if (!run.WaitForPage(PAGE_INTRODUCTION))
        return false;
    Shot(L"map-1-introduction", run.Sheet());
    run.Press(PSBTN_NEXT);
    if (!run.WaitForPage(PAGE_SOURCE))
        return false;
    SetText(run.PageControl(IDC_MAP_SOURCE_PATH), PictureSample(L"tervolin-sample.imi"));
    if (!NextEnabled(run))
        return false;
    Shot(L"map-2-source", run.Sheet());
    if (!Next(run, PAGE_CONTENTS) || !ShowSingleFileSaved(run, folder) || !Next(run, PAGE_ACTION))
        return false;
    SelectListItems(run.PageControl(IDC_MAP_ACTIONS), {0});
    Shot(L"map-4-action", run.Sheet());
    if (!Next(run, PAGE_LAYERS) || !ShowLayerProperties(run) || !Next(run, PAGE_DESTINATION))
        return false;
    SetText(run.PageControl(IDC_MAP_DESTINATION_PATH), folder.File(L"region-light.imi"));
    if (!NextEnabled(run))
        return false;
    Shot(L"map-6-destination", run.Sheet());
    if (!Next(run, PAGE_COMPLETION))
        return false;
    Shot(L"map-7-completion", run.Sheet());
    run.Press(PSBTN_FINISH);
    return run.Result(c_patience) == S_OK;
}

const SceneRegistration c_mapScene(L"map", ShowMapWizard);

} // namespace
