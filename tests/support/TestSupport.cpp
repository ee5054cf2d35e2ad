#include "support/TestSupport.h"

#include <shellapi.h>

#include <vector>

#include "base/Handle.h"

TempFolder::TempFolder()
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    for (;;) {
        m_path = std::wstring(base) + L"tervolin-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(InterlockedIncrement(&counter));
        if (CreateDirectoryW(m_path.c_str(), nullptr))
            return;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            ThrowLastError();
    }
}

TempFolder::~TempFolder()
{
    std::wstring from = m_path;
    from.push_back(L'\0'); // double NUL terminated list
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationW(&operation);
}

std::string ReadFileBytes(const std::wstring& path)
{
    UniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    if (!file)
        ThrowLastErrorFor(path);
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueHFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file)
        ThrowLastErrorFor(path);
    DWORD written = 0;
    ThrowLastErrorIf(!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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
