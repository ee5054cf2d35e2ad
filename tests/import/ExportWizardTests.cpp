// The export wizard driven through the real exports of Tervolin.dll, as a
// user would drive it.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "base/Text.h"
#include "import/ExportResources.h"
#include "support/TestSupport.h"
#include "support/WizardDriver.h"
#include "ui/WizardResources.h"

namespace {

constexpr wchar_t c_introductionValue[] = L"CExportWizard::CIntroductionPage";
constexpr int c_kmlItem = 1;

std::wstring Sample(const wchar_t* name)
{
    return EnvironmentValue(L"TERVOLIN_SOURCE") + L"\\samples\\" + name;
}

} // namespace

// Started on a track log as the shell verb starts it: the source is filled
// in, a destination of the wrong kind is refused with words and the page
// stays, the format list sets the extension, and the completion page names
// the file and the count of points.
TEST(ExportWizard, ExportsTheTrackLogItIsStartedOn)
{
    DeleteConfirmationValue(c_introductionValue);
    Watchdog watchdog(60000);
    TempFolder folder;
    const std::wstring source = Sample(L"ridge-walk.log");
    WizardRun run([&] { return WizardExport<StartWizardWithPath>("StartExportWizard2")(nullptr, source.c_str(), 0); });
    ASSERT_TRUE(run.WaitForPage(0));
    run.Press(PSBTN_NEXT);
    ASSERT_TRUE(run.WaitForPage(1));
    EXPECT_TRUE(WaitUntil([&] { return WindowText(run.PageControl(IDC_EXPORT_SOURCE)) == source; }));

    SetText(run.PageControl(IDC_EXPORT_DESTINATION), folder.File(L"walk.txt"));
    ASSERT_TRUE(WaitUntil([&] { return run.ButtonEnabled(c_nextButton); }));
    run.Press(PSBTN_NEXT);
    const HWND error = run.WaitForMessageBox(30000);
    ASSERT_TRUE(error);
    EXPECT_NE(std::wstring::npos, DialogText(error).find(L"the destination must end in .gpx or .kml"))
        << WideToUtf8(DialogText(error));
    AnswerDialog(error, IDOK);
    ASSERT_TRUE(run.WaitForNoMessageBox());
    EXPECT_EQ(1, run.PageIndex());
    EXPECT_FALSE(FileExists(folder.File(L"walk.txt")));

    ChooseComboItem(run.Page(), IDC_EXPORT_FORMAT, c_kmlItem);
    const std::wstring destination = folder.File(L"walk.kml");
    EXPECT_TRUE(WaitUntil([&] { return WindowText(run.PageControl(IDC_EXPORT_DESTINATION)) == destination; }));
    run.Press(PSBTN_NEXT);
    const HWND completion = run.WaitForPage(2);
    ASSERT_TRUE(completion);
    const std::wstring text = WindowText(GetDlgItem(completion, IDC_COMPLETION_TEXT));
    EXPECT_NE(std::wstring::npos, text.find(destination)) << WideToUtf8(text);
    EXPECT_NE(std::wstring::npos, text.find(L"Track points: 12")) << WideToUtf8(text);
    run.Press(PSBTN_FINISH);
    EXPECT_EQ(S_OK, run.Result());

    const std::string kml = ReadFileBytes(destination);
    EXPECT_NE(std::string::npos, kml.find("<kml xmlns=\"http://www.opengis.net/kml/2.2\">"));
    EXPECT_NE(std::string::npos, kml.find("<LineString>"));
    DeleteConfirmationValue(c_introductionValue);
}
