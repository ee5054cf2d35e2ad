#include "import/KmlConversion.h"

#include <shlwapi.h>

#include <charconv>
#include <string>
#include <vector>

#include "ErrorStrings.h"
#include "base/CommaSeparated.h"
#include "base/ErrorText.h"
#include "base/Exception.h"
#include "base/OutputFiles.h"
#include "base/ResourceString.h"
#include "base/Text.h"
#include "import/KmlDocument.h"
#include "import/SentenceFile.h"

namespace {

using ElementList = std::vector<ComPtr<KmlElement>>;

constexpr size_t c_leastCoordinateFields = 2; // longitude, latitude; the altitude may be left out
constexpr const wchar_t* c_containers[] = {L"Folder", L"Document"};
constexpr const wchar_t* c_linkAddresses[] = {L"Url", L"Link"}; // KML 2.0's name first
constexpr wchar_t c_positionNoun[] = L"placemark"; // what failure positions count
constexpr wchar_t c_terminator[] = L"$PMGNCMD,END";

bool HasName(const KmlElement& element, std::wstring_view name)
{
    return EqualsIgnoreCase(element.Name(), name);
}

void AppendPlacemarks(const ElementList& children, ElementList& placemarks)
{
    for (const auto& child : children)
        if (HasName(*child.Get(), L"Placemark"))
            placemarks.push_back(child);
}

bool IsContainer(const KmlElement& element)
{
    for (const wchar_t* name : c_containers)
        if (HasName(element, name))
            return true;
    return false;
}

// The placemarks of the container and of every Folder and Document inside
// it at any depth: each container's own placemarks first, then those of the
// containers it holds, depth first in document order. The walk keeps its
// own list of containers to visit, so a deep document needs no deep stack.
ElementList CollectPlacemarks(const KmlElement& top)
{
    ElementList placemarks;
    ElementList pending; // containers still to visit, the next one last
    auto visit = [&](const KmlElement& container) {
        const ElementList children = container.Children();
        AppendPlacemarks(children, placemarks);
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            if (IsContainer(*child->Get()))
                pending.push_back(*child);
    };
    visit(top);
    while (!pending.empty()) {
        const ComPtr<KmlElement> next = std::move(pending.back());
        pending.pop_back();
        visit(*next.Get());
    }
    return placemarks;
}

bool StartsRooted(std::wstring_view path)
{
    return (!path.empty() && (path[0] == L'\\' || path[0] == L'/')) || (path.size() >= 2 && path[1] == L':');
}

std::wstring FirstChildText(const KmlElement& parent, std::wstring_view name)
{
    const ComPtr<KmlElement> child = parent.FirstChild(name);
    return child ? child->Text() : std::wstring();
}

ComPtr<KmlElement> LinkAddress(const KmlElement& networkLink)
{
    for (const wchar_t* name : c_linkAddresses)
        if (ComPtr<KmlElement> address = networkLink.FirstChild(name))
            return address;
    ThrowHr(MakeOwnFailure(KmlFailure::NoUrl));
}

// The Document that the link's Url/href (or Link/href) names, loaded in
// place of the first; its location is added to sources.
ElementList CollectLinkedPlacemarks(const KmlElement& networkLink, const std::wstring& linkingLocation,
                                    const KmlReadLimits& limits, std::vector<std::wstring>& sources)
{
    const ComPtr<KmlElement> href = LinkAddress(networkLink)->FirstChild(L"href");
    if (!href)
        ThrowOwnFailure(KmlFailure::NoHref);
    const std::wstring location = ResolveKmlHref(linkingLocation, href->Text());
    sources.push_back(location);
    try {
        const ComPtr<KmlElement> root = LoadKmlDocument(location, limits);
        const ComPtr<KmlElement> kml = root->SlotElement(KmlSlot::Kml);
        if (!kml)
            ThrowOwnFailure(KmlFailure::LinkedNoKml);
        const ComPtr<KmlElement> document = kml->SlotElement(KmlSlot::Document);
        if (!document)
            ThrowOwnFailure(KmlFailure::LinkedNoDocument);
        return CollectPlacemarks(*document.Get());
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(location);
        throw;
    }
}

// The placemarks to convert; sources receives the location of every
// document read for them.
ElementList LoadPlacemarks(const std::wstring& sourceLocation, const KmlReadLimits& limits,
                           std::vector<std::wstring>& sources)
{
    sources.push_back(sourceLocation);
    ComPtr<KmlElement> root = LoadKmlDocument(sourceLocation, limits);
    const ComPtr<KmlElement> kml = root->SlotElement(KmlSlot::Kml);
    if (!kml)
        ThrowOwnFailure(KmlFailure::NoKml);
    const ComPtr<KmlElement> document = kml->SlotElement(KmlSlot::Document);
    if (!document)
        return CollectPlacemarks(*kml.Get());
    const ComPtr<KmlElement> networkLink = document->SlotElement(KmlSlot::NetworkLink);
    if (!networkLink)
        return CollectPlacemarks(*document.Get());
    root.Reset(); // the first document is released once the link is read
    return CollectLinkedPlacemarks(*networkLink.Get(), sourceLocation, limits, sources);
}

std::wstring BuildPlacemarkSentence(const KmlElement& placemark)
{
    const ComPtr<KmlElement> point = placemark.FirstChild(L"Point");
    if (!point)
        ThrowOwnFailure(KmlFailure::NoPoint);
    const ComPtr<KmlElement> coordinates = point->FirstChild(L"coordinates");
    if (!coordinates)
        ThrowOwnFailure(KmlFailure::NoCoordinates);
    const std::vector<std::wstring> fields = SplitCommaSeparated(coordinates->Text());
    if (fields.size() < c_leastCoordinateFields)
        ThrowOwnFailure(KmlFailure::CoordinateFields);
    const double longitude = ParseNumberField(NumberField::Longitude, fields[0], ParseKmlCoordinate);
    const double latitude = ParseNumberField(NumberField::Latitude, fields[1], ParseKmlCoordinate);
    const double altitude =
        fields.size() > 2 ? ParseNumberField(NumberField::Altitude, fields[2], ParseKmlCoordinate) : 0.0;

    std::wstring sentence = L"$PMGNWPL,";
    sentence += FormatDegreeMinutes(2, latitude);
    sentence += latitude >= 0 ? L",N," : L",S,";
    sentence += FormatDegreeMinutes(3, longitude);
    sentence += longitude >= 0 ? L",E," : L",W,";
    sentence += FormatFixedPoint(L"%d", altitude);
    sentence += L",M,";
    sentence += SentenceFieldText(FlattenKmlText(FirstChildText(placemark, L"name")));
    sentence += L',';
    sentence += SentenceFieldText(FlattenKmlText(FirstChildText(placemark, L"description")));
    sentence += L",a";
    return sentence;
}

// Gives a placemark's failure the placemark's name, which is what people
// know it by: "Hut": no Point (...).
void NameFailingPlacemark(CAtlException& failure, const KmlElement& placemark)
{
    const std::wstring name(TrimWhiteSpace(FlattenKmlText(FirstChildText(placemark, L"name"))));
    if (name.empty() || !failure.Detail().empty())
        return;
    const std::wstring words = DescribeResult(failure.m_hr, c_positionNoun);
    if (auto detail = TryFormatResourceString(IDS_FAILURE_KML_NAMED_PLACEMARK, {name, words}))
        failure.SetDetailIfUnknown(*detail);
}

struct Sentences
{
    std::vector<std::wstring> lines;
    size_t skipped = 0;
};

// One sentence per point placemark; placemarks keep their number in the
// collected list also when others before them are skipped.
Sentences BuildSentences(const ElementList& placemarks, NonPointPlacemarks nonPoints)
{
    Sentences sentences;
    sentences.lines.reserve(placemarks.size());
    for (size_t index = 0; index < placemarks.size(); ++index) {
        const KmlElement& placemark = *placemarks[index].Get();
        if (nonPoints == NonPointPlacemarks::Skip && !placemark.FirstChild(L"Point")) {
            ++sentences.skipped;
            continue;
        }
        try {
            sentences.lines.push_back(BuildPlacemarkSentence(placemark));
        } catch (CAtlException& e) {
            e.SetPositionIfUnknown(static_cast<unsigned>(index + 1));
            NameFailingPlacemark(e, placemark);
            throw;
        }
    }
    return sentences;
}

void WriteWaypointFile(const std::wstring& destinationPath, const std::vector<std::wstring>& sentences)
{
    PendingFile output(destinationPath);
    try {
        for (const auto& sentence : sentences)
            WriteSentence(output.Get(), sentence, true);
        WriteSentence(output.Get(), c_terminator, false);
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(destinationPath);
        throw;
    }
    output.Commit();
}

} // namespace

double ParseKmlCoordinate(std::wstring_view text)
{
    const std::string plain = PlainDecimalText(text);
    double value = 0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value, std::chars_format::fixed);
    if (result.ec == std::errc())
        return value;
    // Out of range: too large, or too small to be told from zero.
    const bool tiny = plain.find_first_of("123456789") > plain.find('.');
    if (!tiny)
        ThrowHr(DISP_E_OVERFLOW);
    return plain.front() == '-' ? -0.0 : 0.0;
}

std::wstring FlattenKmlText(std::wstring_view text)
{
    std::wstring flat;
    flat.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'\r')
            continue;
        flat += c == L'\n' ? L' ' : c;
    }
    return flat;
}

std::wstring ResolveKmlHref(const std::wstring& documentLocation, std::wstring_view href)
{
    const std::wstring target(TrimWhiteSpace(href));
    if (IsKmlUrl(documentLocation))
        return CombineUrl(documentLocation, target);
    if (IsKmlUrl(target) || StartsRooted(target))
        return target;
    const size_t folderEnd = documentLocation.find_last_of(L"\\/");
    if (folderEnd == std::wstring::npos)
        return target;
    return documentLocation.substr(0, folderEnd + 1) + target;
}

KmlImportCounts ImportKmlPlacemarks(const std::wstring& sourceLocation, const std::wstring& destinationPath,
                                    NonPointPlacemarks nonPoints, const KmlReadLimits& limits)
{
    Sentences sentences;
    std::vector<std::wstring> sources;
    try {
        sentences = BuildSentences(LoadPlacemarks(sourceLocation, limits, sources), nonPoints);
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(sourceLocation);
        throw;
    }
    // Neither the document nor the one its link names is written over.
    for (const auto& source : sources)
        ThrowIfSameFile(source, destinationPath);
    WriteWaypointFile(destinationPath, sentences.lines);
    return {sentences.lines.size(), sentences.skipped};
}
