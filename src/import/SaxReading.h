// What the readers of XML documents (KML, GPX) share around the MSXML SAX2
// reader: creating it, and turning the first failure of a handler or of the
// reader into one exception with the reader's words and position.
#pragma once

#include <windows.h>
#include <msxml2.h>

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
        return m_failure.Run(body);
    }

    // For ISAXErrorHandler::error and fatalError.
    HRESULT KeepReaderError(ISAXLocator* locator, const wchar_t* message) noexcept;

    // Raises the kept failure, else the reader's result with its words.
    void Raise(HRESULT readerResult) const;

private:
    StickyFailure m_failure;
    std::wstring m_readerError;
};

// The base of a document's handler: it owns no reference count (it lives on
// the stack of the function that runs the reader, longer than the reader
// that holds it), ignores the events no document here needs, and keeps the
// reader's own errors in Failures(). A handler overrides the events it reads.
class SaxHandler : public ISAXContentHandler, public ISAXErrorHandler
{
public:
    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // ISAXContentHandler
    HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startPrefixMapping(const wchar_t*, int, const wchar_t*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endPrefixMapping(const wchar_t*, int) override { return S_OK; }
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

    // Hands the handler to the reader for both kinds of events.
    void AttachTo(ISAXXMLReader& reader);

protected:
    SaxHandler() = default;
    ~SaxHandler() = default;
    SaxHandler(const SaxHandler&) = delete;
    SaxHandler& operator=(const SaxHandler&) = delete;

    SaxFailures& Failures() noexcept { return m_failures; }

private:
    SaxFailures m_failures;
};
