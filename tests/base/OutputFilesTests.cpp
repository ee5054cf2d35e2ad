#include "support/TestSupport.h"

#include <string>

#include "base/FilePath.h"
#include "base/OutputFiles.h"
#include "support/TestFiles.h"

namespace {

// The names of the files in a folder that the guards' temporary names match.
std::vector<std::wstring> LeftTemporaryFiles(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\tvl*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// A folder nested inside the test folder whose path is longer than MAX_PATH.
std::wstring CreateLongFolder(const TempFolder& folder)
{
    std::wstring path = folder.Path();
    for (int level = 0; level < 4; ++level) {
        path += L"\\" + std::wstring(80, static_cast<wchar_t>(L'a' + level));
        CreateDirectoryW(path.c_str(), nullptr);
    }
    return path;
}

} // namespace

TEST(PendingFile, ReplacesTheDestinationOnlyOnCommit)
{
    TempFolder folder;
    const std::wstring path = folder.File(L"out.upt");
    WriteFileBytes(path, "previous");
    {
        PendingFile abandoned(path);
        WriteAll(abandoned.Get(), "new", 3);
    }
    EXPECT_EQ("previous", ReadFileBytes(path));
    {
        PendingFile committed(path);
        WriteAll(committed.Get(), "new", 3);
        committed.Commit();
    }
    EXPECT_EQ("new", ReadFileBytes(path));
    EXPECT_TRUE(LeftTemporaryFiles(folder.Path()).empty());
}

TEST(PendingFile, FailuresNameTheDestination)
{
    TempFolder folder;
    struct Row
    {
        std::wstring destination;
        HRESULT expected;
    };
    const Row rows[] = {
        {folder.File(L"no-such-folder\\x.log"), HResultFromWin32(ERROR_PATH_NOT_FOUND)},
        {L"COM1", HResultFromWin32(ERROR_INVALID_NAME)},
        {folder.File(L"nul.upt"), HResultFromWin32(ERROR_INVALID_NAME)},
        {L"\\\\.\\COM3", HResultFromWin32(ERROR_INVALID_NAME)},
    };
    for (const Row& row : rows) {
        try {
            PendingFile file(row.destination);
            file.Commit();
            ADD_FAILURE() << "wrote " << row.destination;
        } catch (const CAtlException& e) {
            EXPECT_EQ(row.expected, e.m_hr) << row.destination;
            EXPECT_EQ(row.destination, e.Path());
        }
    }
    EXPECT_TRUE(LeftTemporaryFiles(folder.Path()).empty());
}

// A folder path beyond MAX_PATH either works or fails with the path; the
// temporary name is never built in a fixed buffer.
TEST(PendingFile, LongFolderWorksOrFailsWithThePath)
{
    TempFolder folder;
    const std::wstring longFolder = CreateLongFolder(folder);
    const std::wstring path = longFolder + L"\\" + std::wstring(30, L'\x4344') + L".upt";
    try {
        PendingFile file(path);
        WriteAll(file.Get(), "bytes", 5);
        file.Commit();
        EXPECT_EQ("bytes", ReadFileBytes(path));
    } catch (const CAtlException& e) {
        EXPECT_EQ(path, e.Path());
    }
    EXPECT_TRUE(LeftTemporaryFiles(longFolder).empty());
}

TEST(TemporaryFile, IsDeletedWithItsGuard)
{
    std::wstring path;
    {
        TemporaryFile file;
        path = file.Path();
        file.Rewrite("[LAYERS]\r\n");
        EXPECT_TRUE(FileExists(path));
    }
    EXPECT_FALSE(FileExists(path));
}

TEST(FilePath, DevicePathsAreTold)
{
    struct Row
    {
        const wchar_t* path;
        bool device;
    };
    const Row rows[] = {
        {L"COM1", true},           {L"com9.upt", true},        {L"E:\\out\\NUL", true},
        {L"E:\\out\\lpt1 .log", true}, {L"con", true},           {L"C:AUX", true},
        {L"COM1:", true},          {L"\\\\.\\COM12", true},     {L"\\\\.\\C:", true},
        {L"//./PhysicalDrive0", true}, {L"\\\\?\\GLOBALROOT\\Device\\Null", true},
        {L"\\\\?\\C:\\out\\a.upt", false}, {L"\\\\?\\UNC\\server\\share\\a.upt", false},
        {L"COM10", false},         {L"COMPASS.upt", false},    {L"E:\\con\\a.upt", false},
        {L"a.upt", false},         {L"\\\\server\\share\\a.upt", false}, {L"E:\\NULL", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.device, IsDevicePath(row.path)) << row.path;
}

TEST(FilePath, FolderOfKeepsRoots)
{
    EXPECT_EQ(L".", FolderOf(L"a.upt"));
    EXPECT_EQ(L"C:\\", FolderOf(L"C:\\a.upt"));
    EXPECT_EQ(L"C:", FolderOf(L"C:a.upt"));
    EXPECT_EQ(L"\\", FolderOf(L"\\a.upt"));
    EXPECT_EQ(L"E:\\out", FolderOf(L"E:\\out\\a.upt"));
    EXPECT_EQ(L"E:/out", FolderOf(L"E:/out/a.upt"));
}
