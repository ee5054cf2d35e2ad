#include "import/GpxDocument.h"

#include <oleauto.h>

#include <span>
#include <string_view>
#include <vector>

#include "base/Exception.h"
#include "import/KmlLocation.h"
#include "import/SaxReading.h"

namespace {

constexpr const wchar_t* c_gpxNamespaces[] = {
    L"http://www.topografix.com/GPX/1/0",
    L"http://www.topografix.com/GPX/1/1",
};
// Groundspeak's geocache extension, versions 1.0 and 1.0.1.
constexpr const wchar_t* c_geocacheNamespaces[] = {
    L"http://www.groundspeak.com/cache/1/0",
    L"http://www.groundspeak.com/cache/1/0/1",
};
// Texts are kept up to this length; the rest of a longer one is dropped, so
// a hostile document cannot make a field grow without bound.
constexpr size_t c_longestText = 4096;

// What an open element is to the reader.
enum class Frame { Document, Gpx, Route, Track, Segment, Point, Extensions, Geocache, Text };

enum class Space { Gpx, Geocache, Other };

struct ChildRule
{
    Space space;
    const wchar_t* name;
    Frame frame;
};

constexpr ChildRule c_documentChildren[] = {{Space::Gpx, L"gpx", Frame::Gpx}};
constexpr ChildRule c_gpxChildren[] = {
    {Space::Gpx, L"wpt", Frame::Point},
    {Space::Gpx, L"rte", Frame::Route},
    {Space::Gpx, L"trk", Frame::Track},
};
constexpr ChildRule c_routeChildren[] = {{Space::Gpx, L"rtept", Frame::Point}};
constexpr ChildRule c_trackChildren[] = {{Space::Gpx, L"trkseg", Frame::Segment}};
constexpr ChildRule c_segmentChildren[] = {{Space::Gpx, L"trkpt", Frame::Point}};
constexpr ChildRule c_pointChildren[] = {
    {Space::Gpx, L"ele", Frame::Text},     {Space::Gpx, L"time", Frame::Text},
    {Space::Gpx, L"name", Frame::Text},    {Space::Gpx, L"cmt", Frame::Text},
    {Space::Gpx, L"desc", Frame::Text},    {Space::Gpx, L"type", Frame::Text},
    {Space::Gpx, L"urlname", Frame::Text}, {Space::Gpx, L"extensions", Frame::Extensions},
    {Space::Geocache, L"cache", Frame::Geocache},
};
constexpr ChildRule c_extensionsChildren[] = {{Space::Geocache, L"cache", Frame::Geocache}};
constexpr ChildRule c_geocacheChildren[] = {
    {Space::Geocache, L"name", Frame::Text},      {Space::Geocache, L"type", Frame::Text},
    {Space::Geocache, L"container", Frame::Text}, {Space::Geocache, L"difficulty", Frame::Text},
    {Space::Geocache, L"terrain", Frame::Text},
};

// Indexed by Frame; a Text frame has no children worth reading.
constexpr std::span<const ChildRule> c_childRules[] = {
    c_documentChildren, c_gpxChildren,        c_routeChildren,     c_trackChildren, c_segmentChildren,
    c_pointChildren,    c_extensionsChildren, c_geocacheChildren, {},
};

bool IsOneOf(std::wstring_view uri, std::span<const wchar_t* const> namespaces)
{
    for (const wchar_t* candidate : namespaces)
        if (uri == candidate)
            return true;
    return false;
}

// A root gpx without a namespace, as some programs write it, makes the
// elements without a namespace GPX.
Space SpaceOf(std::wstring_view uri, bool plainGpx)
{
    if (IsOneOf(uri, c_gpxNamespaces) || (plainGpx && uri.empty()))
        return Space::Gpx;
    if (IsOneOf(uri, c_geocacheNamespaces))
        return Space::Geocache;
    return Space::Other;
}

const ChildRule* FindRule(Frame parent, Space space, std::wstring_view name)
{
    for (const ChildRule& rule : c_childRules[static_cast<size_t>(parent)])
        if (rule.space == space && name == rule.name)
            return &rule;
    return nullptr;
}

GpxPointKind PointKindOf(std::wstring_view name)
{
    if (name == L"rtept")
        return GpxPointKind::RoutePoint;
    if (name == L"trkpt")
        return GpxPointKind::TrackPoint;
    return GpxPointKind::Waypoint;
}

// The field of the point that a text element of the frame fills.
std::wstring* TextTarget(GpxPoint& point, Frame parent, std::wstring_view name)
{
    struct Target
    {
        Frame parent;
        const wchar_t* name;
        std::wstring GpxPoint::*field;
        std::wstring GpxGeocache::*cacheField;
    };
    static const Target c_targets[] = {
        {Frame::Point, L"ele", &GpxPoint::elevation, nullptr},
        {Frame::Point, L"time", &GpxPoint::time, nullptr},
        {Frame::Point, L"name", &GpxPoint::name, nullptr},
        {Frame::Point, L"cmt", &GpxPoint::comment, nullptr},
        {Frame::Point, L"desc", &GpxPoint::description, nullptr},
        {Frame::Point, L"type", &GpxPoint::type, nullptr},
        {Frame::Point, L"urlname", &GpxPoint::urlName, nullptr},
        {Frame::Geocache, L"name", nullptr, &GpxGeocache::name},
        {Frame::Geocache, L"type", nullptr, &GpxGeocache::type},
        {Frame::Geocache, L"container", nullptr, &GpxGeocache::container},
        {Frame::Geocache, L"difficulty", nullptr, &GpxGeocache::difficulty},
        {Frame::Geocache, L"terrain", nullptr, &GpxGeocache::terrain},
    };
    for (const Target& target : c_targets)
        if (target.parent == parent && name == target.name)
            return target.field ? &(point.*target.field) : &(point.geocache.*target.cacheField);
    return nullptr;
}

void ClearPoint(GpxPoint& point, GpxPointKind kind)
{
    point.kind = kind;
    for (std::wstring* text : {&point.latitude, &point.longitude, &point.elevation, &point.time, &point.name,
                               &point.comment, &point.description, &point.type, &point.urlName,
                               &point.geocache.name, &point.geocache.type, &point.geocache.container,
                               &point.geocache.difficulty, &point.geocache.terrain})
        text->clear();
    point.geocache.present = false;
}

void AppendBounded(std::wstring& text, std::wstring_view more)
{
    if (text.size() < c_longestText)
        text.append(more.substr(0, c_longestText - text.size()));
}

// Reads lat and lon into the point. Unprefixed attributes have no
// namespace, so their qualified name is the plain name; the qualified name
// is also what every MSXML version reports.
void ReadPosition(ISAXAttributes* attributes, GpxPoint& point)
{
    int count = 0;
    if (attributes)
        ThrowIfFailed(attributes->getLength(&count));
    for (int index = 0; index < count; ++index) {
        const wchar_t* name = nullptr;
        int nameLength = 0;
        ThrowIfFailed(attributes->getQName(index, &name, &nameLength));
        const std::wstring_view qualifiedName = SaxText(name, nameLength);
        std::wstring* target = qualifiedName == L"lat"   ? &point.latitude
                               : qualifiedName == L"lon" ? &point.longitude
                                                         : nullptr;
        if (!target)
            continue;
        const wchar_t* value = nullptr;
        int valueLength = 0;
        ThrowIfFailed(attributes->getValue(index, &value, &valueLength));
        target->clear();
        AppendBounded(*target, SaxText(value, valueLength));
    }
    if (point.latitude.empty() || point.longitude.empty())
        ThrowOwnFailure(GpxFailure::NoPosition);
}

// The handler the reader reports to: a stack of the open elements that
// matter (elements skipped with their content are only counted).
class GpxReader final : public SaxHandler
{
public:
    explicit GpxReader(const GpxPointHandler& onPoint) : m_onPoint(onPoint) {}

    void Raise(HRESULT readerResult)
    {
        m_locator.Reset();
        Failures().Raise(readerResult);
        if (!m_sawGpx)
            ThrowOwnFailure(GpxFailure::NotGpx);
    }

    // ISAXContentHandler
    HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator* locator) override
    {
        m_locator = ComPtr<ISAXLocator>(locator);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE startElement(const wchar_t* namespaceUri, int namespaceLength, const wchar_t* localName,
                                           int localLength, const wchar_t*, int,
                                           ISAXAttributes* attributes) override
    {
        return AtLine([&] {
            Start(SaxText(namespaceUri, namespaceLength), SaxText(localName, localLength), attributes);
        });
    }
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*, int) override
    {
        return AtLine([&] { End(); });
    }
    HRESULT STDMETHODCALLTYPE characters(const wchar_t* text, int length) override
    {
        if (m_skipped == 0 && m_text)
            AppendBounded(*m_text, SaxText(text, length));
        return S_OK;
    }

private:
    // A handler's failure about the document gets the document's line, where
    // the reader knows it (a failure to write carries the output's path).
    template <typename Body>
    HRESULT AtLine(Body body) noexcept
    {
        return Failures().Guarded([&] {
            try {
                body();
            } catch (CAtlException& e) {
                int line = 0;
                if (e.Path().empty() && m_locator && SUCCEEDED(m_locator->getLineNumber(&line)) && line > 0)
                    e.SetPositionIfUnknown(static_cast<unsigned>(line));
                throw;
            }
        });
    }

    Frame Innermost() const noexcept { return m_open.empty() ? Frame::Document : m_open.back(); }

    void Start(std::wstring_view uri, std::wstring_view name, ISAXAttributes* attributes)
    {
        if (m_skipped != 0 || Innermost() == Frame::Text) {
            ++m_skipped;
            return;
        }
        const Frame parent = Innermost();
        if (parent == Frame::Document)
            m_plainGpx = uri.empty();
        const ChildRule* rule = FindRule(parent, SpaceOf(uri, m_plainGpx), name);
        if (!rule) {
            if (parent == Frame::Document)
                ThrowOwnFailure(GpxFailure::NotGpx);
            ++m_skipped;
            return;
        }
        switch (rule->frame) {
        case Frame::Gpx:
            m_sawGpx = true;
            break;
        case Frame::Point:
            ClearPoint(m_point, PointKindOf(name));
            ReadPosition(attributes, m_point);
            break;
        case Frame::Geocache:
            m_point.geocache.present = true;
            break;
        case Frame::Text:
            m_text = TextTarget(m_point, parent, name);
            break;
        default:
            break;
        }
        m_open.push_back(rule->frame);
    }

    void End()
    {
        if (m_skipped != 0) {
            --m_skipped;
            return;
        }
        if (m_open.empty())
            return;
        const Frame closed = m_open.back();
        m_open.pop_back();
        if (closed == Frame::Text)
            m_text = nullptr;
        else if (closed == Frame::Point)
            m_onPoint(m_point);
    }

    const GpxPointHandler& m_onPoint;
    ComPtr<ISAXLocator> m_locator;
    std::vector<Frame> m_open; // at most six deep: skipped elements are only counted
    size_t m_skipped = 0;      // depth inside an element skipped with its content
    std::wstring* m_text = nullptr;
    GpxPoint m_point;
    bool m_sawGpx = false;
    bool m_plainGpx = false;
};

} // namespace

void ReadGpxDocument(const std::wstring& location, const GpxPointHandler& onPoint, const DownloadLimits& limits)
{
    try {
        GpxReader handler(onPoint);
        HRESULT hr;
        {
            ComPtr<ISAXXMLReader> reader = CreateSaxReader();
            handler.AttachTo(*reader.Get());
            hr = ParseDocumentAt(*reader.Get(), location, limits);
        }
        handler.Raise(hr);
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(location);
        throw;
    }
}
