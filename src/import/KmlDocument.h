// KML documents read as a stream of placemarks with the MSXML SAX2 reader.
//
// ReadKmlDocument takes a local file or an http:// or https:// resource
// (import/KmlLocation.h) and hands over each placemark when its element
// ends, with only what the import needs of it; nothing else of the document
// is kept, so memory does not grow with the number of placemarks.
//
//   <kml xmlns="http://www.opengis.net/kml/2.2">      the top container when
//     <Document>                                      there is no Document;
//       <NetworkLink><Url><href>...</href></Url>      else the Document is
//       <Folder><Placemark>...</Placemark></Folder>   (its link is reported)
//
// Placemarks are those directly in the top container and directly in any
// Folder or Document inside it at any depth, each through its chain of
// containers. A placemark keeps the text of its first name, first
// description and the first coordinates of its first Point. A root element
// other than kml, and everything inside it, is ignored. The root element
// must carry a KML namespace of version 2.0 or later, under either host the
// namespace has been published at (earth.google.com, www.opengis.net).
// Inside kml, an element of any other namespace (the extensions programs
// write, such as gx: or atom:) is ignored with all it holds; a KML
// namespace below version 2.0 fails the read anywhere. Element names are
// compared ignoring letter case. A document that is not well-formed fails
// with the reader's code, and the failure's detail gives the reader's words
// with their line and column.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "base/FailureCodes.h"
#include "import/KmlLocation.h"

struct KmlReadLimits
{
    DownloadLimits download;
    // What the texts of one placemark (or of the network link) may keep: a
    // placemark beyond it fails with words instead of exhausting the
    // process's memory.
    DWORD placemarkMegabytes = 16;
};

// What the import needs of one placemark.
struct KmlPlacemark
{
    // Containers are numbered in the order they start: 0 is the top
    // container, so sorting placemarks by (container, index) gives each
    // container's own placemarks before those of the containers it holds.
    size_t container = 0;
    size_t index = 0; // among the placemarks directly in its container
    bool hasPoint = false;
    bool hasCoordinates = false; // in its first Point
    std::wstring coordinates;
    std::wstring name;
    std::wstring description;
};

// The Url (KML 2.0's name) or Link of a network link, and its first href.
struct KmlLinkAddress
{
    bool present = false;
    bool hasHref = false;
    std::wstring href;
};

// The last NetworkLink directly in the Document: the document it names
// replaces this one.
struct KmlNetworkLink
{
    KmlLinkAddress url;
    KmlLinkAddress link;

    // The href of the first Url, else of the first Link; raises NoUrl when
    // there is neither and NoHref when the address has no href.
    const std::wstring& Href() const;
};

// What the document holds besides its placemarks, known once it is read.
struct KmlOutline
{
    bool hasKml = false;
    bool hasDocument = false;
    std::optional<KmlNetworkLink> networkLink;
};

// Receives the placemarks in document order, each when its element ends.
class KmlPlacemarkSink
{
public:
    // A Document starts inside kml: it is the top container from now on, and
    // the placemarks handed over before it do not count.
    virtual void DocumentStarts() = 0;
    virtual void Placemark(const KmlPlacemark& placemark) = 0;

protected:
    ~KmlPlacemarkSink() = default;
};

// Reads the document at the location (a download within the limits). A
// failure of the sink stops the read and is raised as it is. Failures carry
// the location as their path.
KmlOutline ReadKmlDocument(const std::wstring& location, KmlPlacemarkSink& sink, const KmlReadLimits& limits = {});
