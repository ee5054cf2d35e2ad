#include "import/KmlDocument.h"

#include <algorithm>
#include <atomic>
#include <oleauto.h>
#include <urlmon.h>

#include <span>

#include "base/Exception.h"
#include "base/Pattern.h"
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

// Locations the reader fetches itself.
constexpr const wchar_t* c_urlSchemes[] = {L"http://", L"https://"};

struct ChildRule
{
    const wchar_t* name;
    KmlKind kind;
    KmlSlot slot;
    WORD secondFailure; // 0: a later element replaces the earlier one
};

// What the namespace of an element that starts inside a node decides.
enum class NamespaceRule
{
    None,          // not checked
    KmlOnly,       // anything but a KML namespace fails
    OthersIgnored, // an element of another namespace is ignored with its content
};

struct KindRules
{
    bool keepsText;
    NamespaceRule namespaces; // of the elements that start inside it
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
    {false, NamespaceRule::KmlOnly, KmlKind::Ignored, false, c_rootChildren},        // Root
    {false, NamespaceRule::OthersIgnored, KmlKind::Plain, true, c_kmlChildren},      // Kml
    {false, NamespaceRule::OthersIgnored, KmlKind::Plain, true, c_documentChildren}, // Document
    {true, NamespaceRule::OthersIgnored, KmlKind::Plain, true, {}},                  // Plain
    {false, NamespaceRule::None, KmlKind::Ignored, false, {}},                       // Ignored
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
    if (rule == NamespaceRule::None || IsKmlNamespace(uri))
        return true;
    if (rule == NamespaceRule::KmlOnly)
        ThrowOwnFailure(KmlFailure::Namespace);
    return false;
}

// The document root, which is also the handler the reader reports to.
class KmlDocumentRoot final : public KmlElement, public ISAXContentHandler, public ISAXErrorHandler
{
public:
    KmlDocumentRoot() : KmlElement(KmlKind::Root, {}) {}

    // Raises the first failure of a handler, else the reader's own with the
    // words and the position it reported.
    void RaiseParseResult(HRESULT readerResult)
    {
        m_open.clear();
        m_failures.Raise(readerResult);
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
        return m_failures.Guarded([&] {
            if (m_hasLocator)
                ThrowOwnFailure(KmlFailure::SecondLocator);
            m_hasLocator = true;
        });
    }
    HRESULT STDMETHODCALLTYPE startDocument() override
    {
        return m_failures.Guarded([&] { RequireLocator(KmlFailure::DocumentBeforeLocator); });
    }
    HRESULT STDMETHODCALLTYPE endDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startPrefixMapping(const wchar_t*, int, const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endPrefixMapping(const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startElement(const wchar_t* namespaceUri, int namespaceLength, const wchar_t* localName,
                                           int localLength, const wchar_t*, int, ISAXAttributes*) override
    {
        return m_failures.Guarded([&] {
            RequireLocator(KmlFailure::ElementBeforeLocator);
            m_open.push_back(
                Innermost().StartChild(SaxText(namespaceUri, namespaceLength), SaxText(localName, localLength)));
        });
    }
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t*, int, const wchar_t* localName, int localLength,
                                         const wchar_t*, int) override
    {
        if (!m_open.empty() && EqualsIgnoreCase(m_open.back()->Name(), SaxText(localName, localLength)))
            m_open.pop_back();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE characters(const wchar_t* text, int length) override
    {
        return m_failures.Guarded([&] {
            RequireLocator(KmlFailure::CharactersBeforeLocator);
            Innermost().AppendText(SaxText(text, length));
        });
    }
    HRESULT STDMETHODCALLTYPE ignorableWhitespace(const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE processingInstruction(const wchar_t*, int, const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE skippedEntity(const wchar_t*, int) override { return S_OK; }

    // ISAXErrorHandler: the reader returns its failure from parse; its words
    // and position are kept for the message.
    HRESULT STDMETHODCALLTYPE error(ISAXLocator* locator, const wchar_t* message, HRESULT) override
    {
        return m_failures.KeepReaderError(locator, message);
    }
    HRESULT STDMETHODCALLTYPE fatalError(ISAXLocator* locator, const wchar_t* message, HRESULT) override
    {
        return m_failures.KeepReaderError(locator, message);
    }
    HRESULT STDMETHODCALLTYPE ignorableWarning(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }

private:
    void RequireLocator(WORD failure) const
    {
        if (!m_hasLocator)
            ThrowOwnFailure(failure);
    }

    KmlElement& Innermost() noexcept { return m_open.empty() ? *this : *m_open.back().Get(); }

    bool m_hasLocator = false;
    std::vector<ComPtr<KmlElement>> m_open; // below the root, outermost first
    // Each callback is a boundary: the first failure is kept whole (with
    // its own code) and its HRESULT stops the reader.
    SaxFailures m_failures;
};

// The whole file as a stream over memory. The reader takes a stream in
// pieces; given one byte array it rescans the current line from its start
// for every event, which makes a document on one line quadratic to read.
ComPtr<IStream> ReadFileStream(const std::wstring& path)
{
    UniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    ThrowLastErrorIf(!file);
    LARGE_INTEGER size;
    ThrowLastErrorIf(!GetFileSizeEx(file.Get(), &size));
    if (size.QuadPart >= MAXLONG)
        ThrowHr(E_OUTOFMEMORY);
    const DWORD length = static_cast<DWORD>(size.QuadPart);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, length);
    if (!memory)
        ThrowHr(E_OUTOFMEMORY);
    ComPtr<IStream> stream;
    const HRESULT created = CreateStreamOnHGlobal(memory, TRUE, stream.Put());
    if (FAILED(created)) {
        GlobalFree(memory);
        ThrowHr(created);
    }

    BYTE* data = static_cast<BYTE*>(GlobalLock(memory));
    ScopeExit unlock([memory] { GlobalUnlock(memory); });
    DWORD total = 0;
    while (total < length) {
        DWORD read = 0;
        ThrowLastErrorIf(!ReadFile(file.Get(), data + total, length - total, &read, nullptr));
        if (read == 0)
            break; // the file shrank while it was read
        total += read;
    }
    ULARGE_INTEGER streamSize;
    streamSize.QuadPart = total;
    ThrowIfFailed(stream->SetSize(streamSize));
    return stream;
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
    if (!AcceptsNamespace(rules.namespaces, namespaceUri))
        return ComPtr<KmlElement>(new KmlElement(KmlKind::Ignored, localName));

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

bool IsKmlUrl(std::wstring_view location)
{
    for (const wchar_t* scheme : c_urlSchemes) {
        const std::wstring_view prefix(scheme);
        if (location.size() >= prefix.size() && EqualsIgnoreCase(location.substr(0, prefix.size()), prefix))
            return true;
    }
    return false;
}

// Learns the HTTP status of a download: the system hands the page of a
// failed request over like any document. Reference counted, since the
// download may still report to it while the stream is being read.
class HttpStatusCallback final : public IBindStatusCallback, public IHttpNegotiate
{
public:
    DWORD Status() const noexcept { return m_status; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override
    {
        if (iid == IID_IUnknown || iid == IID_IBindStatusCallback)
            *result = static_cast<IBindStatusCallback*>(this);
        else if (iid == IID_IHttpNegotiate)
            *result = static_cast<IHttpNegotiate*>(this);
        else
            *result = nullptr;
        if (!*result)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_references); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = InterlockedDecrement(&m_references);
        if (left == 0)
            delete this;
        return left;
    }

    // IBindStatusCallback: nothing to add to the download.
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
    STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    // IHttpNegotiate
    STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override
    {
        *additionalHeaders = nullptr;
        return S_OK;
    }
    STDMETHODIMP OnResponse(DWORD status, LPCWSTR, LPCWSTR, LPWSTR* additionalHeaders) override
    {
        m_status = status;
        if (additionalHeaders)
            *additionalHeaders = nullptr;
        return S_OK;
    }

private:
    ~HttpStatusCallback() = default;

    LONG m_references = 0;
    std::atomic<DWORD> m_status{0};
};

// The failure an HTTP status stands for: none below 400.
HRESULT HttpStatusResult(DWORD status) noexcept
{
    if (status < 400)
        return S_OK;
    if (status == 404 || status == 410)
        return INET_E_OBJECT_NOT_FOUND;
    if (status == 401 || status == 403 || status == 407)
        return E_ACCESSDENIED;
    return INET_E_DOWNLOAD_FAILURE;
}

// The document behind a URL as a stream, which the reader takes in pieces:
// handed the URL itself, the reader gets the document in one block and
// reads a document on one line in quadratic time. A server's error page is
// a failure, not a document.
ComPtr<IStream> OpenUrlStream(const std::wstring& url)
{
    ComPtr<HttpStatusCallback> status(new HttpStatusCallback);
    ComPtr<IMoniker> moniker;
    ThrowIfFailed(CreateURLMonikerEx(nullptr, url.c_str(), moniker.Put(), URL_MK_UNIFORM));
    ComPtr<IBindCtx> context;
    ThrowIfFailed(CreateBindCtx(0, context.Put()));
    ThrowIfFailed(RegisterBindStatusCallback(context.Get(), status.Get(), nullptr, 0));
    ScopeExit revoke([&] { RevokeBindStatusCallback(context.Get(), status.Get()); });
    ComPtr<IStream> stream;
    ThrowIfFailed(moniker->BindToStorage(context.Get(), nullptr, IID_IStream, stream.PutVoid()));
    ThrowIfFailed(HttpStatusResult(status->Status()));
    return stream;
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
            const ComPtr<IStream> stream = IsKmlUrl(location) ? OpenUrlStream(location) : ReadFileStream(location);
            VARIANT input;
            input.vt = VT_UNKNOWN;
            input.punkVal = stream.Get();
            hr = reader->parse(input);
        }
        root->RaiseParseResult(hr);
        return ComPtr<KmlElement>(root.Get());
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(location);
        throw;
    }
}
