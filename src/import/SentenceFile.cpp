#include "import/SentenceFile.h"

#include <oleauto.h>

#include <cmath>
#include <climits>

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

bool IsBlank(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t';
}

// Position of the quote that closes the quoted field at the start of text
// (pairs of quotes inside are skipped), or npos.
size_t FindClosingQuote(std::wstring_view text) noexcept
{
    for (size_t pos = 1; pos < text.size(); ++pos) {
        if (text[pos] != L'"')
            continue;
        if (pos + 1 < text.size() && text[pos + 1] == L'"')
            ++pos;
        else
            return pos;
    }
    return std::wstring_view::npos;
}

// Plain runs of ASCII digits (an optional leading minus, at most 15 digits)
// are what the readers meet on nearly every line; their value is exact in
// a double, so converting them here gives what the variant conversion gives
// at a fraction of its cost.
bool TryConvertPlainDigits(std::wstring_view text, double& value) noexcept
{
    const bool negative = !text.empty() && text.front() == L'-';
    if (negative)
        text.remove_prefix(1);
    if (text.empty() || text.size() > 15)
        return false;
    long long digits = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        digits = digits * 10 + (c - L'0');
    }
    value = negative ? -static_cast<double>(digits) : static_cast<double>(digits);
    return true;
}

double ConvertDigitsWithVariant(std::wstring_view text)
{
    double plain;
    if (TryConvertPlainDigits(text, plain))
        return plain;

    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!source.bstrVal)
        ThrowHr(E_OUTOFMEMORY);
    VARIANT converted;
    VariantInit(&converted);
    const HRESULT hr = VariantChangeType(&converted, &source, 0, VT_R8);
    VariantClear(&source);
    ThrowIfFailed(hr);
    return converted.dblVal;
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

} // namespace

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

namespace {

// Volume and file index of an existing file, without opening it for reading.
bool TryGetFileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& identity)
{
    UniqueHFile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.Get(), &identity);
}

} // namespace

void ThrowIfSameFile(const std::wstring& source, const std::wstring& destination)
{
    BY_HANDLE_FILE_INFORMATION sourceIdentity;
    BY_HANDLE_FILE_INFORMATION destinationIdentity;
    if (!TryGetFileIdentity(source, sourceIdentity) || !TryGetFileIdentity(destination, destinationIdentity))
        return;
    if (sourceIdentity.dwVolumeSerialNumber == destinationIdentity.dwVolumeSerialNumber &&
        sourceIdentity.nFileIndexHigh == destinationIdentity.nFileIndexHigh &&
        sourceIdentity.nFileIndexLow == destinationIdentity.nFileIndexLow) {
        SetLastError(ERROR_SHARING_VIOLATION);
        ThrowLastErrorFor(destination);
    }
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

std::wstring SentenceFieldText(std::wstring_view text)
{
    std::wstring safe(text);
    for (wchar_t& c : safe)
        if (c == L',' || c == L'*' || c == L'$' || c < L' ' || c == 0x7F)
            c = L' ';
    return safe;
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
    try {
        UniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        ThrowLastErrorIf(!file);
        LARGE_INTEGER size;
        ThrowLastErrorIf(!GetFileSizeEx(file.Get(), &size));
        if (static_cast<ULONGLONG>(size.QuadPart) >= MAXDWORD)
            ThrowHr(E_OUTOFMEMORY);
        const DWORD length = static_cast<DWORD>(size.QuadPart);
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
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(path);
        throw;
    }

    const std::string_view contents(result.m_contents.get());
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
        if (!lastPiece || !piece.empty())
            result.m_lines.push_back(piece);
        start = end + 1;
    }
    return result;
}

std::vector<std::wstring> SplitCommaSeparated(std::wstring_view line)
{
    std::vector<std::wstring> fields;
    SplitCommaSeparated(line, fields);
    return fields;
}

void SplitCommaSeparated(std::wstring_view line, std::vector<std::wstring>& fields)
{
    size_t count = 0;
    // The next field, reusing the storage of the list's earlier contents.
    auto nextField = [&]() -> std::wstring& {
        if (count == fields.size())
            fields.emplace_back();
        std::wstring& field = fields[count++];
        field.clear();
        return field;
    };
    std::wstring_view rest = line;
    for (;;) {
        while (!rest.empty() && IsBlank(rest.front()))
            rest.remove_prefix(1);
        if (rest.empty())
            break;

        if (rest.front() == L'"') {
            const size_t closing = FindClosingQuote(rest);
            if (closing == std::wstring_view::npos)
                break; // no closing quote: the rest is dropped
            std::wstring& field = nextField();
            for (size_t pos = 1; pos < closing; ++pos) {
                field += rest[pos];
                if (rest[pos] == L'"')
                    ++pos; // a doubled quote stands for one
            }
            const size_t comma = rest.find(L',', closing + 1);
            rest = comma == std::wstring_view::npos ? std::wstring_view() : rest.substr(comma + 1);
            continue;
        }

        const size_t comma = rest.find(L',');
        if (comma == std::wstring_view::npos) {
            nextField().assign(rest);
            break;
        }
        std::wstring_view field = rest.substr(0, comma);
        while (!field.empty() && IsBlank(field.back()))
            field.remove_suffix(1);
        nextField().assign(field);
        rest.remove_prefix(comma + 1);
    }
    fields.resize(count);
}

double ParseDecimal(std::wstring_view text)
{
    text = TrimWhiteSpace(text);
    const size_t point = text.find(L'.');
    if (point == std::wstring_view::npos)
        return ConvertDigitsWithVariant(text);

    const std::wstring_view integerText = text.substr(0, point);
    const std::wstring_view fractionText = text.substr(point + 1);
    double value = ConvertDigitsWithVariant(integerText);
    if (!fractionText.empty()) {
        const double fraction = ConvertDigitsWithVariant(fractionText) / std::pow(10.0, fractionText.size());
        const bool negative = !integerText.empty() && integerText.front() == L'-';
        value += negative ? -fraction : fraction;
    }
    return value;
}
