// The module's own failure codes: the check numbers that MakeOwnFailure
// turns into HRESULTs (0xA765nnnn), one namespace per subsystem. They live
// here, below every subsystem, so that the words for them (ErrorText.cpp)
// and the code raising them share one table of values. Subsystems whose
// checks carry the same number tell their failures apart by the position
// noun they count in.
#pragma once

#include <windows.h>

// Track and waypoint files of OziExplorer.
namespace OziFailure {
constexpr WORD TrackTooShort = 0x00CC;     // no line after the six header lines
constexpr WORD TrackDatum = 0x00CD;        // line 2 of a track is not "WGS 84"
constexpr WORD WaypointsTooShort = 0x00CE; // no line after the four header lines
constexpr WORD WaypointsDatum = 0x00CF;    // line 2 of a waypoint file is not "WGS 84"
constexpr WORD AltitudeUnit = 0x00D3;      // line 3 does not declare feet or metres
constexpr WORD WaypointFields = 0x00DA;    // a waypoint line has fewer than 4 fields
constexpr WORD TrackPointFields = 0x00E2;  // a track point line has fewer than 5 fields
} // namespace OziFailure

// Text files read line by line.
namespace TextFailure {
constexpr WORD NulByte = 0x0A10;     // a line of a text file holds a NUL byte
constexpr WORD LineTooLong = 0x0A11; // a line of a text file is longer than 1 MiB
} // namespace TextFailure

// KML documents and their network links.
namespace KmlFailure {
constexpr WORD SecondLocator = 0x0070;           // the reader gave a second document locator
constexpr WORD DocumentBeforeLocator = 0x007F;   // start of document before any locator
constexpr WORD NoKml = 0x00B1;                   // the document has no kml root element
constexpr WORD NoUrl = 0x00B9;                   // the NetworkLink has neither Url nor Link
constexpr WORD NoHref = 0x00BB;                  // the Url or Link has no href
constexpr WORD LinkedNoKml = 0x00BD;             // the linked document has no kml root element
constexpr WORD LinkedNoDocument = 0x00BE;        // the linked document has no Document
constexpr WORD NoPoint = 0x00D5;                 // a placemark has no Point
constexpr WORD NoCoordinates = 0x00D7;           // a Point has no coordinates
constexpr WORD CoordinateFields = 0x00DA;        // fewer than two coordinate fields
constexpr WORD ElementBeforeLocator = 0x0140;    // an element before any locator
constexpr WORD CharactersBeforeLocator = 0x0164; // character data before any locator
constexpr WORD Namespace = 0x01E0;               // a root element not in a KML namespace
constexpr WORD NamespaceVersion = 0x01E4;        // a KML namespace below version 2.0
constexpr WORD SecondDocument = 0x0293;          // a second Document inside kml
constexpr WORD SecondKml = 0x02D8;               // a second kml root element
constexpr WORD NotUtf16 = 0x0305;                // a UTF-16 document with a code unit of no character
constexpr WORD TooLarge = 0x0306;                // a placemark's texts outgrew their limit
} // namespace KmlFailure

// GPX documents.
namespace GpxFailure {
constexpr WORD NotGpx = 0x0B00;        // the root element is not gpx in a GPX namespace
constexpr WORD NoWaypoints = 0x0B01;   // no wpt (nor rtept when asked for)
constexpr WORD NoTrackPoints = 0x0B02; // no trkpt
constexpr WORD NoPosition = 0x0B03;    // a point without its lat or lon attribute
constexpr WORD Time = 0x0B04;          // a time that is not an ISO 8601 date and time
constexpr WORD Destination = 0x0B05;   // a destination that is neither .upt nor .log
} // namespace GpxFailure

// Documents fetched over the network.
namespace DownloadFailure {
constexpr WORD Silent = 0x0301;    // the server sent nothing for the silence limit
constexpr WORD TooSlow = 0x0302;   // the download took longer than the overall limit
constexpr WORD Redirects = 0x0303; // more redirects than allowed
constexpr WORD TooLarge = 0x0304;  // the document is larger than the size limit
} // namespace DownloadFailure

// Sentence files of the receiver.
namespace SentenceFailure {
constexpr WORD WaypointFields = 0x0A00;   // a $PMGNWPL sentence has fewer than 6 fields
constexpr WORD TrackPointFields = 0x0A01; // a $PMGNTRK sentence has fewer than 8 fields
constexpr WORD NoPoints = 0x0A02;         // the file holds no point sentence
} // namespace SentenceFailure

// Exports of sentence files.
namespace ExportFailure {
constexpr WORD Extension = 0x0A03; // the destination ends neither in .gpx nor in .kml
} // namespace ExportFailure

// Layer configurations of map containers.
namespace LayerFailure {
constexpr WORD NoPointerFile = 0x0793;          // the container has no ADD_MAPS.CFG
constexpr WORD PointerFileSyntax = 0x079F;      // ADD_MAPS.CFG is not "<digits> <name>"
constexpr WORD ConfigurationMissing = 0x07A3;   // the file ADD_MAPS.CFG names is not packed
constexpr WORD LayerLineTooShort = 0x02DD;      // a layer line has fewer than 37 tokens, or is missing
constexpr WORD ColourCountNotNumber = 0x07B7;   // the first LAY_COLOR token is not a number
constexpr WORD ColourTooFewTokens = 0x07BA;     // LAY_COLOR has fewer triples than it announces
constexpr WORD ColourLayerNotNumber = 0x07BE;   // a LAY_COLOR layer number is not a number
constexpr WORD ColourLayerOutOfRange = 0x07BF;  // a LAY_COLOR layer number is not below NUMBER
constexpr WORD DrawOrderCount = 0x07D2;         // ORDERDRAW does not have NUMBER items
constexpr WORD DrawOrderNotNumber = 0x07D6;     // an ORDERDRAW item is not a number
constexpr WORD DrawOrderOutOfRange = 0x07DF;    // an ORDERDRAW item is not below NUMBER
constexpr WORD DrawOrderRepeated = 0x07E0;      // an ORDERDRAW item names a layer twice
constexpr WORD NoLayersLeft = 0x0808;           // saving with every layer removed or none loaded
} // namespace LayerFailure

// The serial reader.
namespace SerialFailure {
constexpr WORD PortWhileConnected = 0x026C; // Port put while a worker exists
constexpr WORD LinesDropped = 0x026D;       // the client left too many lines untaken
constexpr WORD SourceIsDevice = 0x026E;     // a capture file that is a device (COM1:, NUL)
} // namespace SerialFailure
