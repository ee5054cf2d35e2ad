#include "gps/NmeaInterpreter.h"

#include <oleauto.h>

#include <climits>
#include <cmath>

#include "base/Text.h"

namespace {

// Minimum field counts of the recognised sentences.
constexpr size_t c_statusFields = 7;
constexpr size_t c_satellitesInViewFields = 3;
constexpr size_t c_positionFields = 6;
constexpr size_t c_recommendedMinimumFields = 9;
constexpr size_t c_activeSatellitesFields = 5;

// A satellites-in-view group has at most 9 messages (NMEA 0183), each of at
// most 82 characters. A group that goes on beyond 9 messages, or whose
// stored fields exceed the text limit (ample for any receiver), is dropped
// until the next message 1, so that a stream whose groups never complete
// cannot make the interpreter keep more than this.
constexpr size_t c_maximumGroupMessages = 9;
constexpr size_t c_maximumGroupText = 4096; // characters of all stored fields

size_t FieldText(const std::vector<std::wstring_view>& fields) noexcept
{
    size_t characters = 0;
    for (const auto& field : fields)
        characters += field.size();
    return characters;
}

// The value of the leading digits as a double, so that receiver texts of any
// length convert without overflow (exact up to 2^53).
double LeadingValue(std::wstring_view text) noexcept
{
    size_t i = 0;
    while (i < text.size() && IsWhiteSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+'))
        negative = text[i++] == L'-';
    double value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
        value = value * 10 + (text[i] - L'0');
    return negative ? -value : value;
}

// 10 to the power of count; the table holds the exact values a receiver's
// fields need.
double PowerOfTen(size_t count) noexcept
{
    static constexpr double c_powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return count < std::size(c_powers) ? c_powers[count] : std::pow(10.0, static_cast<double>(count));
}

// The text after a point as a fraction: "45" gives 0.45, "5x" gives 0.05.
double FractionValue(std::wstring_view digits) noexcept
{
    return LeadingValue(digits) / PowerOfTen(digits.size());
}

// Splits "value.fraction" into the part before the first point and the
// fraction after it (0 without a point).
double CutFraction(std::wstring_view& text) noexcept
{
    const size_t point = text.find(L'.');
    if (point == std::wstring_view::npos)
        return 0;
    const double fraction = FractionValue(text.substr(point + 1));
    text = text.substr(0, point);
    return fraction;
}

// Removes and converts the last two characters (or the only one).
double CutLastTwoDigits(std::wstring_view& text) noexcept
{
    const size_t take = std::min<size_t>(2, text.size());
    const double value = LeadingValue(text.substr(text.size() - take));
    text.remove_suffix(take);
    return value;
}

bool IsLetterIgnoringCase(std::wstring_view field, wchar_t letter) noexcept
{
    return field.size() == 1 && (field[0] | 0x20) == (letter | 0x20);
}

bool HasFields(const NmeaSentence& sentence, size_t minimum) noexcept
{
    return sentence.fields.size() >= minimum;
}

bool InterpretStatus(const NmeaSentence& sentence, NmeaEvents& events)
{
    if (!HasFields(sentence, c_statusFields))
        return false;
    const auto& f = sentence.fields;
    events.Status({std::wstring(f[0]), LeadingInteger(f[1]), f[2] == L"T", ParseFieldNumber(f[3]) / 999,
                   ParseFieldNumber(f[4]), std::wstring(f[5]), std::wstring(f[6])});
    return true;
}

bool InterpretPosition(const NmeaSentence& sentence, NmeaEvents& events)
{
    if (!HasFields(sentence, c_positionFields))
        return false;
    const auto& f = sentence.fields;
    events.GeographicLatitudeAndLongitude({ParseCoordinate(f[0], f[1], L'N'), ParseCoordinate(f[2], f[3], L'E'),
                                           ParseUtcTime(f[4]), IsLetterIgnoringCase(f[5], L'A')});
    return true;
}

bool InterpretRecommendedMinimum(const NmeaSentence& sentence, NmeaEvents& events)
{
    if (!HasFields(sentence, c_recommendedMinimumFields))
        return false;
    const auto& f = sentence.fields;
    const std::optional<double> date = ParseUtcDate(f[8]);
    if (!date)
        return false;
    events.RecommendedMinimumC({ParseUtcTime(f[0]), IsLetterIgnoringCase(f[1], L'A'),
                                ParseCoordinate(f[2], f[3], L'N'), ParseCoordinate(f[4], f[5], L'E'),
                                ParseFieldNumber(f[6]), ParseFieldNumber(f[7]), *date});
    return true;
}

// The last three fields are the dilutions whatever the sentence's length;
// the satellite slots are the fields between the fix type and them.
bool InterpretActiveSatellites(const NmeaSentence& sentence, NmeaEvents& events)
{
    if (!HasFields(sentence, c_activeSatellitesFields))
        return false;
    const auto& f = sentence.fields;
    const size_t count = f.size();
    ActiveSatellites satellites{IsLetterIgnoringCase(f[0], L'A'), LeadingInteger(f[1]), {},
                                ParseFieldNumber(f[count - 3]), ParseFieldNumber(f[count - 2]),
                                ParseFieldNumber(f[count - 1])};
    satellites.numbers.reserve(count - c_activeSatellitesFields);
    for (size_t i = 2; i + 3 < count; ++i)
        satellites.numbers.push_back(LeadingInteger(f[i]));
    events.SatellitesActive(satellites);
    return true;
}

// Satellites of one $GPGSV message: groups of four fields from field 3 on
// (number, elevation, azimuth, signal-to-noise); the last group may lack
// its signal-to-noise field.
void AppendSatellites(const std::vector<std::wstring>& fields, std::vector<SatelliteInView>& satellites)
{
    const size_t count = fields.size();
    for (size_t i = 3; i + 3 <= count; i += 4) {
        const bool hasSignal = i + 3 < count && !fields[i + 3].empty();
        satellites.push_back({LeadingInteger(fields[i]), ParseFieldNumber(fields[i + 1]),
                              ParseFieldNumber(fields[i + 2]), hasSignal ? ParseFieldNumber(fields[i + 3]) : 0});
    }
}

// The automation date of "ddmmyy" or "ddmmyyyy" (length already checked).
double CalendarDate(std::wstring_view text)
{
    long year = LeadingInteger(text.substr(4));
    if (year < 100)
        year += year < 80 ? 2000 : 1900;
    SYSTEMTIME day{};
    day.wYear = static_cast<WORD>(year);
    day.wMonth = static_cast<WORD>(LeadingInteger(text.substr(2, 2)));
    day.wDay = static_cast<WORD>(LeadingInteger(text.substr(0, 2)));
    double date = 0;
    if (year < 0 || year > 0xFFFF || !SystemTimeToVariantTime(&day, &date))
        return 0;
    return date;
}

} // namespace

NmeaSentence SplitSentence(std::wstring_view line)
{
    NmeaSentence sentence;
    SplitSentence(line, sentence);
    return sentence;
}

void SplitSentence(std::wstring_view line, NmeaSentence& sentence)
{
    sentence.name = {};
    sentence.fields.clear();
    const wchar_t* const begin = line.data();
    const wchar_t* end = begin;
    while (end != begin + line.size() && *end != L'*')
        ++end;
    if (end == begin)
        return;
    const wchar_t* piece = begin;
    bool named = false;
    for (const wchar_t* p = begin;; ++p) {
        if (p != end && *p != L',')
            continue;
        const std::wstring_view text(piece, static_cast<size_t>(p - piece));
        if (named)
            sentence.fields.push_back(text);
        else
            sentence.name = text;
        named = true;
        if (p == end)
            return;
        piece = p + 1;
    }
}

long LeadingInteger(std::wstring_view text) noexcept
{
    const double value = LeadingValue(text);
    if (value >= static_cast<double>(LONG_MAX))
        return LONG_MAX;
    if (value <= static_cast<double>(LONG_MIN))
        return LONG_MIN;
    return static_cast<long>(value);
}

double ParseFieldNumber(std::wstring_view text) noexcept
{
    while (!text.empty() && IsWhiteSpace(text.front()))
        text.remove_prefix(1);
    const size_t point = text.find(L'.');
    if (point == std::wstring_view::npos)
        return LeadingValue(text);
    const double whole = LeadingValue(text.substr(0, point));
    const double fraction = FractionValue(text.substr(point + 1));
    return text.front() == L'-' ? whole - fraction : whole + fraction;
}

double ParseCoordinate(std::wstring_view value, std::wstring_view hemisphere, wchar_t positiveLetter) noexcept
{
    const double sign = IsLetterIgnoringCase(hemisphere, positiveLetter) ? 1 : -1;
    const double fraction = CutFraction(value);
    double degrees = 0;
    double minutes = 0;
    if (value.size() >= 2) {
        minutes = CutLastTwoDigits(value);
        degrees = LeadingValue(value);
    } else {
        minutes = LeadingValue(value);
    }
    return sign * ((fraction + minutes) / 60 + degrees);
}

double ParseUtcTime(std::wstring_view text) noexcept
{
    const double fraction = CutFraction(text);
    const double seconds = text.empty() ? 0 : CutLastTwoDigits(text);
    const double minutes = text.empty() ? 0 : CutLastTwoDigits(text);
    const double hours = text.empty() ? 0 : LeadingValue(text);
    return (((fraction + seconds) / 60 + minutes) / 60 + hours) / 24;
}

std::optional<double> ParseUtcDate(std::wstring_view text)
{
    if (text.size() != 6 && text.size() != 8)
        return std::nullopt;
    // A receiver sends the same date all day long, and the platform's
    // conversion is slow: the last text converted on this thread is kept.
    thread_local std::wstring lastText;
    thread_local double lastDate = 0;
    if (text == lastText)
        return lastDate;
    lastDate = CalendarDate(text);
    lastText.assign(text);
    return lastDate;
}

bool CNmeaInterpreter::InterpretLine(std::wstring_view line, NmeaEvents& events)
{
    NmeaSentence sentence;
    return InterpretLine(line, sentence, events);
}

bool CNmeaInterpreter::InterpretLine(std::wstring_view line, NmeaSentence& sentence, NmeaEvents& events)
{
    using Interpret = bool (*)(CNmeaInterpreter&, const NmeaSentence&, NmeaEvents&);
    struct SentenceKind
    {
        std::wstring_view name;
        Interpret interpret;
    };
    static constexpr SentenceKind c_sentences[] = {
        {L"$PMGNST", [](CNmeaInterpreter&, const NmeaSentence& s, NmeaEvents& e) { return InterpretStatus(s, e); }},
        {L"$GPGSV",
         [](CNmeaInterpreter& self, const NmeaSentence& s, NmeaEvents& e) { return self.SatelliteGroupMessage(s, e); }},
        {L"$GPGLL", [](CNmeaInterpreter&, const NmeaSentence& s, NmeaEvents& e) { return InterpretPosition(s, e); }},
        {L"$GPRMC",
         [](CNmeaInterpreter&, const NmeaSentence& s, NmeaEvents& e) { return InterpretRecommendedMinimum(s, e); }},
        {L"$GPGSA",
         [](CNmeaInterpreter&, const NmeaSentence& s, NmeaEvents& e) { return InterpretActiveSatellites(s, e); }},
    };
    // Only the sentences reported on are cut into fields: a receiver sends
    // about as many others ($GPGGA among them), which report nothing.
    const std::wstring_view name = line.substr(0, line.find_first_of(L",*"));
    for (const SentenceKind& kind : c_sentences) {
        if (kind.name == name) {
            SplitSentence(line, sentence);
            return kind.interpret(*this, sentence, events);
        }
    }
    return true;
}

// Messages 1..total of a group must arrive in order; a missed or repeated
// message, or one beyond the group's limits, drops the group until the next
// message 1. The group may span several batches.
bool CNmeaInterpreter::SatelliteGroupMessage(const NmeaSentence& sentence, NmeaEvents& events)
{
    if (!HasFields(sentence, c_satellitesInViewFields))
        return false;
    const long total = LeadingInteger(sentence.fields[0]);
    const long number = LeadingInteger(sentence.fields[1]);
    std::vector<SatelliteInView> satellites;
    {
        CriticalSectionLock lock(m_stateLock);
        if (number == 1) {
            m_storedMessages = 0;
            m_storedText = 0;
            m_collecting = true;
        }
        if (m_collecting) {
            const size_t text = FieldText(sentence.fields);
            const bool next = m_storedMessages == static_cast<size_t>(number) - 1;
            const bool fits = m_storedMessages < c_maximumGroupMessages && text <= c_maximumGroupText - m_storedText;
            if (next && fits) {
                StoreGroupMessage(sentence.fields);
                m_storedText += text;
            } else {
                m_collecting = false;
            }
        }
        if (number == total && m_collecting) {
            satellites.reserve(m_storedMessages * 4);
            for (size_t i = 0; i < m_storedMessages; ++i)
                AppendSatellites(m_groupMessages[i], satellites);
            m_collecting = false;
        }
    }
    if (!satellites.empty())
        events.SatellitesInView(satellites);
    return true;
}

// Called with the state lock held.
void CNmeaInterpreter::StoreGroupMessage(const std::vector<std::wstring_view>& fields)
{
    if (m_storedMessages == m_groupMessages.size())
        m_groupMessages.emplace_back();
    auto& stored = m_groupMessages[m_storedMessages];
    stored.resize(fields.size());
    for (size_t i = 0; i < fields.size(); ++i)
        stored[i].assign(fields[i]);
    ++m_storedMessages;
}
