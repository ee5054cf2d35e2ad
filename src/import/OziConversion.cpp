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
constexpr std::string_view c_terminator = "$PMGNCMD,END";

// "Altitude is in Feet" / "Altitude is in Meters": the first group's first
// letter decides the unit.
constexpr wchar_t c_altitudeUnitPattern[] = L"^Altitude is in {(M(eters)?)|(F(eet)?)}[^ ]+$";

enum class AltitudeUnit { Metres, Feet };

// The header lines of a file and the first line after them, which a file
// must have: the checks of the header come before anything is written.
struct Header
{
    std::vector<std::string> lines;
    std::string_view firstPointLine;
};

Header ReadHeader(TextLineReader& reader, size_t lineCount, WORD tooShort)
{
    Header header;
    std::string_view line;
    while (header.lines.size() < lineCount) {
        if (!reader.Next(line))
            ThrowOwnFailure(tooShort);
        header.lines.emplace_back(line);
    }
    if (!reader.Next(header.firstPointLine))
        ThrowOwnFailure(tooShort);
    return header;
}

void CheckDatum(const Header& header, WORD failure)
{
    constexpr unsigned datumLine = 2;
    if (!EqualsIgnoreCase(AnsiToWide(header.lines[datumLine - 1]), c_datum))
        ThrowOwnFailureAt(failure, datumLine);
}

AltitudeUnit ReadAltitudeUnit(const Header& header)
{
    constexpr unsigned unitLine = 3;
    static const CPattern pattern(c_altitudeUnitPattern, true);
    std::vector<std::wstring_view> groups;
    const std::wstring line = AnsiToWide(header.lines[unitLine - 1]);
    if (!pattern.Match(line, &groups))
        ThrowOwnFailureAt(OziFailure::AltitudeUnit, unitLine);
    const bool feet = !groups[0].empty() && (groups[0][0] == L'F' || groups[0][0] == L'f');
    return feet ? AltitudeUnit::Feet : AltitudeUnit::Metres;
}

std::string_view LatitudeHemisphere(double latitude)
{
    return latitude >= 0 ? std::string_view(",N,") : std::string_view(",S,");
}

std::string_view LongitudeHemisphere(double longitude)
{
    return longitude >= 0 ? std::string_view(",E,") : std::string_view(",W,");
}

// The fields of one line. A line of ASCII bytes, nearly every line of a
// real file, is split as it is; any other line is converted from the ANSI
// code page first. The lists are reused from line to line.
struct LineFields
{
    std::vector<std::string_view> ascii;
    std::string unquoted;
    std::wstring wideLine;
    std::vector<std::wstring> wide;
};

// Writes a sentence for every non-empty line from the first point line on,
// attaching the input line number to a failure of that line, then the
// terminator; the number of points written.
template <typename BuildSentence>
size_t WritePointLines(TextLineReader& reader, std::string_view line, SentenceWriter& output,
                     BuildSentence buildSentence)
{
    LineFields fields;
    std::string sentence;
    size_t points = 0;
    do {
        try {
            sentence.clear();
            if (IsAscii(line)) {
                const std::string_view trimmed = TrimWhiteSpace(line);
                if (trimmed.empty())
                    continue;
                SplitCommaSeparated(trimmed, fields.ascii, fields.unquoted);
                buildSentence(fields.ascii, sentence);
            } else {
                AnsiToWide(line, fields.wideLine);
                const std::wstring_view trimmed = TrimWhiteSpace(fields.wideLine);
                if (trimmed.empty())
                    continue;
                SplitCommaSeparated(trimmed, fields.wide);
                buildSentence(fields.wide, sentence);
            }
        } catch (CAtlException& e) {
            e.SetPositionIfUnknown(reader.LineNumber());
            throw;
        }
        output.Write(sentence);
        ++points;
    } while (reader.Next(line));
    output.Write(c_terminator);
    return points;
}

// Converts the points after the header into the destination's pending
// file, which replaces the destination only when every line converted: a
// failure leaves an existing output as it was. Write failures carry the
// output's path (read failures already carry the input's). The number of
// points written.
template <typename BuildSentence>
size_t WriteOutput(TextLineReader& reader, std::string_view firstLine, const std::wstring& outputPath,
                 BuildSentence buildSentence)
{
    try {
        SentenceWriter output(outputPath);
        const size_t points = WritePointLines(reader, firstLine, output, buildSentence);
        output.Commit();
        return points;
    } catch (CAtlException& e) {
        if (e.Position() == 0)
            e.SetPathIfUnknown(outputPath);
        throw;
    }
}

template <typename Field>
void BuildWaypointSentence(const std::vector<Field>& fields, std::string& sentence)
{
    if (fields.size() < 4)
        ThrowOwnFailure(OziFailure::WaypointFields);
    const double latitude = ParseNumberField(NumberField::Latitude, fields[2]);
    const double longitude = ParseNumberField(NumberField::Longitude, fields[3]);
    sentence += "$PMGNWPL,";
    AppendDegreeMinutes(sentence, 2, latitude);
    sentence += LatitudeHemisphere(latitude);
    AppendDegreeMinutes(sentence, 3, longitude);
    sentence += LongitudeHemisphere(longitude);
    sentence += "0.00000,M,";
    AppendSentenceFieldText(sentence, fields[1]);
    sentence += ",,a";
}

// Appends "time,A,,date" of a day number: the time only when the day
// number is greater than 1.0, the date whenever it converts.
void AppendTrackTimeAndDate(std::string& sentence, double dayNumber)
{
    SYSTEMTIME st;
    const bool converted = VariantTimeToSystemTime(dayNumber, &st) != FALSE;
    if (converted && dayNumber > 1.0) {
        AppendInteger(sentence, st.wHour, 2);
        AppendInteger(sentence, st.wMinute, 2);
        AppendInteger(sentence, st.wSecond, 2);
        sentence += '.';
        AppendInteger(sentence, st.wMilliseconds, 3);
    }
    sentence += ",A,,";
    if (converted) {
        AppendInteger(sentence, st.wDay, 2);
        AppendInteger(sentence, st.wMonth, 2);
        AppendInteger(sentence, st.wYear % 100, 2);
    }
}

template <typename Field>
void BuildTrackSentence(const std::vector<Field>& fields, AltitudeUnit unit, std::string& sentence)
{
    if (fields.size() < 5)
        ThrowOwnFailure(OziFailure::TrackPointFields);
    const double latitude = ParseNumberField(NumberField::Latitude, fields[0]);
    const double longitude = ParseNumberField(NumberField::Longitude, fields[1]);
    const double altitude = ParseNumberField(NumberField::Altitude, fields[3]);
    const double dayNumber = ParseNumberField(NumberField::DayNumber, fields[4]);

    sentence += "$PMGNTRK,";
    AppendTrackAngle(sentence, 2, latitude);
    sentence += LatitudeHemisphere(latitude);
    AppendTrackAngle(sentence, 3, longitude);
    sentence += LongitudeHemisphere(longitude);
    AppendInteger(sentence, TruncateToInt(altitude), 0);
    sentence += unit == AltitudeUnit::Feet ? ",F," : ",M,";
    AppendTrackTimeAndDate(sentence, dayNumber);
}

} // namespace

size_t ConvertWaypoints(const std::wstring& inputPath, const std::wstring& outputPath)
{
    TextLineReader reader(inputPath);
    const Header header = ReadHeader(reader, c_waypointHeaderLines, OziFailure::WaypointsTooShort);
    CheckDatum(header, OziFailure::WaypointsDatum);
    ThrowIfSameFile(inputPath, outputPath);
    return WriteOutput(reader, header.firstPointLine, outputPath, [](const auto& fields, std::string& sentence) {
        BuildWaypointSentence(fields, sentence);
    });
}

size_t ConvertTrack(const std::wstring& inputPath, const std::wstring& outputPath)
{
    TextLineReader reader(inputPath);
    const Header header = ReadHeader(reader, c_trackHeaderLines, OziFailure::TrackTooShort);
    CheckDatum(header, OziFailure::TrackDatum);
    const AltitudeUnit unit = ReadAltitudeUnit(header);
    ThrowIfSameFile(inputPath, outputPath);
    return WriteOutput(reader, header.firstPointLine, outputPath, [unit](const auto& fields, std::string& sentence) {
        BuildTrackSentence(fields, unit, sentence);
    });
}
