#include "import/SentenceFile.h"

#include <oleauto.h>

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>

#include "ErrorStrings.h"
#include "base/ResourceString.h"
#include "base/Text.h"
#include "import/ByteWords.h"

using namespace ByteWords;

namespace {

// Appends value as printf's "%0<width>d" does (width 0: "%d"): the sign
// first, then zeros up to the width, then the digits; one append.
template <typename Text>
void AppendPaddedInteger(Text& text, int value, int width)
{
    using Char = typename Text::value_type;
    constexpr int capacity = 20; // a sign and ten digits, or a width of nine
    Char digits[capacity];
    int first = capacity;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[--first] = static_cast<Char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    const int padded = capacity - std::min(width - (value < 0 ? 1 : 0), capacity - 1);
    while (first > padded)
        digits[--first] = Char('0');
    if (value < 0)
        digits[--first] = Char('-');
    text.append(digits + first, static_cast<size_t>(capacity - first));
}

template <typename Char>
bool IsDigit(Char c) noexcept
{
    return c >= Char('0') && c <= Char('9');
}

// The parts of a plain decimal number (see PlainDecimalText); other text
// raises DISP_E_TYPEMISMATCH.
template <typename Char>
struct DecimalParts
{
    bool negative = false;
    std::basic_string_view<Char> integerDigits;
    std::basic_string_view<Char> fractionDigits;
    bool point = false;
};

template <typename Char>
DecimalParts<Char> SplitPlainDecimal(std::basic_string_view<Char> text)
{
    DecimalParts<Char> parts;
    text = TrimWhiteSpace(text);
    if (!text.empty() && (text.front() == Char('-') || text.front() == Char('+'))) {
        parts.negative = text.front() == Char('-');
        text.remove_prefix(1);
    }
    // One pass: digits and at most one point.
    size_t point = std::basic_string_view<Char>::npos;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        if (IsDigit(text[pos]))
            continue;
        if (text[pos] != Char('.') || point != std::basic_string_view<Char>::npos)
            ThrowHr(DISP_E_TYPEMISMATCH);
        point = pos;
    }
    parts.point = point != std::basic_string_view<Char>::npos;
    parts.integerDigits = text.substr(0, point);
    if (parts.point)
        parts.fractionDigits = text.substr(point + 1);
    if (parts.integerDigits.empty() && parts.fractionDigits.empty())
        ThrowHr(DISP_E_TYPEMISMATCH);
    return parts;
}

// The correctly rounded value of a run of ASCII digits ("" is 0); infinity
// beyond the range of a double. Up to 15 digits the value is exact and
// built here, which is what the readers meet on nearly every line.
template <typename Char>
double DigitsValue(std::basic_string_view<Char> digits)
{
    constexpr size_t exactDigits = 15;
    if (digits.size() <= exactDigits) {
        long long value = 0;
        for (Char c : digits)
            value = value * 10 + (c - Char('0'));
        return static_cast<double>(value);
    }
    const std::string text(digits.begin(), digits.end());
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return result.ec == std::errc() ? value : HUGE_VAL;
}

// The powers of ten a double holds exactly.
constexpr double c_exactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The value of the fraction digits after the point: the digits' value
// divided by the power of ten of their count, each rounded once, up to the
// exactly representable powers; the correctly rounded value of "0.digits"
// for longer fractions, whose power of ten would overflow.
template <typename Char>
double FractionValue(std::basic_string_view<Char> digits)
{
    if (digits.size() < std::size(c_exactPowersOfTen))
        return DigitsValue(digits) / c_exactPowersOfTen[digits.size()];
    std::string text = "0.";
    text.append(digits.begin(), digits.end());
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return value;
}

template <typename Char>
double ParsePlainDecimal(std::basic_string_view<Char> text)
{
    const DecimalParts<Char> parts = SplitPlainDecimal(text);
    double value = DigitsValue(parts.integerDigits);
    if (!parts.fractionDigits.empty())
        value += FractionValue(parts.fractionDigits);
    if (!std::isfinite(value))
        ThrowHr(DISP_E_OVERFLOW);
    return parts.negative ? -value : value;
}

// The integer part of a value and five truncated fraction digits, as
// FormatFixedPoint writes them.
struct FixedPoint
{
    bool negativeZero; // "-" before an integer part of 0
    int integerPart;
    int fraction;
};

FixedPoint ToFixedPoint(double value) noexcept
{
    const int integerPart = TruncateToInt(value);
    // The fraction comes from the value's own integer part, which equals
    // integerPart whenever that did not saturate.
    const int fraction = TruncateToInt((std::fabs(value) - std::fabs(std::trunc(value))) * 100000.0);
    return {value < 0 && integerPart == 0, integerPart, fraction};
}

// Whole degrees of |value| and its minutes, as FormatDegreeMinutes writes
// them.
struct DegreeMinutes
{
    int degrees;
    double minutes;
};

DegreeMinutes ToDegreeMinutes(double value) noexcept
{
    const double absolute = std::fabs(value);
    const double degrees = std::floor(absolute);
    return {TruncateToInt(degrees), (absolute - degrees) * 60.0};
}

// Degrees, whole minutes and thousandths of a minute of |value|.
struct TrackAngle
{
    int degrees;
    int minutes;
    int thousandths;
};

TrackAngle ToTrackAngle(double value) noexcept
{
    const double sign = value >= 0 ? 1.0 : -1.0;
    const double absolute = sign * value;
    const int degrees = TruncateToInt(absolute);
    const double fraction = absolute - degrees;
    const int minutes = TruncateToInt(fraction * 60.0);
    const int thousandths = TruncateToInt((fraction - minutes / 60.0) * 60.0 * 1000.0);
    return {degrees, minutes, thousandths};
}

// The replacement of a byte that must not appear inside a sentence field,
// or 0 for a byte that may.
wchar_t FieldReplacement(unsigned char byte) noexcept
{
    if (byte == ',' || byte < 0x20 || byte == 0x7F)
        return L' ';
    if (byte == '*' || byte == '$')
        return L'_';
    return 0;
}

bool IsControlCharacter(wchar_t c) noexcept
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// The single byte the ANSI code page writes for one character (a UTF-16
// unit or pair) as WriteSentence converts it; 0 when it writes none or more
// than one (double-byte code pages never use ASCII values in a pair).
unsigned char AnsiByteOf(std::wstring_view character) noexcept
{
    char bytes[8];
    const int length = WideCharToMultiByte(CP_ACP, 0, character.data(), static_cast<int>(character.size()), bytes,
                                           static_cast<int>(sizeof bytes), nullptr, nullptr);
    return length == 1 ? static_cast<unsigned char>(bytes[0]) : 0;
}

} // namespace

std::wstring SentenceFieldText(std::wstring_view text)
{
    std::wstring safe;
    safe.reserve(text.size());
    for (size_t pos = 0; pos < text.size(); ++pos) {
        const wchar_t c = text[pos];
        if (IsControlCharacter(c)) {
            safe += L' ';
            continue;
        }
        if (c < 0x80) {
            const wchar_t replacement = FieldReplacement(static_cast<unsigned char>(c));
            safe += replacement ? replacement : c;
            continue;
        }
        const bool pair = IS_HIGH_SURROGATE(c) && pos + 1 < text.size() && IS_LOW_SURROGATE(text[pos + 1]);
        const std::wstring_view character = text.substr(pos, pair ? 2 : 1);
        const unsigned char written = AnsiByteOf(character);
        const wchar_t replacement = written != 0 ? FieldReplacement(written) : 0;
        if (replacement != 0)
            safe += replacement;
        else
            safe += character;
        pos += character.size() - 1;
    }
    return safe;
}

void AppendIntegers(std::wstring& text, const wchar_t* format, std::initializer_list<int> values)
{
    auto value = values.begin();
    for (const wchar_t* p = format; *p; ++p) {
        if (*p != L'%') {
            text += *p;
            continue;
        }
        int width = 0;
        if (p[1] == L'0' && p[2] >= L'1' && p[2] <= L'9') {
            width = p[2] - L'0';
            p += 2;
        }
        if (p[1] != L'd' || value == values.end())
            ThrowHr(E_INVALIDARG);
        ++p;
        AppendPaddedInteger(text, *value++, width);
    }
}

void AppendInteger(std::string& text, int value, int width)
{
    AppendPaddedInteger(text, value, width);
}

int TruncateToInt(double value) noexcept
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return INT_MAX;
    if (value <= -2147483648.0)
        return INT_MIN;
    return static_cast<int>(value);
}

void WriteSentence(HANDLE file, std::wstring_view line, bool checksum)
{
    // Sentences are short: convert on the stack and write once, falling
    // back to the heap for an unusually long name.
    constexpr size_t checksumAndLineEnd = 5; // "*hh\r\n"
    char stackBuffer[1024];
    std::string heapBuffer;
    const size_t capacity = line.size() * 3 + checksumAndLineEnd;
    char* bytes = stackBuffer;
    if (capacity > sizeof stackBuffer) {
        heapBuffer.resize(capacity);
        bytes = heapBuffer.data();
    }
    size_t length = 0;
    if (!line.empty()) {
        const int converted = WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), bytes,
                                                  static_cast<int>(capacity - checksumAndLineEnd), nullptr, nullptr);
        ThrowLastErrorIf(converted == 0);
        length = static_cast<size_t>(converted);
    }
    if (checksum && length > 1 && bytes[0] == '$')
        length = AppendChecksumTo(bytes, length);
    bytes[length++] = '\r';
    bytes[length++] = '\n';
    DWORD written = 0;
    ThrowLastErrorIf(!WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr));
    if (written != length)
        ThrowWin32(ERROR_WRITE_FAULT);
}

bool AppendChecksum(std::string& line)
{
    if (line.size() <= 1 || line[0] != '$')
        return false;
    const size_t length = line.size();
    line.resize(length + 3);
    line.resize(AppendChecksumTo(line.data(), length));
    return true;
}

std::wstring FormatFixedPoint(const wchar_t* integerFormat, double value)
{
    const FixedPoint parts = ToFixedPoint(value);
    std::wstring text;
    if (parts.negativeZero)
        text = L"-";
    AppendIntegers(text, integerFormat, {parts.integerPart});
    AppendIntegers(text, L".%05d", {parts.fraction});
    return text;
}

std::wstring FormatDegreeMinutes(int degreeDigits, double value)
{
    const DegreeMinutes parts = ToDegreeMinutes(value);
    std::wstring text;
    AppendPaddedInteger(text, parts.degrees, degreeDigits);
    return text + FormatFixedPoint(L"%02d", parts.minutes);
}

void AppendDegreeMinutes(std::string& text, int degreeDigits, double value)
{
    const DegreeMinutes parts = ToDegreeMinutes(value);
    AppendPaddedInteger(text, parts.degrees, degreeDigits);
    const FixedPoint minutes = ToFixedPoint(parts.minutes);
    if (minutes.negativeZero)
        text += '-';
    AppendPaddedInteger(text, minutes.integerPart, 2);
    text += '.';
    AppendPaddedInteger(text, minutes.fraction, 5);
}

void AppendTrackAngle(std::wstring& text, const wchar_t* format, double value)
{
    const TrackAngle angle = ToTrackAngle(value);
    AppendIntegers(text, format, {angle.degrees, angle.minutes, angle.thousandths});
}

void AppendTrackAngle(std::string& text, int degreeDigits, double value)
{
    const TrackAngle angle = ToTrackAngle(value);
    AppendPaddedInteger(text, angle.degrees, degreeDigits);
    AppendPaddedInteger(text, angle.minutes, 2);
    text += '.';
    AppendPaddedInteger(text, angle.thousandths, 3);
}

void AppendSentenceFieldText(std::string& sentence, std::string_view asciiText)
{
    for (const char c : asciiText) {
        const wchar_t replacement = FieldReplacement(static_cast<unsigned char>(c));
        sentence += replacement ? static_cast<char>(replacement) : c;
    }
}

void AppendSentenceFieldText(std::string& sentence, std::wstring_view text)
{
    sentence += WideToAnsi(SentenceFieldText(text));
}

bool IsAscii(std::string_view text) noexcept
{
    size_t pos = 0;
    for (; pos + 8 <= text.size(); pos += 8)
        if (LoadWord(text.data() + pos) & c_everyHighBit)
            return false;
    for (const char c : text.substr(pos))
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

std::string PlainDecimalText(std::wstring_view text)
{
    const DecimalParts<wchar_t> parts = SplitPlainDecimal(text);
    std::string plain;
    if (parts.negative)
        plain += '-';
    plain.append(parts.integerDigits.begin(), parts.integerDigits.end());
    if (parts.point)
        plain += '.';
    plain.append(parts.fractionDigits.begin(), parts.fractionDigits.end());
    return plain;
}

double ParseDecimal(std::wstring_view text)
{
    return ParsePlainDecimal(text);
}

namespace {

struct NumberFieldRule
{
    UINT name;    // string id of the field's name
    double limit; // the largest magnitude accepted
};

// Indexed by NumberField.
constexpr NumberFieldRule c_numberFieldRules[] = {
    {IDS_DETAIL_FIELD_LATITUDE, 90.0},
    {IDS_DETAIL_FIELD_LONGITUDE, 180.0},
    {IDS_DETAIL_FIELD_ALTITUDE, DBL_MAX},
    {IDS_DETAIL_FIELD_DAY_NUMBER, DBL_MAX},
};

std::wstring LimitText(double limit)
{
    return std::to_wstring(TruncateToInt(limit));
}

std::wstring FieldName(const NumberFieldRule& rule)
{
    return TryLoadResourceString(rule.name).value_or(std::wstring());
}

std::wstring QuotedText(std::wstring_view text)
{
    return EscapeControlCharacters(text);
}

std::wstring QuotedText(std::string_view asciiText)
{
    return EscapeControlCharacters(AnsiToWide(asciiText));
}

// The words naming the field and quoting its text are made only for a
// failure: a million good lines need none of them.
template <typename Char, typename Parse>
double ParseFieldText(NumberField field, std::basic_string_view<Char> text, Parse parse)
{
    const NumberFieldRule& rule = c_numberFieldRules[static_cast<size_t>(field)];
    double value = 0;
    try {
        value = parse(text);
    } catch (CAtlException& e) {
        const UINT words = e.m_hr == DISP_E_OVERFLOW ? IDS_DETAIL_TOO_LARGE : IDS_DETAIL_NOT_A_NUMBER;
        if (auto detail = TryFormatResourceString(words, {FieldName(rule), QuotedText(text)}))
            e.SetDetailIfUnknown(*detail);
        throw;
    }
    if (std::fabs(value) <= rule.limit)
        return value;
    CAtlException outOfRange(DISP_E_OVERFLOW);
    const std::wstring limit = LimitText(rule.limit);
    if (auto detail =
            TryFormatResourceString(IDS_DETAIL_OUT_OF_RANGE, {FieldName(rule), QuotedText(text), L"-" + limit, limit}))
        outOfRange.SetDetailIfUnknown(*detail);
    throw outOfRange;
}

} // namespace

double ParseNumberField(NumberField field, std::wstring_view text, double (*parse)(std::wstring_view))
{
    return ParseFieldText(field, text, parse);
}

double ParseNumberField(NumberField field, std::string_view asciiText)
{
    return ParseFieldText(field, asciiText, [](std::string_view text) { return ParsePlainDecimal(text); });
}
