#include "import/KmlDocument.h"

#include <algorithm>

#include <string_view>
#include <vector>

#include "ErrorStrings.h"
#include "base/Exception.h"
#include "base/Pattern.h"
#include "base/ResourceString.h"
#include "base/Text.h"
#include "import/SaxReading.h"

namespace {

// The hosts under which the KML 2.x namespace has been published: Google's
// for versions 2.0 to 2.2, the OGC's for 2.2.
constexpr const wchar_t* c_kmlNamespaceHosts[] = {
    L"earth\\.google\\.com",
    L"www\\.opengis\\.net",
};
constexpr wchar_t c_kmlNamespaceStart[] = L"^http\\://";
constexpr wchar_t c_kmlNamespaceVersion[] = L"/kml/{[0-9]+}.{[0-9]+}$";
constexpr unsigned long c_lowestMajorVersion = 2;

constexpr ULONGLONG c_bytesPerMegabyte = 1024 * 1024;

// What an element is to the KML rules: which children it may have and
// whether their namespace is checked. Elements of another namespace inside
// kml are ignored with everything they hold; they are only counted.
enum class KmlKind { Root, Kml, Document, Plain };

// What the namespace of an element that starts inside a kind decides.
enum class NamespaceRule
{
    KmlOnly,       // anything but a KML namespace fails
    OthersIgnored, // an element of another namespace is ignored with its content
};

struct KindRules
{
    NamespaceRule namespaces; // of the elements that start inside it
    const wchar_t* single;    // the child of a kind of its own, at most one
    KmlKind singleKind;
    WORD secondFailure;
    bool othersKept; // false: the other children are ignored with their content
};

// Indexed by KmlKind.
constexpr KindRules c_kindRules[] = {
    {NamespaceRule::KmlOnly, L"kml", KmlKind::Kml, KmlFailure::SecondKml, false},                      // Root
    {NamespaceRule::OthersIgnored, L"Document", KmlKind::Document, KmlFailure::SecondDocument, true}, // Kml
    {NamespaceRule::OthersIgnored, nullptr, KmlKind::Plain, 0, true},                                 // Document
    {NamespaceRule::OthersIgnored, nullptr, KmlKind::Plain, 0, true},                                 // Plain
};

// What an element is to the import.
enum class Role
{
    Other,       // nothing the import needs, though its children are checked
    Container,   // kml without a Document, a Folder, a Document inside the top one
    TopDocument, // the Document in kml: a container that may hold the network link
    Placemark,
    Point,       // a placemark's first
    Name,        // a placemark's first
    Description, // a placemark's first
    Coordinates, // the first in the placemark's first Point
    NetworkLink,
    Url,     // the network link's first
    Link,    // the network link's first
    UrlHref, // the first in the first Url
    LinkHref,
};

struct RoleRule
{
    Role parent;
    const wchar_t* name;
    Role child;
};

constexpr RoleRule c_roleRules[] = {
    {Role::Container, L"Placemark", Role::Placemark},   {Role::Container, L"Folder", Role::Container},
    {Role::Container, L"Document", Role::Container},    {Role::TopDocument, L"Placemark", Role::Placemark},
    {Role::TopDocument, L"Folder", Role::Container},    {Role::TopDocument, L"Document", Role::Container},
    {Role::TopDocument, L"NetworkLink", Role::NetworkLink}, {Role::Placemark, L"Point", Role::Point},
    {Role::Placemark, L"name", Role::Name},             {Role::Placemark, L"description", Role::Description},
    {Role::Point, L"coordinates", Role::Coordinates},   {Role::NetworkLink, L"Url", Role::Url},
    {Role::NetworkLink, L"Link", Role::Link},           {Role::Url, L"href", Role::UrlHref},
    {Role::Link, L"href", Role::LinkHref},
};

Role RoleOf(Role parent, std::wstring_view name)
{
    for (const RoleRule& rule : c_roleRules)
        if (rule.parent == parent && EqualsIgnoreCase(name, rule.name))
            return rule.child;
    return Role::Other;
}

unsigned long VersionNumber(std::wstring_view digits)
{
    unsigned long value = 0;
    for (wchar_t c : digits)
        value = value > 0xFFFFFu ? 0xFFFFFFu : value * 10 + (c - L'0');
    return value;
}

// One namespace URI of at most 127 characters, trivially destructible.
struct RememberedUri
{
    wchar_t text[128];
    size_t length; // 0: nothing remembered

    bool Is(std::wstring_view uri) const noexcept
    {
        return length != 0 && uri == std::wstring_view(text, length);
    }
    void Remember(std::wstring_view uri) noexcept
    {
        length = uri.size() < std::size(text) ? uri.size() : 0;
        std::copy(uri.begin(), uri.begin() + static_cast<std::ptrdiff_t>(length), text);
    }
};

// True for a KML namespace of version 2.0 or later, false for any other
// namespace (also none); a KML namespace below version 2.0 raises 0xA76501E4.
bool IsKmlNamespace(std::wstring_view uri)
{
    // Documents use one KML namespace and a few others throughout; remember
    // the last answer of each kind. The memory is plain characters: a
    // thread-local with a destructor would run it at thread exit under the
    // loader lock, where a DLL's runtime can deadlock (a host that runs the
    // import on a thread that then ends would hang).
    thread_local RememberedUri t_kml;
    thread_local RememberedUri t_other;
    if (t_kml.Is(uri))
        return true;
    if (t_other.Is(uri))
        return false;

    static const std::vector<CPattern> patterns = [] {
        std::vector<CPattern> result;
        for (const wchar_t* host : c_kmlNamespaceHosts)
            result.emplace_back(std::wstring(c_kmlNamespaceStart) + host + c_kmlNamespaceVersion, true);
        return result;
    }();
    std::vector<std::wstring_view> version;
    for (const CPattern& pattern : patterns) {
        if (!pattern.Match(uri, &version))
            continue;
        if (VersionNumber(version[0]) < c_lowestMajorVersion)
            ThrowOwnFailure(KmlFailure::NamespaceVersion);
        t_kml.Remember(uri);
        return true;
    }
    t_other.Remember(uri);
    return false;
}

// Whether an element of the namespace is taken into the tree under the rule:
// false for an element to ignore with its content; raises 0xA76501E0 where
// only KML is allowed and 0xA76501E4 for KML below version 2.0.
bool AcceptsNamespace(NamespaceRule rule, std::wstring_view uri)
{
    if (IsKmlNamespace(uri))
        return true;
    if (rule == NamespaceRule::KmlOnly)
        ThrowOwnFailure(KmlFailure::Namespace);
    return false;
}

// One open element that the import reads.
struct Frame
{
    KmlKind kind;
    Role role;
    size_t container = 0;  // a container's number, or the number of the placemark's container
    size_t placemarks = 0; // a container's placemarks so far
};

// The handler the reader reports to: a stack of the open elements (those
// ignored with their content are only counted) and the placemark or
// network link being read.
class KmlReader final : public SaxHandler
{
public:
    KmlReader(KmlPlacemarkSink& sink, DWORD placemarkMegabytes)
        : m_sink(sink), m_textLimit(static_cast<ULONGLONG>(placemarkMegabytes) * c_bytesPerMegabyte),
          m_textMegabytes(placemarkMegabytes)
    {
    }

    // Raises the first failure of a handler, else the reader's own with the
    // words and the position it reported; else returns what was read.
    KmlOutline Finish(HRESULT readerResult)
    {
        Failures().Raise(readerResult);
        if (m_hasLink)
            m_outline.networkLink = m_link;
        return m_outline;
    }

    // ISAXContentHandler
    HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator*) override
    {
        return Failures().Guarded([&] {
            if (m_hasLocator)
                ThrowOwnFailure(KmlFailure::SecondLocator);
            m_hasLocator = true;
        });
    }
    HRESULT STDMETHODCALLTYPE startDocument() override
    {
        return Failures().Guarded([&] { RequireLocator(KmlFailure::DocumentBeforeLocator); });
    }
    HRESULT STDMETHODCALLTYPE startElement(const wchar_t* namespaceUri, int namespaceLength, const wchar_t* localName,
                                           int localLength, const wchar_t*, int, ISAXAttributes*) override
    {
        return Failures().Guarded([&] {
            RequireLocator(KmlFailure::ElementBeforeLocator);
            Start(SaxText(namespaceUri, namespaceLength), SaxText(localName, localLength));
        });
    }
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*, int) override
    {
        return Failures().Guarded([&] { End(); });
    }
    HRESULT STDMETHODCALLTYPE characters(const wchar_t* text, int length) override
    {
        return Failures().Guarded([&] {
            RequireLocator(KmlFailure::CharactersBeforeLocator);
            if (std::wstring* target = m_ignored == 0 && !m_open.empty() ? TextOf(m_open.back().role) : nullptr)
                Keep(*target, SaxText(text, length));
        });
    }

private:
    void RequireLocator(WORD failure) const
    {
        if (!m_hasLocator)
            ThrowOwnFailure(failure);
    }

    void Start(std::wstring_view uri, std::wstring_view name)
    {
        if (m_ignored != 0) {
            ++m_ignored;
            return;
        }
        Frame& parent = m_open.empty() ? m_root : m_open.back();
        const KindRules& rules = c_kindRules[static_cast<size_t>(parent.kind)];
        if (!AcceptsNamespace(rules.namespaces, uri)) {
            ++m_ignored;
            return;
        }
        if (rules.single && EqualsIgnoreCase(name, rules.single)) {
            StartSingle(rules);
            return;
        }
        if (!rules.othersKept) {
            ++m_ignored;
            return;
        }
        Frame child{KmlKind::Plain, FirstOnly(RoleOf(parent.role, name))};
        StartRole(parent, child);
        m_open.push_back(child);
    }

    // kml in the root, Document in kml.
    void StartSingle(const KindRules& rules)
    {
        bool& seen = rules.singleKind == KmlKind::Kml ? m_outline.hasKml : m_outline.hasDocument;
        if (seen)
            ThrowOwnFailure(rules.secondFailure);
        seen = true;
        if (rules.singleKind == KmlKind::Kml) {
            m_open.push_back({KmlKind::Kml, Role::Container});
            return;
        }
        // What kml held before its Document does not count, nor what
        // follows it.
        m_open.back().role = Role::Other;
        m_nextContainer = 1;
        m_sink.DocumentStarts();
        m_open.push_back({KmlKind::Document, Role::TopDocument});
    }

    void StartRole(Frame& parent, Frame& child)
    {
        switch (child.role) {
        case Role::Container:
            child.container = m_nextContainer++;
            break;
        case Role::Placemark:
            StartPlacemark(parent.container, parent.placemarks++);
            m_keptBytes = 0;
            break;
        case Role::NetworkLink: // a later one replaces the earlier
            m_link = KmlNetworkLink{};
            m_hasLink = true;
            m_keptBytes = 0;
            break;
        default:
            break;
        }
    }

    // Clears the texts and keeps their memory for the next placemark.
    void StartPlacemark(size_t container, size_t index)
    {
        m_placemark.container = container;
        m_placemark.index = index;
        m_placemark.hasPoint = m_placemark.hasCoordinates = false;
        m_placemark.coordinates.clear();
        m_placemark.name.clear();
        m_placemark.description.clear();
        m_seenName = m_seenDescription = false;
    }

    // The role, or Other for a second element where only the first counts.
    Role FirstOnly(Role role)
    {
        bool* seen = SeenFlag(role);
        if (!seen)
            return role;
        if (*seen)
            return Role::Other;
        *seen = true;
        return role;
    }

    bool* SeenFlag(Role role)
    {
        switch (role) {
        case Role::Point: return &m_placemark.hasPoint;
        case Role::Name: return &m_seenName;
        case Role::Description: return &m_seenDescription;
        case Role::Coordinates: return &m_placemark.hasCoordinates;
        case Role::Url: return &m_link.url.present;
        case Role::Link: return &m_link.link.present;
        case Role::UrlHref: return &m_link.url.hasHref;
        case Role::LinkHref: return &m_link.link.hasHref;
        default: return nullptr;
        }
    }

    std::wstring* TextOf(Role role)
    {
        switch (role) {
        case Role::Name: return &m_placemark.name;
        case Role::Description: return &m_placemark.description;
        case Role::Coordinates: return &m_placemark.coordinates;
        case Role::UrlHref: return &m_link.url.href;
        case Role::LinkHref: return &m_link.link.href;
        default: return nullptr;
        }
    }

    void End()
    {
        if (m_ignored != 0) {
            --m_ignored;
            return;
        }
        if (m_open.empty())
            return;
        const Role closed = m_open.back().role;
        m_open.pop_back();
        if (closed == Role::Placemark)
            m_sink.Placemark(m_placemark);
    }

    // Appends to a kept text; raises 0xA7650306 beyond the limit.
    void Keep(std::wstring& target, std::wstring_view text)
    {
        m_keptBytes += text.size() * sizeof(wchar_t);
        if (m_keptBytes > m_textLimit) {
            CAtlException failure(MakeOwnFailure(KmlFailure::TooLarge));
            failure.SetDetailIfUnknown(
                TryFormatResourceString(IDS_FAILURE_KML_TOO_LARGE, {std::to_wstring(m_textMegabytes)})
                    .value_or(std::wstring()));
            throw failure;
        }
        target += text;
    }

    KmlPlacemarkSink& m_sink;
    const ULONGLONG m_textLimit;
    const DWORD m_textMegabytes;
    bool m_hasLocator = false;
    Frame m_root{KmlKind::Root, Role::Other};
    std::vector<Frame> m_open; // below the root, outermost first
    size_t m_ignored = 0;      // depth inside an element ignored with its content
    size_t m_nextContainer = 1;
    KmlPlacemark m_placemark;
    bool m_seenName = false;
    bool m_seenDescription = false;
    KmlNetworkLink m_link;
    bool m_hasLink = false;
    ULONGLONG m_keptBytes = 0; // of the placemark or network link being read
    KmlOutline m_outline;
};

} // namespace

const std::wstring& KmlNetworkLink::Href() const
{
    const KmlLinkAddress& address = url.present ? url : link;
    if (!address.present)
        ThrowOwnFailure(KmlFailure::NoUrl);
    if (!address.hasHref)
        ThrowOwnFailure(KmlFailure::NoHref);
    return address.href;
}

KmlOutline ReadKmlDocument(const std::wstring& location, KmlPlacemarkSink& sink, const KmlReadLimits& limits)
{
    try {
        KmlReader handler(sink, limits.placemarkMegabytes);
        HRESULT hr;
        {
            ComPtr<ISAXXMLReader> reader = CreateSaxReader();
            handler.AttachTo(*reader.Get());
            hr = ParseDocumentAt(*reader.Get(), location, limits.download);
        }
        return handler.Finish(hr);
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(location);
        throw;
    }
}
