// Interpretation of the NMEA 0183 sentences a Magellan receiver sends.
//
// Six sentence names are recognised, exactly and case-sensitively:
// $PMGNST (the receiver's status), $GPGSV, $GPGLL, $GPGGA (recognised and
// ignored), $GPRMC and $GPGSA. Any other name is ignored. Everything from
// the first '*' on is cut off unread, so the checksum is not verified.
//
//   $GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A
//   $GPGLL,4916.45,N,12311.12,W,225444,A
//   $GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39
//   $GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74
//   $PMGNST,02.12,3,T,534,05.0,+03327,00*40
//
// A sentence with fewer fields than its minimum, or an RMC date of other
// than 6 or 8 characters, is malformed: it reports nothing and the caller
// learns of it from the result (malformed lines are ordinary on a serial
// line, so they are no exceptions). The only state
// kept between lines is the buffer that assembles a satellites-in-view
// group from its numbered messages; it is guarded by a lock because lines
// may arrive on any thread, and the lock is never held while an event is
// reported. The buffer holds at most 9 messages and 4096 characters of
// fields: a group beyond either limit is dropped, whatever a stream sends.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Handle.h"

// A line cut at its commas: the name ("$GPRMC") and the fields after it.
struct NmeaSentence
{
    std::wstring_view name;
    std::vector<std::wstring_view> fields;
};

// "$GPGLL,a,b,*hh" gives the name $GPGLL and the fields a, b and "". The
// views point into the line.
NmeaSentence SplitSentence(std::wstring_view line);
// The same into an existing sentence, whose field list keeps its room.
void SplitSentence(std::wstring_view line, NmeaSentence& sentence);

// Leading white space, an optional sign, then digits up to the first other
// character: "12abc" gives 12, "" gives 0.
long LeadingInteger(std::wstring_view text) noexcept;

// "1.05" gives 1.05, "-0.5" gives -0.5, "" gives 0. The text after the
// point is read as an integer and divided by 10 to the power of its length.
double ParseFieldNumber(std::wstring_view text) noexcept;

// Degrees and minutes "ddmm.mmmm" with a hemisphere letter: ("4916.45", "N",
// L'N') gives 49.274166..., ("12311.12", "W", L'E') gives -123.185333...
double ParseCoordinate(std::wstring_view value, std::wstring_view hemisphere, wchar_t positiveLetter) noexcept;

// "hhmmss" or "hhmmss.sss" as a fraction of a day: "123519" gives 0.52452...
double ParseUtcTime(std::wstring_view text) noexcept;

// "ddmmyy" or "ddmmyyyy" as an automation date at midnight: "230394" gives
// 34416. Years below 80 are 20yy, 80 to 99 are 19yy. A date the calendar
// rejects gives 0; a text of another length gives nothing.
std::optional<double> ParseUtcDate(std::wstring_view text);

struct SatelliteInView
{
    long number;
    double elevation;
    double azimuth;
    double signalToNoise;
};

struct GeographicPosition // $GPGLL
{
    double latitude;
    double longitude;
    double time;
    bool active;
};

struct RecommendedMinimum // $GPRMC
{
    double time;
    bool active;
    double latitude;
    double longitude;
    double speed;
    double course;
    double date;
};

struct ActiveSatellites // $GPGSA
{
    bool automatic;
    long fixType;
    std::vector<long> numbers;
    double positionDilution;
    double horizontalDilution;
    double verticalDilution;
};

struct ReceiverStatus // $PMGNST
{
    std::wstring softwareVersion;
    long fixType;
    bool fixAvailable;
    double batteryLevel;
    double estimatedBatteryHours;
    std::wstring oscillatorOffset;
    std::wstring proprietaryInformation;
};

// What the interpreter reports, one call per recognised sentence (a
// satellites-in-view group reports once, after its last message).
class NmeaEvents
{
public:
    virtual void SatellitesInView(const std::vector<SatelliteInView>& satellites) = 0;
    virtual void GeographicLatitudeAndLongitude(const GeographicPosition& position) = 0;
    virtual void RecommendedMinimumC(const RecommendedMinimum& fix) = 0;
    virtual void SatellitesActive(const ActiveSatellites& satellites) = 0;
    virtual void Status(const ReceiverStatus& status) = 0;

protected:
    ~NmeaEvents() = default;
};

class CNmeaInterpreter
{
public:
    // Interprets one line and reports what it holds. Returns false for a
    // malformed recognised sentence, which reports nothing. Raises only
    // what the events raise (allocation failures); the satellite group
    // buffer stays consistent either way.
    bool InterpretLine(std::wstring_view line, NmeaEvents& events);
    // The same, cutting the line into scratch, which a caller with many
    // lines keeps so that its field list keeps its room.
    bool InterpretLine(std::wstring_view line, NmeaSentence& scratch, NmeaEvents& events);

private:
    bool SatelliteGroupMessage(const NmeaSentence& sentence, NmeaEvents& events);
    void StoreGroupMessage(const std::vector<std::wstring_view>& fields);

    CriticalSection m_stateLock;
    bool m_collecting = false;
    // Fields of each stored $GPGSV (at most 9); entries beyond
    // m_storedMessages are kept for their room only.
    std::vector<std::vector<std::wstring>> m_groupMessages;
    size_t m_storedMessages = 0;
    size_t m_storedText = 0; // characters of the stored fields
};
