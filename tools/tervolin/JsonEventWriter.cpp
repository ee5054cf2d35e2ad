#include "JsonEventWriter.h"

#include <oleauto.h>

#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>

#include "base/Text.h"

// Appends value as printf's "%.10g" writes it: ten significant digits
// rounded to the nearest, fixed notation for decimal exponents -4 to 9 (all
// that a receiver sends), trailing zeros removed. The common case scales the value
// by an exact power of ten and cuts the product into two halves of five
// digits; a product too close to a rounding tie, and every other value,
// take the exact (slower) conversion. SSE2 arithmetic makes the
// conversions to integers cheap; every step is exact or guarded by the tie
// margin, so the digits are the same with any floating-point unit. (Outside
// the unnamed namespace: a local function would get an SSE calling
// convention that its x87 callers cannot use.)
__attribute__((target("sse2,fpmath=sse"))) void AppendTenDigits(std::string& out, double value)
{
    static constexpr double c_powers[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4,
                                          1e5,  1e6,  1e7,  1e8,  1e9, 1e10, 1e11, 1e12, 1e13};
    constexpr int c_lowest = -4;
    // The longest text of the fast path: "-0.000" and ten digits.
    constexpr size_t c_longestFixed = 16;
    const size_t start = out.size();
    // The exact conversion into room at the end of out, grown until the
    // text fits.
    const auto exact = [&] {
        for (size_t room = 24;; room *= 2) {
            out.resize(start + room);
            const auto [end, error] =
                std::to_chars(out.data() + start, out.data() + out.size(), value, std::chars_format::general, 10);
            if (error == std::errc{}) {
                out.resize(static_cast<size_t>(end - out.data()));
                return;
            }
        }
    };
    if (value == 0) { // frequent: no speed, no signal
        out += std::signbit(value) ? "-0" : "0";
        return;
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
    // Five digits of each half: exactly ten.
    char significant[10];
    for (int i = 9; i >= 5; --i, low /= 10)
        significant[i] = static_cast<char>('0' + low % 10);
    for (int i = 4; i >= 0; --i, high /= 10)
        significant[i] = static_cast<char>('0' + high % 10);
    int last = 9; // the last significant digit that is not a trailing zero
    while (last > 0 && significant[last] == '0')
        --last;
    out.resize(start + c_longestFixed);
    char* const text = out.data() + start;
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
    out.resize(start + length);
}

namespace {

// value in decimal, at least width digits (zeros in front).
void AppendDecimal(std::string& out, unsigned long value, int width = 1)
{
    char digits[std::numeric_limits<unsigned long>::digits10 + 1];
    char* start = std::end(digits);
    do {
        *--start = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    const auto count = static_cast<int>(std::end(digits) - start);
    if (width > count)
        out.append(static_cast<size_t>(width - count), '0');
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
    AppendTenDigits(out, value);
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
        AppendJsonValue(out, elements[i], false);
    }
    out += ']';
}

} // namespace

void AppendJsonValue(std::string& out, const VARIANT& value, bool hexadecimal)
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

void AppendJsonEvent(std::string& out, const EventFormat& format, const DISPPARAMS& parameters)
{
    out += "{\"event\":\"";
    out += format.name;
    out += '"';
    UINT index = parameters.cArgs;
    for (const std::string_view name : format.arguments) {
        if (index == 0)
            break;
        const bool hexadecimal = name[0] == '#';
        out += ",\"";
        out += name.substr(hexadecimal ? 1 : 0);
        out += "\":";
        AppendJsonValue(out, parameters.rgvarg[--index], hexadecimal);
    }
    out += "}\n";
}
