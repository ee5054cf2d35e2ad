#include "ErrorText.h"

#include <windows.h>

#include <cwchar>

#include "base/Handle.h"
#include "gps/SerialReader.h"
#include "import/KmlDocument.h"
#include "import/OziConversion.h"
#include "map/LayerConfiguration.h"

namespace {

struct OwnFailureText
{
    WORD check;
    const wchar_t* text;
    // Set for the rows of a conversion whose codes share values with
    // another's: the row applies only to failures counted in this noun.
    const wchar_t* positionNoun = nullptr;
};

const OwnFailureText c_ownFailureTexts[] = {
    {OziFailure::TrackTooShort, L"the track has no point after its six header lines"},
    {OziFailure::TrackDatum, L"the datum is not WGS 84"},
    {OziFailure::WaypointsTooShort, L"the file has no waypoint after its four header lines"},
    {OziFailure::WaypointsDatum, L"the datum is not WGS 84"},
    {OziFailure::AltitudeUnit, L"the altitude unit line is neither \"Altitude is in Feet\" nor \"Altitude is in Meters\""},
    {OziFailure::WaypointFields, L"a waypoint needs at least 4 fields (number, name, latitude, longitude)"},
    {OziFailure::TrackPointFields, L"a track point needs at least 5 fields (latitude, longitude, segment, altitude, date)"},
    {KmlFailure::SecondLocator, L"the XML reader gave a second document locator", L"placemark"},
    {KmlFailure::DocumentBeforeLocator, L"the XML reader started the document before giving its locator", L"placemark"},
    {KmlFailure::ElementBeforeLocator, L"the XML reader reported an element before giving its locator", L"placemark"},
    {KmlFailure::CharactersBeforeLocator, L"the XML reader reported text before giving its locator", L"placemark"},
    {KmlFailure::NoKml, L"the document has no kml root element", L"placemark"},
    {KmlFailure::NoUrl, L"the NetworkLink has no Url element", L"placemark"},
    {KmlFailure::NoHref, L"the NetworkLink's Url has no href element", L"placemark"},
    {KmlFailure::LinkedNoKml, L"the linked document has no kml root element", L"placemark"},
    {KmlFailure::LinkedNoDocument, L"the linked document has no Document element", L"placemark"},
    {KmlFailure::NoPoint, L"no Point (only point placemarks can be converted)", L"placemark"},
    {KmlFailure::NoCoordinates, L"the Point has no coordinates", L"placemark"},
    {KmlFailure::CoordinateFields, L"the coordinates need longitude, latitude and altitude", L"placemark"},
    {KmlFailure::Namespace, L"an element is not in the KML 2.x namespace", L"placemark"},
    {KmlFailure::NamespaceVersion, L"the KML namespace is older than version 2.0", L"placemark"},
    {KmlFailure::SecondDocument, L"kml holds a second Document element", L"placemark"},
    {KmlFailure::SecondKml, L"the document has a second kml root element", L"placemark"},
    {LayerFailure::NoPointerFile, L"the map has no ADD_MAPS.CFG naming its layer configuration"},
    {LayerFailure::PointerFileSyntax, L"ADD_MAPS.CFG does not hold a number and a configuration file name"},
    {LayerFailure::ConfigurationMissing, L"the layer configuration named in ADD_MAPS.CFG is not in the map"},
    {LayerFailure::LayerLineTooShort, L"a layer line is missing or has fewer than 37 values"},
    {LayerFailure::ColourCountNotNumber, L"the count of LAY_COLOR is not a number"},
    {LayerFailure::ColourTooFewTokens, L"LAY_COLOR has fewer entries than its count announces"},
    {LayerFailure::ColourLayerNotNumber, L"a layer number in LAY_COLOR is not a number"},
    {LayerFailure::ColourLayerOutOfRange, L"a layer number in LAY_COLOR is not below the number of layers"},
    {LayerFailure::DrawOrderCount, L"ORDERDRAW does not list exactly NUMBER layers"},
    {LayerFailure::DrawOrderNotNumber, L"an ORDERDRAW item is not a number"},
    {LayerFailure::DrawOrderOutOfRange, L"an ORDERDRAW item is not below the number of layers"},
    {LayerFailure::DrawOrderRepeated, L"ORDERDRAW names a layer twice, which would lose another layer"},
    {LayerFailure::NoLayersLeft, L"no layer is left to save (every layer removed, or none loaded)"},
    {SerialFailure::PortWhileConnected, L"the port cannot be changed while connected (call Disconnect first)"},
};

// The row for the code: the one of the conversion that counts positionNoun
// first, else the one shared by all.
const OwnFailureText* FindOwnFailureText(HRESULT hr, const wchar_t* positionNoun)
{
    const OwnFailureText* shared = nullptr;
    for (const auto& entry : c_ownFailureTexts) {
        if (MakeOwnFailure(entry.check) != hr)
            continue;
        if (!entry.positionNoun) {
            if (!shared)
                shared = &entry;
        } else if (positionNoun && wcscmp(entry.positionNoun, positionNoun) == 0) {
            return &entry;
        }
    }
    return shared;
}

std::wstring SystemMessage(HRESULT hr)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer) {
        text.assign(buffer, length);
        LocalFree(buffer);
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                                 text.back() == L'.'))
            text.pop_back();
    }
    return text;
}

std::wstring HexCode(HRESULT hr)
{
    wchar_t buffer[16];
    std::swprintf(buffer, std::size(buffer), L"0x%08X", static_cast<unsigned>(hr));
    return buffer;
}

} // namespace

std::wstring DescribeResult(HRESULT hr, const wchar_t* positionNoun)
{
    if (IsOwnFailure(hr)) {
        if (const OwnFailureText* entry = FindOwnFailureText(hr, positionNoun))
            return entry->text;
        return L"check failed (" + HexCode(hr) + L")";
    }
    std::wstring text = SystemMessage(hr);
    if (text.empty())
        return L"error " + HexCode(hr);
    return text + L" (" + HexCode(hr) + L")";
}

std::wstring DescribeFailure(const CAtlException& failure, const std::wstring& defaultPath,
                             const wchar_t* positionNoun)
{
    std::wstring line = failure.Path().empty() ? defaultPath : failure.Path();
    line += L": ";
    if (failure.Position() != 0) {
        line += positionNoun;
        line += L' ';
        line += std::to_wstring(failure.Position());
        line += L": ";
    }
    line += failure.Detail().empty() ? DescribeResult(failure.m_hr, positionNoun) : failure.Detail();
    return line;
}
