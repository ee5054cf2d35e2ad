#include "diagnostics/ExceptionReport.h"

#include <oaidl.h>
#include <oledb.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>

#include "base/FilePath.h"
#include "base/Handle.h"
#include "base/ModuleFile.h"
#include "diagnostics/CallStack.h"

namespace {

constexpr const wchar_t* c_kindNames[] = {L"Exception", L"Unhandled Exception"};
constexpr size_t c_parametersLineLimit = 212;
constexpr int c_nestedRecordLimit = 32;
constexpr size_t c_dateCharacters = 80;

struct BstrTraits
{
    using Type = BSTR;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type s) noexcept { SysFreeString(s); }
};
using UniqueBstr = UniqueAny<BstrTraits>;

std::wstring FormatDate(DWORD flags, const SYSTEMTIME* time, const wchar_t* format)
{
    wchar_t text[c_dateCharacters];
    return GetDateFormatW(LOCALE_USER_DEFAULT, flags, time, format, text, c_dateCharacters) ? text : L"";
}

std::wstring FormatTime(DWORD flags, const SYSTEMTIME* time, const wchar_t* format)
{
    wchar_t text[c_dateCharacters];
    return GetTimeFormatW(LOCALE_USER_DEFAULT, flags, time, format, text, c_dateCharacters) ? text : L"";
}

// The creation time as the file system stores it (UTC), as "dd.MM.yyyy, HH:mm".
std::wstring FileCreationTime(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    SYSTEMTIME time;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) ||
        !FileTimeToSystemTime(&attributes.ftCreationTime, &time))
        return {};
    return FormatDate(0, &time, L"dd'.'MM'.'yyyy") + L", " +
           FormatTime(TIME_NOSECONDS | TIME_NOTIMEMARKER, &time, L"HH':'mm");
}

void WriteProcessLine(ExceptionReportWriter& writer)
{
    const std::wstring application = ModuleFilePath(nullptr);
    writer.Line(L"Process: 0x%08x, Thread: 0x%08x, Date: %s, Time: %s, Application: %s", GetCurrentProcessId(),
                GetCurrentThreadId(), FormatDate(0, nullptr, nullptr).c_str(), FormatTime(0, nullptr, nullptr).c_str(),
                std::wstring(FileNamePart(application)).c_str());
}

DWORD AddressValue(const void* address) noexcept
{
    return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(address));
}

void WriteRecordBlock(ExceptionReportWriter& writer, const EXCEPTION_RECORD& record)
{
    writer.Line(L"Code: 0x%08x, Flags: 0x%08x, Address: 0x%08x", record.ExceptionCode, record.ExceptionFlags,
                AddressValue(record.ExceptionAddress));
    const DWORD count = std::min<DWORD>(record.NumberParameters, EXCEPTION_MAXIMUM_PARAMETERS);
    if (count > 0) {
        std::wstring line;
        for (DWORD i = 0; i < count; ++i) {
            wchar_t item[24];
            swprintf(item, 24, i == 0 ? L"Parameters: 0x%08x" : L", 0x%08x",
                     static_cast<DWORD>(record.ExceptionInformation[i]));
            line += item;
        }
        line.resize(std::min(line.size(), c_parametersLineLimit));
        writer.Line(L"%s", line.c_str());
    }
    if (record.ExceptionCode == c_nativeExceptionCode && count >= 2) {
        const auto* object = reinterpret_cast<const DWORD*>(record.ExceptionInformation[1]);
        if (!IsBadReadPtr(object, sizeof *object))
            writer.Line(L"Native Parameters: 0x%08x, ...", *object);
    }
    writer.Line(L"");
}

void WriteNestedRecords(ExceptionReportWriter& writer, const EXCEPTION_RECORD& record)
{
    const EXCEPTION_RECORD* nested = record.ExceptionRecord;
    for (int i = 0; nested && i < c_nestedRecordLimit; ++i, nested = nested->ExceptionRecord) {
        writer.Line(L"** Nested Exception");
        WriteRecordBlock(writer, *nested);
    }
}

// "GUID {...}, Source ..., Description ..." with the parts the object has,
// or "(no details)".
std::wstring DescribeErrorObject(IErrorInfo& info)
{
    std::wstring line;
    auto add = [&line](const wchar_t* label, const wchar_t* value) {
        if (!line.empty())
            line += L", ";
        line += label;
        line += value;
    };
    GUID guid{};
    if (SUCCEEDED(info.GetGUID(&guid)) && guid != GUID_NULL) {
        wchar_t text[40];
        StringFromGUID2(guid, text, 40);
        add(L"GUID ", text);
    }
    UniqueBstr source;
    if (SUCCEEDED(info.GetSource(source.Put())) && SysStringLen(source.Get()) > 0)
        add(L"Source ", source.Get());
    UniqueBstr description;
    if (SUCCEEDED(info.GetDescription(description.Put())) && SysStringLen(description.Get()) > 0)
        add(L"Description ", description.Get());
    return line.empty() ? L"(no details)" : line;
}

void WriteErrorRecords(ExceptionReportWriter& writer, IErrorInfo& info)
{
    ComPtr<IErrorRecords> records;
    ULONG count = 0;
    if (FAILED(info.QueryInterface(IID_IErrorRecords, records.PutVoid())) ||
        FAILED(records->GetRecordCount(&count)))
        return;
    for (ULONG i = 1; i <= count; ++i) {
        ComPtr<IErrorInfo> record;
        if (SUCCEEDED(records->GetErrorInfo(i - 1, LOCALE_USER_DEFAULT, record.Put())) && record)
            writer.Line(L"Error Record %d: %s", i, DescribeErrorObject(*record.Get()).c_str());
    }
}

// Reading the error object takes it from the thread; it is given back so
// that the caller of a failing COM member still receives it.
void WriteErrorInformation(ExceptionReportWriter& writer)
{
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK || !info)
        return;
    ScopeExit restore([&info] { SetErrorInfo(0, info.Get()); });
    writer.Line(L"** Error Information");
    writer.Line(L"%s", DescribeErrorObject(*info.Get()).c_str());
    WriteErrorRecords(writer, *info.Get());
    writer.Line(L"");
}

void WriteReportBody(ExceptionReportWriter& writer, const ExceptionReportModule& module, ExceptionReportKind kind,
                     const EXCEPTION_RECORD& record, const CONTEXT& context)
{
    writer.Line(L"*** %s", c_kindNames[static_cast<int>(kind)]);
    WriteProcessLine(writer);
    writer.Line(L"%s", module.line.c_str());
    WriteRecordBlock(writer, record);
    WriteCallStack(writer, module.handle, context);
    WriteNestedRecords(writer, record);
    if (kind == ExceptionReportKind::Exception)
        WriteErrorInformation(writer);
    writer.Line(L"");
}

} // namespace

void ExceptionReportWriter::Line(const wchar_t* format, ...) noexcept
{
    wchar_t text[c_lineCharacters];
    va_list arguments;
    va_start(arguments, format);
    const int length = _vsnwprintf(text, c_lineCharacters - 1, format, arguments);
    va_end(arguments);
    // A cut line gives -1 from the system's formatter and the full length
    // from a C99 one: either way the line ends at the buffer's last slot.
    const bool cut = length < 0 || static_cast<size_t>(length) >= c_lineCharacters - 1;
    text[cut ? c_lineCharacters - 1 : static_cast<size_t>(length)] = L'\0';

    // A character of a double-byte code page needs at most two bytes.
    char bytes[2 * c_lineCharacters + 2];
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof bytes - 2, nullptr, nullptr);
    size = size > 0 ? size - 1 : 0;
    bytes[size++] = '\r';
    bytes[size++] = '\n';
    Append(bytes, static_cast<size_t>(size));
}

void ExceptionReportWriter::Append(const char* bytes, size_t size) noexcept
{
    if (size > c_bufferSize - m_used)
        Flush();
    std::memcpy(m_buffer + m_used, bytes, size);
    m_used += size;
}

void ExceptionReportWriter::Flush() noexcept
{
    if (m_used > 0)
        AppendToExceptionLog(m_log, m_buffer, static_cast<DWORD>(m_used));
    m_used = 0;
}

ExceptionReportModule DescribeReportingModule(HMODULE module)
{
    ExceptionReportModule description;
    description.handle = module;
    const std::wstring path = ModuleFilePath(module);
    const std::wstring fileName(FileNamePart(path));
    std::wstring productVersion, fileVersion;
    if (const auto info = FixedFileInfo(module)) {
        productVersion = FormatVersion(info->dwProductVersionMS, info->dwProductVersionLS);
        fileVersion = FormatVersion(info->dwFileVersionMS, info->dwFileVersionLS);
    }
    description.line = L"Module: " + fileName + L", Product Version: " + productVersion + L", File Version: " +
                       fileVersion + L", File Time: " + FileCreationTime(path);
    description.log = ExceptionLogPathsFor(fileName);
    return description;
}

void WriteExceptionReport(const ExceptionReportModule& module, ExceptionReportKind kind,
                          const EXCEPTION_RECORD& record, const CONTEXT& context) noexcept
{
    ExceptionReportWriter writer(module.log);
    try {
        WriteReportBody(writer, module, kind, record, context);
    } catch (...) {
        // The report ends here; what was collected is still written.
    }
    writer.Flush();
}
