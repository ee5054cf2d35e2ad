// GPX 1.0 and 1.1 documents read as a stream of points with the MSXML SAX2
// reader: each point is handed over when its element ends, and nothing of
// the document is kept, so memory stays bounded however long the track is.
//
//   <gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1">
//     <wpt lat="46.5" lon="13.8"><ele>800</ele><name>Hut</name></wpt>   waypoint
//     <rte><rtept lat=".." lon=".."/></rte>                             route point
//     <trk><trkseg><trkpt lat=".." lon=".."><time>..</time></trkpt>     track point
//
// The root element must be gpx in the GPX 1.0 or 1.1 namespace, or in no
// namespace (then the elements without one are GPX). Elements of
// other namespaces (extensions) are skipped with all they hold, except a
// geocache listing (groundspeak:cache, versions 1.0 and 1.0.1) inside a
// waypoint, directly or in its extensions element. Texts are kept as
// written; the caller parses the numbers. A local file is read in pieces;
// an http:// or https:// location is downloaded as the KML import does it.
// Failures raised while a point is handed over carry the document's line in
// CAtlException::Position().
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/FailureCodes.h"
#include "import/Download.h"

enum class GpxPointKind { Waypoint, RoutePoint, TrackPoint };

// The geocache listing of a waypoint (groundspeak:cache).
struct GpxGeocache
{
    bool present = false;
    std::wstring name;
    std::wstring type;
    std::wstring container;
    std::wstring difficulty;
    std::wstring terrain;
};

// One point as written in the document; empty texts for absent elements.
struct GpxPoint
{
    GpxPointKind kind = GpxPointKind::Waypoint;
    std::wstring latitude; // the lat and lon attributes
    std::wstring longitude;
    std::wstring elevation;
    std::wstring time;
    std::wstring name;
    std::wstring comment;
    std::wstring description;
    std::wstring type;    // GPX 1.0's type, "Geocache|Traditional Cache" on geocache sites
    std::wstring urlName; // GPX 1.0's urlname, the cache's name on geocache sites
    GpxGeocache geocache;
};

using GpxPointHandler = std::function<void(const GpxPoint&)>;

// Reads the document at the location (a file path or an http(s) address)
// and hands over every point in document order. Failures carry the location
// as their path.
void ReadGpxDocument(const std::wstring& location, const GpxPointHandler& onPoint, const DownloadLimits& limits = {});
