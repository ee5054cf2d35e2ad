#include "import/Download.h"

#include <winhttp.h>
#include <shlwapi.h>
#include <urlmon.h>

#include <algorithm>

#include "base/ResourceString.h"
#include "ErrorStrings.h"

namespace {

constexpr wchar_t c_userAgent[] = L"Tervolin";
constexpr DWORD c_millisecondsPerSecond = 1000;
constexpr ULONGLONG c_bytesPerMegabyte = 1024 * 1024;
constexpr size_t c_longestUrl = 2084; // first try; a longer result gets the length it needs

// Statuses that name the document's new address in Location.
constexpr DWORD c_redirectStatuses[] = {301, 302, 303, 307, 308};

struct TransferFailure
{
    DWORD error; // WinHTTP's
    HRESULT result;
};

// WinHTTP's failures as the download codes the failure words know; every
// other one is "the document could not be downloaded".
constexpr TransferFailure c_transferFailures[] = {
    {ERROR_WINHTTP_INVALID_URL, INET_E_INVALID_URL},
    {ERROR_WINHTTP_UNRECOGNIZED_SCHEME, INET_E_INVALID_URL},
    {ERROR_WINHTTP_NAME_NOT_RESOLVED, INET_E_RESOURCE_NOT_FOUND},
    {ERROR_WINHTTP_CANNOT_CONNECT, INET_E_CANNOT_CONNECT},
    // A handshake refused for the server's certificate: Wine reports an
    // untrusted authority this way, and a certificate is by far the most
    // common reason for it.
    {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, INET_E_INVALID_CERTIFICATE},
    {ERROR_WINHTTP_SECURE_FAILURE, INET_E_INVALID_CERTIFICATE},
    {ERROR_WINHTTP_SECURE_INVALID_CA, INET_E_INVALID_CERTIFICATE},
    {ERROR_WINHTTP_SECURE_INVALID_CERT, INET_E_INVALID_CERTIFICATE},
    {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, INET_E_INVALID_CERTIFICATE},
    {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, INET_E_INVALID_CERTIFICATE},
    {ERROR_WINHTTP_SECURE_CERT_REVOKED, INET_E_INVALID_CERTIFICATE},
    {ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, INET_E_INVALID_CERTIFICATE},
};

HRESULT TransferResult(DWORD error) noexcept
{
    for (const auto& entry : c_transferFailures)
        if (entry.error == error)
            return entry.result;
    return INET_E_DOWNLOAD_FAILURE;
}

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

bool IsRedirect(DWORD status) noexcept
{
    return std::find(std::begin(c_redirectStatuses), std::end(c_redirectStatuses), status) !=
           std::end(c_redirectStatuses);
}

// A limit's failure with the limit in its words: "the server sent nothing
// for 20 s".
[[noreturn]] void ThrowLimitFailure(WORD check, UINT words, DWORD limit)
{
    CAtlException failure(MakeOwnFailure(check));
    failure.SetDetailIfUnknown(TryFormatResourceString(words, {std::to_wstring(limit)}).value_or(std::wstring()));
    throw failure;
}

void ThrowLastTransferErrorIf(bool failed)
{
    if (failed)
        ThrowHr(TransferResult(GetLastError()));
}

void SetDwordOption(HINTERNET handle, DWORD option, DWORD value)
{
    ThrowLastTransferErrorIf(!WinHttpSetOption(handle, option, &value, sizeof(value)));
}

// The parts of an http(s) URL a request needs.
struct UrlParts
{
    std::wstring host;
    INTERNET_PORT port;
    std::wstring object; // path and query, without the fragment
    bool secure;
};

UrlParts CrackUrl(std::wstring url)
{
    // The scheme in any letter case ("HTTP://").
    for (size_t i = 0; i < url.find(L"://") && i < url.size(); ++i)
        url[i] = static_cast<wchar_t>(towlower(url[i]));
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof(components);
    components.dwHostNameLength = static_cast<DWORD>(-1);
    components.dwUrlPathLength = static_cast<DWORD>(-1);
    components.dwExtraInfoLength = static_cast<DWORD>(-1);
    ThrowLastTransferErrorIf(!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &components));
    if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS)
        ThrowHr(INET_E_INVALID_URL);
    UrlParts parts;
    parts.host.assign(components.lpszHostName, components.dwHostNameLength);
    parts.port = components.nPort;
    parts.object.assign(components.lpszUrlPath, components.dwUrlPathLength);
    parts.object.append(components.lpszExtraInfo, components.dwExtraInfoLength);
    parts.object = parts.object.substr(0, parts.object.find(L'#'));
    if (parts.object.empty())
        parts.object = L"/";
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    return parts;
}

} // namespace

void InternetHandleTraits::Close(Type h) noexcept
{
    WinHttpCloseHandle(h);
}

Download::Download(const DownloadLimits& limits) : m_limits(limits), m_start(GetTickCount64()) {}

ComPtr<Download> Download::Open(const std::wstring& url, const DownloadLimits& limits)
{
    ComPtr<Download> download(new Download(limits));
    download->m_session.Reset(WinHttpOpen(c_userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                          WINHTTP_NO_PROXY_BYPASS, 0));
    ThrowLastTransferErrorIf(!download->m_session);

    std::wstring location = url;
    for (unsigned redirects = 0;; ++redirects) {
        download->Request(location);
        const DWORD status = download->StatusCode();
        if (!IsRedirect(status)) {
            ThrowIfFailed(HttpStatusResult(status));
            return download;
        }
        if (redirects == limits.redirects)
            ThrowLimitFailure(DownloadFailure::Redirects, IDS_FAILURE_DOWNLOAD_REDIRECTS, limits.redirects);
        location = download->RedirectTarget(location);
    }
}

void Download::RaiseFailure() const
{
    m_failure.Raise();
}

HRESULT Download::QueryInterface(REFIID iid, void** object)
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

ULONG Download::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_references));
}

ULONG Download::Release()
{
    const LONG remaining = InterlockedDecrement(&m_references);
    if (remaining == 0)
        delete this;
    return static_cast<ULONG>(remaining);
}

HRESULT Download::Read(void* buffer, ULONG size, ULONG* read)
{
    ULONG count = 0;
    const HRESULT result = m_failure.Run([&] { ReadInto(buffer, size, count); });
    if (read)
        *read = count;
    return result;
}

// One request of the download, its answer received (also a redirect's).
void Download::Request(const std::wstring& url)
{
    const UrlParts parts = CrackUrl(url);
    m_request.Reset();
    m_connection.Reset(WinHttpConnect(m_session.Get(), parts.host.c_str(), parts.port, 0));
    ThrowLastTransferErrorIf(!m_connection);
    m_request.Reset(WinHttpOpenRequest(m_connection.Get(), L"GET", parts.object.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       parts.secure ? WINHTTP_FLAG_SECURE : 0));
    ThrowLastTransferErrorIf(!m_request);
    // Redirects are followed by Open, which counts them.
    SetDwordOption(m_request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);
    const int wait = static_cast<int>(NextWait());
    ThrowLastTransferErrorIf(!WinHttpSetTimeouts(m_request.Get(), wait, wait, wait, wait));
    SetDwordOption(m_request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, static_cast<DWORD>(wait));
    if (!WinHttpSendRequest(m_request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(m_request.Get(), nullptr))
        ThrowTransferFailure(GetLastError());
}

DWORD Download::StatusCode() const
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    ThrowLastTransferErrorIf(!WinHttpQueryHeaders(m_request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                                  WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                                  WINHTTP_NO_HEADER_INDEX));
    return status;
}

// The address a redirect names, seen from the address that answered it.
std::wstring Download::RedirectTarget(const std::wstring& url) const
{
    DWORD size = 0;
    WinHttpQueryHeaders(m_request.Get(), WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        ThrowHr(INET_E_DOWNLOAD_FAILURE); // a redirect without a Location
    std::wstring location(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(location.size() * sizeof(wchar_t));
    ThrowLastTransferErrorIf(!WinHttpQueryHeaders(m_request.Get(), WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                                                  location.data(), &size, WINHTTP_NO_HEADER_INDEX));
    location.resize(size / sizeof(wchar_t));
    return CombineUrl(url, location);
}

// How long the next wait on the server may take: the silence limit, or what
// is left of the overall limit when that is less. Raises the overall
// limit's failure when nothing is left.
DWORD Download::NextWait()
{
    const ULONGLONG overall = static_cast<ULONGLONG>(m_limits.overallSeconds) * c_millisecondsPerSecond;
    const ULONGLONG elapsed = GetTickCount64() - m_start;
    if (elapsed >= overall)
        ThrowLimitFailure(DownloadFailure::TooSlow, IDS_FAILURE_DOWNLOAD_TOO_SLOW, m_limits.overallSeconds);
    const ULONGLONG silence = static_cast<ULONGLONG>(m_limits.silenceSeconds) * c_millisecondsPerSecond;
    m_waitEndsOverall = overall - elapsed < silence;
    m_waitStart = GetTickCount64();
    m_waitLimit = std::min(silence, overall - elapsed);
    return static_cast<DWORD>(m_waitLimit);
}

// Fills the buffer, short only at the end of the document: a reader may
// take a short piece for the end. Each wait for more is limited on its own.
void Download::ReadInto(void* buffer, ULONG size, ULONG& read)
{
    BYTE* const bytes = static_cast<BYTE*>(buffer);
    while (read < size) {
        // Asking what is there first waits for the next bytes only; a read
        // of the rest of the buffer could wait for many pieces.
        SetDwordOption(m_request.Get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, NextWait());
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(m_request.Get(), &available))
            ThrowTransferFailure(GetLastError());
        if (available == 0)
            return; // the end of the document
        DWORD count = 0;
        if (!WinHttpReadData(m_request.Get(), bytes + read, std::min<DWORD>(available, size - read), &count))
            ThrowTransferFailure(GetLastError());
        m_received += count;
        if (m_received > m_limits.megabytes * c_bytesPerMegabyte)
            ThrowLimitFailure(DownloadFailure::TooLarge, IDS_FAILURE_DOWNLOAD_TOO_LARGE, m_limits.megabytes);
        read += count;
    }
}

// A failed wait on the server is the limit that ended it.
void Download::ThrowTransferFailure(DWORD error) const
{
    // Some implementations end a wait at its limit with another error than
    // the time-out's (Wine's gives the connection's): a wait that failed at
    // its limit is the limit whatever the code.
    constexpr ULONGLONG c_waitSlackMilliseconds = 250;
    const bool waitedOut = error == ERROR_WINHTTP_TIMEOUT ||
                           GetTickCount64() - m_waitStart + c_waitSlackMilliseconds >= m_waitLimit;
    if (waitedOut && m_waitEndsOverall)
        ThrowLimitFailure(DownloadFailure::TooSlow, IDS_FAILURE_DOWNLOAD_TOO_SLOW, m_limits.overallSeconds);
    if (waitedOut)
        ThrowLimitFailure(DownloadFailure::Silent, IDS_FAILURE_DOWNLOAD_SILENT, m_limits.silenceSeconds);
    ThrowHr(TransferResult(error));
}

std::wstring CombineUrl(const std::wstring& base, const std::wstring& relative)
{
    std::wstring combined(c_longestUrl, L'\0');
    DWORD length = static_cast<DWORD>(combined.size());
    HRESULT hr = UrlCombineW(base.c_str(), relative.c_str(), combined.data(), &length, 0);
    if (hr == E_POINTER) {
        combined.resize(length);
        hr = UrlCombineW(base.c_str(), relative.c_str(), combined.data(), &length, 0);
    }
    ThrowIfFailed(hr);
    combined.resize(length);
    return combined;
}
