#include "import/OziConversion.h"

#include <oleauto.h>


#include "ErrorStrings.h"
#include "base/CommaSeparated.h"
#include "base/Exception.h"
#include "base/OutputFiles.h"
#include "base/Pattern.h"
#include "base/ResourceString.h"
#include "base/Text.h"
#include "import/SentenceFile.h"

namespace {

constexpr size_t c_waypointHeaderLines = 4;
constexpr size_t c_trackHeaderLines = 6;
constexpr wchar_t c_datum[] = L"WGS 84";
constexpr wchar_t c_terminator[] = L"$PMGNCMD,END";

// "Altitude is in Feet" / "Altitude is in Meters": the first group's first
// letter decides the unit.
constexpr wchar_t c_altitudeUnitPattern[] = L"^Altitude is in {(M(eters)?)|(F(eet)?)}[^ ]+$";

enum class AltitudeUnit { Metres, Feet };

void CheckDatum(const TextLines& lines, WORD failure)
{
    constexpr unsigned datumLine = 2;
    if (!EqualsIgnoreCase(AnsiToWide(lines[datumLine - 1]), c_datum))
        ThrowOwnFailureAt(failure, datumLine);
}

AltitudeUnit ReadAltitudeUnit(const TextLines& lines)
{
    constexpr unsigned unitLine = 3;
    static const CPattern pattern(c_altitudeUnitPattern, true);
    std::vector<std::wstring_view> groups;
    const std::wstring line = AnsiToWide(lines[unitLine - 1]);
    if (!pattern.Match(line, &groups))
        ThrowOwnFailureAt(OziFailure::AltitudeUnit, unitLine);
    const bool feet = !groups[0].empty() && (groups[0][0] == L'F' || groups[0][0] == L'f');
    return feet ? AltitudeUnit::Feet : AltitudeUnit::Metres;
}

const wchar_t* LatitudeHemisphere(double latitude)
{
    return latitude >= 0 ? L",N," : L",S,";
}

const wchar_t* LongitudeHemisphere(double longitude)
{
    return longitude >= 0 ? L",E," : L",W,";
}

// Writes every non-empty line from firstLine on through buildSentence,
// attaching the input line number to a failure of that line.
// The buffers are reused from line to line: a track has a million lines.
template <typename BuildSentence>
void WritePointLines(const TextLines& lines, size_t firstLine, HANDLE output, BuildSentence buildSentence)
{
    std::wstring wide;
    std::vector<std::wstring> fields;
    std::wstring sentence;
    for (size_t index = firstLine; index < lines.size(); ++index) {
        try {
            AnsiToWide(lines[index], wide);
            const std::wstring_view trimmed = TrimWhiteSpace(wide);
            if (trimmed.empty())
                continue;
            SplitCommaSeparated(trimmed, fields);
            sentence.clear();
            buildSentence(fields, sentence);
        } catch (CAtlException& e) {
            e.SetPositionIfUnknown(static_cast<unsigned>(index + 1));
            throw;
        }
        WriteSentence(output, sentence, true);
    }
    WriteSentence(output, c_terminator, true);
}

// The output, written beside the destination and moved over it only when
// every line converted: a failure leaves an existing output as it was.
// Write failures carry the output's path.
template <typename Body>
void WriteOutput(const std::wstring& outputPath, Body body)
{
    PendingFile output(outputPath);
    try {
        body(output.Get());
    } catch (CAtlException& e) {
        if (e.Position() == 0)
            e.SetPathIfUnknown(outputPath);
        throw;
    }
    output.Commit();
}

void BuildWaypointSentence(const std::vector<std::wstring>& fields, std::wstring& sentence)
{
    if (fields.size() < 4)
        ThrowOwnFailure(OziFailure::WaypointFields);
    const double latitude = ParseNumberField(NumberField::Latitude, fields[2]);
    const double longitude = ParseNumberField(NumberField::Longitude, fields[3]);
    sentence += L"$PMGNWPL,";
    sentence += FormatDegreeMinutes(2, latitude);
    sentence += LatitudeHemisphere(latitude);
    sentence += FormatDegreeMinutes(3, longitude);
    sentence += LongitudeHemisphere(longitude);
    sentence += L"0.00000,M,";
    sentence += SentenceFieldText(fields[1]);
    sentence += L",,a";
}

// Appends "time,A,,date" of a day number: the time only when the day
// number is greater than 1.0, the date whenever it converts.
void AppendTrackTimeAndDate(std::wstring& sentence, double dayNumber)
{
    SYSTEMTIME st;
    const bool converted = VariantTimeToSystemTime(dayNumber, &st) != FALSE;
    if (converted && dayNumber > 1.0)
        AppendIntegers(sentence, L"%02d%02d%02d.%03d", {st.wHour, st.wMinute, st.wSecond, st.wMilliseconds});
    sentence += L",A,,";
    if (converted)
        AppendIntegers(sentence, L"%02d%02d%02d", {st.wDay, st.wMonth, st.wYear % 100});
}

void BuildTrackSentence(const std::vector<std::wstring>& fields, AltitudeUnit unit, std::wstring& sentence)
{
    if (fields.size() < 5)
        ThrowOwnFailure(OziFailure::TrackPointFields);
    const double latitude = ParseNumberField(NumberField::Latitude, fields[0]);
    const double longitude = ParseNumberField(NumberField::Longitude, fields[1]);
    const double altitude = ParseNumberField(NumberField::Altitude, fields[3]);
    const double dayNumber = ParseNumberField(NumberField::DayNumber, fields[4]);

    sentence += L"$PMGNTRK,";
    AppendTrackAngle(sentence, L"%02d%02d.%03d", latitude);
    sentence += LatitudeHemisphere(latitude);
    AppendTrackAngle(sentence, L"%03d%02d.%03d", longitude);
    sentence += LongitudeHemisphere(longitude);
    AppendIntegers(sentence, L"%d", {TruncateToInt(altitude)});
    sentence += unit == AltitudeUnit::Feet ? L",F," : L",M,";
    AppendTrackTimeAndDate(sentence, dayNumber);
}

} // namespace

void ConvertWaypoints(const std::wstring& inputPath, const std::wstring& outputPath)
{
    const TextLines lines = ReadTextLines(inputPath);
    if (lines.size() <= c_waypointHeaderLines)
        ThrowOwnFailure(OziFailure::WaypointsTooShort);
    CheckDatum(lines, OziFailure::WaypointsDatum);
    ThrowIfSameFile(inputPath, outputPath);
    WriteOutput(outputPath, [&](HANDLE output) {
        WritePointLines(lines, c_waypointHeaderLines, output, BuildWaypointSentence);
    });
}

void ConvertTrack(const std::wstring& inputPath, const std::wstring& outputPath)
{
    const TextLines lines = ReadTextLines(inputPath);
    if (lines.size() <= c_trackHeaderLines)
        ThrowOwnFailure(OziFailure::TrackTooShort);
    CheckDatum(lines, OziFailure::TrackDatum);
    const AltitudeUnit unit = ReadAltitudeUnit(lines);
    ThrowIfSameFile(inputPath, outputPath);
    WriteOutput(outputPath, [&](HANDLE output) {
        WritePointLines(lines, c_trackHeaderLines, output,
                        [unit](const std::vector<std::wstring>& fields, std::wstring& sentence) {
                            BuildTrackSentence(fields, unit, sentence);
                        });
    });
}
