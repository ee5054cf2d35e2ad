// Conversion of OziExplorer waypoint (.wpt) and track point (.plt) files
// into Magellan waypoint files (.upt) and track logs (.log).
//
// Only WGS 84 files are accepted. The header is checked before anything is
// written; then the input is read in blocks and each sentence written as it
// is made, so memory does not grow with the file. The output is written
// under a temporary name in its folder and replaces the destination only
// when every line converted, so any failure leaves an existing destination
// as it was and no partial file behind. Failures carry the 1-based input line in
// CAtlException::Position() and, for a field that is not a plain decimal
// number or lies beyond its range, words naming the field and its text in
// CAtlException::Detail(). A line with a NUL byte is refused as damaged.
#pragma once

#include <windows.h>

#include <string>

namespace OziFailure {
constexpr WORD TrackTooShort = 0x00CC;     // no line after the six header lines
constexpr WORD TrackDatum = 0x00CD;        // line 2 of a track is not "WGS 84"
constexpr WORD WaypointsTooShort = 0x00CE; // no line after the four header lines
constexpr WORD WaypointsDatum = 0x00CF;    // line 2 of a waypoint file is not "WGS 84"
constexpr WORD AltitudeUnit = 0x00D3;      // line 3 does not declare feet or metres
constexpr WORD WaypointFields = 0x00DA;    // a waypoint line has fewer than 4 fields
constexpr WORD TrackPointFields = 0x00E2;  // a track point line has fewer than 5 fields
} // namespace OziFailure

void ConvertWaypoints(const std::wstring& inputPath, const std::wstring& outputPath);
void ConvertTrack(const std::wstring& inputPath, const std::wstring& outputPath);
