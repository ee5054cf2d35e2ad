#include "support/TestSupport.h"

#include <cstring>
#include <optional>

#include "base/Handle.h"
#include "base/Text.h"

namespace {

std::wstring Quoted(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

const char c_waypoints[] = "OziExplorer Waypoint File Version 1.1\r\nWGS 84\r\nReserved 2\r\nReserved 3\r\n"
                           "1,HOME,48.5,-11.25\r\n";

} // namespace

TEST(Host, ConvertsWaypointsAndSucceedsSilently)
{
    TempFolder folder;
    WriteFileBytes(folder.File(L"in.wpt"), c_waypoints);
    const ProcessResult result =
        RunHost(L"convert waypoints " + Quoted(folder.File(L"in.wpt")) + L" " + Quoted(folder.File(L"out.upt")));
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ("", result.errors);
    EXPECT_EQ(0u, ReadFileBytes(folder.File(L"out.upt")).find("$PMGNWPL,4830.00000,N,01115.00000,W,0.00000,M,HOME,,a*"));
}

TEST(Host, FailuresNameTheFileTheLineAndTheProblem)
{
    TempFolder folder;
    struct Row
    {
        const char* contents;
        const wchar_t* kind;
        const char* expected; // after "tervolin: <input>: "
    };
    const Row rows[] = {
        {"b\r\nWGS84\r\n\r\n\r\n1,A,1,2\r\n", L"waypoints", "line 2: the datum is not WGS 84"},
        {"OziExplorer\r\nWGS 84\r\n\r\n\r\n1,A,1\r\n", L"waypoints", "line 5: a waypoint needs at least 4 fields"},
        {"OziExplorer\r\nWGS 84\r\nAltitude is in Feet\r\n\r\n\r\n\r\n", L"track",
         "the track has no point after its six header lines"},
        {"OziExplorer\r\nWGS 84\r\nAltitude is in Yards\r\n\r\n\r\n\r\n1,2,0,3,4\r\n", L"track",
         "line 3: the altitude unit line is neither"},
    };
    const std::wstring input = folder.File(L"in.txt");
    const std::wstring output = folder.File(L"out.txt");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        WriteFileBytes(input, row.contents);
        WriteFileBytes(output, "keep me");
        const ProcessResult result =
            RunHost(L"convert " + std::wstring(row.kind) + L" " + Quoted(input) + L" " + Quoted(output));
        EXPECT_EQ(1u, result.exitCode);
        const std::string inputUtf8(input.begin(), input.end());
        EXPECT_EQ(0u, result.errors.find("tervolin: " + inputUtf8 + ": " + row.expected)) << result.errors;
        EXPECT_EQ(1, std::count(result.errors.begin(), result.errors.end(), '\n'));
        if (std::string(row.expected).find("line 5") == std::string::npos) {
            EXPECT_EQ("keep me", ReadFileBytes(output));
        }
    }
}

TEST(Host, BrokenUtf16IsOneLineInWords)
{
    // Nothing of the XML reader's library may reach standard error.
    TempFolder folder;
    const std::wstring text = L"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<kml xmlns=\"http://www.opengis.net/"
                              L"kml/2.2\">\n<Placemark><name>\xD800</name></Placemark></kml>";
    const std::wstring input = folder.File(L"in.kml");
    WriteFileBytes(input, std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
    WriteFileBytes(folder.File(L"out.upt"), "keep me");
    const ProcessResult result = RunHost(L"convert kml " + Quoted(input) + L" " + Quoted(folder.File(L"out.upt")));
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ("tervolin: " + std::string(input.begin(), input.end()) + ": not valid UTF-16 at line 3\n", result.errors);
    EXPECT_EQ("keep me", ReadFileBytes(folder.File(L"out.upt")));
}

TEST(Host, SystemErrorsUseTheSystemMessage)
{
    TempFolder folder;
    const std::wstring missing = folder.File(L"missing.plt");
    const ProcessResult result = RunHost(L"convert track " + Quoted(missing) + L" " + Quoted(folder.File(L"o.log")));
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_NE(std::string::npos, result.errors.find("missing.plt: ")) << result.errors;
    EXPECT_NE(std::string::npos, result.errors.find("(0x80070002)")) << result.errors;
    EXPECT_FALSE(FileExists(folder.File(L"o.log")));
}

// A source that is no port name is a capture file; a device by another
// spelling is none, fails at once with words naming it and is never read.
TEST(Host, NmeaDevicesAreNoCaptureFiles)
{
    for (const std::string source : {"COM1:", "NUL", "\\\\.\\NUL"}) {
        SCOPED_TRACE(source);
        const ULONGLONG started = GetTickCount64();
        const ProcessResult result = RunHost(L"nmea " + Quoted(std::wstring(source.begin(), source.end())));
        EXPECT_LT(GetTickCount64() - started, 20000u);
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_NE(std::string::npos, result.errors.find(source + ": ")) << result.errors;
    }
}

TEST(Host, UsageErrorsAndHelp)
{
    EXPECT_EQ(0u, RunHost(L"--help").exitCode);
    EXPECT_NE(std::string::npos, RunHost(L"--help").output.find("convert"));
    EXPECT_EQ(0u, RunHost(L"convert --help").exitCode);
    EXPECT_NE(std::string::npos, RunHost(L"convert --help").output.find("convert track IN.plt OUT.log"));
    EXPECT_EQ(2u, RunHost(L"frobnicate").exitCode);
    EXPECT_EQ(2u, RunHost(L"convert track only-one-argument").exitCode);
    EXPECT_EQ(2u, RunHost(L"convert teleport a b").exitCode);
}

TEST(Host, BothBinariesCarryTheProductAndFileVersion)
{
    for (const wchar_t* name : {L"tervolin.exe", L"Tervolin.dll"}) {
        const std::wstring path = EnvironmentValue(L"TERVOLIN_BIN") + L"\\" + name;
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_NE(0u, size) << "no version resource in " << testing::PrintToString(std::wstring(name));
        std::string block(size, '\0');
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(MAKELONG(0, 1), fixed->dwProductVersionMS);
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        wchar_t* product = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                                   reinterpret_cast<void**>(&product), &length));
        EXPECT_STREQ(L"Tervolin", product);
    }
}

TEST(Host, ConsoleHostMayUseTheWholeAddressSpace)
{
    const std::string image = ReadFileBytes(EnvironmentValue(L"TERVOLIN_BIN") + L"\\tervolin.exe");
    IMAGE_DOS_HEADER dos{};
    ASSERT_GE(image.size(), sizeof dos);
    std::memcpy(&dos, image.data(), sizeof dos);
    const size_t fileHeader = static_cast<size_t>(dos.e_lfanew) + sizeof(DWORD); // after "PE\0\0"
    IMAGE_FILE_HEADER header{};
    ASSERT_GE(image.size(), fileHeader + sizeof header);
    std::memcpy(&header, image.data() + fileHeader, sizeof header);
    EXPECT_NE(0, header.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE);
}

namespace {

// Runs tervolin.exe with its standard output on the given handle and its
// standard error into a file; returns the exit code and the errors.
std::pair<DWORD, std::string> RunHostWithOutput(const std::wstring& arguments, HANDLE output, const TempFolder& folder)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const std::wstring errorsPath = folder.File(L"errors.txt");
    UniqueHFile errors(CreateFileW(errorsPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                   0, nullptr));
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = errors.Get();
    std::wstring commandLine = L"\"" + EnvironmentValue(L"TERVOLIN_BIN") + L"\\tervolin.exe\" " + arguments;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return {0xFFFFFFFF, "cannot start the host"};
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.Get(), 60000) != WAIT_OBJECT_0)
        TerminateProcess(processHandle.Get(), 0xDEAD);
    DWORD exitCode = 0;
    GetExitCodeProcess(processHandle.Get(), &exitCode);
    errors.Reset();
    return {exitCode, ReadFileBytes(errorsPath)};
}

} // namespace

// Output that cannot be written fails the run with a message; a reader
// that closed its pipe ends it without one.
TEST(Host, LostOutputFailsTheRun)
{
    TempFolder folder;
    std::string capture;
    for (int i = 0; i < 20000; ++i)
        capture += "$GPGLL,4916.45,N,12311.12,W,225444,A\r\n";
    WriteFileBytes(folder.File(L"capture.nmea"), capture);
    const std::wstring arguments = L"nmea " + Quoted(folder.File(L"capture.nmea"));

    UniqueHFile readOnly(CreateFileW(folder.File(L"capture.nmea").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    const auto [deniedCode, deniedErrors] = RunHostWithOutput(arguments, readOnly.Get(), folder);
    EXPECT_EQ(1u, deniedCode);
    EXPECT_NE(std::string::npos, deniedErrors.find("tervolin: output lost: ")) << deniedErrors;

    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    UniqueHandle pipeWrite(writeEnd);
    CloseHandle(readEnd);
    const auto [closedCode, closedErrors] = RunHostWithOutput(arguments, pipeWrite.Get(), folder);
    EXPECT_EQ(1u, closedCode);
    EXPECT_EQ("", closedErrors);
}

// Numbers beyond the range of a double print as JSON null, not nan or inf.
TEST(Host, NmeaNumbersOutOfRangeAreNull)
{
    TempFolder folder;
    WriteFileBytes(folder.File(L"huge.nmea"), "$GPGLL," + std::string(400, '9') + ",N,12311.12,W,225444,A\r\n");
    const ProcessResult result = RunHost(L"nmea " + Quoted(folder.File(L"huge.nmea")));
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ("{\"event\":\"GeographicLatitudeAndLongitude\",\"latitude\":null,\"longitude\":-123.1853333,"
              "\"time\":\"22:54:44.000\",\"active\":true}\n",
              result.output);
}

// The file is read in blocks: sentences cut by a block's end, a CR LF pair
// cut between two blocks, NUL bytes inside a sentence and a line longer
// than a block all give what the whole file at once would.
TEST(Host, NmeaFileReadInBlocksLosesNoSentence)
{
    constexpr size_t c_block = 256 * 1024;
    const std::string sentence = "$GPGLL,4916.45,N,12311.12,W,225444,A";
    std::string capture;
    size_t sentences = 0;
    const auto add = [&](const std::string& text) {
        capture += text + "\r\n";
        ++sentences;
    };
    while (capture.size() + 2 * (sentence.size() + 2) < c_block)
        add(sentence);
    capture += std::string(c_block - 1 - capture.size() - sentence.size(), 'x') + "\n";
    add(sentence); // its CR is the block's last byte, its LF the next block's first
    static const char c_withNul[] = "$GPGLL,49\0" "16.45,N,12311.12,W,225444,A";
    add(std::string(c_withNul, sizeof c_withNul - 1));
    capture += std::string(300 * 1024, 'y') + "\r\n";
    while (capture.size() < 3 * c_block + 100)
        add(sentence);
    capture += sentence; // the last line has no line end
    ++sentences;

    TempFolder folder;
    WriteFileBytes(folder.File(L"blocks.nmea"), capture);
    const ProcessResult result = RunHost(L"nmea " + Quoted(folder.File(L"blocks.nmea")));
    EXPECT_EQ(0u, result.exitCode);
    const std::string event = "{\"event\":\"GeographicLatitudeAndLongitude\",\"latitude\":49.27416667,"
                              "\"longitude\":-123.1853333,\"time\":\"22:54:44.000\",\"active\":true}\n";
    std::string expected;
    for (size_t i = 0; i < sentences; ++i)
        expected += event;
    EXPECT_EQ(expected.size(), result.output.size());
    EXPECT_TRUE(expected == result.output);
}

// Lines of one length in batch after batch each give their own event.
TEST(Host, NmeaLinesOfOneLengthKeepTheirOwnText)
{
    std::string capture;
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        const std::string seconds = {static_cast<char>('0' + i / 10 % 6), static_cast<char>('0' + i % 10)};
        capture += "$GPGLL,4916.45,N,12311.12,W,2254" + seconds + ",A\r\n";
        expected += "{\"event\":\"GeographicLatitudeAndLongitude\",\"latitude\":49.27416667,"
                    "\"longitude\":-123.1853333,\"time\":\"22:54:" + seconds + ".000\",\"active\":true}\n";
    }
    TempFolder folder;
    WriteFileBytes(folder.File(L"times.nmea"), capture);
    const ProcessResult result = RunHost(L"nmea " + Quoted(folder.File(L"times.nmea")));
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(expected == result.output) << result.output.substr(0, 400);
}

namespace {

std::wstring Samples()
{
    return EnvironmentValue(L"TERVOLIN_SOURCE") + L"\\samples\\";
}

// Sets an environment variable for the processes started while it lives.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value) : m_name(name), m_old(EnvironmentValue(name))
    {
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedEnvironment() { SetEnvironmentVariableW(m_name, m_old.empty() ? nullptr : m_old.c_str()); }

private:
    const wchar_t* m_name;
    std::wstring m_old;
};

bool HasTemporaryFiles(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\tvl*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

} // namespace

// Every writer with an output folder beyond MAX_PATH, with the heap checked:
// the output is written (or the run fails in words naming it), nothing is
// corrupted and no temporary file stays behind.
TEST(Host, LongOutputFoldersAreSafeForEveryWriter)
{
    TempFolder folder;
    std::wstring deep = folder.Path();
    for (int level = 0; level < 4; ++level) {
        deep += L"\\" + std::wstring(80, L'\x4344');
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    const ScopedEnvironment heapChecks(L"WINEDEBUG", L"warn+heap");
    struct Row
    {
        std::wstring arguments;
        std::wstring output;
    };
    const Row rows[] = {
        {L"convert waypoints " + Quoted(Samples() + L"lakes.wpt"), deep + L"\\o.upt"},
        {L"convert track " + Quoted(Samples() + L"ridge-walk.plt"), deep + L"\\o.log"},
        {L"convert kml " + Quoted(Samples() + L"alpine-huts.kml"), deep + L"\\k.upt"},
        {L"map edit " + Quoted(Samples() + L"tervolin-sample.imi"), deep + L"\\m.imi"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.arguments.begin(), row.arguments.begin() + 20));
        const ProcessResult result = RunHost(row.arguments + L" " + Quoted(row.output));
        EXPECT_EQ(0u, result.exitCode) << result.errors;
        EXPECT_EQ(std::string::npos, result.errors.find("heap")) << result.errors;
        EXPECT_TRUE(FileExists(row.output));
    }
    const ProcessResult extracted =
        RunHost(L"map extract " + Quoted(Samples() + L"tervolin-sample.imi") + L" " + Quoted(deep));
    EXPECT_EQ(0u, extracted.exitCode) << extracted.errors;
    EXPECT_EQ(std::string::npos, extracted.errors.find("heap")) << extracted.errors;
    EXPECT_FALSE(HasTemporaryFiles(deep));
}

// Device names are never outputs: the run fails in words and no device is
// opened for writing.
TEST(Host, DevicesAreRefusedAsOutputs)
{
    const std::wstring destinations[] = {L"COM1", L"nul.upt", L"\\\\.\\COM2", L"C:\\temp\\lpt1.log"};
    for (const std::wstring& destination : destinations) {
        const std::wstring commands[] = {
            L"convert waypoints " + Quoted(Samples() + L"lakes.wpt"),
            L"map edit " + Quoted(Samples() + L"tervolin-sample.imi"),
        };
        for (const std::wstring& command : commands) {
            const ProcessResult result = RunHost(command + L" " + Quoted(destination));
            EXPECT_EQ(1u, result.exitCode) << result.errors;
            EXPECT_NE(std::string::npos, result.errors.find("(0x8007007B)")) << result.errors;
        }
    }
}

// An output that cannot be written is told in words that say what to do,
// the same as in the wizards, with the code at the end; nothing is written
// and the input stays as it was.
TEST(Host, UnusableOutputsAreToldInWords)
{
    TempFolder folder;
    const std::wstring input = folder.File(L"in.wpt");
    WriteFileBytes(input, c_waypoints);
    const std::wstring nowhere = folder.File(L"nowhere");
    struct Row
    {
        std::wstring output;
        std::wstring expected; // the whole line after "tervolin: "
    };
    const Row rows[] = {
        {L"", L"The output file is missing: give the path of the file to write. (0x8007007B)"},
        {input, input + L": Choose another file for the output: it is the file being read. (0x80070020)"},
        {nowhere + L"\\out.upt",
         nowhere + L"\\out.upt: The folder " + nowhere + L" does not exist. (0x80070003)"},
        {folder.Path(), folder.Path() + L": " + folder.Path() +
                            L" is a folder: give the name of a file in it for the output. (0x80070005)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(WideToUtf8(row.output));
        const ProcessResult result = RunHost(L"convert waypoints " + Quoted(input) + L" " + Quoted(row.output));
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_EQ("tervolin: " + WideToUtf8(row.expected) + "\n", result.errors);
        EXPECT_EQ(c_waypoints, ReadFileBytes(input));
        EXPECT_FALSE(HasTemporaryFiles(folder.Path()));
    }
}

// tervolin language sets the value the module reads for its satellite and
// removes it again; nothing else under the key changes.
TEST(Host, LanguageSetsTheValueTheModuleReads)
{
    constexpr wchar_t key[] = L"SOFTWARE\\Norvask\\Tervolin\\Locale";
    const auto value = [&](const wchar_t* name) -> std::optional<DWORD> {
        DWORD data = 0;
        DWORD size = sizeof data;
        if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return data;
    };
    const DWORD other = 1036;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Default", REG_DWORD, &other, sizeof other));
    ScopeExit cleanUp([&] {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Default");
        RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Tervolin");
    });

    EXPECT_EQ(0u, RunHost(L"language de").exitCode);
    EXPECT_EQ(1031u, value(L"Tervolin"));
    EXPECT_EQ(0u, RunHost(L"language en").exitCode);
    EXPECT_EQ(1033u, value(L"Tervolin"));
    EXPECT_EQ(0u, RunHost(L"language system").exitCode);
    EXPECT_EQ(std::nullopt, value(L"Tervolin"));
    EXPECT_EQ(0u, RunHost(L"language system").exitCode);
    EXPECT_EQ(other, value(L"Default"));

    EXPECT_EQ(2u, RunHost(L"language fr").exitCode);
    EXPECT_EQ(2u, RunHost(L"language").exitCode);
    EXPECT_EQ(std::nullopt, value(L"Tervolin"));
    const ProcessResult help = RunHost(L"language --help");
    EXPECT_EQ(0u, help.exitCode);
    EXPECT_NE(std::string::npos, help.output.find("HKEY_CURRENT_USER\\SOFTWARE\\Norvask\\Tervolin\\Locale"));
}
