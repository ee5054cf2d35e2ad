#include "import/KmlDocument.h"

#include <oleauto.h>

#include <optional>
#include <span>

#include "base/Exception.h"
#include "base/Pattern.h"
#include "base/Text.h"

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

// The SAX2 reader of MSXML 4.0, then those of MSXML 6.0 and 3.0 for systems
// where the former is not installed (Wine registers all three).
constexpr CLSID c_saxReaderClasses[] = {
    {0x7c6e29bc, 0x8b8b, 0x4c3d, {0x85, 0x9e, 0xaf, 0x6c, 0xd1, 0x58, 0xbe, 0x0f}},
    {0x88d96a0c, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}},
    {0x3124c396, 0xfb13, 0x4836, {0xa6, 0xad, 0x13, 0x17, 0xf1, 0x71, 0x36, 0x88}},
};

constexpr wchar_t c_httpScheme[] = L"http://";

struct ChildRule
{
    const wchar_t* name;
    KmlKind kind;
    KmlSlot slot;
    WORD secondFailure; // 0: a later element replaces the earlier one
};

struct KindRules
{
    bool keepsText;
    bool checksNamespace; // of the elements that start inside it
    KmlKind otherChildren;
    bool storesOtherChildren;
    std::span<const ChildRule> named;
};

constexpr ChildRule c_rootChildren[] = {
    {L"kml", KmlKind::Kml, KmlSlot::Kml, KmlFailure::SecondKml},
};
constexpr ChildRule c_kmlChildren[] = {
    {L"Document", KmlKind::Document, KmlSlot::Document, KmlFailure::SecondDocument},
};
constexpr ChildRule c_documentChildren[] = {
    {L"Name", KmlKind::Plain, KmlSlot::Name, 0},
    {L"NetworkLink", KmlKind::Plain, KmlSlot::NetworkLink, 0},
};

// Indexed by KmlKind.
constexpr KindRules c_kindRules[] = {
    {false, true, KmlKind::Ignored, false, c_rootChildren},     // Root
    {false, true, KmlKind::Plain, true, c_kmlChildren},         // Kml
    {false, true, KmlKind::Plain, true, c_documentChildren},    // Document
    {true, true, KmlKind::Plain, true, {}},                     // Plain
    {false, false, KmlKind::Ignored, false, {}},                // Ignored
};

const KindRules& RulesOf(KmlKind kind)
{
    return c_kindRules[static_cast<size_t>(kind)];
}

unsigned long VersionNumber(std::wstring_view digits)
{
    unsigned long value = 0;
    for (wchar_t c : digits)
        value = value > 0xFFFFFu ? 0xFFFFFFu : value * 10 + (c - L'0');
    return value;
}

// Raises 0xA76501E0 for a URI outside the KML namespace, 0xA76501E4 for a
// KML namespace below version 2.0.
void CheckKmlNamespace(std::wstring_view uri)
{
    // Documents use one namespace throughout; remember the last one accepted.
    thread_local std::wstring t_accepted;
    if (!t_accepted.empty() && uri == t_accepted)
        return;

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
        t_accepted = uri;
        return;
    }
    ThrowOwnFailure(KmlFailure::Namespace);
}

// The document root, which is also the handler the reader reports to.
class KmlDocumentRoot final : public KmlElement, public ISAXContentHandler, public ISAXErrorHandler
{
public:
    KmlDocumentRoot() : KmlElement(KmlKind::Root, {}) {}

    // Raises the first failure of a handler, else the reader's own.
    void RaiseParseResult(HRESULT readerResult)
    {
        m_open.clear();
        if (m_failure)
            throw *m_failure;
        ThrowIfFailed(readerResult);
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == __uuidof(ISAXContentHandler))
            *object = static_cast<ISAXContentHandler*>(this);
        else if (iid == __uuidof(ISAXErrorHandler))
            *object = static_cast<ISAXErrorHandler*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return KmlElement::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return KmlElement::Release(); }

    // ISAXContentHandler
    HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator*) override
    {
        return Guarded([&] {
            if (m_hasLocator)
                ThrowOwnFailure(KmlFailure::SecondLocator);
            m_hasLocator = true;
        });
    }
    HRESULT STDMETHODCALLTYPE startDocument() override
    {
        return Guarded([&] { RequireLocator(KmlFailure::DocumentBeforeLocator); });
    }
    HRESULT STDMETHODCALLTYPE endDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startPrefixMapping(const wchar_t*, int, const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endPrefixMapping(const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startElement(const wchar_t* namespaceUri, int namespaceLength, const wchar_t* localName,
                                           int localLength, const wchar_t*, int, ISAXAttributes*) override
    {
        return Guarded([&] {
            RequireLocator(KmlFailure::ElementBeforeLocator);
            m_open.push_back(Innermost().StartChild(View(namespaceUri, namespaceLength), View(localName, localLength)));
        });
    }
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t*, int, const wchar_t* localName, int localLength,
                                         const wchar_t*, int) override
    {
        if (!m_open.empty() && EqualsIgnoreCase(m_open.back()->Name(), View(localName, localLength)))
            m_open.pop_back();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE characters(const wchar_t* text, int length) override
    {
        return Guarded([&] {
            RequireLocator(KmlFailure::CharactersBeforeLocator);
            Innermost().AppendText(View(text, length));
        });
    }
    HRESULT STDMETHODCALLTYPE ignorableWhitespace(const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE processingInstruction(const wchar_t*, int, const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE skippedEntity(const wchar_t*, int) override { return S_OK; }

    // ISAXErrorHandler: the reader reports its own failure from parse.
    HRESULT STDMETHODCALLTYPE error(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE fatalError(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ignorableWarning(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }

private:
    static std::wstring_view View(const wchar_t* text, int length)
    {
        return text && length > 0 ? std::wstring_view(text, static_cast<size_t>(length)) : std::wstring_view();
    }

    void RequireLocator(WORD failure) const
    {
        if (!m_hasLocator)
            ThrowOwnFailure(failure);
    }

    KmlElement& Innermost() noexcept { return m_open.empty() ? *this : *m_open.back().Get(); }

    // Each callback is a boundary: the first failure is kept whole (with
    // its own code) and its HRESULT stops the reader.
    template <typename Body>
    HRESULT Guarded(Body body) noexcept
    {
        try {
            body();
            return S_OK;
        } catch (const CAtlException& e) {
            if (!m_failure)
                m_failure.emplace(e);
            return e.m_hr;
        } catch (...) {
            const HRESULT hr = ResultFromCaughtException();
            if (!m_failure)
                m_failure.emplace(hr);
            return hr;
        }
    }

    bool m_hasLocator = false;
    std::vector<ComPtr<KmlElement>> m_open; // below the root, outermost first
    std::optional<CAtlException> m_failure;
};

ComPtr<ISAXXMLReader> CreateSaxReader()
{
    HRESULT hr = REGDB_E_CLASSNOTREG;
    for (const CLSID& readerClass : c_saxReaderClasses) {
        ComPtr<ISAXXMLReader> reader;
        hr = CoCreateInstance(readerClass, nullptr, CLSCTX_ALL, __uuidof(ISAXXMLReader), reader.PutVoid());
        if (SUCCEEDED(hr))
            return reader;
        if (hr != REGDB_E_CLASSNOTREG)
            break;
    }
    ThrowHr(hr);
}

// A VARIANT that owns what it holds.
class OwnedVariant
{
public:
    OwnedVariant() noexcept { VariantInit(&m_value); }
    ~OwnedVariant() { VariantClear(&m_value); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;

    VARIANT& Get() noexcept { return m_value; }

private:
    VARIANT m_value;
};

// White space appended after the document, in the document's own code
// unit: the reader in Wine takes one byte less than the array holds, which
// would cut the last character of a document that ends right after its
// root element. Trailing white space is part of no document.
struct LineEndPadding
{
    BYTE first[2]; // the first two bytes of the document
    BYTE padding[2];
    DWORD length;
};
constexpr LineEndPadding c_utf16Padding[] = {
    {{0xFF, 0xFE}, {'\n', 0}, 2},
    {{'<', 0}, {'\n', 0}, 2},
    {{0xFE, 0xFF}, {0, '\n'}, 2},
    {{0, '<'}, {0, '\n'}, 2},
};
constexpr LineEndPadding c_bytePadding = {{}, {'\n', 0}, 1};

const LineEndPadding& PaddingFor(const BYTE* document, DWORD length)
{
    for (const auto& entry : c_utf16Padding)
        if (length >= 2 && document[0] == entry.first[0] && document[1] == entry.first[1])
            return entry;
    return c_bytePadding;
}

// The whole file, then a line end, as a one-dimensional byte SAFEARRAY.
void ReadFileBytes(const std::wstring& path, OwnedVariant& bytes)
{
    UniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    ThrowLastErrorIf(!file);
    LARGE_INTEGER size;
    ThrowLastErrorIf(!GetFileSizeEx(file.Get(), &size));
    if (size.QuadPart >= MAXLONG)
        ThrowHr(E_OUTOFMEMORY);
    const DWORD length = static_cast<DWORD>(size.QuadPart);
    constexpr DWORD c_largestPadding = 2;
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, length + c_largestPadding);
    if (!array)
        ThrowHr(E_OUTOFMEMORY);
    bytes.Get().vt = VT_ARRAY | VT_UI1;
    bytes.Get().parray = array;

    void* data = nullptr;
    ThrowIfFailed(SafeArrayAccessData(array, &data));
    ScopeExit unaccess([array] { SafeArrayUnaccessData(array); });
    DWORD total = 0;
    while (total < length) {
        DWORD read = 0;
        ThrowLastErrorIf(!ReadFile(file.Get(), static_cast<BYTE*>(data) + total, length - total, &read, nullptr));
        if (read == 0)
            break; // the file shrank while it was read
        total += read;
    }
    const LineEndPadding& padding = PaddingFor(static_cast<const BYTE*>(data), total);
    CopyMemory(static_cast<BYTE*>(data) + total, padding.padding, padding.length);
    unaccess.Dismiss();
    SafeArrayUnaccessData(array);
    if (total + padding.length < length + c_largestPadding) {
        SAFEARRAYBOUND bound{total + padding.length, 0};
        ThrowIfFailed(SafeArrayRedim(array, &bound));
    }
}

bool IsHttpLocation(const std::wstring& location)
{
    const std::wstring_view scheme(c_httpScheme);
    return location.size() >= scheme.size() && EqualsIgnoreCase(std::wstring_view(location).substr(0, scheme.size()), scheme);
}

} // namespace

KmlElement::KmlElement(KmlKind kind, std::wstring_view name) : m_kind(kind), m_name(name) {}

KmlElement::~KmlElement()
{
    // A node whose only owner is the pending list gives its own children to
    // the list before it goes, so no release ever recurses.
    std::vector<ComPtr<KmlElement>> pending;
    TakeAll(pending);
    while (!pending.empty()) {
        ComPtr<KmlElement> next = std::move(pending.back());
        pending.pop_back();
        if (next->m_references == 1)
            next->TakeAll(pending);
    }
}

void KmlElement::TakeAll(std::vector<ComPtr<KmlElement>>& into)
{
    CriticalSectionLock lock(m_lock);
    for (auto& child : m_children)
        into.push_back(std::move(child));
    m_children.clear();
    for (auto& slot : m_slots)
        if (slot)
            into.push_back(std::move(slot));
}

ULONG KmlElement::AddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&m_references));
}

ULONG KmlElement::Release() noexcept
{
    const LONG remaining = InterlockedDecrement(&m_references);
    if (remaining == 0)
        delete this;
    return static_cast<ULONG>(remaining);
}

std::wstring KmlElement::Text() const
{
    CriticalSectionLock lock(m_lock);
    return m_text;
}

std::vector<ComPtr<KmlElement>> KmlElement::Children() const
{
    CriticalSectionLock lock(m_lock);
    return m_children;
}

ComPtr<KmlElement> KmlElement::SlotElement(KmlSlot slot) const
{
    CriticalSectionLock lock(m_lock);
    return m_slots[static_cast<size_t>(slot)];
}

ComPtr<KmlElement> KmlElement::FirstChild(std::wstring_view name) const
{
    CriticalSectionLock lock(m_lock);
    for (const auto& child : m_children)
        if (EqualsIgnoreCase(child->Name(), name))
            return child;
    return {};
}

ComPtr<KmlElement> KmlElement::StartChild(std::wstring_view namespaceUri, std::wstring_view localName)
{
    const KindRules& rules = RulesOf(m_kind);
    if (rules.checksNamespace)
        CheckKmlNamespace(namespaceUri);

    CriticalSectionLock lock(m_lock);
    for (const ChildRule& rule : rules.named) {
        if (!EqualsIgnoreCase(localName, rule.name))
            continue;
        ComPtr<KmlElement>& slot = m_slots[static_cast<size_t>(rule.slot)];
        if (slot && rule.secondFailure != 0)
            ThrowOwnFailure(rule.secondFailure);
        slot = ComPtr<KmlElement>(new KmlElement(rule.kind, localName));
        return slot;
    }
    ComPtr<KmlElement> child(new KmlElement(rules.otherChildren, localName));
    if (rules.storesOtherChildren)
        m_children.push_back(child);
    return child;
}

void KmlElement::AppendText(std::wstring_view text)
{
    if (!RulesOf(m_kind).keepsText)
        return;
    CriticalSectionLock lock(m_lock);
    m_text += text;
}

ComPtr<KmlElement> LoadKmlDocument(const std::wstring& location)
{
    try {
        ComPtr<KmlDocumentRoot> root(new KmlDocumentRoot);
        HRESULT hr;
        {
            ComPtr<ISAXXMLReader> reader = CreateSaxReader();
            ThrowIfFailed(reader->putContentHandler(root.Get()));
            ThrowIfFailed(reader->putErrorHandler(root.Get()));
            if (IsHttpLocation(location)) {
                hr = reader->parseURL(location.c_str());
            } else {
                OwnedVariant bytes;
                ReadFileBytes(location, bytes);
                hr = reader->parse(bytes.Get());
            }
        }
        root->RaiseParseResult(hr);
        return ComPtr<KmlElement>(root.Get());
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(location);
        throw;
    }
}
