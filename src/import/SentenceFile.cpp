#include "import/SentenceFile.h"

#include <oleauto.h>

#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>

#include "ErrorStrings.h"
#include "base/ResourceString.h"
#include "base/Text.h"

namespace {

// Appends value as printf's "%0<width>d" does (width 0: "%d"): the sign
// first, then zeros up to the width, then the digits.
void AppendInteger(std::wstring& text, int value, int width)
{
    wchar_t digits[12];
    int count = 0;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        text += L'-';
        --width;
    }
    for (int pad = width - count; pad > 0; --pad)
        text += L'0';
    while (count > 0)
        text += digits[--count];
}

bool IsDigit(wchar_t c) noexcept
{
    return c >= L'0' && c <= L'9';
}

bool AllDigits(std::wstring_view text) noexcept
{
    for (wchar_t c : text)
        if (!IsDigit(c))
            return false;
    return true;
}

// The correctly rounded value of a run of ASCII digits ("" is 0); infinity
// beyond the range of a double. Up to 15 digits the value is exact and
// built here, which is what the readers meet on nearly every line.
double DigitsValue(std::string_view digits) noexcept
{
    constexpr size_t exactDigits = 15;
    if (digits.size() <= exactDigits) {
        long long value = 0;
        for (char c : digits)
            value = value * 10 + (c - '0');
        return static_cast<double>(value);
    }
    double value = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::fixed);
    return result.ec == std::errc() ? value : HUGE_VAL;
}

// The value of the fraction digits after the point: the digits' value
// divided by the power of ten of their count, each rounded once, up to the
// exactly representable powers; the correctly rounded value of "0.digits"
// for longer fractions, whose power of ten would overflow.
double FractionValue(std::string_view digits)
{
    constexpr size_t exactPowers = 22;
    if (digits.size() <= exactPowers)
        return DigitsValue(digits) / std::pow(10.0, static_cast<double>(digits.size()));
    const std::string text = "0." + std::string(digits);
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return value;
}

// Writes "*hh" after the length bytes of a line that starts with '$'
// (room for three more bytes is the caller's) and returns the new length.
size_t AppendChecksumTo(char* line, size_t length) noexcept
{
    unsigned char sum = 0;
    for (size_t i = 1; i < length; ++i)
        sum ^= static_cast<unsigned char>(line[i]);
    static const char c_hex[] = "0123456789ABCDEF";
    line[length] = '*';
    line[length + 1] = c_hex[sum >> 4];
    line[length + 2] = c_hex[sum & 0x0F];
    return length + 3;
}

// A text file with a NUL byte in a line is damaged: its lines are not
// what its writer meant, so none of them is taken.
[[noreturn]] void ThrowNulByteAt(const std::wstring& path, size_t line)
{
    try {
        ThrowOwnFailureAt(TextFailure::NulByte, static_cast<unsigned>(line));
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(path);
        throw;
    }
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

std::wstring FormatIntegers(const wchar_t* format, std::initializer_list<int> values)
{
    std::wstring text;
    AppendIntegers(text, format, values);
    return text;
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
        AppendInteger(text, *value++, width);
    }
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
    const int integerPart = TruncateToInt(value);
    // The fraction comes from the value's own integer part, which equals
    // integerPart whenever that did not saturate.
    const int fraction = TruncateToInt((std::fabs(value) - std::fabs(std::trunc(value))) * 100000.0);
    std::wstring text;
    if (value < 0 && integerPart == 0)
        text = L"-";
    text += FormatIntegers(integerFormat, {integerPart});
    text += FormatIntegers(L".%05d", {fraction});
    return text;
}

std::wstring FormatDegreeMinutes(int degreeDigits, double value)
{
    const double absolute = std::fabs(value);
    const double degrees = std::floor(absolute);
    std::wstring text;
    AppendInteger(text, TruncateToInt(degrees), degreeDigits);
    return text +
           FormatFixedPoint(L"%02d", (absolute - degrees) * 60.0);
}

std::wstring FormatTrackAngle(const wchar_t* format, double value)
{
    std::wstring text;
    AppendTrackAngle(text, format, value);
    return text;
}

void AppendTrackAngle(std::wstring& text, const wchar_t* format, double value)
{
    const double sign = value >= 0 ? 1.0 : -1.0;
    const double absolute = sign * value;
    const int degrees = TruncateToInt(absolute);
    const double fraction = absolute - degrees;
    const int minutes = TruncateToInt(fraction * 60.0);
    const int thousandths = TruncateToInt((fraction - minutes / 60.0) * 60.0 * 1000.0);
    AppendIntegers(text, format, {degrees, minutes, thousandths});
}

TextLines ReadTextLines(const std::wstring& path)
{
    TextLines result;
    DWORD length = 0;
    try {
        UniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        ThrowLastErrorIf(!file);
        LARGE_INTEGER size;
        ThrowLastErrorIf(!GetFileSizeEx(file.Get(), &size));
        if (static_cast<ULONGLONG>(size.QuadPart) >= MAXDWORD)
            ThrowHr(E_OUTOFMEMORY);
        length = static_cast<DWORD>(size.QuadPart);
        result.m_contents.reset(new (std::nothrow) char[length + 1]);
        if (!result.m_contents)
            ThrowHr(E_OUTOFMEMORY);
        DWORD total = 0;
        while (total < length) {
            DWORD read = 0;
            ThrowLastErrorIf(!ReadFile(file.Get(), result.m_contents.get() + total, length - total, &read, nullptr));
            if (read == 0)
                break; // the file shrank while it was read
            total += read;
        }
        result.m_contents[total] = '\0';
        length = total;
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(path);
        throw;
    }

    // The real length, not the C string: a NUL byte must not hide the rest.
    const std::string_view contents(result.m_contents.get(), length);
    size_t start = 0;
    while (start < contents.size()) {
        size_t end = contents.find('\n', start);
        const bool lastPiece = end == std::string_view::npos;
        if (lastPiece)
            end = contents.size();
        std::string_view piece = contents.substr(start, end - start);
        while (!piece.empty() && piece.front() == '\r')
            piece.remove_prefix(1);
        while (!piece.empty() && piece.back() == '\r')
            piece.remove_suffix(1);
        // What follows the last LF is a line only when it holds more than
        // CRs, so that LF CR line ends give the same lines as CR LF.
        if (!lastPiece || !piece.empty()) {
            if (piece.find('\0') != std::string_view::npos)
                ThrowNulByteAt(path, result.m_lines.size() + 1);
            result.m_lines.push_back(piece);
        }
        start = end + 1;
    }
    return result;
}

std::string PlainDecimalText(std::wstring_view text)
{
    text = TrimWhiteSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == L'-' || text.front() == L'+')) {
        negative = text.front() == L'-';
        text.remove_prefix(1);
    }
    const size_t point = text.find(L'.');
    const std::wstring_view integerDigits = text.substr(0, point);
    const std::wstring_view fractionDigits = point == std::wstring_view::npos ? std::wstring_view() : text.substr(point + 1);
    if (integerDigits.empty() && fractionDigits.empty())
        ThrowHr(DISP_E_TYPEMISMATCH);
    if (!AllDigits(integerDigits) || !AllDigits(fractionDigits))
        ThrowHr(DISP_E_TYPEMISMATCH);
    std::string plain;
    plain.reserve(text.size() + 1);
    if (negative)
        plain += '-';
    for (wchar_t c : text)
        plain += static_cast<char>(c);
    return plain;
}

double ParseDecimal(std::wstring_view text)
{
    const std::string plain = PlainDecimalText(text);
    std::string_view digits = plain;
    const bool negative = digits.front() == '-';
    if (negative)
        digits.remove_prefix(1);
    const size_t point = digits.find('.');
    double value = DigitsValue(digits.substr(0, point));
    if (point != std::string_view::npos && point + 1 < digits.size())
        value += FractionValue(digits.substr(point + 1));
    if (!std::isfinite(value))
        ThrowHr(DISP_E_OVERFLOW);
    return negative ? -value : value;
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

} // namespace

double ParseNumberField(NumberField field, std::wstring_view text, double (*parse)(std::wstring_view))
{
    const NumberFieldRule& rule = c_numberFieldRules[static_cast<size_t>(field)];
    const std::wstring name = TryLoadResourceString(rule.name).value_or(std::wstring());
    const std::wstring quoted = EscapeControlCharacters(text);
    double value = 0;
    try {
        value = parse(text);
    } catch (CAtlException& e) {
        const UINT words = e.m_hr == DISP_E_OVERFLOW ? IDS_DETAIL_TOO_LARGE : IDS_DETAIL_NOT_A_NUMBER;
        if (auto detail = TryFormatResourceString(words, {name, quoted}))
            e.SetDetailIfUnknown(*detail);
        throw;
    }
    if (std::fabs(value) <= rule.limit)
        return value;
    CAtlException outOfRange(DISP_E_OVERFLOW);
    const std::wstring limit = LimitText(rule.limit);
    if (auto detail = TryFormatResourceString(IDS_DETAIL_OUT_OF_RANGE, {name, quoted, L"-" + limit, limit}))
        outOfRange.SetDetailIfUnknown(*detail);
    throw outOfRange;
}
