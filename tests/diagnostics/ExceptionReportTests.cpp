#include "diagnostics/ExceptionReport.h"

#include "base/ModuleFile.h"
#include "diagnostics/CallStack.h"

#include <oledb.h>

#include <cstdio>
#include <regex>

#include "LogTestSupport.h"
#include "base/FilePath.h"
#include "base/Handle.h"
#include "support/TestSupport.h"

namespace {

std::string Hex(ULONG_PTR value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

EXCEPTION_RECORD Record(DWORD code, DWORD flags, ULONG_PTR address, std::initializer_list<ULONG_PTR> parameters)
{
    EXCEPTION_RECORD record{};
    record.ExceptionCode = code;
    record.ExceptionFlags = flags;
    record.ExceptionAddress = reinterpret_cast<void*>(address);
    for (ULONG_PTR parameter : parameters)
        record.ExceptionInformation[record.NumberParameters++] = parameter;
    return record;
}

// Writes one report into a log of its own and returns its lines.
class ReportTest : public testing::Test
{
protected:
    ReportTest() : m_module(DescribeReportingModule(GetModuleHandleW(nullptr)))
    {
        m_module.log = ExceptionLogPaths{m_folder.File(L"Test.log"), L"", L""};
    }
    ~ReportTest() override { SetErrorInfo(0, nullptr); }

    std::vector<std::string> Report(const EXCEPTION_RECORD& record,
                                    ExceptionReportKind kind = ExceptionReportKind::Exception)
    {
        CONTEXT context{};
        RtlCaptureContext(&context);
        WriteExceptionReport(m_module, kind, record, context);
        const auto reports = SplitReports(ReadFileBytes(m_module.log.primary));
        DeleteFileW(m_module.log.primary.c_str());
        EXPECT_EQ(reports.size(), 1u);
        return reports.empty() ? std::vector<std::string>() : reports.front();
    }

    TempFolder m_folder;
    ExceptionReportModule m_module;
};

TEST_F(ReportTest, OpensWithKindProcessAndModule)
{
    const auto record = Record(0xC0000005, 0, 0x1000, {});
    for (auto [kind, name] : {std::pair{ExceptionReportKind::Exception, "*** Exception"},
                              std::pair{ExceptionReportKind::UnhandledException, "*** Unhandled Exception"}}) {
        const auto report = Report(record, kind);
        ASSERT_GE(report.size(), 4u);
        EXPECT_EQ(report[0], name);
        const std::regex process("Process: " + Hex(GetCurrentProcessId()) + ", Thread: " +
                                 Hex(GetCurrentThreadId()) +
                                 ", Date: [^,]+, Time: [^,]+, Application: diagnostics_report_tests\\.exe");
        EXPECT_TRUE(std::regex_match(report[1], process)) << report[1];
        // The test program has no version resource: the versions are empty.
        const std::regex module("Module: diagnostics_report_tests\\.exe, Product Version: , File Version: , "
                                "File Time: \\d\\d\\.\\d\\d\\.\\d{4}, \\d\\d:\\d\\d");
        EXPECT_TRUE(std::regex_match(report[2], module)) << report[2];
        EXPECT_EQ(report.back(), "");
    }
}

TEST_F(ReportTest, RecordBlockShowsParametersAndTheThrownObject)
{
    const DWORD thrown = 0x80070005;
    const auto object = reinterpret_cast<ULONG_PTR>(&thrown);
    struct Case
    {
        const char* name;
        EXCEPTION_RECORD record;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"no parameters",
         Record(0xC0000094, 0, 0x401000, {}),
         {"Code: 0xc0000094, Flags: 0x00000000, Address: 0x00401000"}},
        {"access violation",
         Record(0xC0000005, 0, 0x401234, {1, 0x10}),
         {"Code: 0xc0000005, Flags: 0x00000000, Address: 0x00401234", "Parameters: 0x00000001, 0x00000010"}},
        {"thrown object",
         Record(0xE06D7363, 1, 0x401000, {0x19930520, object, 0}),
         {"Code: 0xe06d7363, Flags: 0x00000001, Address: 0x00401000",
          "Parameters: 0x19930520, " + Hex(object) + ", 0x00000000", "Native Parameters: 0x80070005, ..."}},
        {"thrown object that cannot be read",
         Record(0xE06D7363, 1, 0x401000, {0x19930520, 0x10, 0}),
         {"Code: 0xe06d7363, Flags: 0x00000001, Address: 0x00401000",
          "Parameters: 0x19930520, 0x00000010, 0x00000000"}},
        {"thrown object without its parameter",
         Record(0xE06D7363, 1, 0x401000, {0x19930520}),
         {"Code: 0xe06d7363, Flags: 0x00000001, Address: 0x00401000", "Parameters: 0x19930520"}},
        {"fifteen parameters",
         Record(0xE0000001, 0, 0x401000, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}),
         {"Code: 0xe0000001, Flags: 0x00000000, Address: 0x00401000",
          "Parameters: 0x00000001, 0x00000002, 0x00000003, 0x00000004, 0x00000005, 0x00000006, 0x00000007, "
          "0x00000008, 0x00000009, 0x0000000a, 0x0000000b, 0x0000000c, 0x0000000d, 0x0000000e, 0x0000000f"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto report = Report(c.record);
        EXPECT_EQ(Block(report, c.expected.front()), c.expected);
    }
}

TEST_F(ReportTest, CallStackNamesTheFunctionsOfTheProgram)
{
    const auto report = Report(Record(0xC0000005, 0, 0x1000, {}));
    const auto stack = Block(report, "** Call Stack");
    ASSERT_GE(stack.size(), 3u);
    const std::regex frame(R"((\w+)?!0x[0-9a-f]{8}( .+ \(\+ \d+\))?( \[.+, \d+\] \(\+ \d+\))?)");
    for (size_t i = 1; i < stack.size(); ++i)
        EXPECT_TRUE(std::regex_match(stack[i], frame)) << stack[i];
    EXPECT_LE(stack.size(), 16u);
    EXPECT_NE(stack[1].find("diagnostics_report_tests!0x"), std::string::npos) << stack[1];
    EXPECT_NE(stack[1].find("ExceptionReportTests.cpp, "), std::string::npos) << stack[1];
}

TEST_F(ReportTest, NestedRecordsFollowInChainOrder)
{
    auto innermost = Record(0xC0000005, 0, 0x3000, {0, 0});
    auto inner = Record(0xC0000094, 0, 0x2000, {});
    inner.ExceptionRecord = &innermost;
    auto outer = Record(0xC0000025, 1, 0x1000, {});
    outer.ExceptionRecord = &inner;

    const auto report = Report(outer);

    std::vector<std::string> nested;
    for (size_t i = 0; i + 1 < report.size(); ++i) {
        if (report[i] == "** Nested Exception")
            nested.push_back(report[i + 1]);
    }
    EXPECT_EQ(nested, (std::vector<std::string>{"Code: 0xc0000094, Flags: 0x00000000, Address: 0x00002000",
                                                "Code: 0xc0000005, Flags: 0x00000000, Address: 0x00003000"}));
    EXPECT_EQ(Block(report, nested.back()).size(), 2u) << "the parameters of the innermost record";
}

ComPtr<IErrorInfo> MakeErrorObject(const GUID* guid, const wchar_t* source, const wchar_t* description)
{
    ComPtr<ICreateErrorInfo> creator;
    EXPECT_EQ(CreateErrorInfo(creator.Put()), S_OK);
    // Wine's error objects start with an undefined GUID; on Windows it is null.
    creator->SetGUID(guid ? *guid : GUID_NULL);
    if (source)
        creator->SetSource(const_cast<LPOLESTR>(source));
    if (description)
        creator->SetDescription(const_cast<LPOLESTR>(description));
    return creator.As<IErrorInfo>();
}

TEST_F(ReportTest, ErrorInformationLinesHaveTheFieldsTheObjectHas)
{
    struct Case
    {
        const char* name;
        const GUID* guid;
        const wchar_t* source;
        const wchar_t* description;
        const char* expected;
    };
    const Case cases[] = {
        {"nothing", nullptr, nullptr, nullptr, "(no details)"},
        {"empty texts", nullptr, L"", L"", "(no details)"},
        {"all", &IID_IDispatch, L"Norvask.Tervolin", L"The port is busy",
         "GUID {00020400-0000-0000-C000-000000000046}, Source Norvask.Tervolin, Description The port is busy"},
        {"description", nullptr, nullptr, L"The port is busy", "Description The port is busy"},
        {"source and guid", &IID_IDispatch, L"Norvask.Tervolin", nullptr,
         "GUID {00020400-0000-0000-C000-000000000046}, Source Norvask.Tervolin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(SetErrorInfo(0, MakeErrorObject(c.guid, c.source, c.description).Get()), S_OK);
        const auto report = Report(Record(0xE06D7363, 1, 0x1000, {}));
        EXPECT_EQ(Block(report, "** Error Information"),
                  (std::vector<std::string>{"** Error Information", c.expected}));
    }
}

TEST_F(ReportTest, ErrorObjectStaysWithTheThread)
{
    const ComPtr<IErrorInfo> error = MakeErrorObject(nullptr, nullptr, L"kept");
    ASSERT_EQ(SetErrorInfo(0, error.Get()), S_OK);

    Report(Record(0xE06D7363, 1, 0x1000, {}));

    ComPtr<IErrorInfo> after;
    EXPECT_EQ(GetErrorInfo(0, after.Put()), S_OK);
    EXPECT_EQ(after.Get(), error.Get());
}

TEST_F(ReportTest, NoErrorInformationBlockWithoutAnObjectOrForUnhandledExceptions)
{
    EXPECT_TRUE(Block(Report(Record(0xE06D7363, 1, 0x1000, {})), "** Error Information").empty());

    ASSERT_EQ(SetErrorInfo(0, MakeErrorObject(nullptr, nullptr, L"x").Get()), S_OK);
    const auto report = Report(Record(0xC0000005, 0, 0x1000, {}), ExceptionReportKind::UnhandledException);
    EXPECT_TRUE(Block(report, "** Error Information").empty());
}

// An error object with records, as OLE DB providers report failures.
class ErrorWithRecords final : public IErrorInfo, public IErrorRecords
{
public:
    explicit ErrorWithRecords(std::vector<ComPtr<IErrorInfo>> records) : m_records(std::move(records)) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IErrorInfo)
            *object = static_cast<IErrorInfo*>(this);
        else if (iid == IID_IErrorRecords)
            *object = static_cast<IErrorRecords*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

    // IErrorInfo
    HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override
    {
        *guid = GUID_NULL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) override
    {
        *source = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) override
    {
        *description = SysAllocString(L"Two records");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD*) override { return E_NOTIMPL; }

    // IErrorRecords
    HRESULT STDMETHODCALLTYPE AddErrorRecord(ERRORINFO*, DWORD, DISPPARAMS*, IUnknown*, DWORD) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetBasicErrorInfo(ULONG, ERRORINFO*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCustomErrorObject(ULONG, REFIID, IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetErrorInfo(ULONG index, LCID, IErrorInfo** record) override
    {
        if (index >= m_records.size())
            return E_INVALIDARG;
        *record = m_records[index].Get();
        (*record)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetErrorParameters(ULONG, DISPPARAMS*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRecordCount(ULONG* count) override
    {
        *count = static_cast<ULONG>(m_records.size());
        return S_OK;
    }

private:
    ULONG m_references = 1;
    std::vector<ComPtr<IErrorInfo>> m_records;
};

TEST_F(ReportTest, ErrorRecordsAreNumberedFromOne)
{
    ComPtr<IErrorInfo> error;
    error.Attach(static_cast<IErrorInfo*>(new ErrorWithRecords(
        {MakeErrorObject(nullptr, L"Provider", L"First"), MakeErrorObject(nullptr, nullptr, nullptr)})));
    ASSERT_EQ(SetErrorInfo(0, error.Get()), S_OK);

    const auto report = Report(Record(0xE06D7363, 1, 0x1000, {}));

    EXPECT_EQ(Block(report, "** Error Information"),
              (std::vector<std::string>{"** Error Information", "Description Two records",
                                        "Error Record 1: Source Provider, Description First",
                                        "Error Record 2: (no details)"}));
}

TEST(ExceptionReportWriter, LongReportsReachTheLogWholeAndInOrder)
{
    TempFolder folder;
    const ExceptionLogPaths log{folder.File(L"Test.log"), L"", L""};
    std::string expected;
    {
        ExceptionReportWriter writer(log);
        for (int i = 0; i < 1000; ++i) {
            writer.Line(L"line %04d %s", i, std::wstring(60, L'x').c_str());
            char line[80];
            std::snprintf(line, sizeof line, "line %04d %s\r\n", i, std::string(60, 'x').c_str());
            expected += line;
        }
        writer.Flush();
    }
    EXPECT_GT(expected.size(), 2 * ExceptionReportWriter::c_bufferSize);
    EXPECT_EQ(ReadFileBytes(log.primary), expected);
}

TEST(ExceptionReportWriter, LinesAreCutAt1023Characters)
{
    TempFolder folder;
    const ExceptionLogPaths log{folder.File(L"Test.log"), L"", L""};
    {
        ExceptionReportWriter writer(log);
        writer.Line(L"%s", std::wstring(5000, L'y').c_str());
        writer.Line(L"%hs", "narrow");
        writer.Flush();
    }
    EXPECT_EQ(ReadFileBytes(log.primary), std::string(1023, 'y') + "\r\nnarrow\r\n");
}

// Sets an environment variable for the life of the object.
class EnvironmentSetting
{
public:
    EnvironmentSetting(const wchar_t* name, const wchar_t* value) : m_name(name), m_old(EnvironmentValue(name))
    {
        SetEnvironmentVariableW(name, value);
    }
    ~EnvironmentSetting() { SetEnvironmentVariableW(m_name, m_old.empty() ? nullptr : m_old.c_str()); }

private:
    const wchar_t* m_name;
    std::wstring m_old;
};

TEST(SymbolSearchPath, ModuleFoldersThenEnvironmentThenRoots)
{
    EnvironmentSetting symbols(L"_NT_SYMBOL_PATH", L"Z:\\symbols");
    EnvironmentSetting alternate(L"_NT_ALTERNATE_SYMBOL_PATH", L"Z:\\more symbols");
    const std::wstring program = ModuleFilePath(nullptr);
    const std::wstring folder = FolderOf(program);
    const std::wstring path = EnvironmentValue(L"PATH");
    // Values of 1040 characters and more are left out.
    const std::wstring pathEntry = path.size() < 1040 ? path + L";" : L"";

    EXPECT_EQ(SymbolSearchPath(nullptr), folder + L";" + FolderOf(folder) + L";" + pathEntry +
                                             L"Z:\\symbols;Z:\\more symbols;C:\\;");
}

} // namespace
