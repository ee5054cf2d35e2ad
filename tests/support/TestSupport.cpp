#include "support/TestSupport.h"


#include <vector>

#include "base/Handle.h"

namespace {

std::wstring TempPath()
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    return base;
}

// Deletes a folder and everything in it, depth first, with the plain file
// calls: paths beyond MAX_PATH included (the shell's file operation cuts
// such paths and then works on the wrong folder).
void DeleteTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
            if (folder) {
                DeleteTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

} // namespace

TempFolder::TempFolder()
{
    static LONG counter = 0;
    for (;;) {
        m_path = TempPath() + L"tervolin-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(InterlockedIncrement(&counter));
        if (CreateDirectoryW(m_path.c_str(), nullptr))
            return;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            ThrowLastError();
    }
}

TempFolder::TempFolder(const std::wstring& name) : m_path(TempPath() + name)
{
    DeleteTree(m_path);
    if (!CreateDirectoryW(m_path.c_str(), nullptr))
        ThrowLastErrorFor(m_path);
}

TempFolder::~TempFolder()
{
    DeleteTree(m_path);
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Sentence(const std::string& body)
{
    unsigned char sum = 0;
    for (size_t i = 1; i < body.size(); ++i)
        sum ^= static_cast<unsigned char>(body[i]);
    static const char c_hex[] = "0123456789ABCDEF";
    return body + "*" + c_hex[sum >> 4] + c_hex[sum & 0x0F] + "\r\n";
}

std::wstring EnvironmentValue(const wchar_t* name)
{
    const DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
    if (length == 0)
        return {};
    std::wstring value(length, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), length));
    return value;
}

std::wstring TestDataFolder()
{
    std::wstring folder = EnvironmentValue(L"TERVOLIN_TESTDATA");
    if (folder.empty() || GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
        return {};
    return folder;
}

CommaDecimalLocale::CommaDecimalLocale() : m_threadLocale(GetThreadLocale())
{
    wchar_t decimal[8] = L"";
    GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, 8);
    m_decimal = decimal;
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    SetThreadLocale(german);
    SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, L",");
}

CommaDecimalLocale::~CommaDecimalLocale()
{
    SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, m_decimal.c_str());
    SetThreadLocale(m_threadLocale);
}

namespace {

// Reads a pipe to its end on a thread of its own, so that a child writing
// much to both streams cannot block on a full pipe.
struct PipeReader
{
    UniqueHandle read;
    UniqueHandle thread;
    std::string text;

    static DWORD WINAPI Drain(void* context)
    {
        auto* self = static_cast<PipeReader*>(context);
        char buffer[4096];
        DWORD count = 0;
        while (ReadFile(self->read.Get(), buffer, sizeof buffer, &count, nullptr) && count > 0)
            self->text.append(buffer, count);
        return 0;
    }
};

void CreateInheritablePipe(UniqueHandle& read, UniqueHandle& write)
{
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    ThrowLastErrorIf(!CreatePipe(&r, &w, &attributes, 0));
    read.Reset(r);
    write.Reset(w);
    SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0);
}

} // namespace

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMilliseconds)
{
    PipeReader output;
    PipeReader errors;
    UniqueHandle outputWrite;
    UniqueHandle errorsWrite;
    CreateInheritablePipe(output.read, outputWrite);
    CreateInheritablePipe(errors.read, errorsWrite);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outputWrite.Get();
    startup.hStdError = errorsWrite.Get();
    PROCESS_INFORMATION process{};
    std::wstring mutableLine = commandLine;
    ThrowLastErrorIf(!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                     &startup, &process));
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    outputWrite.Reset();
    errorsWrite.Reset();
    output.thread.Reset(CreateThread(nullptr, 0, PipeReader::Drain, &output, 0, nullptr));
    errors.thread.Reset(CreateThread(nullptr, 0, PipeReader::Drain, &errors, 0, nullptr));

    ProcessResult result;
    if (WaitForSingleObject(processHandle.Get(), timeoutMilliseconds) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.Get(), 0xDEAD);
        WaitForSingleObject(processHandle.Get(), INFINITE);
    }
    GetExitCodeProcess(processHandle.Get(), &result.exitCode);
    WaitForSingleObject(output.thread.Get(), INFINITE);
    WaitForSingleObject(errors.thread.Get(), INFINITE);
    result.output = std::move(output.text);
    result.errors = std::move(errors.text);
    return result;
}

ProcessResult RunHost(const std::wstring& arguments)
{
    return RunProcess(L"\"" + EnvironmentValue(L"TERVOLIN_BIN") + L"\\tervolin.exe\" " + arguments);
}
