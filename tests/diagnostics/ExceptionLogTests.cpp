#include "diagnostics/ExceptionLog.h"

#include "LogTestSupport.h"
#include "base/Handle.h"
#include "support/TestSupport.h"

namespace {

constexpr size_t c_mebibyte = 1048576;

enum class Outcome
{
    Deleted,
    Unchanged,
    CutToTail,
};

struct PruneCase
{
    const char* name;
    int daysAgo;
    size_t size;
    Outcome outcome;
};

const PruneCase c_pruneCases[] = {
    {"written 15 days ago", 15, 100, Outcome::Deleted},
    {"written 15 days ago and large", 15, 3 * c_mebibyte, Outcome::Deleted},
    {"written 14 days ago", 14, 100, Outcome::Unchanged},
    {"written yesterday, 3 MiB", 1, 3 * c_mebibyte, Outcome::CutToTail},
    {"written yesterday, exactly 1 MiB", 1, c_mebibyte, Outcome::Unchanged},
    {"written yesterday, 1 MiB and a byte", 1, c_mebibyte + 1, Outcome::CutToTail},
    {"written today, empty", 0, 0, Outcome::Unchanged},
};

TEST(ExceptionLogPrune, DeletesOldLogsAndCutsLargeOnes)
{
    for (const PruneCase& c : c_pruneCases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::wstring log = folder.File(L"Tervolin.log");
        const std::string bytes = NumberedBytes(c.size);
        WriteAgedFile(log, bytes, c.daysAgo);

        PruneExceptionLog(log);

        switch (c.outcome) {
        case Outcome::Deleted:
            EXPECT_FALSE(FileExists(log));
            break;
        case Outcome::Unchanged:
            EXPECT_EQ(ReadFileBytes(log), bytes);
            break;
        case Outcome::CutToTail:
            EXPECT_EQ(ReadFileBytes(log), bytes.substr(bytes.size() - c_exceptionLogKeptSize));
            break;
        }
    }
}

TEST(ExceptionLogPrune, MissingLogStaysMissing)
{
    TempFolder folder;
    PruneExceptionLog(folder.File(L"Tervolin.log"));
    EXPECT_FALSE(FileExists(folder.File(L"Tervolin.log")));
}

TEST(ExceptionLogPrune, LogHeldOpenIsLeftUnchanged)
{
    TempFolder folder;
    const std::wstring log = folder.File(L"Tervolin.log");
    const std::string bytes = NumberedBytes(3 * c_mebibyte);
    WriteAgedFile(log, bytes, 1);
    {
        UniqueHFile holder(CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        PruneExceptionLog(log);
    }
    EXPECT_EQ(ReadFileBytes(log), bytes);
}

ExceptionLogPaths PathsIn(const TempFolder& folder)
{
    ExceptionLogPaths paths;
    paths.primary = folder.File(L"Windows\\Tervolin.log");
    paths.fallbackFolder = folder.File(L"Local\\Norvask\\Tervolin");
    paths.fallback = paths.fallbackFolder + L"\\Tervolin.log";
    CreateDirectoryW(folder.File(L"Windows").c_str(), nullptr);
    CreateDirectoryW(folder.File(L"Local").c_str(), nullptr);
    return paths;
}

TEST(ExceptionLogAppend, AppendsToTheLogInTheWindowsFolder)
{
    TempFolder folder;
    const ExceptionLogPaths paths = PathsIn(folder);
    WriteFileBytes(paths.primary, "earlier\r\n");

    EXPECT_TRUE(AppendToExceptionLog(paths, "first\r\n", 7));
    EXPECT_TRUE(AppendToExceptionLog(paths, "second\r\n", 8));

    EXPECT_EQ(ReadFileBytes(paths.primary), "earlier\r\nfirst\r\nsecond\r\n");
    EXPECT_FALSE(FileExists(paths.fallback));
}

TEST(ExceptionLogAppend, UsesTheUserFolderWhenTheWindowsFolderRefuses)
{
    TempFolder folder;
    const ExceptionLogPaths paths = PathsIn(folder);
    // A folder in place of the log cannot be opened, like a file in a
    // folder the user may not write to.
    ASSERT_TRUE(CreateDirectoryW(paths.primary.c_str(), nullptr));

    EXPECT_TRUE(AppendToExceptionLog(paths, "report\r\n", 8));

    EXPECT_EQ(ReadFileBytes(paths.fallback), "report\r\n");
}

TEST(ExceptionLogAppend, LogHeldByAnotherWriterDropsTheReport)
{
    TempFolder folder;
    const ExceptionLogPaths paths = PathsIn(folder);
    WriteFileBytes(paths.primary, "earlier\r\n");
    {
        UniqueHFile holder(
            CreateFileW(paths.primary.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_FALSE(AppendToExceptionLog(paths, "lost\r\n", 6));
    }
    EXPECT_EQ(ReadFileBytes(paths.primary), "earlier\r\n");
    EXPECT_FALSE(FileExists(paths.fallback));
}

TEST(ExceptionLogPaths, WindowsFolderFirstThenLocalApplicationData)
{
    const ExceptionLogPaths paths = ExceptionLogPathsFor(L"Tervolin.dll");
    EXPECT_EQ(paths.primary, WindowsFolder() + L"\\Tervolin.log");
    EXPECT_EQ(paths.fallback, EnvironmentValue(L"LOCALAPPDATA") + L"\\Norvask\\Tervolin\\Tervolin.log");
}

} // namespace
