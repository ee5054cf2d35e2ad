#include "import/KmlDocument.h"

#include <algorithm>
#include <oleauto.h>

#include <optional>
#include <span>

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
// What an element of the tree costs beyond its own object and name: the
// heap's bookkeeping and its place in its parent's list.
constexpr size_t c_elementBookkeeping = 32;

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
    explicit KmlDocumentRoot(DWORD treeMegabytes)
        : KmlElement(KmlKind::Root, {}), m_treeLimit(static_cast<ULONGLONG>(treeMegabytes) * c_bytesPerMegabyte),
          m_treeMegabytes(treeMegabytes)
    {
    }

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
            ComPtr<KmlElement> child =
                Innermost().StartChild(SaxText(namespaceUri, namespaceLength), SaxText(localName, localLength));
            if (child->Kind() != KmlKind::Ignored)
                Keep(sizeof(KmlElement) + c_elementBookkeeping + child->Name().size() * sizeof(wchar_t));
            m_open.push_back(std::move(child));
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
            if (RulesOf(Innermost().Kind()).keepsText)
                Keep(SaxText(text, length).size() * sizeof(wchar_t));
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

    // Counts what the tree keeps; raises 0xA7650306 beyond the limit.
    void Keep(size_t bytes)
    {
        m_treeBytes += bytes;
        if (m_treeBytes <= m_treeLimit)
            return;
        CAtlException failure(MakeOwnFailure(KmlFailure::TooLarge));
        failure.SetDetailIfUnknown(TryFormatResourceString(IDS_FAILURE_KML_TOO_LARGE, {std::to_wstring(m_treeMegabytes)})
                                       .value_or(std::wstring()));
        throw failure;
    }

    KmlElement& Innermost() noexcept { return m_open.empty() ? *this : *m_open.back().Get(); }

    const ULONGLONG m_treeLimit;
    const DWORD m_treeMegabytes;
    ULONGLONG m_treeBytes = 0;
    bool m_hasLocator = false;
    std::vector<ComPtr<KmlElement>> m_open; // below the root, outermost first
    // Each callback is a boundary: the first failure is kept whole (with
    // its own code) and its HRESULT stops the reader.
    SaxFailures m_failures;
};

// Finds the code units of a UTF-16 document that no character is made of:
// a surrogate without its partner, or an odd byte at the end. The reader
// would fail on them with a code and no position (and its library's own
// lines on standard error); the check stops the document before the reader
// gets them. Documents in other encodings pass unchecked.
class Utf16Check
{
public:
    void Feed(const BYTE* bytes, size_t count)
    {
        for (size_t i = 0; i < count && m_order != Order::Other; ++i) {
            if (m_order == Order::Undecided)
                TakeHeadByte(bytes[i]);
            else
                TakeByte(bytes[i]);
        }
    }

    void Finish()
    {
        if (m_order == Order::Undecided)
            Decide();
        if ((m_order == Order::Little || m_order == Order::Big) && (m_hasOddByte || m_highPending))
            Fail();
    }

private:
    enum class Order { Undecided, Little, Big, Other };

    struct Start
    {
        BYTE bytes[4];
        size_t length;
        Order order;
    };
    // A byte order mark, or "<?" of a document without one.
    static constexpr Start c_starts[] = {
        {{0xFF, 0xFE}, 2, Order::Little},
        {{0xFE, 0xFF}, 2, Order::Big},
        {{'<', 0, '?', 0}, 4, Order::Little},
        {{0, '<', 0, '?'}, 4, Order::Big},
    };

    void TakeHeadByte(BYTE byte)
    {
        m_head[m_headLength++] = byte;
        if (m_headLength == std::size(m_head))
            Decide();
    }

    void Decide()
    {
        m_order = Order::Other;
        for (const Start& start : c_starts)
            if (m_headLength >= start.length && std::equal(start.bytes, start.bytes + start.length, m_head))
                m_order = start.order;
        for (size_t i = 0; i < m_headLength && m_order != Order::Other; ++i)
            TakeByte(m_head[i]);
    }

    void TakeByte(BYTE byte)
    {
        if (!m_hasOddByte) {
            m_oddByte = byte;
            m_hasOddByte = true;
            return;
        }
        m_hasOddByte = false;
        TakeUnit(m_order == Order::Little ? static_cast<wchar_t>(byte << 8 | m_oddByte)
                                          : static_cast<wchar_t>(m_oddByte << 8 | byte));
    }

    void TakeUnit(wchar_t unit)
    {
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (m_highPending != low)
            Fail();
        m_highPending = high;
        // Lines end at CR, LF or CR LF, as the reader counts them.
        if (unit == L'\r' || (unit == L'\n' && !m_afterCarriageReturn))
            ++m_line;
        m_afterCarriageReturn = unit == L'\r';
    }

    [[noreturn]] void Fail() const
    {
        CAtlException failure(MakeOwnFailure(KmlFailure::NotUtf16));
        failure.SetDetailIfUnknown(
            TryFormatResourceString(IDS_FAILURE_KML_NOT_UTF16, {std::to_wstring(m_line)}).value_or(std::wstring()));
        throw failure;
    }

    Order m_order = Order::Undecided;
    BYTE m_head[4] = {};
    size_t m_headLength = 0;
    BYTE m_oddByte = 0;
    bool m_hasOddByte = false;
    bool m_highPending = false;
    bool m_afterCarriageReturn = false;
    unsigned m_line = 1;
};

// The document as the reader takes it: in pieces, from a file or a
// download, never whole in memory (the reader rescans the current line from
// its start for every event when given one byte array, which would make a
// document on one line quadratic to read). A failure of a read is kept and
// returned as its HRESULT, which stops the reader; RaiseFailure raises it
// whole once the reader has returned.
class DocumentStream final : public ISequentialStream
{
public:
    explicit DocumentStream(UniqueHFile file) : m_file(std::move(file)) {}
    explicit DocumentStream(ComPtr<Download> download) : m_download(std::move(download)) {}

    static ComPtr<DocumentStream> Open(const std::wstring& location, const DownloadLimits& limits)
    {
        if (IsKmlUrl(location))
            return ComPtr<DocumentStream>(new DocumentStream(Download::Open(location, limits)));
        UniqueHFile file(CreateFileW(location.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        ThrowLastErrorIf(!file);
        return ComPtr<DocumentStream>(new DocumentStream(std::move(file)));
    }

    void RaiseFailure() const
    {
        if (m_download)
            m_download->RaiseFailure();
        if (m_failure)
            throw *m_failure;
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid != IID_IUnknown && iid != IID_ISequentialStream) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<ISequentialStream*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_references)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG remaining = InterlockedDecrement(&m_references);
        if (remaining == 0)
            delete this;
        return static_cast<ULONG>(remaining);
    }

    // ISequentialStream: fills the buffer, short only at the end of the
    // document (a reader may take a short piece for the end).
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override
    {
        ULONG count = 0;
        HRESULT result = m_failure ? m_failure->m_hr : S_OK;
        if (SUCCEEDED(result)) {
            try {
                result = ReadChecked(static_cast<BYTE*>(buffer), size, count);
            } catch (const CAtlException& e) {
                m_failure.emplace(e);
                result = e.m_hr;
            } catch (...) {
                result = ResultFromCaughtException();
                m_failure.emplace(result);
            }
        }
        if (read)
            *read = count;
        return result;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }

private:
    ~DocumentStream() = default;

    HRESULT ReadChecked(BYTE* buffer, ULONG size, ULONG& count)
    {
        const HRESULT result = m_download ? m_download->Read(buffer, size, &count) : ReadFileInto(buffer, size, count);
        if (FAILED(result))
            return result;
        m_check.Feed(buffer, count);
        if (count < size)
            m_check.Finish();
        return result;
    }

    HRESULT ReadFileInto(BYTE* buffer, ULONG size, ULONG& count)
    {
        while (count < size) {
            DWORD piece = 0;
            ThrowLastErrorIf(!ReadFile(m_file.Get(), buffer + count, size - count, &piece, nullptr));
            if (piece == 0)
                break;
            count += piece;
        }
        return S_OK;
    }

    UniqueHFile m_file;
    ComPtr<Download> m_download;
    Utf16Check m_check;
    LONG m_references = 0;
    std::optional<CAtlException> m_failure;
};

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
    return m_text;
}

std::vector<ComPtr<KmlElement>> KmlElement::Children() const
{
    return m_children;
}

ComPtr<KmlElement> KmlElement::SlotElement(KmlSlot slot) const
{
    return m_slots[static_cast<size_t>(slot)];
}

ComPtr<KmlElement> KmlElement::FirstChild(std::wstring_view name) const
{
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

HRESULT ParseDocumentAt(ISAXXMLReader& reader, const std::wstring& location, const DownloadLimits& limits)
{
    // Handed a URL itself, the reader would fetch the document with no
    // limits.
    const ComPtr<DocumentStream> input = DocumentStream::Open(location, limits);
    VARIANT variant;
    variant.vt = VT_UNKNOWN;
    variant.punkVal = static_cast<ISequentialStream*>(input.Get());
    const HRESULT hr = reader.parse(variant);
    input->RaiseFailure();
    return hr;
}

ComPtr<KmlElement> LoadKmlDocument(const std::wstring& location, const KmlReadLimits& limits)
{
    try {
        ComPtr<KmlDocumentRoot> root(new KmlDocumentRoot(limits.treeMegabytes));
        HRESULT hr;
        {
            ComPtr<ISAXXMLReader> reader = CreateSaxReader();
            ThrowIfFailed(reader->putContentHandler(root.Get()));
            ThrowIfFailed(reader->putErrorHandler(root.Get()));
            hr = ParseDocumentAt(*reader.Get(), location, limits.download);
        }
        root->RaiseParseResult(hr);
        return ComPtr<KmlElement>(root.Get());
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(location);
        throw;
    }
}
