// Import of the point placemarks of a KML document into a Magellan
// waypoint file (.upt).
//
// The placemarks are those directly in the Document (or directly in kml
// when there is no Document), then those of every Folder and Document
// inside it at any depth, each container's own before those of the
// containers it holds, depth first in document order. A Document with a
// NetworkLink is replaced by the Document its Url/href (or Link/href) names,
// followed once; a relative href is taken from the folder or URL of the
// document that holds it. Every placemark needs a Point with "lon,lat" or
// "lon,lat,alt" coordinates (a missing altitude is 0):
//
//   <Placemark><name>Hut</name><Point><coordinates>8.5,47.25,1200</coordinates></Point></Placemark>
//   $PMGNWPL,4715.00000,N,00830.00000,E,1200.00000,M,Hut,,a*hh
//
// unless the caller asks to skip the placemarks without a Point (lines,
// polygons, overlays), which are then only counted. The file ends with
// $PMGNCMD,END without a checksum. The document is read as a stream and
// each sentence written as its placemark is complete, into a file beside
// the destination that replaces it only when the whole import succeeded:
// any failure leaves an existing destination as it was. Placemark failures
// carry the 1-based number of the placemark in the order above in
// CAtlException::Position(); the first failing placemark in that order is
// the one reported.
#pragma once

#include <string>
#include <string_view>

#include "import/KmlDocument.h"

// A coordinate field: a plain decimal number (PlainDecimalText: white
// space around it, a sign, digits and one point, whatever the user's
// locale), its value the correctly rounded double of the whole text. Other
// text raises DISP_E_TYPEMISMATCH, a number beyond the range of a double
// DISP_E_OVERFLOW. Longitudes beyond +-180 and latitudes beyond +-90 are
// refused by the import with words naming the field.
double ParseKmlCoordinate(std::wstring_view text);

// Name and description text: CR removed, LF made a space. The sentence
// gets it through SentenceFieldText, which replaces the separators.
std::wstring FlattenKmlText(std::wstring_view text);

// What the import does with a placemark that has no Point.
enum class NonPointPlacemarks { Refuse, Skip };

struct KmlImportCounts
{
    size_t written = 0; // waypoints
    size_t skipped = 0; // placemarks without a Point
};

// Every document is read within the limits.
KmlImportCounts ImportKmlPlacemarks(const std::wstring& sourceLocation, const std::wstring& destinationPath,
                                    NonPointPlacemarks nonPoints = NonPointPlacemarks::Refuse,
                                    const KmlReadLimits& limits = {});
