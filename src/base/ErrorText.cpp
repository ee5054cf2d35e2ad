#include "base/ErrorText.h"

#include <windows.h>

#include <cwchar>

#include "ErrorStrings.h"
#include "base/FailureCodes.h"
#include "base/Handle.h"
#include "base/ResourceString.h"
#include "base/Text.h"

namespace {

struct OwnFailureText
{
    WORD check;
    UINT words; // string id
    // Set for the rows of a conversion whose codes share values with
    // another's: the row applies only to failures counted in this noun.
    const wchar_t* positionNoun = nullptr;
};

const OwnFailureText c_ownFailureTexts[] = {
    {OziFailure::TrackTooShort, IDS_FAILURE_TRACK_TOO_SHORT},
    {OziFailure::TrackDatum, IDS_FAILURE_TRACK_DATUM},
    {OziFailure::WaypointsTooShort, IDS_FAILURE_WAYPOINTS_TOO_SHORT},
    {OziFailure::WaypointsDatum, IDS_FAILURE_WAYPOINTS_DATUM},
    {OziFailure::AltitudeUnit, IDS_FAILURE_ALTITUDE_UNIT},
    {OziFailure::WaypointFields, IDS_FAILURE_WAYPOINT_FIELDS},
    {OziFailure::TrackPointFields, IDS_FAILURE_TRACK_POINT_FIELDS},
    {TextFailure::NulByte, IDS_FAILURE_TEXT_NUL_BYTE},
    {TextFailure::LineTooLong, IDS_FAILURE_TEXT_LINE_TOO_LONG},
    {KmlFailure::SecondLocator, IDS_FAILURE_KML_SECOND_LOCATOR, L"placemark"},
    {KmlFailure::DocumentBeforeLocator, IDS_FAILURE_KML_DOCUMENT_BEFORE_LOCATOR, L"placemark"},
    {KmlFailure::ElementBeforeLocator, IDS_FAILURE_KML_ELEMENT_BEFORE_LOCATOR, L"placemark"},
    {KmlFailure::CharactersBeforeLocator, IDS_FAILURE_KML_CHARACTERS_BEFORE_LOCATOR, L"placemark"},
    {KmlFailure::NoKml, IDS_FAILURE_KML_NO_KML, L"placemark"},
    {KmlFailure::NoUrl, IDS_FAILURE_KML_NO_URL, L"placemark"},
    {KmlFailure::NoHref, IDS_FAILURE_KML_NO_HREF, L"placemark"},
    {KmlFailure::LinkedNoKml, IDS_FAILURE_KML_LINKED_NO_KML, L"placemark"},
    {KmlFailure::LinkedNoDocument, IDS_FAILURE_KML_LINKED_NO_DOCUMENT, L"placemark"},
    {KmlFailure::NoPoint, IDS_FAILURE_KML_NO_POINT, L"placemark"},
    {KmlFailure::NoCoordinates, IDS_FAILURE_KML_NO_COORDINATES, L"placemark"},
    {KmlFailure::CoordinateFields, IDS_FAILURE_KML_COORDINATE_FIELDS, L"placemark"},
    {KmlFailure::Namespace, IDS_FAILURE_KML_NAMESPACE, L"placemark"},
    {KmlFailure::NamespaceVersion, IDS_FAILURE_KML_NAMESPACE_VERSION, L"placemark"},
    {KmlFailure::SecondDocument, IDS_FAILURE_KML_SECOND_DOCUMENT, L"placemark"},
    {KmlFailure::SecondKml, IDS_FAILURE_KML_SECOND_KML, L"placemark"},
    {GpxFailure::NotGpx, IDS_FAILURE_GPX_NOT_GPX},
    {GpxFailure::NoWaypoints, IDS_FAILURE_GPX_NO_WAYPOINTS},
    {GpxFailure::NoTrackPoints, IDS_FAILURE_GPX_NO_TRACK_POINTS},
    {GpxFailure::NoPosition, IDS_FAILURE_GPX_NO_POSITION},
    {GpxFailure::Time, IDS_FAILURE_GPX_TIME},
    {GpxFailure::Destination, IDS_FAILURE_GPX_DESTINATION},
    {LayerFailure::NoPointerFile, IDS_FAILURE_LAYER_NO_POINTER_FILE},
    {LayerFailure::PointerFileSyntax, IDS_FAILURE_LAYER_POINTER_FILE_SYNTAX},
    {LayerFailure::ConfigurationMissing, IDS_FAILURE_LAYER_CONFIGURATION_MISSING},
    {LayerFailure::LayerLineTooShort, IDS_FAILURE_LAYER_LINE_TOO_SHORT},
    {LayerFailure::ColourCountNotNumber, IDS_FAILURE_LAYER_COLOUR_COUNT_NOT_NUMBER},
    {LayerFailure::ColourTooFewTokens, IDS_FAILURE_LAYER_COLOUR_TOO_FEW_TOKENS},
    {LayerFailure::ColourLayerNotNumber, IDS_FAILURE_LAYER_COLOUR_LAYER_NOT_NUMBER},
    {LayerFailure::ColourLayerOutOfRange, IDS_FAILURE_LAYER_COLOUR_LAYER_OUT_OF_RANGE},
    {LayerFailure::DrawOrderCount, IDS_FAILURE_LAYER_DRAW_ORDER_COUNT},
    {LayerFailure::DrawOrderNotNumber, IDS_FAILURE_LAYER_DRAW_ORDER_NOT_NUMBER},
    {LayerFailure::DrawOrderOutOfRange, IDS_FAILURE_LAYER_DRAW_ORDER_OUT_OF_RANGE},
    {LayerFailure::DrawOrderRepeated, IDS_FAILURE_LAYER_DRAW_ORDER_REPEATED},
    {LayerFailure::NoLayersLeft, IDS_FAILURE_LAYER_NO_LAYERS_LEFT},
    {SerialFailure::PortWhileConnected, IDS_FAILURE_SERIAL_PORT_WHILE_CONNECTED},
    {SerialFailure::LinesDropped, IDS_FAILURE_SERIAL_LINES_DROPPED},
    {SerialFailure::SourceIsDevice, IDS_FAILURE_SERIAL_SOURCE_IS_DEVICE},
    {SentenceFailure::WaypointFields, IDS_FAILURE_SENTENCE_WAYPOINT_FIELDS},
    {SentenceFailure::TrackPointFields, IDS_FAILURE_SENTENCE_TRACK_POINT_FIELDS},
    {SentenceFailure::NoPoints, IDS_FAILURE_SENTENCE_NO_POINTS},
    {ExportFailure::Extension, IDS_FAILURE_EXPORT_EXTENSION},
};

// Download failures of documents fetched over the network (urlmon's
// codes), for which the system has no words.
struct ForeignFailureText
{
    HRESULT code;
    UINT words; // string id
};

const ForeignFailureText c_downloadFailureTexts[] = {
    {static_cast<HRESULT>(0x800C0002), IDS_FAILURE_INTERNET_INVALID_URL},
    {static_cast<HRESULT>(0x800C0004), IDS_FAILURE_INTERNET_CANNOT_CONNECT},
    {static_cast<HRESULT>(0x800C0005), IDS_FAILURE_INTERNET_SERVER_NOT_FOUND},
    {static_cast<HRESULT>(0x800C0006), IDS_FAILURE_INTERNET_OBJECT_NOT_FOUND},
    {static_cast<HRESULT>(0x800C0008), IDS_FAILURE_INTERNET_DOWNLOAD},
    {static_cast<HRESULT>(0x800C000B), IDS_FAILURE_INTERNET_TIMEOUT},
    {static_cast<HRESULT>(0x800C000E), IDS_FAILURE_INTERNET_SECURITY},
    {static_cast<HRESULT>(0x800C0019), IDS_FAILURE_INTERNET_CERTIFICATE},
};

std::wstring DownloadFailureWords(HRESULT hr)
{
    for (const auto& entry : c_downloadFailureTexts)
        if (entry.code == hr)
            return TryLoadResourceString(entry.words).value_or(std::wstring());
    return {};
}

// The row for the code: the one of the conversion that counts positionNoun
// first, else the one shared by all; without a noun, any row of the code.
const OwnFailureText* FindOwnFailureText(HRESULT hr, const wchar_t* positionNoun)
{
    const OwnFailureText* shared = nullptr;
    const OwnFailureText* claimed = nullptr;
    for (const auto& entry : c_ownFailureTexts) {
        if (MakeOwnFailure(entry.check) != hr)
            continue;
        if (!entry.positionNoun) {
            if (!shared)
                shared = &entry;
        } else if (positionNoun && wcscmp(entry.positionNoun, positionNoun) == 0) {
            return &entry;
        } else if (!claimed) {
            claimed = &entry;
        }
    }
    return shared || positionNoun ? shared : claimed;
}

std::wstring HexCode(HRESULT hr)
{
    wchar_t buffer[16];
    std::swprintf(buffer, std::size(buffer), L"0x%08X", static_cast<unsigned>(hr));
    return buffer;
}

// A code without words of its own, in the user's language: "check failed
// (0xA76500CC)", "error 0x80004005"; the English words when the string
// table lacks them.
std::wstring CodeWords(UINT words, const wchar_t* englishPrefix, const wchar_t* englishSuffix, HRESULT hr)
{
    const std::wstring code = HexCode(hr);
    return TryFormatResourceString(words, {code}).value_or(englishPrefix + code + englishSuffix);
}

// The positions' words by the noun that names what is counted.
struct PositionText
{
    const wchar_t* positionNoun;
    UINT words; // string id, %1 the number
};

const PositionText c_positionTexts[] = {
    {L"line", IDS_FAILURE_AT_LINE},
    {L"placemark", IDS_FAILURE_AT_PLACEMARK},
};

// "line 12" in the user's language.
std::wstring PositionWords(const wchar_t* positionNoun, const std::wstring& number)
{
    for (const auto& entry : c_positionTexts)
        if (wcscmp(entry.positionNoun, positionNoun) == 0)
            if (auto words = TryFormatResourceString(entry.words, {number}))
                return std::move(*words);
    return positionNoun + (L' ' + number);
}

// Longer words are cut: they quote at most a few short texts of the input.
constexpr size_t c_maximumDetailLength = 1000;

// The module's words for one of its own codes, when it has any. Where
// conversions share a code, the words of the one counting positionNoun win;
// without a noun, the words no conversion claims, else the first.
std::optional<std::wstring> OwnFailureWords(HRESULT hr, const wchar_t* positionNoun)
{
    if (!IsOwnFailure(hr))
        return std::nullopt;
    if (const OwnFailureText* entry = FindOwnFailureText(hr, positionNoun))
        return TryLoadResourceString(entry->words);
    return std::nullopt;
}

// The system's message for a code exactly as the system gives it (with its
// line break); for the download failures of a document fetched over the
// network, which the system has no message for, the module's own words;
// empty otherwise.
std::wstring SystemMessage(HRESULT hr)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueLocalMemory owned(buffer);
    std::wstring text;
    if (length != 0 && buffer)
        text.assign(buffer, length);
    return text.empty() ? DownloadFailureWords(hr) : text;
}

// The system's message for a code without its line break, when it has one.
std::optional<std::wstring> SystemWords(HRESULT hr)
{
    if (IsOwnFailure(hr))
        return std::nullopt;
    std::wstring text = SystemMessage(hr);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty())
        return std::nullopt;
    return text;
}

} // namespace

std::wstring GetErrorText(HRESULT hr, const wchar_t* positionNoun)
{
    if (auto words = OwnFailureWords(hr, positionNoun))
        return std::move(*words);
    if (auto words = SystemWords(hr))
        return std::move(*words);
    if (IsOwnFailure(hr))
        return CodeWords(IDS_FAILURE_CHECK_FAILED, L"check failed (", L")", hr);
    return CodeWords(IDS_FAILURE_ERROR_CODE, L"error ", L"", hr);
}

std::wstring DescribeResult(HRESULT hr, const wchar_t* positionNoun)
{
    auto text = SystemWords(hr);
    if (!text)
        return GetErrorText(hr, positionNoun);
    // The code follows the sentence in place of its full stop.
    if (text->back() == L'.')
        text->pop_back();
    return *text + L" (" + HexCode(hr) + L")";
}

std::wstring DescribeFailure(const CAtlException& failure, const std::wstring& defaultPath,
                             const wchar_t* positionNoun)
{
    std::wstring line = failure.Path().empty() ? defaultPath : failure.Path();
    if (!line.empty())
        line += L": ";
    if (failure.Position() != 0)
        line += PositionWords(positionNoun, std::to_wstring(failure.Position())) + L": ";
    if (failure.Detail().empty()) {
        line += DescribeResult(failure.m_hr, positionNoun);
    } else {
        // Words may quote a damaged input or end with the reader's line
        // break: one failure stays one line.
        line += EscapeControlCharacters(TrimWhiteSpace(failure.Detail()), c_maximumDetailLength);
    }
    return line;
}
