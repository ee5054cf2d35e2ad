#include "import/KmlLocation.h"

#include <algorithm>
#include <oleauto.h>


#include "ErrorStrings.h"
#include "base/Exception.h"
#include "base/Handle.h"
#include "base/ResourceString.h"
#include "base/Text.h"

namespace {

// Locations that are downloaded.
constexpr const wchar_t* c_urlSchemes[] = {L"http://", L"https://"};

bool StartsRooted(std::wstring_view path)
{
    return (!path.empty() && (path[0] == L'\\' || path[0] == L'/')) || (path.size() >= 2 && path[1] == L':');
}

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
        if (IsHttpLocation(location))
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
        m_failure.Raise();
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
        const HRESULT result = m_failure.Run([&] { return ReadChecked(static_cast<BYTE*>(buffer), size, count); });
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
    StickyFailure m_failure;
};

} // namespace

bool IsHttpLocation(std::wstring_view location) noexcept
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

std::wstring ResolveKmlHref(const std::wstring& documentLocation, std::wstring_view href)
{
    const std::wstring target(TrimWhiteSpace(href));
    if (IsHttpLocation(documentLocation))
        return CombineUrl(documentLocation, target);
    if (IsHttpLocation(target) || StartsRooted(target))
        return target;
    const size_t folderEnd = documentLocation.find_last_of(L"\\/");
    if (folderEnd == std::wstring::npos)
        return target;
    return documentLocation.substr(0, folderEnd + 1) + target;
}

