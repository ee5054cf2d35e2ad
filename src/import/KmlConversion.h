// Import of the point placemarks of a KML document into a Magellan
// waypoint file (.upt).
//
// The placemarks are those directly in the Document (or directly in kml
// when there is no Document), then those of its Folders, depth first, down
// to ten levels of folders. A Document with a NetworkLink is replaced by
// the Document its Url/href names (followed once; the href is used as it
// stands). Every placemark needs a Point with "lon,lat,alt" coordinates:
//
//   <Placemark><name>Hut</name><Point><coordinates>8.5,47.25,1200</coordinates></Point></Placemark>
//   $PMGNWPL,4715.00000,N,00830.00000,E,1200.00000,M,Hut,,a*hh
//
// The file ends with $PMGNCMD,END without a checksum. Every sentence is
// built before the destination is created, so a document or placemark that
// fails its check leaves an existing destination untouched; a failure while
// writing closes and deletes the destination. Placemark failures carry the
// 1-based number of the placemark in CAtlException::Position().
#pragma once

#include <string>
#include <string_view>

// A coordinate field: leading white space skipped, a decimal number with
// the point as separator (and an optional exponent) up to the first
// character that cannot continue it, whatever the user's locale; 0 when the
// text holds no number.
double ParseKmlCoordinate(std::wstring_view text);

// Name and description text for a sentence: CR removed, LF made a space.
std::wstring FlattenKmlText(std::wstring_view text);

void ImportKmlPlacemarks(const std::wstring& sourceLocation, const std::wstring& destinationPath);
