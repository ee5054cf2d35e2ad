#include "import/SentenceExport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/Exception.h"
#include "base/OutputFiles.h"
#include "base/Text.h"
#include "import/SentenceFile.h"

namespace {

struct FormatExtension
{
    const wchar_t* extension;
    ExportFormat format;
};

const FormatExtension c_formatExtensions[] = {
    {L".gpx", ExportFormat::Gpx},
    {L".kml", ExportFormat::Kml},
};

// Where the extension of the path's file name starts, or npos.
size_t ExtensionStart(const std::wstring& path)
{
    const size_t point = path.find_last_of(L'.');
    const size_t separator = path.find_last_of(L"\\/:");
    if (point == std::wstring::npos || (separator != std::wstring::npos && point < separator))
        return std::wstring::npos;
    return point;
}

// The file name of the path without folder and extension, as UTF-8: the
// name of the track.
std::string FileStem(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/:");
    const size_t start = separator == std::wstring::npos ? 0 : separator + 1;
    const size_t point = ExtensionStart(path);
    const size_t end = point == std::wstring::npos ? path.size() : point;
    return WideToUtf8(std::wstring_view(path).substr(start, end > start ? end - start : 0));
}

// XML text written in blocks to the destination.
class CXmlOutput
{
public:
    CXmlOutput(HANDLE file, const std::wstring& path) : m_file(file), m_path(path) { m_buffer.reserve(c_flushSize * 2); }

    CXmlOutput& operator<<(std::string_view text)
    {
        m_buffer += text;
        if (m_buffer.size() >= c_flushSize)
            Flush();
        return *this;
    }

    // UTF-8 text with &, <, >, " and ' escaped; control characters XML
    // does not allow become U+FFFD.
    void Escaped(std::string_view utf8)
    {
        for (char c : utf8) {
            switch (c) {
            case '&': m_buffer += "&amp;"; break;
            case '<': m_buffer += "&lt;"; break;
            case '>': m_buffer += "&gt;"; break;
            case '"': m_buffer += "&quot;"; break;
            case '\'': m_buffer += "&apos;"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    m_buffer += "\xEF\xBF\xBD";
                else
                    m_buffer += c;
            }
        }
    }

    // ANSI text of the source, converted to UTF-8 (plain ASCII as it is).
    void EscapedAnsi(std::string_view ansi)
    {
        for (char c : ansi) {
            if (static_cast<unsigned char>(c) >= 0x80) {
                Escaped(WideToUtf8(AnsiToWide(ansi)));
                return;
            }
        }
        Escaped(ansi);
    }

    // value rounded to the given number of decimals, trailing zeros dropped:
    // 48.5 with 9 gives "48.5", -0.25 gives "-0.25", 12 gives "12".
    void Number(double value, int decimals)
    {
        static const double c_scales[] = {1, 10, 100, 1000, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
        // The digits below are kept in a buffer of one slot per scale.
        decimals = std::clamp(decimals, 0, static_cast<int>(std::size(c_scales)) - 1);
        const double scale = c_scales[decimals];
        const uint64_t scaled = static_cast<uint64_t>(std::llround(std::fabs(value) * scale));
        const uint64_t whole = scaled / static_cast<uint64_t>(scale);
        uint64_t fraction = scaled % static_cast<uint64_t>(scale);
        if (value < 0 && scaled != 0)
            m_buffer += '-';
        m_buffer += std::to_string(whole);
        if (fraction == 0)
            return;
        char digits[10];
        for (int i = decimals - 1; i >= 0; --i) {
            digits[i] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        int length = decimals;
        while (digits[length - 1] == '0')
            --length;
        m_buffer += '.';
        m_buffer.append(digits, static_cast<size_t>(length));
    }

    // 2008-01-01T12:00:00.000Z
    void Time(const SentenceTime& time)
    {
        char text[32];
        const int fields[] = {time.year, time.month, time.day, time.hour, time.minute, time.second};
        static const char c_separators[] = "--T::";
        size_t length = 0;
        for (size_t i = 0; i < std::size(fields); ++i) {
            const int width = i == 0 ? 4 : 2;
            int value = fields[i];
            for (int digit = width - 1; digit >= 0; --digit) {
                text[length + static_cast<size_t>(digit)] = static_cast<char>('0' + value % 10);
                value /= 10;
            }
            length += static_cast<size_t>(width);
            if (i < std::size(fields) - 1)
                text[length++] = c_separators[i];
        }
        text[length++] = '.';
        text[length++] = static_cast<char>('0' + time.millisecond / 100);
        text[length++] = static_cast<char>('0' + time.millisecond / 10 % 10);
        text[length++] = static_cast<char>('0' + time.millisecond % 10);
        text[length++] = 'Z';
        m_buffer.append(text, length);
    }

    void Flush()
    {
        DWORD written = 0;
        if (!m_buffer.empty() &&
            (!WriteFile(m_file, m_buffer.data(), static_cast<DWORD>(m_buffer.size()), &written, nullptr) ||
             written != m_buffer.size())) {
            if (GetLastError() == ERROR_SUCCESS)
                SetLastError(ERROR_WRITE_FAULT);
            ThrowLastErrorFor(m_path);
        }
        m_buffer.clear();
    }

private:
    static constexpr size_t c_flushSize = 64 * 1024;
    HANDLE m_file;
    const std::wstring& m_path;
    std::string m_buffer;
};

// Degrees with nine decimals: a millionth of the last minute decimal of a
// waypoint sentence.
constexpr int c_degreeDecimals = 9;
// Altitudes to the millimetre (feet converted to metres have more).
constexpr int c_altitudeDecimals = 3;

constexpr char c_xmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

void WriteGpxPoint(CXmlOutput& out, const char* element, const SentencePoint& point)
{
    out << "<" << element << " lat=\"";
    out.Number(point.latitude, c_degreeDecimals);
    out << "\" lon=\"";
    out.Number(point.longitude, c_degreeDecimals);
    out << "\">";
    if (point.hasAltitude) {
        out << "<ele>";
        out.Number(point.altitude, c_altitudeDecimals);
        out << "</ele>";
    }
    if (point.hasTime) {
        out << "<time>";
        out.Time(point.time);
        out << "</time>";
    }
    if (!point.name.empty()) {
        out << "<name>";
        out.EscapedAnsi(point.name);
        out << "</name>";
    }
    if (!point.comment.empty()) {
        out << "<cmt>";
        out.EscapedAnsi(point.comment);
        out << "</cmt>";
    }
    out << "</" << element << ">\n";
}

// Reads every point into the destination through write(point); the counts
// of what was read and skipped. A file without points is not a sentence
// file.
template <typename Write>
ExportCounts ReadPoints(CSentenceReader& reader, Write write)
{
    ExportCounts counts;
    SentencePoint point;
    while (reader.Next(point)) {
        if (point.startsSegment)
            ++counts.segments;
        write(point);
    }
    if (reader.Points() == 0)
        ThrowOwnFailure(SentenceFailure::NoPoints);
    counts.kind = reader.Kind();
    counts.points = reader.Points();
    counts.skipped = reader.Skips();
    return counts;
}

ExportCounts WriteGpx(CSentenceReader& reader, CXmlOutput& out, const std::string& trackName)
{
    out << c_xmlDeclaration
        << "<gpx version=\"1.1\" creator=\"Tervolin\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\">\n";
    bool inTrack = false;
    const ExportCounts counts = ReadPoints(reader, [&](const SentencePoint& point) {
        if (reader.Kind() == SentenceKind::Waypoints) {
            WriteGpxPoint(out, "wpt", point);
            return;
        }
        if (!inTrack) {
            out << "<trk><name>";
            out.Escaped(trackName);
            out << "</name>\n";
            inTrack = true;
        } else if (point.startsSegment) {
            out << "</trkseg>\n";
        }
        if (point.startsSegment)
            out << "<trkseg>\n";
        WriteGpxPoint(out, "trkpt", point);
    });
    if (inTrack)
        out << "</trkseg>\n</trk>\n";
    out << "</gpx>\n";
    return counts;
}

void WriteKmlCoordinates(CXmlOutput& out, const SentencePoint& point)
{
    out.Number(point.longitude, c_degreeDecimals);
    out << ",";
    out.Number(point.latitude, c_degreeDecimals);
    if (point.hasAltitude) {
        out << ",";
        out.Number(point.altitude, c_altitudeDecimals);
    }
}

void WriteKmlPointPlacemark(CXmlOutput& out, const SentencePoint& point)
{
    out << "<Placemark>";
    if (!point.name.empty()) {
        out << "<name>";
        out.EscapedAnsi(point.name);
        out << "</name>";
    }
    if (!point.comment.empty()) {
        out << "<description>";
        out.EscapedAnsi(point.comment);
        out << "</description>";
    }
    if (point.hasTime) {
        out << "<TimeStamp><when>";
        out.Time(point.time);
        out << "</when></TimeStamp>";
    }
    out << "<Point><coordinates>";
    WriteKmlCoordinates(out, point);
    out << "</coordinates></Point></Placemark>\n";
}

ExportCounts WriteKml(const std::wstring& source, CSentenceReader& reader, CXmlOutput& out,
                      const std::string& documentName, const ExportOptions& options)
{
    out << c_xmlDeclaration << "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document><name>";
    out.Escaped(documentName);
    out << "</name>\n";
    bool inLine = false;
    const auto closeLine = "\n</coordinates></LineString></Placemark>\n";
    const ExportCounts counts = ReadPoints(reader, [&](const SentencePoint& point) {
        if (reader.Kind() == SentenceKind::Waypoints) {
            WriteKmlPointPlacemark(out, point);
            return;
        }
        if (point.startsSegment) {
            if (inLine)
                out << closeLine;
            out << "<Placemark><name>";
            out.Escaped(documentName);
            out << "</name><LineString><tessellate>1</tessellate><coordinates>\n";
            inLine = true;
        } else {
            out << "\n";
        }
        WriteKmlCoordinates(out, point);
    });
    if (inLine)
        out << closeLine;
    if (counts.kind == SentenceKind::Track && options.kmlTrackPoints) {
        // The points again, from a second reading: the file is not kept.
        out << "<Folder><name>Points</name>\n";
        CSentenceReader again(source);
        SentencePoint point;
        while (again.Next(point))
            WriteKmlPointPlacemark(out, point);
        out << "</Folder>\n";
    }
    out << "</Document>\n</kml>\n";
    return counts;
}

} // namespace

ExportFormat ExportFormatOf(const std::wstring& destination)
{
    const size_t point = ExtensionStart(destination);
    if (point != std::wstring::npos) {
        const std::wstring_view extension = std::wstring_view(destination).substr(point);
        for (const auto& entry : c_formatExtensions)
            if (EqualsIgnoreCase(extension, entry.extension))
                return entry.format;
    }
    CAtlException failure(MakeOwnFailure(ExportFailure::Extension));
    failure.SetPathIfUnknown(destination);
    throw failure;
}

std::wstring WithExportExtension(const std::wstring& destination, ExportFormat format)
{
    const wchar_t* extension = c_formatExtensions[0].extension;
    for (const auto& entry : c_formatExtensions)
        if (entry.format == format)
            extension = entry.extension;
    const size_t point = ExtensionStart(destination);
    return destination.substr(0, point) + extension;
}

ExportCounts ExportSentenceFile(const std::wstring& source, const std::wstring& destination,
                                const ExportOptions& options)
{
    const ExportFormat format = ExportFormatOf(destination);
    CSentenceReader reader(source);
    ThrowIfSameFile(source, destination);
    PendingFile output(destination);
    CXmlOutput out(output.Get(), destination);
    const std::string name = FileStem(source);
    ExportCounts counts;
    try {
        counts = format == ExportFormat::Gpx ? WriteGpx(reader, out, name) : WriteKml(source, reader, out, name, options);
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(source);
        throw;
    }
    out.Flush();
    output.Commit();
    return counts;
}
