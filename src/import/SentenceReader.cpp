#include "import/SentenceReader.h"

#include <oleauto.h>

#include <array>
#include <cstring>

#include "ErrorStrings.h"
#include "base/Exception.h"
#include "base/ResourceString.h"
#include "base/Text.h"
#include "import/ByteWords.h"

namespace {

constexpr size_t c_blockSize = 64 * 1024;
// Sentences are at most 82 characters by the protocol; names and comments
// of other writers make them longer, but never this long. A longer line is
// not a sentence and is skipped without being kept.
constexpr size_t c_maximumLineLength = 4096;
constexpr size_t c_maximumFields = 16;
constexpr double c_metresPerFoot = 0.3048;
// Far beyond any receiver's altitude, in feet or metres: larger numbers are
// damage, and would not fit the writers' fixed-point arithmetic.
constexpr double c_maximumAltitude = 1e7;
// Two-digit years below this are of this century, the others of the last.
constexpr int c_centuryPivot = 80;

using Fields = std::array<std::string_view, c_maximumFields>;

// Splits at every comma; fields past the last slot stay in the last one.
size_t SplitFields(std::string_view sentence, Fields& fields) noexcept
{
    size_t count = 0;
    for (;;) {
        const size_t comma = sentence.find(',');
        if (comma == std::string_view::npos || count == c_maximumFields - 1) {
            fields[count++] = sentence;
            return count;
        }
        fields[count++] = sentence.substr(0, comma);
        sentence.remove_prefix(comma + 1);
    }
}

int HexValue(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

enum class ChecksumState { Absent, Right, Wrong };

// A sentence ends in "*hh" when it carries a checksum: the XOR of every
// byte between the '$' and the '*'. The sentence loses the "*hh".
ChecksumState CheckAndRemoveChecksum(std::string_view& sentence) noexcept
{
    const size_t length = sentence.size();
    if (length < 4 || sentence[length - 3] != '*')
        return ChecksumState::Absent;
    const int high = HexValue(sentence[length - 2]);
    const int low = HexValue(sentence[length - 1]);
    if (high < 0 || low < 0)
        return ChecksumState::Absent;
    const unsigned char sum = ByteWords::ChecksumOf(sentence.substr(1, length - 4));
    sentence.remove_suffix(3);
    return sum == high * 16 + low ? ChecksumState::Right : ChecksumState::Wrong;
}

bool IsDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

// A run of one to eighteen ASCII digits.
bool TryParseDigits(std::string_view text, unsigned long long& value) noexcept
{
    if (text.empty() || text.size() > 18)
        return false;
    value = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

// "123", "123.", "123.456", ".5": digits with at most one point. Fraction
// digits past the fifteenth are beyond a double's precision and dropped.
bool TryParseUnsignedDecimal(std::string_view text, double& value) noexcept
{
    const size_t point = text.find('.');
    std::string_view integer = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (integer.empty() && fraction.empty())
        return false;
    unsigned long long whole = 0;
    if (!integer.empty() && !TryParseDigits(integer, whole))
        return false;
    value = static_cast<double>(whole);
    for (char c : fraction)
        if (!IsDigit(c))
            return false;
    if (fraction.size() > 15)
        fraction = fraction.substr(0, 15);
    unsigned long long digits = 0;
    if (!fraction.empty() && TryParseDigits(fraction, digits)) {
        double scale = 1;
        for (size_t i = 0; i < fraction.size(); ++i)
            scale *= 10;
        value += static_cast<double>(digits) / scale;
    }
    return true;
}

// Words for a field that failed: "the latitude '4x30.000' is not a number".
[[noreturn]] void ThrowFieldFailure(HRESULT hr, UINT words, UINT fieldName, std::string_view text)
{
    CAtlException failure(hr);
    const std::wstring field = TryLoadResourceString(fieldName).value_or(std::wstring());
    if (auto detail = TryFormatResourceString(words, {field, EscapeControlCharacters(AnsiToWide(text))}))
        failure.SetDetailIfUnknown(*detail);
    throw failure;
}

[[noreturn]] void ThrowNotANumber(UINT fieldName, std::string_view text)
{
    ThrowFieldFailure(DISP_E_TYPEMISMATCH, IDS_DETAIL_NOT_A_NUMBER, fieldName, text);
}

[[noreturn]] void ThrowNotValid(UINT fieldName, std::string_view text)
{
    ThrowFieldFailure(DISP_E_OVERFLOW, IDS_DETAIL_NOT_VALID, fieldName, text);
}

// "4830.12345" and "N": degrees and minutes, the degrees being the digits
// before the last two of the integer part (none for less than a degree).
double ParseAngle(std::string_view text, std::string_view hemisphere, UINT fieldName, double maximum,
                  char positive, char negative)
{
    double value;
    if (!TryParseUnsignedDecimal(text, value))
        ThrowNotANumber(fieldName, text);
    const double degrees = static_cast<double>(static_cast<unsigned long long>(value / 100));
    const double minutes = value - degrees * 100;
    const double angle = degrees + minutes / 60;
    if (minutes >= 60 || angle > maximum)
        ThrowNotValid(fieldName, text);
    if (hemisphere.size() != 1 || (hemisphere[0] != positive && hemisphere[0] != negative))
        ThrowNotValid(IDS_DETAIL_FIELD_HEMISPHERE, hemisphere);
    return hemisphere[0] == negative ? -angle : angle;
}

// "-000013" with "M", "123" with "F", "0.00000": metres; an empty
// altitude is none.
void ParseAltitude(std::string_view text, std::string_view unit, SentencePoint& point)
{
    if (text.empty())
        return;
    const bool negative = text[0] == '-';
    std::string_view digits = text;
    if (negative || text[0] == '+')
        digits.remove_prefix(1);
    double value;
    if (!TryParseUnsignedDecimal(digits, value))
        ThrowNotANumber(IDS_DETAIL_FIELD_ALTITUDE, text);
    if (value > c_maximumAltitude)
        ThrowNotValid(IDS_DETAIL_FIELD_ALTITUDE, text);
    double factor;
    if (unit == "M")
        factor = 1;
    else if (unit == "F")
        factor = c_metresPerFoot;
    else
        ThrowNotValid(IDS_DETAIL_FIELD_ALTITUDE_UNIT, unit);
    point.hasAltitude = true;
    point.altitude = (negative ? -value : value) * factor;
}

// "two ASCII digits" of text at offset.
int TwoDigits(std::string_view text, size_t offset) noexcept
{
    return (text[offset] - '0') * 10 + (text[offset + 1] - '0');
}

bool IsSixDigits(std::string_view text) noexcept
{
    if (text.size() != 6)
        return false;
    for (char c : text)
        if (!IsDigit(c))
            return false;
    return true;
}

// "120000", "201444.61", "120000.000": hours, minutes, seconds and the
// fraction to milliseconds. False for an empty field.
bool ParseTime(std::string_view text, SentenceTime& time)
{
    if (text.empty())
        return false;
    const size_t point = text.find('.');
    const std::string_view clock = text.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (!IsSixDigits(clock))
        ThrowNotANumber(IDS_DETAIL_FIELD_TIME, text);
    int millisecond = 0;
    int scale = 100;
    for (char c : fraction) {
        if (!IsDigit(c))
            ThrowNotANumber(IDS_DETAIL_FIELD_TIME, text);
        millisecond += (c - '0') * scale;
        scale /= 10;
    }
    time.hour = TwoDigits(clock, 0);
    time.minute = TwoDigits(clock, 2);
    time.second = TwoDigits(clock, 4);
    time.millisecond = millisecond;
    if (time.hour > 23 || time.minute > 59 || time.second > 59)
        ThrowNotValid(IDS_DETAIL_FIELD_TIME, text);
    return true;
}

int DaysInMonth(int year, int month) noexcept
{
    static const int c_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : c_days[month - 1];
}

// "010108": day, month, two-digit year. False for an empty field.
bool ParseDate(std::string_view text, SentenceTime& time)
{
    if (text.empty())
        return false;
    if (!IsSixDigits(text))
        ThrowNotANumber(IDS_DETAIL_FIELD_DATE, text);
    time.day = TwoDigits(text, 0);
    time.month = TwoDigits(text, 2);
    const int year = TwoDigits(text, 4);
    time.year = year < c_centuryPivot ? 2000 + year : 1900 + year;
    if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > DaysInMonth(time.year, time.month))
        ThrowNotValid(IDS_DETAIL_FIELD_DATE, text);
    return true;
}

void ParsePosition(const Fields& fields, SentencePoint& point)
{
    point.latitude = ParseAngle(fields[1], fields[2], IDS_DETAIL_FIELD_LATITUDE, 90, 'N', 'S');
    point.longitude = ParseAngle(fields[3], fields[4], IDS_DETAIL_FIELD_LONGITUDE, 180, 'E', 'W');
    ParseAltitude(fields[5], fields[6], point);
}

// The sentences of a sentence file that hold no point.
bool IsKnownOtherSentence(std::string_view tag) noexcept
{
    return tag == "$PMGNCMD" || tag == "$PMGNFMT";
}

} // namespace

CSentenceReader::CSentenceReader(const std::wstring& path)
    : m_path(path), m_file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr))
{
    if (!m_file)
        ThrowLastErrorFor(path);
    m_block.reset(new char[c_blockSize]);
    m_line.reserve(c_maximumLineLength);
}

bool CSentenceReader::FillBlock()
{
    DWORD read = 0;
    if (!ReadFile(m_file.Get(), m_block.get(), static_cast<DWORD>(c_blockSize), &read, nullptr))
        ThrowLastErrorFor(m_path);
    m_blockStart = 0;
    m_blockEnd = read;
    m_endOfFile = read == 0;
    return !m_endOfFile;
}

bool CSentenceReader::NextLine()
{
    m_line.clear();
    m_lineTooLong = false;
    bool anything = false;
    for (;;) {
        if (m_blockStart == m_blockEnd && (m_endOfFile || !FillBlock()))
            break;
        anything = true;
        const char* start = m_block.get() + m_blockStart;
        const size_t available = m_blockEnd - m_blockStart;
        const void* found = std::memchr(start, '\n', available);
        const size_t length = found ? static_cast<const char*>(found) - start : available;
        if (m_line.size() + length <= c_maximumLineLength)
            m_line.append(start, length);
        else
            m_lineTooLong = true;
        m_blockStart += found ? length + 1 : length;
        if (found)
            break;
    }
    if (!anything)
        return false;
    ++m_lineNumber;
    return true;
}

bool CSentenceReader::Next(SentencePoint& point)
{
    while (NextLine()) {
        if (m_lineTooLong) {
            ++m_skips.unknownLines;
            continue;
        }
        std::string_view sentence = m_line;
        while (!sentence.empty() && (sentence.back() == '\r' || sentence.back() == ' ' || sentence.back() == '\t'))
            sentence.remove_suffix(1);
        while (!sentence.empty() && sentence.front() == '\r')
            sentence.remove_prefix(1);
        if (sentence.empty())
            continue;
        if (sentence[0] != '$') {
            ++m_skips.unknownLines;
            continue;
        }
        if (CheckAndRemoveChecksum(sentence) == ChecksumState::Wrong) {
            ++m_skips.badChecksums;
            continue;
        }
        try {
            if (ReadPoint(sentence, point))
                return true;
        } catch (CAtlException& e) {
            e.SetPositionIfUnknown(m_lineNumber);
            e.SetPathIfUnknown(m_path);
            throw;
        }
    }
    return false;
}

bool CSentenceReader::ReadPoint(std::string_view sentence, SentencePoint& point)
{
    Fields fields;
    const size_t count = SplitFields(sentence, fields);
    const std::string_view tag = fields[0];
    SentenceKind kind;
    if (tag == "$PMGNWPL") {
        kind = SentenceKind::Waypoints;
    } else if (tag == "$PMGNTRK") {
        kind = SentenceKind::Track;
    } else {
        if (!IsKnownOtherSentence(tag))
            ++m_skips.unknownLines;
        return false;
    }
    if (m_kind == SentenceKind::None)
        m_kind = kind;
    if (kind != m_kind) {
        ++m_skips.otherKind;
        return false;
    }

    point = SentencePoint();
    if (kind == SentenceKind::Waypoints) {
        // lat, N, lon, W, altitude, unit[, name, comment, symbol]
        if (count < 7)
            ThrowOwnFailure(SentenceFailure::WaypointFields);
        ParsePosition(fields, point);
        point.name = count > 7 ? fields[7] : std::string_view();
        point.comment = count > 8 ? fields[8] : std::string_view();
    } else {
        // lat, N, lon, W, altitude, unit, time, status[, track name, date]
        if (count < 9)
            ThrowOwnFailure(SentenceFailure::TrackPointFields);
        // A point without a fix may leave its position empty.
        if (fields[8] == "V") {
            ++m_skips.invalidFixes;
            m_segmentBreak = true;
            return false;
        }
        if (fields[8] != "A")
            ThrowNotValid(IDS_DETAIL_FIELD_STATUS, fields[8]);
        ParsePosition(fields, point);
        const bool hasTime = ParseTime(fields[7], point.time);
        const bool hasDate = count > 10 && ParseDate(fields[10], point.time);
        point.hasTime = hasTime && hasDate;
        const std::string_view trackName = count > 9 ? fields[9] : std::string_view();
        if (!trackName.empty() && trackName != m_trackName) {
            m_segmentBreak = m_points != 0 || m_segmentBreak;
            m_trackName.assign(trackName);
        }
        point.startsSegment = m_segmentBreak;
        m_segmentBreak = false;
    }
    ++m_points;
    return true;
}
