#include "import/KmlConversion.h"

#include <charconv>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "base/Text.h"
#include "import/KmlDocument.h"
#include "import/SentenceFile.h"

namespace {

using ElementList = std::vector<ComPtr<KmlElement>>;

constexpr unsigned c_deepestFolderLevel = 9; // folders below the top level, counted from 0
constexpr size_t c_coordinateFields = 3;
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

void CollectFolderPlacemarks(const ElementList& children, unsigned depth, ElementList& placemarks)
{
    if (depth > c_deepestFolderLevel)
        return;
    for (const auto& child : children) {
        if (!HasName(*child.Get(), L"Folder"))
            continue;
        const ElementList folderChildren = child->Children();
        AppendPlacemarks(folderChildren, placemarks);
        CollectFolderPlacemarks(folderChildren, depth + 1, placemarks);
    }
}

ElementList CollectPlacemarks(const KmlElement& container)
{
    const ElementList children = container.Children();
    ElementList placemarks;
    AppendPlacemarks(children, placemarks);
    CollectFolderPlacemarks(children, 0, placemarks);
    return placemarks;
}

std::wstring FirstChildText(const KmlElement& parent, std::wstring_view name)
{
    const ComPtr<KmlElement> child = parent.FirstChild(name);
    return child ? child->Text() : std::wstring();
}

// The Document that the link's Url/href names, loaded in place of the first;
// its location is added to sources.
ElementList CollectLinkedPlacemarks(const KmlElement& networkLink, std::vector<std::wstring>& sources)
{
    const ComPtr<KmlElement> url = networkLink.FirstChild(L"Url");
    if (!url)
        ThrowOwnFailure(KmlFailure::NoUrl);
    const ComPtr<KmlElement> href = url->FirstChild(L"href");
    if (!href)
        ThrowOwnFailure(KmlFailure::NoHref);
    const std::wstring location = href->Text();
    sources.push_back(location);
    try {
        const ComPtr<KmlElement> root = LoadKmlDocument(location);
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
ElementList LoadPlacemarks(const std::wstring& sourceLocation, std::vector<std::wstring>& sources)
{
    sources.push_back(sourceLocation);
    ComPtr<KmlElement> root = LoadKmlDocument(sourceLocation);
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
    return CollectLinkedPlacemarks(*networkLink.Get(), sources);
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
    if (fields.size() < c_coordinateFields)
        ThrowOwnFailure(KmlFailure::CoordinateFields);
    const double longitude = ParseKmlCoordinate(fields[0]);
    const double latitude = ParseKmlCoordinate(fields[1]);
    const double altitude = ParseKmlCoordinate(fields[2]);

    std::wstring sentence = L"$PMGNWPL,";
    sentence += FormatDegreeMinutes(2, latitude);
    sentence += latitude >= 0 ? L",N," : L",S,";
    sentence += FormatDegreeMinutes(3, longitude);
    sentence += longitude >= 0 ? L",E," : L",W,";
    sentence += FormatFixedPoint(L"%d", altitude);
    sentence += L",M,";
    sentence += FlattenKmlText(FirstChildText(placemark, L"name"));
    sentence += L',';
    sentence += FlattenKmlText(FirstChildText(placemark, L"description"));
    sentence += L",a";
    return sentence;
}

std::vector<std::wstring> BuildSentences(const ElementList& placemarks)
{
    std::vector<std::wstring> sentences;
    sentences.reserve(placemarks.size());
    for (size_t index = 0; index < placemarks.size(); ++index) {
        try {
            sentences.push_back(BuildPlacemarkSentence(*placemarks[index].Get()));
        } catch (CAtlException& e) {
            e.SetPositionIfUnknown(static_cast<unsigned>(index + 1));
            throw;
        }
    }
    return sentences;
}

void WriteWaypointFile(const std::wstring& destinationPath, const std::vector<std::wstring>& sentences)
{
    UniqueHFile output = CreateSentenceFile(destinationPath);
    try {
        for (const auto& sentence : sentences)
            WriteSentence(output.Get(), sentence, true);
        WriteSentence(output.Get(), c_terminator, false);
    } catch (CAtlException& e) {
        output.Reset();
        DeleteFileW(destinationPath.c_str());
        e.SetPathIfUnknown(destinationPath);
        throw;
    }
}

} // namespace

double ParseKmlCoordinate(std::wstring_view text)
{
    while (!text.empty() && IsWhiteSpace(text.front()))
        text.remove_prefix(1);
    if (!text.empty() && text.front() == L'+')
        text.remove_prefix(1);
    // Only these characters can belong to a number; from_chars takes the
    // longest prefix of them that is one, independent of any locale.
    std::string narrow;
    for (wchar_t c : text) {
        if (!((c >= L'0' && c <= L'9') || c == L'.' || c == L'-' || c == L'+' || c == L'e' || c == L'E'))
            break;
        narrow += static_cast<char>(c);
    }
    double value = 0;
    const auto result = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    return result.ec == std::errc() ? value : 0.0;
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

void ImportKmlPlacemarks(const std::wstring& sourceLocation, const std::wstring& destinationPath)
{
    std::vector<std::wstring> sentences;
    std::vector<std::wstring> sources;
    try {
        sentences = BuildSentences(LoadPlacemarks(sourceLocation, sources));
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(sourceLocation);
        throw;
    }
    // Neither the document nor the one its link names is written over.
    for (const auto& source : sources)
        ThrowIfSameFile(source, destinationPath);
    WriteWaypointFile(destinationPath, sentences);
}
