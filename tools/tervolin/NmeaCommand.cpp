// tervolin nmea SOURCE [--raw] [--timeout MS] [--seconds N]
//
// Creates a SerialInterpreter (and for a port a SerialConnection) through
// the class objects of Tervolin.dll, as any client would, and prints one
// JSON line per event. SOURCE is a capture file, whose lines are fed to the
// interpreter's Input in batches, or a port (COM7, or auto for the
// connection's AssumedPort), read until Ctrl+C or for N seconds.
#include <windows.h>
#include <ocidl.h>

#include <cmath>
#include <cwchar>
#include <span>

#include "Commands.h"
#include "Console.h"
#include "base/ErrorText.h"
#include "ServerModule.h"
#include "base/Text.h"
#include "gps/LineAssembler.h"
#include "gps/Tervolin_h.h"

namespace {

constexpr size_t c_batchLines = 64;
constexpr size_t c_flushCharacters = 64 * 1024;

const wchar_t c_usage[] =
    L"Usage: tervolin nmea SOURCE [--raw] [--timeout MS] [--seconds N]\n"
    L"\n"
    L"Interprets NMEA 0183 sentences with the automation objects of Tervolin.dll and prints\n"
    L"one JSON line per event. SOURCE is a capture file or a serial port (COM7, or \"auto\"\n"
    L"for the first USB serial port). A port is read until Ctrl+C, or for N seconds; its\n"
    L"Error and Timeout events are printed too, and with --raw every received line.\n"
    L"--timeout sets the silence interval of the connection in milliseconds.\n";

// How one event is printed: its name and the names of its arguments; a
// name starting with '#' prints an integer in hexadecimal.
struct EventFormat
{
    DISPID id;
    const wchar_t* name;
    std::initializer_list<const wchar_t*> arguments;
};

const EventFormat c_interpreterEvents[] = {
    {100, L"SatellitesInView", {L"satellites"}},
    {101, L"GeographicLatitudeAndLongitude", {L"latitude", L"longitude", L"time", L"active"}},
    {102, L"RecommendedMinimumC", {L"time", L"active", L"latitude", L"longitude", L"speed", L"course", L"date"}},
    {103,
     L"SatellitesActive",
     {L"automatic", L"fixType", L"numbers", L"positionDilution", L"horizontalDilution", L"verticalDilution"}},
    {200,
     L"Status",
     {L"softwareVersion", L"fixType", L"fixAvailable", L"batteryLevel", L"estimatedBatteryHours",
      L"oscillatorOffset", L"proprietaryInformation"}},
};

const EventFormat c_connectionEvents[] = {
    {1, L"Error", {L"#code"}},
    {2, L"Input", {L"lines"}},
    {3, L"Timeout", {L"milliseconds"}},
};

void AppendJsonString(std::wstring& out, std::wstring_view text)
{
    out += L'"';
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += L'\\';
            out += c;
        } else if (c < 0x20) {
            wchar_t escaped[8];
            std::swprintf(escaped, std::size(escaped), L"\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += L'"';
}

// An automation date: "yyyy-mm-dd" for a day, "hh:mm:ss.sss" for a time of
// day (day part 0), both for anything else.
void AppendDate(std::wstring& out, double date)
{
    SYSTEMTIME time{};
    const double day = std::floor(date);
    const double milliseconds = std::round((date - day) * 86400000.0);
    wchar_t text[40];
    // The platform's conversion is slow and a capture holds few days.
    static double lastDay = 0;
    static std::wstring lastDayText;
    if (day != 0 && day != lastDay && VariantTimeToSystemTime(day, &time)) {
        lastDay = day;
        lastDayText.assign(text, std::swprintf(text, std::size(text), L"%04u-%02u-%02u", time.wYear, time.wMonth,
                                               time.wDay));
    }
    if (day != 0 && day == lastDay)
        out += lastDayText;
    if (day != 0 && milliseconds == 0)
        return;
    const auto total = static_cast<unsigned long long>(milliseconds);
    out += std::wstring(text, std::swprintf(text, std::size(text), L"%s%02llu:%02llu:%02llu.%03llu",
                                            day != 0 ? L"T" : L"", total / 3600000, total / 60000 % 60,
                                            total / 1000 % 60, total % 1000));
}

void AppendValue(std::wstring& out, const VARIANT& value, bool hexadecimal);

void AppendArray(std::wstring& out, SAFEARRAY* array)
{
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    const auto* elements = static_cast<const VARIANT*>(array->pvData);
    out += L'[';
    for (LONG i = 0; i <= upper - lower; ++i) {
        if (i > 0)
            out += L',';
        AppendValue(out, elements[i], false);
    }
    out += L']';
}

void AppendValue(std::wstring& out, const VARIANT& value, bool hexadecimal)
{
    wchar_t number[32];
    switch (value.vt) {
    case VT_I4:
        if (hexadecimal)
            out += L'"' + std::wstring(number, std::swprintf(number, 32, L"0x%08lX", value.lVal)) + L'"';
        else
            out += std::to_wstring(value.lVal);
        break;
    case VT_R8:
        out.append(number, std::swprintf(number, 32, L"%.10g", value.dblVal));
        break;
    case VT_BOOL:
        out += value.boolVal ? L"true" : L"false";
        break;
    case VT_BSTR:
        AppendJsonString(out, std::wstring_view(value.bstrVal, SysStringLen(value.bstrVal)));
        break;
    case VT_DATE:
        out += L'"';
        AppendDate(out, value.date);
        out += L'"';
        break;
    case VT_ARRAY | VT_VARIANT:
        AppendArray(out, value.parray);
        break;
    default:
        out += L"null";
        break;
    }
}

// An event sink that prints each event it knows as one JSON line into the
// output buffer. Lives on the stack of the command; COM references are
// only counted.
class PrintingSink final : public IDispatch
{
public:
    PrintingSink(REFIID events, std::span<const EventFormat> formats, std::wstring& output, bool printInput)
        : m_events(events), m_formats(formats), m_output(output), m_printInput(printInput)
    {
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == m_events) {
            *result = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
    STDMETHODIMP_(ULONG) Release() override { return --m_references; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (id == 2 && &m_events == &DIID__SerialConnectionEvents && !m_printInput)
            return S_OK;
        for (const auto& format : m_formats) {
            if (format.id != id)
                continue;
            m_output += L"{\"event\":\"";
            m_output += format.name;
            m_output += L'"';
            UINT index = parameters->cArgs;
            for (const wchar_t* name : format.arguments) {
                if (index == 0)
                    break;
                const bool hexadecimal = name[0] == L'#';
                m_output += L",\"";
                m_output += name + (hexadecimal ? 1 : 0);
                m_output += L"\":";
                AppendValue(m_output, parameters->rgvarg[--index], hexadecimal);
            }
            m_output += L"}\n";
        }
        return S_OK;
    }

    // Connects to the object's connection point for the sink's events.
    void Advise(IUnknown* object)
    {
        ComPtr<IConnectionPointContainer> container = ComPtr<IUnknown>(object).As<IConnectionPointContainer>();
        ThrowIfFailed(container->FindConnectionPoint(m_events, m_point.Put()));
        ThrowIfFailed(m_point->Advise(static_cast<IDispatch*>(this), &m_cookie));
    }

    ~PrintingSink()
    {
        if (m_point)
            m_point->Unadvise(m_cookie);
    }

private:
    const IID& m_events;
    std::span<const EventFormat> m_formats;
    std::wstring& m_output;
    bool m_printInput;
    ULONG m_references = 1;
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
};

void Flush(std::wstring& output)
{
    if (!output.empty())
        PrintOut(output);
    output.clear();
}

// A VT_ARRAY|VT_VARIANT of the lines as BSTRs, as a connection sends them.
class LineBatch
{
public:
    explicit LineBatch(std::span<const std::string> lines)
    {
        SAFEARRAYBOUND bound{static_cast<ULONG>(lines.size()), 0};
        VariantInit(&m_value);
        m_value.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
        if (!m_value.parray)
            ThrowHr(E_OUTOFMEMORY);
        m_value.vt = VT_ARRAY | VT_VARIANT;
        auto* elements = static_cast<VARIANT*>(m_value.parray->pvData);
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::wstring line = AnsiToWide(lines[i]);
            elements[i].bstrVal = SysAllocStringLen(line.data(), static_cast<UINT>(line.size()));
            if (!elements[i].bstrVal)
                ThrowHr(E_OUTOFMEMORY);
            elements[i].vt = VT_BSTR;
        }
    }
    ~LineBatch() { VariantClear(&m_value); }
    LineBatch(const LineBatch&) = delete;
    LineBatch& operator=(const LineBatch&) = delete;

    const VARIANT& Value() const { return m_value; }

private:
    VARIANT m_value;
};

std::string ReadWholeFile(const std::wstring& path)
{
    UniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        ThrowLastErrorFor(path);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size))
        ThrowLastErrorFor(path);
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr))
            ThrowLastErrorFor(path);
        if (read == 0)
            break;
        done += read;
    }
    bytes.resize(done);
    return bytes;
}

void InterpretFile(const ServerModule& server, const std::wstring& path)
{
    std::string bytes = ReadWholeFile(path);
    bytes += '\n'; // the last line may lack its line end
    std::vector<std::string> lines;
    CLineAssembler().Append(bytes, lines);
    bytes.clear();

    ComPtr<ISerialInterpreter> interpreter = server.Create<ISerialInterpreter>(__uuidof(CSerialInterpreter));
    std::wstring output;
    PrintingSink sink(DIID__SerialInterpreterEvents, c_interpreterEvents, output, false);
    sink.Advise(interpreter.Get());
    ComPtr<ISerialConnectionEvents> input = interpreter.As<ISerialConnectionEvents>();
    for (size_t start = 0; start < lines.size(); start += c_batchLines) {
        const LineBatch batch(std::span<const std::string>(lines).subspan(start, std::min(c_batchLines, lines.size() - start)));
        ThrowIfFailed(input->Input(batch.Value()));
        if (output.size() >= c_flushCharacters)
            Flush(output);
    }
    Flush(output);
}

DWORD g_mainThread = 0;

BOOL WINAPI StopOnControl(DWORD)
{
    PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
    return TRUE;
}

// Pumps the thread's messages (the connection's window fires its events
// here) until Ctrl+C or the time limit; prints after each round.
void RunMessageLoop(DWORD seconds, std::wstring& output)
{
    g_mainThread = GetCurrentThreadId();
    SetConsoleCtrlHandler(StopOnControl, TRUE);
    const ULONGLONG end = seconds ? GetTickCount64() + seconds * 1000ull : 0;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (end && now >= end)
            break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end ? static_cast<DWORD>(end - now) : INFINITE, QS_ALLINPUT);
        MSG message;
        bool quit = false;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                quit = true;
            DispatchMessageW(&message);
        }
        Flush(output);
        if (quit)
            break;
    }
    SetConsoleCtrlHandler(StopOnControl, FALSE);
}

struct PortOptions
{
    bool raw = false;
    bool timeoutGiven = false;
    LONG timeout = 0;
    DWORD seconds = 0;
};

void InterpretPort(const ServerModule& server, const std::wstring& port, const PortOptions& options)
{
    ComPtr<ISerialConnection> connection = server.Create<ISerialConnection>(__uuidof(CSerialConnection));
    ComPtr<ISerialInterpreter> interpreter = server.Create<ISerialInterpreter>(__uuidof(CSerialInterpreter));
    std::wstring name = port;
    if (EqualsIgnoreCase(port, L"auto")) {
        BSTR assumed = nullptr;
        ThrowIfFailed(connection->get_AssumedPort(&assumed));
        name.assign(assumed ? assumed : L"");
        SysFreeString(assumed);
        if (name.empty())
            ThrowHr(HResultFromWin32(ERROR_DEV_NOT_EXIST));
    }
    BSTR portName = SysAllocString(name.c_str());
    const HRESULT put = connection->put_Port(portName);
    SysFreeString(portName);
    ThrowIfFailed(put);
    if (options.timeoutGiven)
        ThrowIfFailed(connection->put_Timeout(options.timeout));

    std::wstring output;
    PrintingSink events(DIID__SerialInterpreterEvents, c_interpreterEvents, output, false);
    PrintingSink connectionEvents(DIID__SerialConnectionEvents, c_connectionEvents, output, options.raw);
    events.Advise(interpreter.Get());
    connectionEvents.Advise(connection.Get());
    ThrowIfFailed(interpreter->Initialize(connection.Get()));
    ScopeExit detach([&] {
        connection->Disconnect();
        interpreter->Terminate();
    });
    ThrowIfFailed(connection->Connect());
    RunMessageLoop(options.seconds, output);
}

bool IsPortName(const std::wstring& source)
{
    if (EqualsIgnoreCase(source, L"auto"))
        return true;
    if (source.size() < 4 || !EqualsIgnoreCase(source.substr(0, 3), L"COM"))
        return false;
    return source.find_first_not_of(L"0123456789", 3) == std::wstring::npos;
}

bool ParseCount(const std::wstring& text, unsigned long& value)
{
    wchar_t* end = nullptr;
    value = std::wcstoul(text.c_str(), &end, 10);
    return !text.empty() && *end == L'\0' && text[0] != L'-';
}

} // namespace

int RunNmeaCommand(const Arguments& arguments)
{
    if (arguments.empty() || arguments[0] == L"--help" || arguments[0] == L"-h") {
        (arguments.empty() ? PrintError : PrintOut)(c_usage);
        return arguments.empty() ? c_exitUsage : c_exitSuccess;
    }
    PortOptions options;
    for (size_t i = 1; i < arguments.size(); ++i) {
        unsigned long value = 0;
        if (arguments[i] == L"--raw") {
            options.raw = true;
        } else if (arguments[i] == L"--timeout" && i + 1 < arguments.size() && ParseCount(arguments[i + 1], value)) {
            options.timeoutGiven = true;
            options.timeout = static_cast<LONG>(value);
            ++i;
        } else if (arguments[i] == L"--seconds" && i + 1 < arguments.size() && ParseCount(arguments[i + 1], value)) {
            options.seconds = value;
            ++i;
        } else {
            PrintError(L"tervolin: unknown or incomplete option \"" + arguments[i] + L"\"\n" + c_usage);
            return c_exitUsage;
        }
    }
    const std::wstring& source = arguments[0];
    try {
        const ServerModule server;
        if (IsPortName(source))
            InterpretPort(server, source, options);
        else
            InterpretFile(server, source);
        return c_exitSuccess;
    } catch (const CAtlException& failure) {
        PrintError(L"tervolin: " + DescribeFailure(failure, source) + L"\n");
    } catch (...) {
        PrintError(L"tervolin: " + source + L": " + DescribeResult(ResultFromCaughtException()) + L"\n");
    }
    return c_exitFailure;
}
