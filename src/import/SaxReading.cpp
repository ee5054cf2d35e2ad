#include "import/SaxReading.h"

#include "base/ResourceString.h"
#include "base/Text.h"
#include "ErrorStrings.h"

namespace {

// The SAX2 reader of MSXML 4.0, then those of MSXML 6.0 and 3.0 for systems
// where the former is not installed (Wine registers all three).
constexpr CLSID c_saxReaderClasses[] = {
    {0x7c6e29bc, 0x8b8b, 0x4c3d, {0x85, 0x9e, 0xaf, 0x6c, 0xd1, 0x58, 0xbe, 0x0f}},
    {0x88d96a0c, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}},
    {0x3124c396, 0xfb13, 0x4836, {0xa6, 0xad, 0x13, 0x17, 0xf1, 0x71, 0x36, 0x88}},
};

// "not well-formed XML at line 12, column 5: <the reader's words>", or the
// reader's words alone where the string table lacks the frame.
std::wstring DescribeReaderError(int line, int column, std::wstring_view message)
{
    return TryFormatResourceString(IDS_FAILURE_KML_NOT_WELL_FORMED,
                                   {std::to_wstring(line), std::to_wstring(column), message})
        .value_or(std::wstring(message));
}

} // namespace

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

std::wstring_view SaxText(const wchar_t* text, int length) noexcept
{
    return text && length > 0 ? std::wstring_view(text, static_cast<size_t>(length)) : std::wstring_view();
}

HRESULT SaxFailures::KeepReaderError(ISAXLocator* locator, const wchar_t* message) noexcept
{
    return Guarded([&] {
        if (!m_readerError.empty())
            return;
        int line = 0;
        int column = 0;
        if (locator) {
            locator->getLineNumber(&line);
            locator->getColumnNumber(&column);
        }
        m_readerError = DescribeReaderError(line, column, TrimWhiteSpace(message ? message : L""));
    });
}

void SaxFailures::Raise(HRESULT readerResult) const
{
    m_failure.Raise();
    if (SUCCEEDED(readerResult))
        return;
    CAtlException failure(readerResult);
    failure.SetDetailIfUnknown(m_readerError);
    throw failure;
}

HRESULT STDMETHODCALLTYPE SaxHandler::QueryInterface(REFIID iid, void** object)
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
    return S_OK;
}

void SaxHandler::AttachTo(ISAXXMLReader& reader)
{
    ThrowIfFailed(reader.putContentHandler(this));
    ThrowIfFailed(reader.putErrorHandler(this));
}
