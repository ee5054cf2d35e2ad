#include "support/TestSupport.h"

#include <cmath>
#include <fstream>
#include <variant>

#include "base/Text.h"
#include "gps/NmeaInterpreter.h"

namespace {

using Event = std::variant<std::vector<SatelliteInView>, GeographicPosition, RecommendedMinimum, ActiveSatellites,
                           ReceiverStatus>;

class RecordingEvents : public NmeaEvents
{
public:
    void SatellitesInView(const std::vector<SatelliteInView>& satellites) override { events.emplace_back(satellites); }
    void GeographicLatitudeAndLongitude(const GeographicPosition& position) override { events.emplace_back(position); }
    void RecommendedMinimumC(const RecommendedMinimum& fix) override { events.emplace_back(fix); }
    void SatellitesActive(const ActiveSatellites& satellites) override { events.emplace_back(satellites); }
    void Status(const ReceiverStatus& status) override { events.emplace_back(status); }

    template <typename T>
    const T& Only() const
    {
        EXPECT_EQ(1u, events.size());
        return std::get<T>(events.at(0));
    }

    std::vector<Event> events;
};

// Interprets the lines until the first malformed one, as one batch of the
// automation object does; false when a line was malformed.
bool InterpretBatch(CNmeaInterpreter& interpreter, std::initializer_list<const wchar_t*> lines,
                    RecordingEvents& events)
{
    for (const wchar_t* line : lines)
        if (!interpreter.InterpretLine(line, events))
            return false;
    return true;
}

constexpr double c_tolerance = 1e-9;

} // namespace

TEST(NmeaSplit, CutsNameAndFieldsAndDropsChecksum)
{
    struct Row
    {
        const wchar_t* line;
        const wchar_t* name;
        std::vector<std::wstring> fields;
    };
    const Row rows[] = {
        {L"$GPGLL,a,b*7F", L"$GPGLL", {L"a", L"b"}},
        {L"a,b,", L"a", {L"b", L""}},
        {L"$GPGGA", L"$GPGGA", {}},
        {L"", L"", {}},
        {L"*12", L"", {}},
        {L"$X,,,*", L"$X", {L"", L"", L""}},
        {L"$A,1*2,3", L"$A", {L"1"}},
    };
    for (const auto& row : rows) {
        const NmeaSentence sentence = SplitSentence(row.line);
        EXPECT_EQ(row.name, sentence.name) << row.line;
        EXPECT_EQ(row.fields, std::vector<std::wstring>(sentence.fields.begin(), sentence.fields.end())) << row.line;
    }
}

TEST(NmeaNumbers, FieldNumbers)
{
    const std::pair<const wchar_t*, double> rows[] = {
        {L"", 0},        {L"1.05", 1.05},   {L"-0.5", -0.5},  {L"  2.5", 2.5},   {L"12abc", 12},
        {L"534", 534},   {L"05.0", 5},      {L"-12.25", -12.25}, {L"+3.5", 3.5}, {L".5", 0.5},
        {L"7.", 7},      {L"1.5x", 1.05},   {L"x", 0},        {L"4404.1165102", 4404.1165102},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_NEAR(expected, ParseFieldNumber(text), c_tolerance) << text;
}

TEST(NmeaNumbers, LeadingIntegers)
{
    const std::pair<const wchar_t*, long> rows[] = {
        {L"", 0}, {L"12abc", 12}, {L" -7", -7}, {L"+3", 3}, {L"04", 4}, {L"x1", 0}, {L"99999999999999", LONG_MAX},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(expected, LeadingInteger(text)) << text;
}

TEST(NmeaNumbers, Coordinates)
{
    struct Row
    {
        const wchar_t* value;
        const wchar_t* hemisphere;
        wchar_t positive;
        double expected;
    };
    const Row rows[] = {
        {L"4916.45", L"N", L'N', 49.0 + 16.45 / 60},
        {L"12311.12", L"W", L'E', -(123.0 + 11.12 / 60)},
        {L"4807.038", L"n", L'N', 48.1173},
        {L"01131.000", L"E", L'E', 11.0 + 31.0 / 60},
        {L"", L"", L'N', 0},
        {L"5", L"S", L'N', -5.0 / 60},
        {L"4404.1165102", L"N", L'N', 44.0 + 4.1165102 / 60},
        {L"0000.0000", L"N", L'N', 0},
    };
    for (const auto& row : rows)
        EXPECT_NEAR(row.expected, ParseCoordinate(row.value, row.hemisphere, row.positive), c_tolerance)
            << row.value << L" " << row.hemisphere;
}

TEST(NmeaNumbers, TimesOfDay)
{
    const std::pair<const wchar_t*, double> rows[] = {
        {L"123519", (12 * 3600 + 35 * 60 + 19) / 86400.0},
        {L"225444", (22 * 3600 + 54 * 60 + 44) / 86400.0},
        {L"200619.295", (20 * 3600 + 6 * 60 + 19.295) / 86400.0},
        {L"", 0},
        {L"5", 5 / 86400.0},
        {L"0130", 90 / 86400.0},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_NEAR(expected, ParseUtcTime(text), c_tolerance) << text;
}

TEST(NmeaNumbers, Dates)
{
    const std::pair<const wchar_t*, double> rows[] = {
        {L"230394", 34416}, {L"23031994", 34416}, {L"010179", 65381}, {L"010180", 29221},
        {L"311299", 36525}, {L"011300", 0},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(expected, ParseUtcDate(text).value_or(-1)) << text;
    for (const wchar_t* text : {L"", L"23039", L"2303941", L"230319940"})
        EXPECT_FALSE(ParseUtcDate(text)) << text;
}

TEST(NmeaInterpreter, RecommendedMinimumWithAnyChecksum)
{
    for (const wchar_t* line : {L"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A",
                                L"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*00"}) {
        CNmeaInterpreter interpreter;
        RecordingEvents events;
        interpreter.InterpretLine(line, events);
        const auto& fix = events.Only<RecommendedMinimum>();
        EXPECT_NEAR(0.5245254, fix.time, 1e-7);
        EXPECT_TRUE(fix.active);
        EXPECT_NEAR(48.1173, fix.latitude, c_tolerance);
        EXPECT_NEAR(11.5166666667, fix.longitude, 1e-9);
        EXPECT_NEAR(22.4, fix.speed, c_tolerance);
        EXPECT_NEAR(84.4, fix.course, c_tolerance);
        EXPECT_EQ(34416, fix.date);
    }
}

TEST(NmeaInterpreter, FailureEndsTheBatch)
{
    CNmeaInterpreter interpreter;
    RecordingEvents events;
    EXPECT_FALSE(InterpretBatch(interpreter,
                                           {L"$GPGLL,4916.45,N,12311.12,W,225444,A",
                                            L"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,,003.1,W",
                                            L"$GPGLL,4916.45,N,12311.12,W,225444,A"},
                                           events));
    EXPECT_EQ(1u, events.events.size());
}

TEST(NmeaInterpreter, TooFewFieldsFail)
{
    for (const wchar_t* line : {L"$PMGNST,1,2,3,4,5,6", L"$GPGSV,1,1", L"$GPGLL,1,2,3,4,5", L"$GPRMC,1,2,3,4,5,6,7,8",
                                L"$GPGSA,A,3,1,2"}) {
        CNmeaInterpreter interpreter;
        RecordingEvents events;
        EXPECT_FALSE(InterpretBatch(interpreter, {line}, events)) << line;
        EXPECT_TRUE(events.events.empty()) << line;
    }
}

TEST(NmeaInterpreter, GeographicPosition)
{
    const std::pair<const wchar_t*, bool> rows[] = {
        {L"$GPGLL,4916.45,N,12311.12,W,225444,A", true},
        {L"$GPGLL,4916.45,N,12311.12,W,225444,V", false},
        {L"$GPGLL,4916.45,N,12311.12,W,225444,a*1D", true},
    };
    for (const auto& [line, active] : rows) {
        CNmeaInterpreter interpreter;
        RecordingEvents events;
        interpreter.InterpretLine(line, events);
        const auto& position = events.Only<GeographicPosition>();
        EXPECT_NEAR(49.2741666667, position.latitude, 1e-9);
        EXPECT_NEAR(-123.1853333333, position.longitude, 1e-9);
        EXPECT_NEAR(0.9546759259, position.time, 1e-9);
        EXPECT_EQ(active, position.active) << line;
    }
}

TEST(NmeaInterpreter, ActiveSatellites)
{
    CNmeaInterpreter interpreter;
    RecordingEvents events;
    interpreter.InterpretLine(L"$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39", events);
    const auto& active = events.Only<ActiveSatellites>();
    EXPECT_TRUE(active.automatic);
    EXPECT_EQ(3, active.fixType);
    EXPECT_EQ((std::vector<long>{4, 5, 0, 9, 12, 0, 0, 24, 0, 0, 0, 0}), active.numbers);
    EXPECT_DOUBLE_EQ(2.5, active.positionDilution);
    EXPECT_DOUBLE_EQ(1.3, active.horizontalDilution);
    EXPECT_DOUBLE_EQ(2.1, active.verticalDilution);
}

TEST(NmeaInterpreter, ActiveSatellitesTakesDilutionsFromTheEnd)
{
    const std::pair<const wchar_t*, std::vector<long>> rows[] = {
        {L"$GPGSA,M,2,1.0,2.0,", {}},
        {L"$GPGSA,M,2,7,1.0,2.0,", {7}},
        {L"$GPGSA,M,2,7,8,1.0,2.0,", {7, 8}},
    };
    for (const auto& [line, numbers] : rows) {
        CNmeaInterpreter interpreter;
        RecordingEvents events;
        interpreter.InterpretLine(line, events);
        const auto& active = events.Only<ActiveSatellites>();
        EXPECT_FALSE(active.automatic);
        EXPECT_EQ(numbers, active.numbers) << line;
        EXPECT_DOUBLE_EQ(1.0, active.positionDilution);
        EXPECT_DOUBLE_EQ(2.0, active.horizontalDilution);
        EXPECT_DOUBLE_EQ(0, active.verticalDilution);
    }
}

TEST(NmeaInterpreter, ReceiverStatus)
{
    const std::pair<const wchar_t*, bool> rows[] = {
        {L"$PMGNST,02.12,3,T,534,05.0,+03327,00*40", true},
        {L"$PMGNST,02.12,3,t,534,05.0,+03327,00*40", false},
    };
    for (const auto& [line, available] : rows) {
        CNmeaInterpreter interpreter;
        RecordingEvents events;
        interpreter.InterpretLine(line, events);
        const auto& status = events.Only<ReceiverStatus>();
        EXPECT_EQ(L"02.12", status.softwareVersion);
        EXPECT_EQ(3, status.fixType);
        EXPECT_EQ(available, status.fixAvailable);
        EXPECT_NEAR(534.0 / 999, status.batteryLevel, c_tolerance);
        EXPECT_DOUBLE_EQ(5.0, status.estimatedBatteryHours);
        EXPECT_EQ(L"+03327", status.oscillatorOffset);
        EXPECT_EQ(L"00", status.proprietaryInformation);
    }
}

TEST(NmeaInterpreter, IgnoredSentences)
{
    CNmeaInterpreter interpreter;
    RecordingEvents events;
    EXPECT_TRUE(InterpretBatch(interpreter,
                                   {L"$GPGGA", L"$GPGGA,,,,,,,", L"$GNRMC,1,2,3", L"$gprmc,1", L"", L"garbage",
                                    L"$GPVTG,1,2", L"$GPGGA,030130$GPGLL,4916.45"},
                                   events));
    EXPECT_TRUE(events.events.empty());
}

TEST(NmeaInterpreter, SatelliteGroups)
{
    const wchar_t* one = L"$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74";
    const wchar_t* two = L"$GPGSV,3,2,11,14,25,170,00,16,57,208,39,18,67,296,40,19,40,246,00*74";
    const wchar_t* three = L"$GPGSV,3,3,11,22,42,067,42,24,14,311,43,27,05,244,00,,,,*4D";
    struct Row
    {
        std::vector<std::vector<const wchar_t*>> batches;
        size_t satellites; // 0: no event
    };
    const Row rows[] = {
        {{{one, two, three}}, 12},
        {{{one}, {two}, {three}}, 12},
        {{{one, three}}, 0},
        {{{two, three}}, 0},
        {{{one, two, two, three}}, 0},
        {{{one, two, one, two, three}}, 12},
        {{{three, one, two, three}}, 12},
        {{{L"$GPGSV,1,1,00"}}, 0},
        {{{L"$GPGSV,1,1,01,07,45,090"}}, 1},
    };
    for (const auto& row : rows) {
        CNmeaInterpreter interpreter;
        RecordingEvents events;
        for (const auto& batch : row.batches)
            for (const wchar_t* line : batch)
                interpreter.InterpretLine(line, events);
        if (row.satellites == 0) {
            EXPECT_TRUE(events.events.empty());
            continue;
        }
        const auto& satellites = events.Only<std::vector<SatelliteInView>>();
        ASSERT_EQ(row.satellites, satellites.size());
        EXPECT_EQ(satellites.front().number, row.satellites == 1 ? 7 : 3);
        if (row.satellites == 12) {
            EXPECT_EQ(16, satellites[5].number);
            EXPECT_DOUBLE_EQ(57, satellites[5].elevation);
            EXPECT_DOUBLE_EQ(208, satellites[5].azimuth);
            EXPECT_DOUBLE_EQ(39, satellites[5].signalToNoise);
            EXPECT_EQ(27, satellites[10].number);
            EXPECT_EQ(0, satellites[11].number); // the empty fourth slot of message 3
        }
    }
}

namespace {

// "$GPGSV,total,number,count" followed by satellites numbered 1 on.
std::wstring GroupMessage(long total, long number, size_t satellites)
{
    std::wstring line = L"$GPGSV," + std::to_wstring(total) + L',' + std::to_wstring(number) + L",99";
    for (size_t i = 1; i <= satellites; ++i)
        line += L',' + std::to_wstring(i) + L",45,180,30";
    return line;
}

} // namespace

TEST(NmeaInterpreter, SatelliteGroupsStayWithinTheirLimits)
{
    struct Row
    {
        const char* what;
        long messages;       // numbered 1 on, the last completing the group
        size_t satellites;   // per message
        size_t reported;     // 0: no event
    };
    const Row rows[] = {
        {"nine messages, the most NMEA 0183 allows", 9, 4, 36},
        {"ten messages", 10, 4, 0},
        {"messages holding more text than any receiver sends", 2, 300, 0},
        // The total grows with every message and is reached only at the end.
        {"a group that never completes", 100000, 4, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        CNmeaInterpreter interpreter;
        RecordingEvents events;
        for (long number = 1; number < row.messages; ++number)
            interpreter.InterpretLine(GroupMessage(number + 1, number, row.satellites), events);
        interpreter.InterpretLine(GroupMessage(row.messages, row.messages, row.satellites), events);
        if (row.reported == 0) {
            EXPECT_TRUE(events.events.empty());
        } else {
            EXPECT_EQ(row.reported, events.Only<std::vector<SatelliteInView>>().size());
        }
        // The next group is read as ever.
        events.events.clear();
        interpreter.InterpretLine(GroupMessage(1, 1, 3), events);
        EXPECT_EQ(3u, events.Only<std::vector<SatelliteInView>>().size());
    }
}

TEST(NmeaInterpreter, MissingOrEmptySignalToNoiseIsZero)
{
    for (const wchar_t* line : {L"$GPGSV,1,1,02,05,10,20,30,06,40,50", L"$GPGSV,1,1,02,05,10,20,30,06,40,50,"}) {
        CNmeaInterpreter interpreter;
        RecordingEvents events;
        interpreter.InterpretLine(line, events);
        const auto& satellites = events.Only<std::vector<SatelliteInView>>();
        ASSERT_EQ(2u, satellites.size()) << line;
        EXPECT_DOUBLE_EQ(30, satellites[0].signalToNoise);
        EXPECT_EQ(6, satellites[1].number);
        EXPECT_DOUBLE_EQ(0, satellites[1].signalToNoise) << line;
    }
}

// Every real capture is interpreted line by line, each line as a batch of
// its own (a failing line must not disturb the next), and every position
// reported lies on the globe.
TEST(NmeaInterpreter, RealCaptures)
{
    const std::wstring folder = TestDataFolder();
    SKIP_WITHOUT_TESTDATA(folder);
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((folder + L"\\nmea\\*.nmea").c_str(), &found));
    ASSERT_TRUE(search);
    size_t files = 0;
    do {
        ++files;
        const std::string bytes = ReadFileBytes(folder + L"\\nmea\\" + found.cFileName);
        CNmeaInterpreter interpreter;
        RecordingEvents events;
        size_t failures = 0;
        size_t start = 0;
        while (start < bytes.size()) {
            size_t end = bytes.find_first_of("\r\n", start);
            if (end == std::string::npos)
                end = bytes.size();
            const std::wstring line = AnsiToWide(std::string_view(bytes).substr(start, end - start));
            failures += !interpreter.InterpretLine(line, events);
            start = end + 1;
        }
        EXPECT_FALSE(events.events.empty()) << found.cFileName;
        for (const auto& event : events.events) {
            if (const auto* fix = std::get_if<RecommendedMinimum>(&event)) {
                EXPECT_LE(std::fabs(fix->latitude), 90) << found.cFileName;
                EXPECT_LE(std::fabs(fix->longitude), 180) << found.cFileName;
                EXPECT_GE(fix->time, 0);
                EXPECT_LT(fix->time, 1);
            }
        }
        if (std::wstring(found.cFileName).find(L"corrupt") == std::wstring::npos) {
            EXPECT_EQ(0u, failures) << found.cFileName;
        }
    } while (FindNextFileW(search.Get(), &found));
    EXPECT_EQ(10u, files);
}

// The Explorist 210 capture: its status sentences and a position near
// Groningen.
TEST(NmeaInterpreter, ExploristCapture)
{
    const std::wstring folder = TestDataFolder();
    SKIP_WITHOUT_TESTDATA(folder);
    const std::string bytes = ReadFileBytes(folder + L"\\nmea\\magellan-explorist210.nmea");
    CNmeaInterpreter interpreter;
    RecordingEvents events;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = std::min(bytes.find('\n', start), bytes.size());
        EXPECT_TRUE(interpreter.InterpretLine(AnsiToWide(std::string_view(bytes).substr(start, end - start)), events));
        start = end + 1;
    }
    size_t statuses = 0;
    size_t fixes = 0;
    for (const auto& event : events.events) {
        if (const auto* status = std::get_if<ReceiverStatus>(&event)) {
            ++statuses;
            EXPECT_EQ(L"01.75", status->softwareVersion);
            EXPECT_TRUE(status->batteryLevel == 816.0 / 999 || status->batteryLevel == 822.0 / 999);
        }
        if (const auto* fix = std::get_if<RecommendedMinimum>(&event)) {
            ++fixes;
            EXPECT_NEAR(53.2, fix->latitude, 0.2);
            EXPECT_NEAR(6.6, fix->longitude, 0.2);
            EXPECT_EQ(38857, fix->date); // 20 May 2006
        }
    }
    EXPECT_EQ(7u, statuses);
    EXPECT_EQ(4u, fixes);
}
