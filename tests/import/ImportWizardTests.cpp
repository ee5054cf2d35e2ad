// The import wizards driven through the real exports of Tervolin.dll, as a
// user would drive them: pages, buttons, message boxes, keys.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <prsht.h>

#include "base/Text.h"
#include "import/ImportResources.h"
#include "support/TestSupport.h"
#include "support/WizardDriver.h"
#include "ui/WizardResources.h"

namespace {

// The first failure in a process is slow to show: the module's exception
// log loads the debug symbols of every module for its call stack.
constexpr DWORD c_firstFailurePatience = 30000;

// The check box that the success message gets for "Don't show this message again".
constexpr int c_dontShowAgain = 102;

struct Wizard
{
    const char* startExport;
    const char* startWithPathExport;
    const wchar_t* hostKind; // tervolin convert KIND
    const wchar_t* sample;   // in samples/
    int sourceEdit;
    int destinationEdit;
    const wchar_t* introductionValue;
    const wchar_t* completeValue;
    const wchar_t* countLabel; // the completion page's count: "Waypoints: "
};

const Wizard c_kml = {"StartImportKmlWaypointsWizard", "StartImportKmlWaypointsWizard2", L"kml",
                      L"alpine-huts.kml", IDC_KML_SOURCE, IDC_KML_DESTINATION,
                      L"CImportKmlWaypointsWizard::CIntroductionPage",
                      L"CImportKmlWaypointsWizard::CLocationsPage::ImportComplete", L"Waypoints: "};
const Wizard c_track = {"StartImportTrackWizard", "StartImportTrackWizard2", L"track", L"ridge-walk.plt",
                        IDC_TRACK_INPUT, IDC_TRACK_OUTPUT, L"CImportTrackWizard::CIntroductionPage",
                        L"CImportTrackWizard::CPagePaths::ImportComplete", L"Track points: "};
const Wizard c_waypoints = {"StartImportWaypointsWizard", "StartImportWaypointsWizard2", L"waypoints",
                            L"lakes.wpt", IDC_WAYPOINT_INPUT, IDC_WAYPOINT_OUTPUT,
                            L"CImportWaypointsWizard::CIntroductionPage",
                            L"CImportWaypointsWizard::CPagePaths::ImportComplete", L"Waypoints: "};
const Wizard* const c_wizards[] = {&c_kml, &c_track, &c_waypoints};

// Every test starts with no stored choice.
void ForgetChoices()
{
    for (const Wizard* wizard : c_wizards) {
        DeleteConfirmationValue(wizard->introductionValue);
        DeleteConfirmationValue(wizard->completeValue);
    }
}

std::function<HRESULT()> Start(const Wizard& wizard)
{
    return [&wizard] { return WizardExport<StartWizard>(wizard.startExport)(nullptr); };
}

std::wstring Sample(const wchar_t* name)
{
    return EnvironmentValue(L"TERVOLIN_SOURCE") + L"\\samples\\" + name;
}

std::string Narrow(const std::wstring& text)
{
    return WideToUtf8(text);
}

// The point sentences of a written waypoint file or track log.
size_t CountPointSentences(const std::string& bytes)
{
    size_t count = 0;
    for (const char* sentence : {"$PMGNWPL,", "$PMGNTRK,"})
        for (size_t at = bytes.find(sentence); at != std::string::npos; at = bytes.find(sentence, at + 1))
            ++count;
    return count;
}

// From the introduction page to the content page, once the page has set
// its buttons: Next stays disabled until the paths are usable.
HWND OpenContentPage(WizardRun& run)
{
    if (!run.WaitForPage(0))
        return nullptr;
    run.Press(PSBTN_NEXT);
    const HWND page = run.WaitForPage(1);
    return page && WaitUntil([&] { return !run.ButtonEnabled(c_nextButton); }) ? page : nullptr;
}

// Types both paths and waits until Next is enabled.
bool FillPaths(WizardRun& run, const Wizard& wizard, const std::wstring& source, const std::wstring& destination)
{
    SetText(run.PageControl(wizard.destinationEdit), destination);
    SetText(run.PageControl(wizard.sourceEdit), source);
    return WaitUntil([&] { return run.ButtonEnabled(c_nextButton); });
}

// The edit has the focus with its whole text selected, ready to be typed over.
bool FocusedWithAllSelected(WizardRun& run, HWND edit)
{
    return WaitUntil([&] {
        DWORD start = 1;
        DWORD end = 0;
        SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        return run.Focus() == edit && start == 0 && end == static_cast<DWORD>(GetWindowTextLengthW(edit));
    });
}

class ImportWizard : public testing::Test
{
protected:
    void SetUp() override { ForgetChoices(); }
    void TearDown() override { ForgetChoices(); }

    Watchdog m_watchdog{60000};
    TempFolder m_folder;
};

} // namespace

TEST_F(ImportWizard, EachConvertsARealFileExactlyAsTheHostDoes)
{
    for (const Wizard* wizard : c_wizards) {
        SCOPED_TRACE(wizard->startExport);
        const std::wstring input = Sample(wizard->sample);
        const std::wstring output = m_folder.File(std::wstring(wizard->hostKind) + L"-wizard.out");
        WizardRun run(Start(*wizard));
        ASSERT_TRUE(OpenContentPage(run));
        EXPECT_TRUE(run.ButtonEnabled(c_backButton));
        ASSERT_TRUE(FillPaths(run, *wizard, input, output));
        run.Press(PSBTN_NEXT);

        const HWND success = run.WaitForMessageBox();
        ASSERT_TRUE(success);
        EXPECT_NE(std::wstring::npos, DialogText(success).find(L"The import is complete: " + output + L" has been written."))
            << Narrow(DialogText(success));
        EXPECT_TRUE(GetDlgItem(success, c_dontShowAgain));
        AnswerDialog(success, IDOK);

        // The completion page names the file and the count of points in it,
        // with the button that shows the file in its folder.
        const HWND completion = run.WaitForPage(2);
        ASSERT_TRUE(completion);
        const std::wstring words = WindowText(GetDlgItem(completion, IDC_COMPLETION_TEXT));
        EXPECT_NE(std::wstring::npos, words.find(output)) << Narrow(words);
        EXPECT_NE(std::wstring::npos,
                  words.find(wizard->countLabel + std::to_wstring(CountPointSentences(ReadFileBytes(output)))))
            << Narrow(words);
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(completion, IDC_COMPLETION_OPEN_FOLDER)));
        EXPECT_TRUE(WaitUntil([&] { return run.ButtonEnabled(c_finishButton); }));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(run.Sheet(), IDCANCEL)));
        run.Press(PSBTN_FINISH);
        EXPECT_EQ(S_OK, run.Result());
        EXPECT_EQ(std::nullopt, ConfirmationValue(wizard->completeValue));

        const std::wstring hostOutput = m_folder.File(std::wstring(wizard->hostKind) + L"-host.out");
        ASSERT_EQ(0u, RunHost(L"convert " + std::wstring(wizard->hostKind) + L" \"" + input + L"\" \"" +
                              hostOutput + L"\"")
                          .exitCode);
        EXPECT_EQ(ReadFileBytes(hostOutput), ReadFileBytes(output));
    }
}

TEST_F(ImportWizard, AGpxPathSelectsGpxAndConvertsAsTheHostDoes)
{
    const std::wstring input = m_folder.File(L"walk.GPX");
    WriteFileBytes(input, "<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">"
                          "<wpt lat=\"46.5\" lon=\"13.8\"><ele>812</ele><name>Hut</name></wpt>"
                          "<trk><trkseg><trkpt lat=\"46.51\" lon=\"13.81\"><time>2023-06-01T06:00:00.5Z</time>"
                          "</trkpt></trkseg></trk></gpx>");
    struct Row
    {
        const Wizard* wizard;
        int typeCombo;
        const wchar_t* extension;
    };
    const Row rows[] = {{&c_track, IDC_TRACK_TYPE, L".log"}, {&c_waypoints, IDC_WAYPOINT_TYPE, L".upt"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.wizard->startWithPathExport);
        const std::wstring output = m_folder.File(std::wstring(L"wizard") + row.extension);
        WizardRun run([&] {
            return WizardExport<StartWizardWithPath>(row.wizard->startWithPathExport)(nullptr, input.c_str(), 0);
        });
        ASSERT_TRUE(run.WaitForPage(0));
        run.Press(PSBTN_NEXT);
        ASSERT_TRUE(run.WaitForPage(1));
        const HWND combo = run.PageControl(row.typeCombo);
        EXPECT_EQ(2, SendMessageW(combo, CB_GETCOUNT, 0, 0));
        EXPECT_EQ(L"GPX file (*.gpx)", WindowText(combo));
        ASSERT_TRUE(FillPaths(run, *row.wizard, input, output));
        run.Press(PSBTN_NEXT);
        const HWND success = run.WaitForMessageBox(c_firstFailurePatience);
        ASSERT_TRUE(success);
        AnswerDialog(success, IDOK);
        ASSERT_TRUE(run.WaitForPage(2));
        run.Press(PSBTN_FINISH);
        EXPECT_EQ(S_OK, run.Result());

        const std::wstring hostOutput = m_folder.File(std::wstring(L"host") + row.extension);
        ASSERT_EQ(0u, RunHost(L"convert gpx \"" + input + L"\" \"" + hostOutput + L"\"").exitCode);
        EXPECT_EQ(ReadFileBytes(hostOutput), ReadFileBytes(output));
    }
}

TEST_F(ImportWizard, FailedConversionSaysWhereAndWhatAndKeepsThePage)
{
    struct Row
    {
        const Wizard* wizard;
        const char* contents;
        const wchar_t* expected; // after "<input>: "
    };
    const Row rows[] = {
        {&c_track, "OziExplorer\r\nWGS84\r\nAltitude is in Feet\r\n\r\n\r\n\r\n1,2,0,3,4\r\n",
         L"line 2: the datum is not WGS 84"},
        {&c_kml,
         "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document><Placemark><name>A</name></Placemark>"
         "</Document></kml>",
         L"placemark 1: \"A\": no Point"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.wizard->startExport);
        const std::wstring input = m_folder.File(L"bad.in");
        const std::wstring output = m_folder.File(L"kept.out");
        WriteFileBytes(input, row.contents);
        WriteFileBytes(output, "keep me");
        WizardRun run(Start(*row.wizard));
        const HWND page = OpenContentPage(run);
        ASSERT_TRUE(page);
        ASSERT_TRUE(FillPaths(run, *row.wizard, input, output));
        run.Press(PSBTN_NEXT);
        const HWND replace = run.WaitForMessageBox();
        ASSERT_TRUE(replace);
        AnswerDialog(replace, IDYES);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(replace); }));

        const HWND error = run.WaitForMessageBox(c_firstFailurePatience);
        ASSERT_TRUE(error);
        EXPECT_EQ(L"Tervolin \u2013 Error", WindowText(error));
        EXPECT_NE(std::wstring::npos, DialogText(error).find(input + L": " + row.expected))
            << Narrow(DialogText(error));
        AnswerDialog(error, IDOK);
        ASSERT_TRUE(run.WaitForNoMessageBox());

        EXPECT_EQ(1, run.PageIndex());
        EXPECT_EQ(input, WindowText(GetDlgItem(page, row.wizard->sourceEdit)));
        EXPECT_EQ(output, WindowText(GetDlgItem(page, row.wizard->destinationEdit)));
        EXPECT_EQ("keep me", ReadFileBytes(output));
        EXPECT_TRUE(run.ButtonEnabled(c_nextButton));
        run.Press(PSBTN_CANCEL);
        AnswerDialog(run.WaitForMessageBox(), IDYES);
        EXPECT_EQ(S_OK, run.Result());
    }
}

TEST_F(ImportWizard, StoredChoicesSkipTheIntroductionAndSilenceTheSuccessOfOneWizardOnly)
{
    // The skipped introduction (the framework's tests follow it further):
    // the wizard opens on its content page.
    SetConfirmationValue(c_track.introductionValue, 1);
    SetConfirmationValue(c_track.completeValue, 2);
    {
        WizardRun run(Start(c_track));
        ASSERT_TRUE(run.WaitForPage(1));
        ASSERT_TRUE(WaitUntil([&] { return !run.ButtonEnabled(c_nextButton); }));

        // The silenced success message: Next goes straight to the completion page.
        ASSERT_TRUE(FillPaths(run, c_track, Sample(c_track.sample), m_folder.File(L"silenced.log")));
        run.Press(PSBTN_NEXT);
        ASSERT_TRUE(run.WaitForPage(2));
        run.Press(PSBTN_FINISH);
        EXPECT_EQ(S_OK, run.Result());
        EXPECT_TRUE(FileExists(m_folder.File(L"silenced.log")));
    }
    // The waypoints wizard has values of its own: introduction shown,
    // success shown; ticking its box silences it alone.
    {
        WizardRun run(Start(c_waypoints));
        ASSERT_TRUE(OpenContentPage(run));
        ASSERT_TRUE(FillPaths(run, c_waypoints, Sample(c_waypoints.sample), m_folder.File(L"lakes.upt")));
        run.Press(PSBTN_NEXT);
        const HWND success = run.WaitForMessageBox();
        ASSERT_TRUE(success);
        ASSERT_TRUE(TickCheckBox(success, c_dontShowAgain));
        AnswerDialog(success, IDOK);
        ASSERT_TRUE(run.WaitForPage(2));
        run.Press(PSBTN_FINISH);
        EXPECT_EQ(S_OK, run.Result());
    }
    EXPECT_EQ(2u, ConfirmationValue(c_waypoints.completeValue));
    EXPECT_EQ(std::nullopt, ConfirmationValue(c_kml.completeValue));
    EXPECT_EQ(std::nullopt, ConfirmationValue(c_kml.introductionValue));
}

TEST_F(ImportWizard, CancelClosesTheIntroductionAtOnceAndAsksOnTheContentPage)
{
    {
        WizardRun run(Start(c_kml));
        ASSERT_TRUE(run.WaitForPage(0));
        run.Press(PSBTN_CANCEL);
        EXPECT_EQ(S_OK, run.Result());
    }
    WizardRun run(Start(c_waypoints));
    ASSERT_TRUE(OpenContentPage(run));
    run.Press(PSBTN_CANCEL);
    HWND question = run.WaitForMessageBox();
    ASSERT_TRUE(question);
    EXPECT_NE(std::wstring::npos, DialogText(question).find(L"Do you really want to close the wizard?"));
    EXPECT_TRUE(GetDlgItem(question, IDYES) && GetDlgItem(question, IDNO));
    AnswerDialog(question, IDNO);
    ASSERT_TRUE(run.WaitForNoMessageBox());
    EXPECT_EQ(std::nullopt, run.Result(200));
    EXPECT_EQ(1, run.PageIndex());
    run.Press(PSBTN_CANCEL);
    question = run.WaitForMessageBox();
    ASSERT_TRUE(question);
    AnswerDialog(question, IDYES);
    EXPECT_EQ(S_OK, run.Result());
}

TEST_F(ImportWizard, EntryPointsSetUpTheThreadAndTheStartingSource)
{
    // A thread of the multithreaded apartment gets the OLE error, nothing shown.
    {
        WizardRun run([] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            const HRESULT result = WizardExport<StartWizard>(c_track.startExport)(nullptr);
            CoUninitialize();
            return result;
        });
        EXPECT_EQ(RPC_E_CHANGED_MODE, run.Result());
    }
    // OLE initialised by the caller stays initialised, exactly once; a stale
    // parent handle counts as no parent.
    HWND stale = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(stale);
    bool initialisedAfter = false;
    bool balancedAfter = false;
    {
        WizardRun run([&] {
            OleInitialize(nullptr);
            const HRESULT result = WizardExport<StartWizard>(c_waypoints.startExport)(stale);
            initialisedAfter = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) == S_FALSE;
            CoUninitialize();
            OleUninitialize();
            balancedAfter = CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_OK;
            CoUninitialize();
            return result;
        });
        const HWND sheet = run.Sheet();
        ASSERT_TRUE(sheet);
        EXPECT_EQ(nullptr, GetWindow(sheet, GW_OWNER));
        run.Press(PSBTN_CANCEL);
        EXPECT_EQ(S_OK, run.Result());
    }
    EXPECT_TRUE(initialisedAfter);
    EXPECT_TRUE(balancedAfter);

    // The forms with a path: null is an empty source, an id a string of the module.
    struct Row
    {
        const Wizard* wizard;
        LPCWSTR path;
        std::wstring expected;
    };
    const Row rows[] = {
        {&c_kml, nullptr, L""},
        {&c_kml, L"http://example.org/huts.kml", L"http://example.org/huts.kml"},
        {&c_kml, MAKEINTRESOURCEW(57090), L"Tervolin \u2013 Error"},
        {&c_track, L"C:\\tracks\\ridge.plt", L"C:\\tracks\\ridge.plt"},
        {&c_waypoints, L"lakes.wpt", L"lakes.wpt"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.wizard->startWithPathExport);
        WizardRun run([&row] {
            return WizardExport<StartWizardWithPath>(row.wizard->startWithPathExport)(nullptr, row.path, 0);
        });
        ASSERT_TRUE(OpenContentPage(run));
        EXPECT_EQ(row.expected, WindowText(run.PageControl(row.wizard->sourceEdit)));
        run.Press(PSBTN_CANCEL);
        AnswerDialog(run.WaitForMessageBox(), IDYES);
        EXPECT_EQ(S_OK, run.Result());
    }
}

TEST_F(ImportWizard, TheKeyboardAloneCarriesTheUserThrough)
{
    const std::wstring bad = m_folder.File(L"bad.plt");
    WriteFileBytes(bad, "OziExplorer\r\nNAD27\r\n");
    WizardRun run(Start(c_track));
    const auto focusIn = [&](HWND window) {
        return WaitUntil([&] { return window && IsChild(window, run.Focus()); });
    };
    const auto focusOn = [&](int id) { return WaitUntil([&] { return GetDlgCtrlID(run.Focus()) == id; }); };

    ASSERT_TRUE(run.WaitForPage(0));
    ASSERT_TRUE(focusOn(c_nextButton));
    run.Key(VK_RETURN);
    ASSERT_TRUE(run.WaitForPage(1));

    // Labels' mnemonics reach their edits.
    run.AltKey(L's');
    ASSERT_TRUE(focusOn(IDC_TRACK_INPUT));
    SetText(run.Focus(), bad);
    run.AltKey(L'd');
    ASSERT_TRUE(focusOn(IDC_TRACK_OUTPUT));
    SetText(run.Focus(), m_folder.File(L"keys.log"));

    // Enter presses Next; Enter closes the error box and the keyboard is
    // back where the user was.
    run.Key(VK_RETURN);
    const HWND error = run.WaitForMessageBox(c_firstFailurePatience);
    ASSERT_TRUE(focusIn(error));
    run.Key(VK_RETURN);
    ASSERT_TRUE(run.WaitForNoMessageBox());
    ASSERT_TRUE(focusOn(IDC_TRACK_OUTPUT));
    run.AltKey(L's');
    ASSERT_TRUE(focusOn(IDC_TRACK_INPUT));
    SetText(run.Focus(), Sample(c_track.sample));

    // Enter converts, Enter closes the success box, Enter finishes.
    run.Key(VK_RETURN);
    ASSERT_TRUE(focusIn(run.WaitForMessageBox()));
    run.Key(VK_RETURN);
    ASSERT_TRUE(run.WaitForPage(2));
    ASSERT_TRUE(focusOn(c_finishButton));
    run.Key(VK_RETURN);
    EXPECT_EQ(S_OK, run.Result());
    EXPECT_TRUE(FileExists(m_folder.File(L"keys.log")));
}

// An existing destination is replaced only after the user said Yes, however
// the path was entered; No keeps the page with the path selected. A path
// just confirmed in the Save As dialog is not asked about twice.
TEST_F(ImportWizard, AnExistingDestinationIsReplacedOnlyAfterYes)
{
    const std::wstring existing = m_folder.File(L"lakes.upt");
    WriteFileBytes(existing, "keep me");
    {
        WizardRun run(Start(c_waypoints));
        const HWND page = OpenContentPage(run);
        ASSERT_TRUE(page);
        ASSERT_TRUE(FillPaths(run, c_waypoints, Sample(c_waypoints.sample), existing));
        run.Press(PSBTN_NEXT);
        HWND question = run.WaitForMessageBox();
        ASSERT_TRUE(question);
        EXPECT_EQ(L"Tervolin \u2013 Confirmation", WindowText(question));
        EXPECT_NE(std::wstring::npos, DialogText(question).find(existing + L" already exists. Replace it?"))
            << Narrow(DialogText(question));
        EXPECT_TRUE(GetDlgItem(question, IDNO));
        AnswerDialog(question, IDNO);
        ASSERT_TRUE(run.WaitForNoMessageBox());
        EXPECT_EQ(1, run.PageIndex());
        EXPECT_TRUE(FocusedWithAllSelected(run, GetDlgItem(page, c_waypoints.destinationEdit)));
        EXPECT_EQ("keep me", ReadFileBytes(existing));

        run.Press(PSBTN_NEXT);
        question = run.WaitForMessageBox();
        ASSERT_TRUE(question);
        AnswerDialog(question, IDYES);
        const HWND success = run.WaitForDialog([&](HWND dialog) { return dialog != question && IsMessageBox(dialog); });
        ASSERT_TRUE(success);
        EXPECT_NE(std::wstring::npos, DialogText(success).find(L"The import is complete")) << Narrow(DialogText(success));
        AnswerDialog(success, IDOK);
        ASSERT_TRUE(run.WaitForPage(2));
        run.Press(PSBTN_FINISH);
        EXPECT_EQ(S_OK, run.Result());
        EXPECT_EQ(0u, ReadFileBytes(existing).find("$PMGNWPL,"));
    }
    // Through Browse: the save dialog asks, and Next does not ask again.
    WriteFileBytes(existing, "keep me");
    WizardRun run(Start(c_waypoints));
    ASSERT_TRUE(OpenContentPage(run));
    SetText(run.PageControl(c_waypoints.sourceEdit), Sample(c_waypoints.sample));
    run.Click(IDC_WAYPOINT_OUTPUT_BROWSE);
    const HWND save = run.WaitForDialog(IsFileDialog);
    ASSERT_TRUE(save);
    AnswerFileDialog(save, existing);
    const HWND dialogQuestion = run.WaitForDialog(IsMessageBox);
    ASSERT_TRUE(dialogQuestion);
    AnswerDialog(dialogQuestion, IDYES);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(save) && run.ButtonEnabled(c_nextButton); }));
    EXPECT_EQ(existing, WindowText(run.PageControl(c_waypoints.destinationEdit)));
    run.Press(PSBTN_NEXT);
    const HWND success = run.WaitForMessageBox();
    ASSERT_TRUE(success);
    EXPECT_NE(std::wstring::npos, DialogText(success).find(L"The import is complete")) << Narrow(DialogText(success));
    AnswerDialog(success, IDOK);
    ASSERT_TRUE(run.WaitForPage(2));
    run.Press(PSBTN_FINISH);
    EXPECT_EQ(S_OK, run.Result());
    EXPECT_EQ(0u, ReadFileBytes(existing).find("$PMGNWPL,"));
}

// A destination typed without extension gets the one of the wizard's files,
// shown in the edit and in the success message.
TEST_F(ImportWizard, ATypedDestinationWithoutExtensionGetsTheWizardsOwn)
{
    struct Row
    {
        const Wizard* wizard;
        const wchar_t* extension;
    };
    const Row rows[] = {{&c_kml, L".upt"}, {&c_track, L".log"}, {&c_waypoints, L".upt"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.wizard->startExport);
        const std::wstring typed = m_folder.File(std::wstring(L"typed-") + row.wizard->hostKind);
        WizardRun run(Start(*row.wizard));
        ASSERT_TRUE(OpenContentPage(run));
        ASSERT_TRUE(FillPaths(run, *row.wizard, Sample(row.wizard->sample), typed));
        run.Press(PSBTN_NEXT);
        const HWND success = run.WaitForMessageBox(c_firstFailurePatience);
        ASSERT_TRUE(success);
        EXPECT_NE(std::wstring::npos, DialogText(success).find(L" " + typed + row.extension + L" has been written"))
            << Narrow(DialogText(success));
        EXPECT_EQ(typed + row.extension, WindowText(run.PageControl(row.wizard->destinationEdit)));
        AnswerDialog(success, IDOK);
        ASSERT_TRUE(run.WaitForPage(2));
        run.Press(PSBTN_FINISH);
        EXPECT_EQ(S_OK, run.Result());
        EXPECT_TRUE(FileExists(typed + row.extension));
        EXPECT_FALSE(FileExists(typed));
    }
}

// The focus goes where the user acts next: the destination when the source
// came filled in, Next once both are; while Next is disabled a hint says why
// and Enter does nothing (it never goes Back).
TEST_F(ImportWizard, FocusFollowsWhatIsMissingAndEnterNeverGoesBack)
{
    const std::wstring source = Sample(c_track.sample);
    WizardRun run([&] { return WizardExport<StartWizardWithPath>(c_track.startWithPathExport)(nullptr, source.c_str(), 0); });
    const auto focusOn = [&](int id) { return WaitUntil([&] { return GetDlgCtrlID(run.Focus()) == id; }); };
    const HWND page = OpenContentPage(run);
    ASSERT_TRUE(page);
    ASSERT_TRUE(focusOn(IDC_TRACK_OUTPUT));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(GetDlgItem(page, IDC_IMPORT_HINT)) != FALSE; }));

    run.Key(VK_RETURN);
    EXPECT_FALSE(WaitUntil([&] { return run.PageIndex() != 1; }, 500));
    EXPECT_EQ(nullptr, run.WaitForMessageBox(200));

    SetText(run.Focus(), m_folder.File(L"focus.log"));
    ASSERT_TRUE(WaitUntil([&] { return run.ButtonEnabled(c_nextButton); }));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(GetDlgItem(page, IDC_IMPORT_HINT)); }));
    run.Press(PSBTN_BACK);
    ASSERT_TRUE(run.WaitForPage(0));
    run.Press(PSBTN_NEXT);
    ASSERT_TRUE(run.WaitForPage(1));
    ASSERT_TRUE(focusOn(c_nextButton));
    run.Press(PSBTN_CANCEL);
    AnswerDialog(run.WaitForMessageBox(), IDYES);
    EXPECT_EQ(S_OK, run.Result());
    EXPECT_FALSE(FileExists(m_folder.File(L"focus.log")));
}

// "Skip lines, areas and overlays" imports the points of a document that
// also holds a line, and the completion page counts what was skipped.
TEST_F(ImportWizard, TheKmlWizardSkipsLinesWhenAskedAndSaysHowMany)
{
    const std::wstring input = m_folder.File(L"mixed.kml");
    WriteFileBytes(input, "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>"
                          "<Placemark><name>Hut</name><Point><coordinates>8.5,47.25,1200</coordinates></Point></Placemark>"
                          "<Placemark><name>Path</name><LineString><coordinates>8.5,47.25 8.6,47.3</coordinates>"
                          "</LineString></Placemark></Document></kml>");
    const std::wstring output = m_folder.File(L"points.upt");
    WizardRun run(Start(c_kml));
    const HWND page = OpenContentPage(run);
    ASSERT_TRUE(page);
    ASSERT_TRUE(FillPaths(run, c_kml, input, output));
    ASSERT_TRUE(TickCheckBox(page, IDC_KML_POINTS_ONLY));
    run.Press(PSBTN_NEXT);
    const HWND success = run.WaitForMessageBox(c_firstFailurePatience);
    ASSERT_TRUE(success);
    AnswerDialog(success, IDOK);
    const HWND completion = run.WaitForPage(2);
    ASSERT_TRUE(completion);
    const std::wstring words = WindowText(GetDlgItem(completion, IDC_COMPLETION_TEXT));
    EXPECT_NE(std::wstring::npos, words.find(L"Waypoints: 1")) << Narrow(words);
    EXPECT_NE(std::wstring::npos, words.find(L"Placemarks skipped (lines, areas and overlays): 1")) << Narrow(words);
    run.Press(PSBTN_FINISH);
    EXPECT_EQ(S_OK, run.Result());
    EXPECT_EQ(1u, CountPointSentences(ReadFileBytes(output)));
}
