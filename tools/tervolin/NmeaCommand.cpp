// tervolin nmea SOURCE [--raw] [--timeout MS] [--seconds N]
//
// Creates a SerialInterpreter (and for a port a SerialConnection) through
// the class objects of Tervolin.dll, as any client would, and prints one
// JSON line per event. SOURCE is a capture file, whose lines are fed to the
// interpreter's Input in batches (to its end or for at most N seconds), or
// a port (COM7 or \\.\COM7, or auto for the connection's AssumedPort), read
// until Ctrl+C or for N seconds.
#include <windows.h>
#include <emmintrin.h>
#include <ocidl.h>

#include <array>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "BackgroundReader.h"
#include "CommandBoundary.h"
#include "Commands.h"
#include "Console.h"
#include "PrintingSink.h"
#include "ServerModule.h"
#include "base/Text.h"
#include "gps/LineAssembler.h"
#include "gps/PortName.h"
#include "gps/SerialReader.h"
#include "gps/Tervolin_h.h"

namespace {

constexpr size_t c_batchLines = 64;
constexpr size_t c_flushCharacters = 64 * 1024;

const wchar_t c_usage[] =
    L"Usage: tervolin nmea SOURCE [--raw] [--timeout MS] [--seconds N]\n"
    L"\n"
    L"Interprets NMEA 0183 sentences with the automation objects of Tervolin.dll and prints\n"
    L"one JSON line per event. SOURCE is a serial port (COM7 or \\\\.\\COM7, or \"auto\" for the\n"
    L"first USB serial port) or else a capture file (a FIFO too, but no device). A port is\n"
    L"read until Ctrl+C, or for N seconds; its Error and Timeout events are printed too, and\n"
    L"with --raw every received line. A file is read to its end, or for at most N seconds.\n"
    L"--timeout sets the silence interval of the connection in milliseconds.\n"
    L"\n"
    L"Exit codes: 0 when the file was read, or the port was read until Ctrl+C or the end of\n"
    L"--seconds; 1 when the file cannot be read, when the connection ends with an Error (the\n"
    L"port cannot be opened, or fails before any line arrived, or fails and cannot be opened\n"
    L"again), or when output was lost; 2 for wrong usage. A reader that closes the output\n"
    L"pipe ends the command quietly.\n";

const EventFormat c_interpreterEvents[] = {
    {100, "SatellitesInView", {"satellites"}},
    {101, "GeographicLatitudeAndLongitude", {"latitude", "longitude", "time", "active"}},
    {102, "RecommendedMinimumC", {"time", "active", "latitude", "longitude", "speed", "course", "date"}},
    {103,
     "SatellitesActive",
     {"automatic", "fixType", "numbers", "positionDilution", "horizontalDilution", "verticalDilution"}},
    {200,
     "Status",
     {"softwareVersion", "fixType", "fixAvailable", "batteryLevel", "estimatedBatteryHours",
      "oscillatorOffset", "proprietaryInformation"}},
};

// Input, last, is printed only with --raw.
const EventFormat c_connectionEvents[] = {
    {1, "Error", {"#code"}},
    {3, "Timeout", {"milliseconds"}},
    {2, "Input", {"lines"}},
};

void Flush(std::string& output)
{
    if (!output.empty())
        PrintOutUtf8(output);
    output.clear();
}

// True when every byte is below 0x80; sixteen at a time.
bool IsAscii(std::string_view text) noexcept
{
    size_t i = 0;
    for (; text.size() - i >= 16; i += 16)
        if (_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i))) != 0)
            return false;
    for (; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    return true;
}

// Writes the ASCII bytes as UTF-16 characters, sixteen at a time.
void WidenAscii(std::string_view text, wchar_t* wide) noexcept
{
    size_t i = 0;
    for (; text.size() - i >= 16; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(wide + i), _mm_unpacklo_epi8(bytes, _mm_setzero_si128()));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(wide + i + 8), _mm_unpackhi_epi8(bytes, _mm_setzero_si128()));
    }
    for (; i < text.size(); ++i)
        wide[i] = static_cast<wchar_t>(text[i]);
}

// Lines gathered into the VT_ARRAY|VT_VARIANT of BSTRs that a connection
// sends, c_batchLines at a time. Input may not keep its argument, so after
// each batch the strings are kept by length and refilled with later lines
// of the same length: a capture repeats a few sentence lengths, and most
// lines then cost no allocation.
class LineBatch
{
public:
    LineBatch()
    {
        m_lines.reserve(c_batchLines);
        for (auto& spare : m_spare)
            spare.reserve(c_batchLines);
    }
    ~LineBatch()
    {
        FreeAll(m_lines);
        for (auto& spare : m_spare)
            FreeAll(spare);
    }
    LineBatch(const LineBatch&) = delete;
    LineBatch& operator=(const LineBatch&) = delete;

    // Every ANSI code page agrees with ASCII on bytes below 0x80, which is
    // all a receiver sends: those lines are widened without the system's
    // conversion.
    // (The list has room for a whole batch, so adding to it cannot fail.)
    void Add(std::string_view line)
    {
        if (IsAscii(line)) {
            BSTR text = StringOfLength(line.size());
            WidenAscii(line, text);
            m_lines.push_back(text);
            return;
        }
        AnsiToWide(line, m_wide);
        BSTR text = StringOfLength(m_wide.size());
        std::copy(m_wide.begin(), m_wide.end(), text);
        m_lines.push_back(text);
    }
    bool Full() const { return m_lines.size() == c_batchLines; }
    bool Empty() const { return m_lines.empty(); }

    // Hands the lines to Input as one batch and starts a new one.
    void Send(ISerialConnectionEvents& input)
    {
        SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(m_lines.size()));
        if (!array)
            ThrowHr(E_OUTOFMEMORY);
        auto* elements = static_cast<VARIANT*>(array->pvData);
        for (size_t i = 0; i < m_lines.size(); ++i) {
            elements[i].vt = VT_BSTR;
            elements[i].bstrVal = m_lines[i];
        }
        VARIANT batch;
        VariantInit(&batch);
        batch.vt = VT_ARRAY | VT_VARIANT;
        batch.parray = array;
        const HRESULT hr = input.Input(batch);
        // The array only lent the strings: it is destroyed without them.
        for (size_t i = 0; i < m_lines.size(); ++i)
            elements[i].vt = VT_EMPTY;
        SafeArrayDestroy(array);
        KeepForReuse();
        ThrowIfFailed(hr);
    }

private:
    static constexpr size_t c_longestKept = 127;

    // A string of the length, kept from an earlier batch when there is one.
    BSTR StringOfLength(size_t length)
    {
        if (length <= c_longestKept && !m_spare[length].empty()) {
            BSTR text = m_spare[length].back();
            m_spare[length].pop_back();
            return text;
        }
        BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length));
        if (!result)
            ThrowHr(E_OUTOFMEMORY);
        return result;
    }
    // Moves the sent lines to the spare strings (each list has room for a
    // whole batch); what does not fit is freed.
    void KeepForReuse() noexcept
    {
        for (BSTR line : m_lines) {
            const UINT length = SysStringLen(line);
            if (length <= c_longestKept && m_spare[length].size() < c_batchLines)
                m_spare[length].push_back(line);
            else
                SysFreeString(line);
        }
        m_lines.clear();
    }
    static void FreeAll(std::vector<BSTR>& lines) noexcept
    {
        for (BSTR line : lines)
            SysFreeString(line);
        lines.clear();
    }

    std::vector<BSTR> m_lines;
    std::array<std::vector<BSTR>, c_longestKept + 1> m_spare;
    std::wstring m_wide;
};

// The capture file, opened for reading. A device (a port by another
// spelling such as COM1:, the console, NUL) is refused: its reads would
// block or never end. A pipe or FIFO is a file whose writer sends the lines.
UniqueHFile OpenCapture(const std::wstring& path)
{
    UniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        ThrowLastErrorFor(path);
    if (GetFileType(file.Get()) == FILE_TYPE_CHAR) {
        CAtlException failure(MakeOwnFailure(SerialFailure::SourceIsDevice));
        failure.SetPathIfUnknown(path);
        throw failure;
    }
    return file;
}

// The lines of the file go to the interpreter in batches as a connection
// would send them; output is printed as it grows, and stops when its
// reader has gone or after the given seconds (0 for no limit), also when
// the file blocks.
void InterpretFile(const ServerModule& server, const std::wstring& path, DWORD seconds)
{
    const ULONGLONG deadline = seconds ? GetTickCount64() + seconds * 1000ull : 0;
    CBackgroundReader source(OpenCapture(path), path);
    ComPtr<ISerialInterpreter> interpreter = server.Create<ISerialInterpreter>(__uuidof(CSerialInterpreter));
    std::string output;
    output.reserve(c_flushCharacters + 4096);
    PrintingSink sink(DIID__SerialInterpreterEvents, c_interpreterEvents, output);
    sink.Advise(interpreter.Get());
    ComPtr<ISerialConnectionEvents> input = interpreter.As<ISerialConnectionEvents>();
    LineBatch batch;
    const auto send = [&] {
        batch.Send(*input.Get());
        if (output.size() >= c_flushCharacters)
            Flush(output);
    };
    const auto add = [&](std::string_view line) {
        if (OutputClosed())
            return;
        batch.Add(line);
        if (batch.Full())
            send();
    };
    // The assembler cuts the lines as a connection does, a line over as
    // many blocks as it spans; the last line may lack its line end. Reading
    // stops at the deadline, also when the file blocks.
    CLineAssembler lines;
    while (const std::optional<std::string> block = source.Next(deadline)) {
        if (block->empty()) {
            if (!lines.Pending().empty())
                lines.ForEachLine("\n", add);
            break;
        }
        lines.ForEachLine(*block, add);
    }
    if (!batch.Empty() && !OutputClosed())
        send();
    Flush(output);
}

DWORD g_mainThread = 0;

BOOL WINAPI StopOnControl(DWORD)
{
    PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
    return TRUE;
}

// Follows the connection's events to tell when it has ended: an Error
// before any line arrived (the port cannot be opened or fails at once), or
// an Error right after another (the worker's new attempt to open the port
// failed too, and it has given up).
class ConnectionWatch
{
public:
    void Observe(DISPID id, const DISPPARAMS& parameters)
    {
        const VARIANT* argument = parameters.cArgs == 1 ? &parameters.rgvarg[0] : nullptr;
        switch (id) {
        case 1: {
            const HRESULT code = argument && argument->vt == VT_I4 ? argument->lVal : E_FAIL;
            if (code == MakeOwnFailure(SerialFailure::LinesDropped))
                return; // the lines follow
            if (!m_lineReceived || m_lastWasError)
                m_failure = code;
            m_lastWasError = true;
            break;
        }
        case 2:
            m_lineReceived = m_lineReceived || (argument && argument->vt == (VT_ARRAY | VT_VARIANT));
            m_lastWasError = false;
            break;
        default:
            m_lastWasError = false;
            break;
        }
    }

    bool Ended() const { return FAILED(m_failure); }
    HRESULT Failure() const { return m_failure; }

private:
    bool m_lineReceived = false;
    bool m_lastWasError = false;
    HRESULT m_failure = S_OK;
};

// Pumps the thread's messages (the connection's window fires its events
// here) until Ctrl+C, the time limit, the end of the connection or of the
// output's reader; prints after each round.
void RunMessageLoop(DWORD seconds, std::string& output, const ConnectionWatch& watch)
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
        if (quit || watch.Ended() || OutputClosed())
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

// Raises the connection's last Error, naming the port, when it has ended.
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

    std::string output;
    ConnectionWatch watch;
    PrintingSink events(DIID__SerialInterpreterEvents, c_interpreterEvents, output);
    PrintingSink connectionEvents(DIID__SerialConnectionEvents,
                                  std::span(c_connectionEvents).first(options.raw ? 3 : 2), output,
                                  [&watch](DISPID id, const DISPPARAMS& parameters) { watch.Observe(id, parameters); });
    events.Advise(interpreter.Get());
    connectionEvents.Advise(connection.Get());
    ThrowIfFailed(interpreter->Initialize(connection.Get()));
    ScopeExit detach([&] {
        connection->Disconnect();
        interpreter->Terminate();
    });
    ThrowIfFailed(connection->Connect());
    RunMessageLoop(options.seconds, output, watch);
    if (watch.Ended()) {
        CAtlException failure(watch.Failure());
        failure.SetPathIfUnknown(name);
        throw failure;
    }
}

// COMn, \\.\COMn or auto; any other text is a file path.
bool IsPortName(const std::wstring& source)
{
    return EqualsIgnoreCase(source, L"auto") || SerialPortName(source);
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
    return RunReportingFailure(source, [&] {
        const ServerModule server;
        if (IsPortName(source))
            InterpretPort(server, source, options);
        else
            InterpretFile(server, source, options.seconds);
        return c_exitSuccess;
    });
}
