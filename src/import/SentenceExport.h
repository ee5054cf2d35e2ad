// Export of a Magellan sentence file (.upt waypoints, .log track) to the
// formats computers show: GPX 1.1 or KML 2.2, chosen by the destination's
// extension.
//
//   GPX  waypoints: a wpt per point with ele (metres), name and cmt;
//        track: one trk named after the source, one trkseg per run of
//        points, each trkpt with ele and, when the sentence has one, time
//        (UTC, milliseconds).
//   KML  waypoints: a Placemark per point (name, description, Point);
//        track: a Placemark with a LineString per run of points and, when
//        asked, a Folder "Points" with a Placemark per point.
//
// The source is read in blocks (see SentenceReader.h) and the destination
// written as it goes, so memory stays bounded. The destination is written
// beside itself and replaces an existing file only when the whole export
// succeeded. Names and comments are ANSI text in the source; they are
// written as UTF-8 with the XML special characters escaped.
#pragma once

#include <windows.h>

#include <string>

#include "base/FailureCodes.h"
#include "import/SentenceReader.h"

enum class ExportFormat { Gpx, Kml };

// The format the destination's extension names (case ignored); raises
// ExportFailure::Extension with the destination's path for any other.
ExportFormat ExportFormatOf(const std::wstring& destination);

// The destination with its extension replaced by the format's (added when
// it has none): what the wizard shows when the format changes.
std::wstring WithExportExtension(const std::wstring& destination, ExportFormat format);

struct ExportOptions
{
    bool kmlTrackPoints = false; // KML: the track's points as placemarks too
};

struct ExportCounts
{
    SentenceKind kind = SentenceKind::None;
    size_t points = 0;
    size_t segments = 0;
    SentenceSkips skipped;
};

ExportCounts ExportSentenceFile(const std::wstring& source, const std::wstring& destination,
                                const ExportOptions& options = {});
