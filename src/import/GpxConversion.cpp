#include "import/GpxConversion.h"

#include <span>

#include "ErrorStrings.h"
#include "base/Exception.h"
#include "base/OutputFiles.h"
#include "base/ResourceString.h"
#include "base/Text.h"
#include "import/KmlLocation.h"
#include "import/SentenceFile.h"

namespace {

constexpr wchar_t c_terminator[] = L"$PMGNCMD,END";

struct OutputExtension
{
    const wchar_t* extension;
    GpxOutput output;
};
constexpr OutputExtension c_outputExtensions[] = {
    {L".upt", GpxOutput::Waypoints},
    {L".log", GpxOutput::TrackPoints},
};

// The prefix geocaching sites give the type of a cache in GPX 1.0's type.
constexpr std::wstring_view c_geocacheTypePrefix = L"Geocache|";
// Words a cache type ends with that the short form leaves out.
constexpr const wchar_t* c_typeSuffixes[] = {L" Cache", L"-cache", L" cache"};

const wchar_t* LatitudeHemisphere(double latitude)
{
    return latitude >= 0 ? L",N," : L",S,";
}

const wchar_t* LongitudeHemisphere(double longitude)
{
    return longitude >= 0 ? L",E," : L",W,";
}

struct Position
{
    double latitude;
    double longitude;
};

Position ParsePosition(const GpxPoint& point)
{
    return {ParseNumberField(NumberField::Latitude, point.latitude),
            ParseNumberField(NumberField::Longitude, point.longitude)};
}

double ParseElevation(const GpxPoint& point)
{
    const std::wstring_view text = TrimWhiteSpace(point.elevation);
    return text.empty() ? 0.0 : ParseNumberField(NumberField::Altitude, text);
}

std::wstring_view ShortCacheType(std::wstring_view type)
{
    for (const wchar_t* suffix : c_typeSuffixes)
        if (type.ends_with(suffix))
            return type.substr(0, type.size() - std::wstring_view(suffix).size());
    return type;
}

bool IsGeocacheType(std::wstring_view type)
{
    return type.size() > c_geocacheTypePrefix.size() &&
           EqualsIgnoreCase(type.substr(0, c_geocacheTypePrefix.size()), c_geocacheTypePrefix);
}

// "Name by Owner, Traditional Cache (1.5/2)": the difficulty and terrain
// that the plain GPX 1.0 form of the geocaching sites puts at the end of desc.
void DifficultyAndTerrainOf(std::wstring_view description, std::wstring_view& difficulty,
                            std::wstring_view& terrain)
{
    description = TrimWhiteSpace(description);
    const size_t open = description.rfind(L'(');
    if (open == std::wstring_view::npos || !description.ends_with(L')'))
        return;
    const std::wstring_view inside = description.substr(open + 1, description.size() - open - 2);
    const size_t slash = inside.find(L'/');
    if (slash == std::wstring_view::npos)
        return;
    difficulty = inside.substr(0, slash);
    terrain = inside.substr(slash + 1);
}

// Name and comment of a waypoint.
void NameAndComment(const GpxPoint& point, std::wstring& name, std::wstring& comment)
{
    name.assign(TrimWhiteSpace(point.name));
    if (point.geocache.present) {
        const GpxGeocache& cache = point.geocache;
        comment = GeocacheComment(TrimWhiteSpace(cache.name), TrimWhiteSpace(cache.type),
                                  TrimWhiteSpace(cache.container), TrimWhiteSpace(cache.difficulty),
                                  TrimWhiteSpace(cache.terrain));
        return;
    }
    const std::wstring_view type = TrimWhiteSpace(point.type);
    if (IsGeocacheType(type) && !TrimWhiteSpace(point.urlName).empty()) {
        std::wstring_view difficulty;
        std::wstring_view terrain;
        DifficultyAndTerrainOf(point.description, difficulty, terrain);
        comment = GeocacheComment(TrimWhiteSpace(point.urlName), type.substr(c_geocacheTypePrefix.size()), {},
                                  difficulty, terrain);
        return;
    }
    const std::wstring_view cmt = TrimWhiteSpace(point.comment);
    comment.assign(cmt.empty() ? TrimWhiteSpace(point.description) : cmt);
}

void AppendWaypointSentence(const GpxPoint& point, std::wstring& sentence)
{
    const Position position = ParsePosition(point);
    const double elevation = ParseElevation(point);
    std::wstring name;
    std::wstring comment;
    NameAndComment(point, name, comment);
    sentence += L"$PMGNWPL,";
    sentence += FormatDegreeMinutes(2, position.latitude);
    sentence += LatitudeHemisphere(position.latitude);
    sentence += FormatDegreeMinutes(3, position.longitude);
    sentence += LongitudeHemisphere(position.longitude);
    sentence += FormatFixedPoint(L"%d", elevation);
    sentence += L",M,";
    sentence += SentenceFieldText(name);
    sentence += L',';
    sentence += SentenceFieldText(comment);
    sentence += L",a";
}

void AppendTrackSentence(const GpxPoint& point, std::wstring& sentence)
{
    const Position position = ParsePosition(point);
    const double elevation = ParseElevation(point);
    std::optional<SYSTEMTIME> time;
    if (!TrimWhiteSpace(point.time).empty()) {
        time = ParseGpxTime(point.time);
        if (!time)
            ThrowOwnFailure(GpxFailure::Time);
    }
    sentence += L"$PMGNTRK,";
    AppendTrackAngle(sentence, L"%02d%02d.%03d", position.latitude);
    sentence += LatitudeHemisphere(position.latitude);
    AppendTrackAngle(sentence, L"%03d%02d.%03d", position.longitude);
    sentence += LongitudeHemisphere(position.longitude);
    AppendIntegers(sentence, L"%d", {TruncateToInt(elevation)});
    sentence += L",M,";
    if (time)
        AppendIntegers(sentence, L"%02d%02d%02d.%03d",
                       {time->wHour, time->wMinute, time->wSecond, time->wMilliseconds});
    sentence += L",A,,";
    if (time)
        AppendIntegers(sentence, L"%02d%02d%02d", {time->wDay, time->wMonth, time->wYear % 100});
}

bool Takes(GpxOutput output, bool routes, GpxPointKind kind)
{
    if (output == GpxOutput::TrackPoints)
        return kind == GpxPointKind::TrackPoint;
    return kind == GpxPointKind::Waypoint || (routes && kind == GpxPointKind::RoutePoint);
}

// Reads digits at the position: exactly count of them.
bool ReadDigits(std::wstring_view text, size_t& position, size_t count, int& value)
{
    if (position + count > text.size())
        return false;
    value = 0;
    for (size_t end = position + count; position < end; ++position) {
        const wchar_t c = text[position];
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + (c - L'0');
    }
    return true;
}

bool ReadLiteral(std::wstring_view text, size_t& position, wchar_t expected)
{
    if (position >= text.size() || text[position] != expected)
        return false;
    ++position;
    return true;
}

// The zone after the time: "Z", "+hh:mm", "-hhmm" or nothing (UTC), as
// minutes east of UTC.
bool ReadZone(std::wstring_view text, size_t position, int& minutes)
{
    minutes = 0;
    if (position == text.size())
        return true;
    if (text[position] == L'Z')
        return position + 1 == text.size();
    const int sign = text[position] == L'+' ? 1 : text[position] == L'-' ? -1 : 0;
    int hours = 0;
    int zoneMinutes = 0;
    ++position;
    if (sign == 0 || !ReadDigits(text, position, 2, hours))
        return false;
    if (position < text.size() && text[position] == L':')
        ++position;
    if (!ReadDigits(text, position, 2, zoneMinutes) || position != text.size() || hours > 23 || zoneMinutes > 59)
        return false;
    minutes = sign * (hours * 60 + zoneMinutes);
    return true;
}

} // namespace

GpxOutput GpxOutputFor(const std::wstring& destination)
{
    for (const OutputExtension& entry : c_outputExtensions) {
        const std::wstring_view extension(entry.extension);
        if (destination.size() > extension.size() &&
            EqualsIgnoreCase(std::wstring_view(destination).substr(destination.size() - extension.size()), extension))
            return entry.output;
    }
    CAtlException failure(MakeOwnFailure(GpxFailure::Destination));
    failure.SetPathIfUnknown(destination);
    throw failure;
}

std::optional<SYSTEMTIME> ParseGpxTime(std::wstring_view text)
{
    text = TrimWhiteSpace(text);
    size_t position = 0;
    int year, month, day, hour, minute, second;
    if (!ReadDigits(text, position, 4, year) || !ReadLiteral(text, position, L'-') ||
        !ReadDigits(text, position, 2, month) || !ReadLiteral(text, position, L'-') ||
        !ReadDigits(text, position, 2, day) || !ReadLiteral(text, position, L'T') ||
        !ReadDigits(text, position, 2, hour) || !ReadLiteral(text, position, L':') ||
        !ReadDigits(text, position, 2, minute) || !ReadLiteral(text, position, L':') ||
        !ReadDigits(text, position, 2, second))
        return std::nullopt;
    int milliseconds = 0;
    if (position < text.size() && text[position] == L'.') {
        ++position;
        const size_t start = position;
        for (int scale = 100; position < text.size() && text[position] >= L'0' && text[position] <= L'9'; ++position) {
            milliseconds += (text[position] - L'0') * scale;
            scale /= 10;
        }
        if (position == start)
            return std::nullopt;
    }
    int zoneMinutes = 0;
    if (!ReadZone(text, position, zoneMinutes) || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;

    SYSTEMTIME local = {};
    local.wYear = static_cast<WORD>(year);
    local.wMonth = static_cast<WORD>(month);
    local.wDay = static_cast<WORD>(day);
    local.wHour = static_cast<WORD>(hour);
    local.wMinute = static_cast<WORD>(minute);
    local.wSecond = static_cast<WORD>(second == 60 ? 59 : second); // a leap second stays in its minute
    local.wMilliseconds = static_cast<WORD>(milliseconds);
    FILETIME fileTime;
    if (year < 1601 || !SystemTimeToFileTime(&local, &fileTime))
        return std::nullopt;
    ULARGE_INTEGER ticks;
    ticks.LowPart = fileTime.dwLowDateTime;
    ticks.HighPart = fileTime.dwHighDateTime;
    constexpr long long c_ticksPerMinute = 600000000LL;
    ticks.QuadPart -= static_cast<long long>(zoneMinutes) * c_ticksPerMinute;
    fileTime.dwLowDateTime = ticks.LowPart;
    fileTime.dwHighDateTime = ticks.HighPart;
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&fileTime, &utc))
        return std::nullopt;
    return utc;
}

std::wstring GeocacheComment(std::wstring_view name, std::wstring_view type, std::wstring_view container,
                             std::wstring_view difficulty, std::wstring_view terrain)
{
    std::wstring details;
    auto add = [&details](std::wstring_view part) {
        if (part.empty())
            return;
        if (!details.empty())
            details += L", ";
        details += part;
    };
    add(ShortCacheType(type));
    add(container);
    if (!difficulty.empty() || !terrain.empty())
        add(L"D" + std::wstring(difficulty) + L"/T" + std::wstring(terrain));
    std::wstring comment(name);
    if (!details.empty())
        comment += (comment.empty() ? L"(" : L" (") + details + L")";
    return comment;
}

GpxConversionResult ConvertGpx(const std::wstring& source, const std::wstring& destination, GpxOutput output,
                               bool routes, const DownloadLimits& limits)
{
    GpxConversionResult result;
    result.output = output;
    if (!IsHttpLocation(source))
        ThrowIfSameFile(source, destination);
    PendingFile file(destination);
    std::wstring sentence;
    const GpxPointHandler writePoint = [&](const GpxPoint& point) {
        if (!Takes(result.output, routes, point.kind))
            return;
        sentence.clear();
        if (result.output == GpxOutput::TrackPoints)
            AppendTrackSentence(point, sentence);
        else
            AppendWaypointSentence(point, sentence);
        try {
            WriteSentence(file.Get(), sentence, true);
        } catch (CAtlException& e) {
            e.SetPathIfUnknown(destination);
            throw;
        }
        ++result.written;
    };
    ReadGpxDocument(source, writePoint, limits);
    if (result.written == 0)
        ThrowOwnFailure(result.output == GpxOutput::TrackPoints ? GpxFailure::NoTrackPoints
                                                                 : GpxFailure::NoWaypoints);
    WriteSentence(file.Get(), c_terminator, true);
    file.Commit();
    return result;
}
