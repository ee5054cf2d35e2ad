// Where the file dialogs of the Browse buttons start.
#include <windows.h>

#include "base/FilePath.h"
#include "base/Text.h"
#include "support/TestSupport.h"
#include "ui/BrowseFolders.h"

namespace {

constexpr wchar_t c_wizard[] = L"CBrowseFoldersTestWizard";
constexpr wchar_t c_foldersKey[] = L"SOFTWARE\\Norvask\\Tervolin\\Folders";

void StoreFolder(const std::wstring& folder)
{
    RegSetKeyValueW(HKEY_CURRENT_USER, c_foldersKey, c_wizard, REG_SZ, folder.c_str(),
                    static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

} // namespace

// A typed path wins; without one the dialog starts in the folder of the
// last file chosen in that wizard, and in Documents when that folder is
// gone or the stored value is no folder at all.
TEST(BrowseFolders, TheDialogStartsInTheLastFolderUsedElseInDocuments)
{
    TempFolder folder;
    RegDeleteKeyValueW(HKEY_CURRENT_USER, c_foldersKey, c_wizard);
    const std::wstring documents = BrowseStartPath(L"", c_wizard);
    ASSERT_FALSE(documents.empty());
    EXPECT_EQ(L'\\', documents.back());
    EXPECT_TRUE(IsExistingFolder(documents));
    EXPECT_NE(std::wstring::npos, documents.find(L"Documents")) << WideToUtf8(documents);

    RememberBrowseFolder(c_wizard, folder.File(L"lakes.upt"));
    EXPECT_EQ(folder.Path() + L"\\", BrowseStartPath(L"", c_wizard));
    EXPECT_EQ(L"C:\\typed.upt", BrowseStartPath(L"C:\\typed.upt", c_wizard));

    const std::wstring kept = folder.Path();
    struct Row
    {
        std::wstring stored;
        std::wstring expected;
    };
    const Row rows[] = {
        {kept + L"\\gone", documents},
        {folder.File(L"lakes.upt"), documents}, // a file, not a folder
        {std::wstring(40000, L'x'), documents},
        {L"", documents},
    };
    WriteFileBytes(folder.File(L"lakes.upt"), "");
    for (const auto& row : rows) {
        SCOPED_TRACE(WideToUtf8(row.stored.substr(0, 80)));
        StoreFolder(row.stored);
        EXPECT_EQ(row.expected, BrowseStartPath(L"", c_wizard));
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, c_foldersKey, c_wizard);
}
