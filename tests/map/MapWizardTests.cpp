// The map wizard run through its export and driven as a user would, on the
// sample map and on the real map of the shared test data. What the wizard
// writes is compared byte for byte with what "tervolin map extract" and
// "tervolin map edit" write for the same choices.
#include "support/TestSupport.h"

#include <prsht.h>

#include "MapTestSupport.h"
#include "base/Handle.h"
#include "base/Text.h"
#include "map/MapContainer.h"
#include "map/MapResources.h"
#include "map/MapWizardPages.h"
#include "ui/WizardResources.h"
#include "map/NumberFormat.h"
#include "support/WizardDriver.h"

namespace {

constexpr int c_sourcePath = IDC_MAP_SOURCE_PATH;
constexpr int c_contentsList = IDC_MAP_CONTENTS;
constexpr int c_selectAll = IDC_MAP_SELECT_ALL;
constexpr int c_saveAs = IDC_MAP_SAVE_AS;
constexpr int c_actionList = IDC_MAP_ACTIONS;
constexpr int c_layerList = IDC_MAP_LAYER_LIST;
constexpr int c_remove = IDC_MAP_REMOVE;
constexpr int c_moveUp = IDC_MAP_MOVE_UP;
constexpr int c_properties = IDC_MAP_PROPERTIES;
constexpr int c_destinationPath = IDC_MAP_DESTINATION_PATH;
constexpr int c_colourList = IDC_LAYER_COLOUR;
constexpr int c_styleList = IDC_LAYER_STYLE;
constexpr int c_detailLevels = IDC_LAYER_DETAIL_LEVELS;
constexpr int c_firstZoomList = IDC_LAYER_ZOOM_FIRST;

// The file's bytes, or a text naming the missing file (so a comparison
// fails with words instead of an exception).
std::string Bytes(const std::wstring& path)
{
    return FileExists(path) ? ReadFileBytes(path) : "missing " + WideToUtf8(path);
}

// Whether two files hold the same bytes; their sizes are shown when not.
testing::AssertionResult SameBytes(const std::wstring& path, const std::string& expected)
{
    const std::string actual = Bytes(path);
    if (actual == expected)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << WideToUtf8(path) << ": " << actual.size() << " bytes, expected "
                                       << expected.size() << (actual.rfind("missing ", 0) == 0 ? " (missing)" : "");
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring SampleMap()
{
    return EnvironmentValue(L"TERVOLIN_SOURCE") + L"\\samples\\tervolin-sample.imi";
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

int FindLayer(HWND list, const std::wstring& identifier)
{
    for (int item = 0; item < ListCount(list); ++item)
        if (ListText(list, item) == identifier)
            return item;
    return -1;
}

class MapWizardTest : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const wchar_t* name : c_storedChoices)
            DeleteConfirmationValue(name);
        m_source = m_folder.File(L"sample.imi");
        ASSERT_TRUE(CopyFileW(SampleMap().c_str(), m_source.c_str(), FALSE));
    }
    void TearDown() override
    {
        for (const wchar_t* name : c_storedChoices)
            DeleteConfirmationValue(name);
    }

    // A run still open after the limit ends the process.
    void Start(const std::wstring& path, DWORD limitMilliseconds = 60000)
    {
        m_watchdog = std::make_unique<Watchdog>(limitMilliseconds);
        m_run = std::make_unique<WizardRun>(
            [path] { return WizardExport<StartWizardWithPath>("StartMapWizard2")(nullptr, path.c_str(), 0); });
    }

    HWND Item(int id) { return m_run->PageControl(id); }

    // Presses Next once it is enabled and waits for the page.
    void Next(int page)
    {
        ASSERT_TRUE(WaitUntil([&] { return m_run->ButtonEnabled(c_nextButton); })) << "Next stays disabled";
        m_run->Press(PSBTN_NEXT);
        ASSERT_TRUE(m_run->WaitForPage(page)) << "page " << page << " does not show; at " << m_run->PageIndex();
    }

    void Back(int page)
    {
        m_run->Press(PSBTN_BACK);
        ASSERT_TRUE(m_run->WaitForPage(page)) << "page " << page << " does not show";
    }

    void ToLayers()
    {
        ASSERT_TRUE(m_run->WaitForPage(PAGE_INTRODUCTION));
        Next(PAGE_SOURCE);
        Next(PAGE_CONTENTS);
        Next(PAGE_ACTION);
        SelectListItems(Item(c_actionList), {0});
        Next(PAGE_LAYERS);
    }

    void SelectLayers(const std::vector<std::wstring>& identifiers)
    {
        std::vector<int> items;
        for (const auto& identifier : identifiers) {
            items.push_back(FindLayer(Item(c_layerList), identifier));
            ASSERT_GE(items.back(), 0) << "no layer " << WideToUtf8(identifier);
        }
        SelectListItems(Item(c_layerList), items);
    }

    // Opens the property sheet on the selected layers; its sheet window.
    HWND OpenProperties()
    {
        m_run->Click(c_properties);
        return m_run->WaitForDialog(IsPropertySheet);
    }

    static HWND OptionsPage(HWND sheet) { return SelectSheetPage(sheet, 0); }
    static HWND ZoomLevelsPage(HWND sheet) { return SelectSheetPage(sheet, 1); }

    void CloseSheet(HWND sheet, int button)
    {
        PostMessageW(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(sheet); })) << "the property sheet stays open";
    }

    // Saves to destination and finishes the wizard.
    void SaveAndFinish(const std::wstring& destination)
    {
        Next(PAGE_DESTINATION);
        SetText(Item(c_destinationPath), destination);
        Next(PAGE_COMPLETION);
        m_run->Press(PSBTN_FINISH);
        EXPECT_EQ(m_run->Result(), S_OK);
    }

    // The map "tervolin map edit" writes from source with the edits.
    std::string EditedByHost(const std::wstring& source, const std::wstring& edits)
    {
        const std::wstring destination = m_folder.File(L"host-" + std::to_wstring(++m_hostRuns) + L".imi");
        const ProcessResult result = RunHost(L"map edit " + Quoted(source) + L" " + Quoted(destination) + L" " + edits);
        EXPECT_EQ(result.exitCode, 0u) << result.errors;
        return Bytes(destination);
    }

    static void ExpectCheckWordsVerify(const std::wstring& path)
    {
        MapContainer written;
        OpenContainer(written, path);
        const CheckWordResult checks = VerifyCheckWords(written);
        EXPECT_TRUE(checks.header && checks.file) << WideToUtf8(path);
    }

    TempFolder m_folder;
    std::wstring m_source;
    std::unique_ptr<Watchdog> m_watchdog;
    std::unique_ptr<WizardRun> m_run;
    int m_hostRuns = 0;
};

TEST_F(MapWizardTest, WholeRoadOnTheSampleMap)
{
    Start(m_source);
    ASSERT_TRUE(m_run->WaitForPage(PAGE_INTRODUCTION));
    Next(PAGE_SOURCE);
    EXPECT_EQ(WindowText(Item(c_sourcePath)), m_source);
    Next(PAGE_CONTENTS);

    // Every entry with grouped offset and length.
    MapContainer container;
    OpenContainer(container, SampleMap());
    const HWND contents = Item(c_contentsList);
    ASSERT_EQ(ListCount(contents), static_cast<int>(container.entries.size()));
    for (int item = 0; item < ListCount(contents); ++item) {
        const ContainerEntry& entry = container.entries[static_cast<size_t>(item)];
        EXPECT_EQ(ListText(contents, item, 0), entry.name);
        EXPECT_EQ(ListText(contents, item, 1), FormatGroupedInteger(entry.offset));
        EXPECT_EQ(ListText(contents, item, 2), FormatGroupedInteger(entry.length));
    }
    EXPECT_EQ(ListText(contents, 2, 1), L"1,386");
    EXPECT_EQ(ListText(contents, 2, 2), L"1,500");
    EXPECT_FALSE(IsWindowEnabled(Item(c_saveAs))) << "Save As without a selection";

    // Extraction of one entry and of all, against the host's.
    const std::wstring byHost = m_folder.File(L"by-host");
    const ProcessResult extracted = RunHost(L"map extract " + Quoted(m_source) + L" " + Quoted(byHost));
    ASSERT_EQ(extracted.exitCode, 0u) << extracted.errors;

    SelectListItems(contents, {2});
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Item(c_saveAs)) != FALSE; }));
    m_run->Click(c_saveAs);
    HWND saveDialog = m_run->WaitForDialog(IsFileDialog);
    ASSERT_TRUE(saveDialog);
    const std::wstring one = m_folder.File(L"one.lay");
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    BrowseFileDialogInto(saveDialog, m_folder.File(L""));
    AnswerFileDialog(saveDialog, L"one.lay");
    HWND saved = m_run->WaitForDialog(IsMessageBox);
    ASSERT_TRUE(saved);
    EXPECT_NE(DialogText(saved).find(L"The packed file \"00MWY.LAY\" of the map was saved as \"" + one + L"\""),
              std::wstring::npos)
        << WideToUtf8(DialogText(saved));
    AnswerDialog(saved, IDNO);
    ASSERT_TRUE(WaitUntil([&] { return FileExists(one) && !IsWindow(saved); }));
    EXPECT_TRUE(SameBytes(one, Bytes(byHost + L"\\00MWY.LAY")));
    wchar_t after[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, after);
    EXPECT_STREQ(before, after) << "the dialog left the process's current folder alone";

    m_run->Click(c_selectAll);
    ASSERT_TRUE(WaitUntil([&] { return SelectedListItems(contents).size() == container.entries.size(); }));
    m_run->Click(c_saveAs);
    HWND browser = m_run->WaitForDialog(IsFolderBrowser);
    ASSERT_TRUE(browser);
    const std::wstring all = m_folder.File(L"all");
    ASSERT_TRUE(CreateDirectoryW(all.c_str(), nullptr));
    AnswerFolderBrowser(browser, all);
    saved = m_run->WaitForDialog(IsMessageBox);
    ASSERT_TRUE(saved);
    EXPECT_NE(DialogText(saved).find(L"18 packed files of the map were saved into the folder \"" + all + L"\""),
              std::wstring::npos)
        << WideToUtf8(DialogText(saved));
    AnswerDialog(saved, IDNO);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(saved); }));
    for (const auto& entry : container.entries)
        EXPECT_TRUE(SameBytes(all + L"\\" + entry.name, Bytes(byHost + L"\\" + entry.name)));

    Next(PAGE_ACTION);
    SelectListItems(Item(c_actionList), {0});
    Next(PAGE_LAYERS);

    // Remove one layer, move another, colour two at once, zoom range of two
    // detail levels.
    const HWND layers = Item(c_layerList);
    ASSERT_EQ(ListCount(layers), 7);
    SelectLayers({L"Footpaths"});
    m_run->Click(c_remove);
    ASSERT_TRUE(WaitUntil([&] { return ListCount(layers) == 6; }));
    EXPECT_EQ(FindLayer(layers, L"Footpaths"), -1);
    SelectLayers({L"Rivers"});
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Item(c_moveUp)) != FALSE; }));
    m_run->Click(c_moveUp);
    ASSERT_TRUE(WaitUntil([&] { return FindLayer(layers, L"Rivers") == 1; }));
    EXPECT_EQ(SelectedListItems(layers), std::vector<int>{1});

    SelectLayers({L"Lakes", L"Woods"});
    HWND sheet = OpenProperties();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(WindowText(sheet), L"2 layers \u2013 Properties");
    EXPECT_EQ(SendDlgItemMessageW(OptionsPage(sheet), c_colourList, CB_GETCURSEL, 0, 0), CB_ERR)
        << "Lakes' CYAN and Woods' GREEN differ";
    EXPECT_EQ(ComboItemText(OptionsPage(sheet), c_colourList, 8), L"Red");
    ChooseComboItem(OptionsPage(sheet), c_colourList, 8); // RED
    CloseSheet(sheet, PSBTN_OK);

    SelectLayers({L"Lakes"});
    sheet = OpenProperties();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(WindowText(sheet), L"Lakes \u2013 Properties");
    HWND zoom = ZoomLevelsPage(sheet);
    SelectListItems(GetDlgItem(zoom, c_detailLevels), {3, 4}); // Low and Lowest
    ChooseComboItem(zoom, c_firstZoomList, 8);                 // 5.0 km
    ChooseComboItem(zoom, c_firstZoomList + 1, 10);            // 20 km
    CloseSheet(sheet, PSBTN_OK);

    const std::wstring destination = m_folder.File(L"edited.imi");
    SaveAndFinish(destination);
    const std::string expected = EditedByHost(
        m_source, L"--remove Footpaths --up Rivers --color Lakes=RED --color Woods=RED --zoom Lakes=Low:0=8 "
                  L"--zoom Lakes=Lowest:0=8 --zoom Lakes=Low:1=10 --zoom Lakes=Lowest:1=10");
    EXPECT_TRUE(SameBytes(destination, expected));
    ExpectCheckWordsVerify(destination);
    EXPECT_TRUE(SameBytes(m_source, Bytes(SampleMap()))) << "the source is never changed";
}

TEST_F(MapWizardTest, RealMapOpenRemoveAndSave)
{
    const std::wstring folder = TestDataFolder();
    SKIP_WITHOUT_TESTDATA(folder);
    const std::wstring map = folder + L"\\maps\\public\\pymagellan_lund.imi";
    Start(map);
    ToLayers();
    const HWND layers = Item(c_layerList);
    ASSERT_EQ(ListCount(layers), 14);
    const std::wstring removed = ListText(layers, 3);
    SelectListItems(layers, {3});
    m_run->Click(c_remove);
    ASSERT_TRUE(WaitUntil([&] { return ListCount(layers) == 13; }));
    const std::wstring destination = m_folder.File(L"lund.imi");
    SaveAndFinish(destination);
    EXPECT_TRUE(SameBytes(destination, EditedByHost(map, L"--remove " + Quoted(removed))));
    ExpectCheckWordsVerify(destination);
}

TEST_F(MapWizardTest, AnotherSourceReloadsTheSameInOtherLetterCaseDoesNot)
{
    const std::wstring other = m_folder.File(L"other.imi");
    ASSERT_TRUE(CopyFileW(m_source.c_str(), other.c_str(), FALSE));
    Start(m_source);
    ToLayers();
    SelectLayers({L"Woods"});
    m_run->Click(c_remove);
    ASSERT_TRUE(WaitUntil([&] { return ListCount(Item(c_layerList)) == 6; }));

    const auto returnWith = [&](const std::wstring& path) {
        Back(PAGE_ACTION);
        Back(PAGE_CONTENTS);
        Back(PAGE_SOURCE);
        SetText(Item(c_sourcePath), path);
        Next(PAGE_CONTENTS);
        Next(PAGE_ACTION);
        Next(PAGE_LAYERS);
    };
    std::wstring upper = m_source;
    CharUpperW(upper.data());
    returnWith(upper);
    EXPECT_EQ(ListCount(Item(c_layerList)), 6) << "the layer edits are kept";
    returnWith(other);
    EXPECT_EQ(ListCount(Item(c_layerList)), 7) << "another map's layers";
    EXPECT_NE(FindLayer(Item(c_layerList), L"Woods"), -1);
}

TEST_F(MapWizardTest, SavingOntoTheSourceFailsAndKeepsThePage)
{
    const std::string before = Bytes(m_source);
    Start(m_source);
    ToLayers();
    SelectLayers({L"Woods"});
    m_run->Click(c_remove);
    Next(PAGE_DESTINATION);
    SetText(Item(c_destinationPath), m_source);
    ASSERT_TRUE(WaitUntil([&] { return m_run->ButtonEnabled(c_nextButton); }));
    m_run->Press(PSBTN_NEXT);
    // The first failure of a process loads the debug symbols for the log.
    HWND error = m_run->WaitForDialog(IsMessageBox, 30000);
    ASSERT_TRUE(error);
    EXPECT_NE(DialogText(error).find(L"Choose another file for the output: it is the file being read."),
              std::wstring::npos)
        << WideToUtf8(DialogText(error));
    AnswerDialog(error, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(error); }));
    EXPECT_EQ(m_run->PageIndex(), PAGE_DESTINATION);
    EXPECT_TRUE(SameBytes(m_source, before));
}

// A file that is no map is refused on the source page itself: one error
// box, the page stays with the path selected, and after a correction the
// wizard goes on, with the one action already chosen on the action page.
TEST_F(MapWizardTest, AFileThatIsNoMapKeepsTheSourcePage)
{
    const std::wstring notMap = m_folder.File(L"notes.img");
    WriteFileBytes(notMap, "These are notes, not a map.\r\n");
    Start(notMap);
    ASSERT_TRUE(m_run->WaitForPage(PAGE_INTRODUCTION));
    Next(PAGE_SOURCE);
    ASSERT_TRUE(WaitUntil([&] { return m_run->ButtonEnabled(c_nextButton); }));
    m_run->Press(PSBTN_NEXT);
    const HWND error = m_run->WaitForDialog(IsMessageBox, 30000);
    ASSERT_TRUE(error);
    EXPECT_EQ(WindowText(error), L"Tervolin \u2013 Error");
    EXPECT_NE(DialogText(error).find(notMap), std::wstring::npos) << WideToUtf8(DialogText(error));
    AnswerDialog(error, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(error); }));
    EXPECT_EQ(m_run->WaitForDialog(IsMessageBox, 1000), nullptr) << "a second error box";
    EXPECT_EQ(m_run->PageIndex(), PAGE_SOURCE);
    EXPECT_TRUE(FocusedWithAllSelected(*m_run, Item(c_sourcePath)));

    SetText(Item(c_sourcePath), m_source);
    Next(PAGE_CONTENTS);
    EXPECT_EQ(ListCount(Item(c_contentsList)), 18);
    Next(PAGE_ACTION);
    EXPECT_EQ(SelectedListItems(Item(c_actionList)), std::vector<int>{0});
    Next(PAGE_LAYERS);
    EXPECT_EQ(ListCount(Item(c_layerList)), 7);
}

// The destination typed without extension gets the source's (.imi); an
// existing file there is replaced only after Yes, No keeps the page with the
// path selected.
TEST_F(MapWizardTest, TypedDestinationGetsTheExtensionAndAsksBeforeReplacing)
{
    const std::wstring typed = m_folder.File(L"edited");
    WriteFileBytes(typed + L".imi", "keep me");
    Start(m_source);
    ToLayers();
    SelectLayers({L"Woods"});
    m_run->Click(c_remove);
    ASSERT_TRUE(WaitUntil([&] { return ListCount(Item(c_layerList)) == 6; }));
    Next(PAGE_DESTINATION);
    SetText(Item(c_destinationPath), typed);
    ASSERT_TRUE(WaitUntil([&] { return m_run->ButtonEnabled(c_nextButton); }));
    m_run->Press(PSBTN_NEXT);
    HWND question = m_run->WaitForDialog(IsMessageBox);
    ASSERT_TRUE(question);
    EXPECT_NE(DialogText(question).find(typed + L".imi already exists. Replace it?"), std::wstring::npos)
        << WideToUtf8(DialogText(question));
    AnswerDialog(question, IDNO);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(question); }));
    EXPECT_EQ(m_run->PageIndex(), PAGE_DESTINATION);
    EXPECT_EQ(WindowText(Item(c_destinationPath)), typed + L".imi");
    EXPECT_TRUE(FocusedWithAllSelected(*m_run, Item(c_destinationPath)));
    EXPECT_EQ(Bytes(typed + L".imi"), "keep me");

    m_run->Press(PSBTN_NEXT);
    question = m_run->WaitForDialog(IsMessageBox);
    ASSERT_TRUE(question);
    AnswerDialog(question, IDYES);
    ASSERT_TRUE(m_run->WaitForPage(PAGE_COMPLETION));
    const std::wstring completed = WindowText(Item(IDC_COMPLETION_TEXT));
    EXPECT_NE(completed.find(L"The modified map was saved as \"" + typed + L".imi\".\r\n\r\nLayers removed: 1\r\n"
                             L"Layers with changed properties: 0"),
              std::wstring::npos)
        << WideToUtf8(completed);
    m_run->Press(PSBTN_FINISH);
    EXPECT_EQ(m_run->Result(), S_OK);
    EXPECT_TRUE(SameBytes(typed + L".imi", EditedByHost(m_source, L"--remove Woods")));
    EXPECT_FALSE(FileExists(typed));
}

TEST_F(MapWizardTest, SilencedSingleFileMessageExtractsWithoutAsking)
{
    SetConfirmationValue(c_singleFileSaved, 2);
    Start(m_source);
    ASSERT_TRUE(m_run->WaitForPage(PAGE_INTRODUCTION));
    Next(PAGE_SOURCE);
    Next(PAGE_CONTENTS);
    SelectListItems(Item(c_contentsList), {1});
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Item(c_saveAs)) != FALSE; }));
    m_run->Click(c_saveAs);
    HWND saveDialog = m_run->WaitForDialog(IsFileDialog);
    ASSERT_TRUE(saveDialog);
    const std::wstring path = m_folder.File(L"sample.ini");
    AnswerFileDialog(saveDialog, path);
    ASSERT_TRUE(WaitUntil([&] { return FileExists(path) && !IsWindow(saveDialog); }));
    EXPECT_FALSE(m_run->WaitForMessageBox(500)) << "no question, no folder window";
    EXPECT_EQ(m_run->PageIndex(), PAGE_CONTENTS);
}

// The property sheet on several layers: the first layer's values are shown,
// only touched lists are applied, pending zoom choices per detail level, an
// unknown colour name stays, Apply then Cancel keeps what was applied.
TEST_F(MapWizardTest, PropertySheetCases)
{
    Start(m_source);
    ToLayers();

    SelectLayers({L"Rivers", L"Streets", L"Motorways"});
    HWND sheet = OpenProperties();
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(ChooseComboText(OptionsPage(sheet), c_styleList, L"Dot fill")); // DOT_FILL in the sorted list
    CloseSheet(sheet, PSBTN_OK);

    SelectLayers({L"Woods"});
    sheet = OpenProperties();
    ASSERT_TRUE(sheet);
    HWND zoom = ZoomLevelsPage(sheet);
    const HWND levels = GetDlgItem(zoom, c_detailLevels);
    EXPECT_EQ(ComboItemText(zoom, c_firstZoomList, 0), L"Any") << "the module's word for no limit";
    EXPECT_EQ(ComboItemText(zoom, c_firstZoomList, 17), L"2,700 km");
    SelectListItems(levels, {3, 4});
    ChooseComboItem(zoom, c_firstZoomList, 3); // up to Lowest's end
    SelectListItems(levels, {0});
    EXPECT_TRUE(WaitUntil([&] { return SendDlgItemMessageW(zoom, c_firstZoomList, CB_GETCURSEL, 0, 0) == 0; }))
        << "Highest shows its own value";
    SelectListItems(levels, {4});
    EXPECT_TRUE(WaitUntil([&] { return SendDlgItemMessageW(zoom, c_firstZoomList, CB_GETCURSEL, 0, 0) == 3; }))
        << "Lowest shows the pending choice";
    CloseSheet(sheet, PSBTN_OK);

    SelectLayers({L"Streets"});
    sheet = OpenProperties();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(SelectedComboText(OptionsPage(sheet), c_styleList), L"Dot fill") << "the style just applied";
    ChooseComboItem(OptionsPage(sheet), c_colourList, 14); // BLACK
    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_APPLYNOW, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(sheet, 0x3021)); })) << "Apply done";
    CloseSheet(sheet, PSBTN_CANCEL);

    const std::wstring destination = m_folder.File(L"edited.imi");
    SaveAndFinish(destination);
    EXPECT_TRUE(SameBytes(destination,
              EditedByHost(m_source, L"--style Rivers=DOT_FILL --style Streets=DOT_FILL --style Motorways=DOT_FILL "
                                     L"--zoom Woods=Low:0=3 --zoom Woods=Lowest:0=3 --color Streets=BLACK")));
}

// After Remove, Move and Delete the selection and the focus stay in the
// layer list: the layer that followed the removed one, the moved layer.
// Enter on a page whose Next is disabled does nothing (never Back).
TEST_F(MapWizardTest, LayerListKeepsSelectionAndFocus)
{
    Start(m_source);
    ToLayers();
    const HWND layers = Item(c_layerList);
    ASSERT_TRUE(WaitUntil([&] { return m_run->Focus() == layers; })) << "the list has the focus when shown";
    const auto pressWithFocus = [&](int button) {
        SendMessageW(m_run->Sheet(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(button)), TRUE);
        m_run->Click(button);
    };
    // Lakes, Woods, Rivers, Footpaths, Streets, Main_Roads, Motorways
    SelectLayers({L"Woods"});
    pressWithFocus(c_remove);
    ASSERT_TRUE(WaitUntil([&] { return ListCount(layers) == 6; }));
    EXPECT_EQ(SelectedListItems(layers), std::vector<int>{1}) << "Rivers follows Woods";
    EXPECT_TRUE(WaitUntil([&] { return m_run->Focus() == layers; })) << "after Remove";

    pressWithFocus(c_moveUp);
    ASSERT_TRUE(WaitUntil([&] { return FindLayer(layers, L"Rivers") == 0; }));
    EXPECT_EQ(SelectedListItems(layers), std::vector<int>{0});
    EXPECT_TRUE(WaitUntil([&] { return m_run->Focus() == layers; })) << "after Move Up";

    SelectLayers({L"Main_Roads", L"Motorways"});
    m_run->Key(VK_DELETE);
    ASSERT_TRUE(WaitUntil([&] { return ListCount(layers) == 4; })) << "Delete removes the selected layers";
    EXPECT_EQ(FindLayer(layers, L"Motorways"), -1);
    EXPECT_EQ(SelectedListItems(layers), std::vector<int>{3}) << "the last layer";

    Next(PAGE_DESTINATION);
    const HWND destination = Item(c_destinationPath);
    ASSERT_TRUE(WaitUntil([&] { return m_run->Focus() == destination; })) << "the empty path has the focus";
    m_run->Key(VK_RETURN);
    EXPECT_FALSE(WaitUntil([&] { return m_run->PageIndex() != PAGE_DESTINATION; }, 1000)) << "Enter went back";
}

// With several layers or levels, a zoom field whose values differ shows
// empty; a "from" beyond its "to" is refused with words on OK, the sheet
// stays open, and a corrected choice is written.
TEST_F(MapWizardTest, PropertySheetMixedZoomValuesAndInvertedRange)
{
    Start(m_source);
    ToLayers();
    SelectLayers({L"Lakes", L"Woods"});
    const HWND sheet = OpenProperties();
    ASSERT_TRUE(sheet);
    const HWND zoom = ZoomLevelsPage(sheet);
    const auto shown = [&](int field) { return SendDlgItemMessageW(zoom, c_firstZoomList + field, CB_GETCURSEL, 0, 0); };
    // Highest: from Any to 10 (Lakes) and to 7 (Woods).
    EXPECT_TRUE(WaitUntil([&] { return shown(0) == 0; })) << "both from Any";
    EXPECT_EQ(shown(1), CB_ERR) << "the ends differ";
    SelectListItems(GetDlgItem(zoom, c_detailLevels), {0, 1});
    EXPECT_TRUE(WaitUntil([&] { return shown(0) == 0; }));
    ChooseComboItem(zoom, c_firstZoomList, 9);
    EXPECT_EQ(shown(0), 9);

    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    const HWND refusal = m_run->WaitForDialog(IsMessageBox);
    ASSERT_TRUE(refusal);
    EXPECT_NE(DialogText(refusal).find(L"The zoom range of layer \"Woods\" at detail level Highest starts at"),
              std::wstring::npos)
        << WideToUtf8(DialogText(refusal));
    AnswerDialog(refusal, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(refusal); }));
    EXPECT_TRUE(IsWindow(sheet)) << "the sheet stays open";

    SelectListItems(GetDlgItem(zoom, c_detailLevels), {0, 1});
    ChooseComboItem(zoom, c_firstZoomList, 3);
    CloseSheet(sheet, PSBTN_OK);
    const std::wstring destination = m_folder.File(L"edited.imi");
    SaveAndFinish(destination);
    EXPECT_TRUE(SameBytes(destination, EditedByHost(m_source, L"--zoom Lakes=Highest:0=3 --zoom Lakes=High:0=3 "
                                                              L"--zoom Woods=Highest:0=3 --zoom Woods=High:0=3")));
}

TEST_F(MapWizardTest, UnknownColourNameStays)
{
    const std::string configuration = "[LAYERS]\r\nNUMBER=1\r\n0=" +
                                      LayerLine("Roads", "00rd", "DARK_GREY", "SOLID_FILL") +
                                      "\r\nORDERDRAW=0\r\n";
    const std::wstring map = m_folder.File(L"grey.imi");
    WriteFileBytes(map, BuildContainer({{"ADD_MAPS.CFG", "1 MAP.INI\r\n"},
                                        {"MAP.INI", configuration},
                                        {"00RD.LAY", "layer"},
                                        {"00RD.CLT", "cells"}}));
    Start(map);
    ToLayers();
    SelectLayers({L"Roads"});
    HWND sheet = OpenProperties();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(SendDlgItemMessageW(OptionsPage(sheet), c_colourList, CB_GETCURSEL, 0, 0), CB_ERR);
    CloseSheet(sheet, PSBTN_OK);
    const std::wstring destination = m_folder.File(L"grey-out.imi");
    SaveAndFinish(destination);
    EXPECT_TRUE(SameBytes(destination, EditedByHost(map, L"")));
    EXPECT_NE(Bytes(destination).find("DARK_GREY SOLID_FILL"), std::string::npos);
}

// Not a test of its own: bench/map.sh runs it on a large map to time
// a save through the wizard (TERVOLIN_MEASURE_SOURCE, _DESTINATION, _REMOVE).
TEST_F(MapWizardTest, MeasuredSave)
{
    const std::wstring source = EnvironmentValue(L"TERVOLIN_MEASURE_SOURCE");
    if (source.empty())
        GTEST_SKIP() << "run by bench/map.sh";
    Start(source, 900000);
    ToLayers();
    SelectLayers({EnvironmentValue(L"TERVOLIN_MEASURE_REMOVE")});
    m_run->Click(c_remove);
    Next(PAGE_DESTINATION);
    SetText(Item(c_destinationPath), EnvironmentValue(L"TERVOLIN_MEASURE_DESTINATION"));
    ASSERT_TRUE(WaitUntil([&] { return m_run->ButtonEnabled(c_nextButton); }));
    m_run->Press(PSBTN_NEXT);
    ASSERT_TRUE(WaitUntil([&] { return m_run->PageIndex() == PAGE_COMPLETION; }, 600000));
    m_run->Press(PSBTN_FINISH);
    EXPECT_EQ(m_run->Result(), S_OK);
}

} // namespace
