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

#include <charconv>
#include <cmath>
#include <cwchar>
#include <functional>
#include <memory>
#include <span>

#include "BackgroundReader.h"
#include "Commands.h"
#include "Console.h"
#include "base/ErrorText.h"
#include "ServerModule.h"
#include "base/Text.h"
#include "gps/LineAssembler.h"
#include "gps/PortName.h"
#include "gps/SerialReader.h"
#include "gps/Tervolin_h.h"

// value as printf's "%.10g" writes it: ten significant digits rounded to
// the nearest, fixed notation for decimal exponents -4 to 9 (all that a
// receiver sends), trailing zeros removed. The common case scales the value
// by an exact power of ten and cuts the product into two halves of five
// digits; a product too close to a rounding tie, and every other value,
// take the exact (slower) conversion. SSE2 arithmetic makes the
// conversions to integers cheap; every step is exact or guarded by the tie
// margin, so the digits are the same with any floating-point unit. (Outside
// the unnamed namespace: a local function would get an SSE calling
// convention that its x87 callers cannot use.)
__attribute__((target("sse2,fpmath=sse"))) size_t FormatTenDigits(double value, char* text, size_t capacity)
{
    static constexpr double c_powers[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4,
                                          1e5,  1e6,  1e7,  1e8,  1e9, 1e10, 1e11, 1e12, 1e13};
    constexpr int c_lowest = -4;
    const auto exact = [&] {
        return static_cast<size_t>(
            std::to_chars(text, text + capacity, value, std::chars_format::general, 10).ptr - text);
    };
    if (value == 0 && capacity >= 2) { // frequent: no speed, no signal
        size_t length = 0;
        if (std::signbit(value))
            text[length++] = '-';
        text[length++] = '0';
        return length;
    }
    const double magnitude = value < 0 ? -value : value;
    if (!(magnitude >= 1e-4 && magnitude < 1e9))
        return exact();
    int exponent = c_lowest;
    while (magnitude >= c_powers[exponent + 1 - c_lowest])
        ++exponent;
    const double scaled = magnitude * c_powers[9 - exponent - c_lowest]; // 1e9 <= scaled < 1e10
    // Both halves are below 100000: the signed conversions, which SSE2 does
    // in one instruction, are enough.
    auto high = static_cast<unsigned long>(static_cast<long>(scaled / 100000));
    const double rest = scaled - high * 100000.0; // exact: both are close
    auto low = static_cast<unsigned long>(static_cast<long>(rest));
    const double fraction = rest - low;
    if (fraction > 0.5 - 1e-5 && fraction < 0.5 + 1e-5)
        return exact();
    if (fraction > 0.5 && ++low == 100000) {
        low = 0;
        ++high;
    }
    if (high == 100000) {
        high = 10000;
        ++exponent;
    }
    char significant[10];
    for (int i = 9; i >= 5; --i, low /= 10)
        significant[i] = static_cast<char>('0' + low % 10);
    for (int i = 4; i >= 0; --i, high /= 10)
        significant[i] = static_cast<char>('0' + high % 10);
    int last = 9; // the last significant digit that is not a trailing zero
    while (last > 0 && significant[last] == '0')
        --last;
    size_t length = 0;
    if (value < 0)
        text[length++] = '-';
    if (exponent >= 0) {
        for (int i = 0; i <= exponent; ++i)
            text[length++] = significant[i];
        if (last > exponent) {
            text[length++] = '.';
            for (int i = exponent + 1; i <= last; ++i)
                text[length++] = significant[i];
        }
    } else {
        text[length++] = '0';
        text[length++] = '.';
        for (int i = exponent; i < -1; ++i)
            text[length++] = '0';
        for (int i = 0; i <= last; ++i)
            text[length++] = significant[i];
    }
    return length;
}

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

// How one event is printed: its name and the names of its arguments; a
// name starting with '#' prints an integer in hexadecimal.
struct EventFormat
{
    DISPID id;
    std::string_view name;
    std::initializer_list<std::string_view> arguments;
};

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

const EventFormat c_connectionEvents[] = {
    {1, "Error", {"#code"}},
    {2, "Input", {"lines"}},
    {3, "Timeout", {"milliseconds"}},
};

// value in decimal, at least width digits (zeros in front).
void AppendDecimal(std::string& out, unsigned long value, int width = 1)
{
    char digits[16];
    char* start = std::end(digits);
    do {
        *--start = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 || std::end(digits) - start < width);
    out.append(start, std::end(digits));
}

void AppendInteger(std::string& out, LONG value)
{
    if (value < 0)
        out += '-';
    AppendDecimal(out, value < 0 ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value));
}

// "0x0000ABCD", quoted: HRESULTs read best in hexadecimal.
void AppendHexadecimal(std::string& out, LONG value)
{
    static const char c_digits[] = "0123456789ABCDEF";
    out += "\"0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        out += c_digits[(static_cast<unsigned long>(value) >> shift) & 0xF];
    out += '"';
}

// JSON has no infinities and no NaN: those are null.
void AppendDouble(std::string& out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[40];
    out.append(text, FormatTenDigits(value, text, std::size(text)));
}

// A JSON string in UTF-8; control characters are escaped.
void AppendJsonString(std::string& out, std::wstring_view text)
{
    static const char c_hex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < text.size();) {
        const wchar_t c = text[i];
        if (c >= 0x80) {
            size_t end = i + 1;
            while (end < text.size() && text[end] >= 0x80)
                ++end;
            out += WideToUtf8(text.substr(i, end - i));
            i = end;
            continue;
        }
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += c_hex[c >> 4];
            out += c_hex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

// An automation date: "yyyy-mm-dd" for a day, "hh:mm:ss.sss" for a time of
// day (day part 0), both for anything else; null for no number at all
// (NaN, infinities).
void AppendDate(std::string& out, double date)
{
    const double day = std::floor(date);
    const double milliseconds = std::round((date - day) * 86400000.0);
    if (!std::isfinite(milliseconds)) {
        out += "null";
        return;
    }
    // The platform's conversion is slow and a capture holds few days.
    static double lastDay = 0;
    static std::string lastDayText;
    SYSTEMTIME time{};
    if (day != 0 && day != lastDay && VariantTimeToSystemTime(day, &time)) {
        lastDay = day;
        lastDayText.clear();
        AppendDecimal(lastDayText, time.wYear, 4);
        lastDayText += '-';
        AppendDecimal(lastDayText, time.wMonth, 2);
        lastDayText += '-';
        AppendDecimal(lastDayText, time.wDay, 2);
    }
    out += '"';
    if (day != 0 && day == lastDay)
        out += lastDayText;
    if (day == 0 || milliseconds != 0) {
        const auto total = static_cast<unsigned long>(milliseconds); // at most 86,400,000
        if (day != 0)
            out += 'T';
        AppendDecimal(out, total / 3600000, 2);
        out += ':';
        AppendDecimal(out, total / 60000 % 60, 2);
        out += ':';
        AppendDecimal(out, total / 1000 % 60, 2);
        out += '.';
        AppendDecimal(out, total % 1000, 3);
    }
    out += '"';
}

void AppendValue(std::string& out, const VARIANT& value, bool hexadecimal);

void AppendArray(std::string& out, SAFEARRAY* array)
{
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    const auto* elements = static_cast<const VARIANT*>(array->pvData);
    out += '[';
    for (LONG i = 0; i <= upper - lower; ++i) {
        if (i > 0)
            out += ',';
        AppendValue(out, elements[i], false);
    }
    out += ']';
}

void AppendValue(std::string& out, const VARIANT& value, bool hexadecimal)
{
    switch (value.vt) {
    case VT_I4:
        if (hexadecimal)
            AppendHexadecimal(out, value.lVal);
        else
            AppendInteger(out, value.lVal);
        break;
    case VT_R8:
        AppendDouble(out, value.dblVal);
        break;
    case VT_BOOL:
        out += value.boolVal ? "true" : "false";
        break;
    case VT_BSTR:
        AppendJsonString(out, std::wstring_view(value.bstrVal, SysStringLen(value.bstrVal)));
        break;
    case VT_DATE:
        AppendDate(out, value.date);
        break;
    case VT_ARRAY | VT_VARIANT:
        AppendArray(out, value.parray);
        break;
    default:
        out += "null";
        break;
    }
}

// Sees every event of a sink before it is printed.
using EventObserver = std::function<void(DISPID id, const DISPPARAMS& parameters)>;

// An event sink that prints each event it knows as one JSON line into the
// output buffer. Lives on the stack of the command; COM references are
// only counted.
class PrintingSink final : public IDispatch
{
public:
    PrintingSink(REFIID events, std::span<const EventFormat> formats, std::string& output, bool printInput,
                 EventObserver observer = nullptr)
        : m_events(events), m_formats(formats), m_output(output), m_printInput(printInput),
          m_observer(std::move(observer))
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
        if (m_observer)
            m_observer(id, *parameters);
        if (id == 2 && &m_events == &DIID__SerialConnectionEvents && !m_printInput)
            return S_OK;
        for (const auto& format : m_formats) {
            if (format.id != id)
                continue;
            m_output += "{\"event\":\"";
            m_output += format.name;
            m_output += '"';
            UINT index = parameters->cArgs;
            for (const std::string_view name : format.arguments) {
                if (index == 0)
                    break;
                const bool hexadecimal = name[0] == '#';
                m_output += ",\"";
                m_output += name.substr(hexadecimal ? 1 : 0);
                m_output += "\":";
                AppendValue(m_output, parameters->rgvarg[--index], hexadecimal);
            }
            m_output += "}\n";
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
    std::string& m_output;
    bool m_printInput;
    EventObserver m_observer;
    ULONG m_references = 1;
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
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

bool IsLineEnd(char c) noexcept
{
    return c == '\r' || c == '\n';
}

// Where the whole lines of the text end: just after the last run of line
// ends that another byte follows (so that a CR LF pair is never cut in
// two); 0 when there is no such run.
size_t EndOfWholeLines(std::string_view text) noexcept
{
    for (size_t i = text.size(); i-- > 1;)
        if (!IsLineEnd(text[i]) && IsLineEnd(text[i - 1]))
            return i;
    return 0;
}

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

// Hands each run of whole lines of the source to onText as its blocks
// arrive; what is left at the end gets a line end, as the last line may
// lack its own. A line longer than a block is gathered over several. Stops
// when the deadline (0 for none) passes before the end of the source.
template <typename OnText>
void ForEachBlockOfLines(CBackgroundReader& source, ULONGLONG deadline, OnText&& onText)
{
    std::string text;
    for (;;) {
        std::optional<std::string> block = source.Next(deadline);
        if (!block)
            return;
        if (block->empty())
            break;
        if (text.empty())
            text = std::move(*block);
        else
            text += *block;
        const size_t whole = EndOfWholeLines(text);
        if (whole == 0)
            continue;
        onText(std::string_view(text.data(), whole));
        text.erase(0, whole);
    }
    if (!text.empty()) {
        text += '\n';
        onText(text);
    }
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
    PrintingSink sink(DIID__SerialInterpreterEvents, c_interpreterEvents, output, false);
    sink.Advise(interpreter.Get());
    ComPtr<ISerialConnectionEvents> input = interpreter.As<ISerialConnectionEvents>();
    LineBatch batch;
    const auto send = [&] {
        batch.Send(*input.Get());
        if (output.size() >= c_flushCharacters)
            Flush(output);
    };
    CLineAssembler lines;
    ForEachBlockOfLines(source, deadline, [&](std::string_view text) {
        lines.ForEachLine(text, [&](std::string_view line) {
            if (OutputClosed())
                return;
            batch.Add(line);
            if (batch.Full())
                send();
        });
    });
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
    PrintingSink events(DIID__SerialInterpreterEvents, c_interpreterEvents, output, false);
    PrintingSink connectionEvents(DIID__SerialConnectionEvents, c_connectionEvents, output, options.raw,
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
    try {
        const ServerModule server;
        if (IsPortName(source))
            InterpretPort(server, source, options);
        else
            InterpretFile(server, source, options.seconds);
        return c_exitSuccess;
    } catch (const CAtlException& failure) {
        PrintError(L"tervolin: " + DescribeFailure(failure, source) + L"\n");
    } catch (...) {
        PrintError(L"tervolin: " + source + L": " + DescribeResult(ResultFromCaughtException()) + L"\n");
    }
    return c_exitFailure;
}
