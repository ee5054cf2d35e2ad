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

#include "base/FailureCodes.h"

// Each gives the number of points written.
size_t ConvertWaypoints(const std::wstring& inputPath, const std::wstring& outputPath);
size_t ConvertTrack(const std::wstring& inputPath, const std::wstring& outputPath);
