// Documents fetched over http:// and https:// with limits on everything a
// server controls.
//
// A download ends with a failure in words when the server sends nothing
// for the silence limit (while connecting, before the answer, or in the
// middle of the body), when the whole download takes longer than the
// overall limit, after more than the allowed number of redirects, or when
// the document grows beyond the size limit. Nothing is written to the
// system's Internet cache: the document goes from the connection straight
// to the reader, in the pieces it asks for. A server's error page (status
// 400 and above) is a failure, not a document.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>

#include "base/Exception.h"
#include "base/FailureCodes.h"
#include "base/Handle.h"

// A relative address resolved against the address of the document that
// names it (the result may be longer than the usual URL limit).
std::wstring CombineUrl(const std::wstring& base, const std::wstring& relative);

struct DownloadLimits
{
    DWORD silenceSeconds = 20;
    DWORD overallSeconds = 60;
    unsigned redirects = 10;
    DWORD megabytes = 256;
};

struct InternetHandleTraits
{
    using Type = void*; // HINTERNET
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept;
};
using UniqueInternetHandle = UniqueAny<InternetHandleTraits>;

// One download, read as a stream. A failure of a read is kept and returned
// as its HRESULT, which stops the reader; RaiseFailure raises it whole (with
// its words) once the reader has returned.
class Download final : public ISequentialStream
{
public:
    // Connects, follows redirects and checks the status; raises failures.
    static ComPtr<Download> Open(const std::wstring& url, const DownloadLimits& limits);

    void RaiseFailure() const;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ISequentialStream: Read fills the buffer, short only at the end of the
    // document.
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override;
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }

private:
    explicit Download(const DownloadLimits& limits);
    ~Download() = default;

    void Request(const std::wstring& url);
    DWORD StatusCode() const;
    std::wstring RedirectTarget(const std::wstring& url) const;
    DWORD NextWait();
    void ReadInto(void* buffer, ULONG size, ULONG& read);
    [[noreturn]] void ThrowTransferFailure(DWORD error) const;

    const DownloadLimits m_limits;
    const ULONGLONG m_start;
    bool m_waitEndsOverall = false; // the last wait was cut to what remained of the overall limit
    ULONGLONG m_waitStart = 0;      // when the last wait began (milliseconds)
    ULONGLONG m_waitLimit = 0;      // and how long it may last
    ULONGLONG m_received = 0;
    LONG m_references = 0;
    UniqueInternetHandle m_session;
    UniqueInternetHandle m_connection;
    UniqueInternetHandle m_request;
    StickyFailure m_failure;
};
