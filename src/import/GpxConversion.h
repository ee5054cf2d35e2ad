// Conversion of GPX documents into Magellan waypoint files (.upt) and track
// logs (.log), chosen by the destination's extension.
//
//   <wpt lat="46.5" lon="13.8"><ele>812</ele><name>Hut</name><cmt>Open</cmt></wpt>
//   $PMGNWPL,4630.00000,N,01348.00000,E,812.00000,M,Hut,Open,a*hh
//   <trkpt lat="46.5" lon="13.8"><ele>812.7</ele><time>2023-06-01T06:00:00.25Z</time></trkpt>
//   $PMGNTRK,4630.000,N,01348.000,E,812,M,060000.250,A,,010623*hh
//
// A waypoint's comment is its cmt, else its desc. A geocache is named by
// its code (GC...) and described by its name, type, container, difficulty
// and terrain: "Die Schatzinsel (Traditional, Micro, D1/T5)". Track points
// take every trkpt of every segment of every track in document order; their
// time is written in UTC to the millisecond, and left empty (time and date)
// when the point has none. Sentences are written as the points are read, to
// a file beside the destination that replaces it only when the whole
// document converted: a failure leaves an existing destination as it was.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "import/Download.h"

#include "import/GpxDocument.h"

enum class GpxOutput { Waypoints, TrackPoints };

struct GpxConversionResult
{
    GpxOutput output = GpxOutput::Waypoints;
    size_t written = 0;
};

// Waypoints for a destination ending in .upt, track points for .log (any
// letter case); raises GpxFailure::Destination, with the destination's
// path, for any other.
GpxOutput GpxOutputFor(const std::wstring& destination);

// Converts the source (a file or an http(s) address, downloaded within the
// limits) into the output kind; with routes, the route points follow the
// waypoints into a waypoint file.
GpxConversionResult ConvertGpx(const std::wstring& source, const std::wstring& destination, GpxOutput output,
                               bool routes = false, const DownloadLimits& limits = {});

// An ISO 8601 date and time as GPX writes it ("2023-06-01T06:00:00.25Z",
// "2002-08-15T00:00:00.0000000-07:00"; no zone is taken as UTC), in UTC
// with the fraction truncated to milliseconds. Nothing for any other text.
std::optional<SYSTEMTIME> ParseGpxTime(std::wstring_view text);

// The comment of a geocache: its name and, in brackets, whichever of type
// (without the trailing "Cache"), container, and D/T are known.
std::wstring GeocacheComment(std::wstring_view name, std::wstring_view type, std::wstring_view container,
                             std::wstring_view difficulty, std::wstring_view terrain);
