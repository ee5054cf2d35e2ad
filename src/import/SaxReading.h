// What the readers of XML documents (KML, GPX) share around the MSXML SAX2
// reader: creating it, and turning the first failure of a handler or of the
// reader into one exception with the reader's words and position.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <optional>
#include <string>
#include <string_view>

#include "base/Exception.h"
#include "base/Handle.h"

__CRT_UUID_DECL(ISAXXMLReader, 0xa4f96ed0, 0xf829, 0x476e, 0x81, 0xc0, 0xcd, 0xc7, 0xbd, 0x2a, 0x08, 0x02)
__CRT_UUID_DECL(ISAXContentHandler, 0x1545cdfa, 0x9e4e, 0x4497, 0xa8, 0xa4, 0x2b, 0xf7, 0xd0, 0x11, 0x2c, 0x44)
__CRT_UUID_DECL(ISAXErrorHandler, 0xa60511c4, 0xccf5, 0x479e, 0x98, 0xa3, 0xdc, 0x8d, 0xc5, 0x45, 0xb7, 0xd0)

// The SAX2 reader of MSXML 4.0, else 6.0, else 3.0.
ComPtr<ISAXXMLReader> CreateSaxReader();

// A text and length from a reader event as a view (empty for none).
std::wstring_view SaxText(const wchar_t* text, int length) noexcept;

// Keeps the first failure of a parse: a handler's exception (whole, with
// its own code and words) or the reader's error with its words, line and
// column ("not well-formed XML at line 12, column 5: ...").
class SaxFailures
{
public:
    // Runs a handler's body as the boundary it is: a failure is kept and its
    // HRESULT returned, which stops the reader.
    template <typename Body>
    HRESULT Guarded(Body body) noexcept
    {
        try {
            body();
            return S_OK;
        } catch (const CAtlException& e) {
            Keep(e);
            return e.m_hr;
        } catch (...) {
            const HRESULT hr = ResultFromCaughtException();
            Keep(CAtlException(hr));
            return hr;
        }
    }

    // For ISAXErrorHandler::error and fatalError.
    HRESULT KeepReaderError(ISAXLocator* locator, const wchar_t* message) noexcept;

    // Raises the kept failure, else the reader's result with its words.
    void Raise(HRESULT readerResult) const;

private:
    void Keep(const CAtlException& failure);

    std::optional<CAtlException> m_failure;
    std::wstring m_readerError;
};
