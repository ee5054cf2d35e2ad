// xml_reader_timings.exe FILE: reads a GPX file with each XML reader that
// Windows offers (MSXML's SAX2 reader, which the GPX and KML imports use,
// and the XmlLite pull reader) the way the GPX import needs it: every
// element's namespace and name, the lat and lon attributes and every text.
// Prints the milliseconds each took and what it saw, so that the two can be
// compared on the same machine in the same run.
#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <cstdio>
#include <cwchar>

#include "base/Handle.h"
#include "import/KmlLocation.h"
#include "import/SaxReading.h"

namespace {

struct Seen
{
    long elements = 0;
    long positions = 0;
    long textCharacters = 0;
};

class CountingHandler final : public SaxHandler
{
public:
    Seen seen;

    HRESULT STDMETHODCALLTYPE startElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*, int,
                                           ISAXAttributes* attributes) override
    {
        ++seen.elements;
        int count = 0;
        attributes->getLength(&count);
        for (int index = 0; index < count; ++index) {
            const wchar_t* name = nullptr;
            int length = 0;
            const wchar_t* value = nullptr;
            int valueLength = 0;
            attributes->getLocalName(index, &name, &length);
            if (length == 3 && wcsncmp(name, L"lat", 3) == 0 &&
                SUCCEEDED(attributes->getValue(index, &value, &valueLength)))
                ++seen.positions;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE endElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*, int) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE characters(const wchar_t*, int length) override
    {
        seen.textCharacters += length;
        return S_OK;
    }
};

HRESULT ReadWithSax(const wchar_t* path, Seen& seen)
{
    CountingHandler handler;
    ComPtr<ISAXXMLReader> reader = CreateSaxReader();
    handler.AttachTo(*reader.Get());
    // The reader gets the file as the conversions give it.
    const HRESULT hr = ParseDocumentAt(*reader.Get(), path, {});
    seen = handler.seen;
    return hr;
}

HRESULT ReadWithXmlLite(const wchar_t* path, Seen& seen)
{
    using CreateReader = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
    const HMODULE library = LoadLibraryW(L"xmllite.dll");
    const auto create = library ? reinterpret_cast<CreateReader>(GetProcAddress(library, "CreateXmlReader")) : nullptr;
    if (!create)
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    ComPtr<IXmlReader> reader;
    HRESULT hr = create(__uuidof(IXmlReader), reader.PutVoid(), nullptr);
    if (FAILED(hr))
        return hr;
    reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    ComPtr<IStream> stream;
    hr = SHCreateStreamOnFileEx(path, STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE, nullptr,
                                stream.Put());
    if (FAILED(hr))
        return hr;
    reader->SetInput(stream.Get());
    XmlNodeType type;
    while ((hr = reader->Read(&type)) == S_OK) {
        const wchar_t* value = nullptr;
        UINT length = 0;
        if (type == XmlNodeType_Element) {
            ++seen.elements;
            reader->GetNamespaceUri(&value, &length);
            reader->GetLocalName(&value, &length);
            if (reader->MoveToAttributeByName(L"lat", nullptr) == S_OK && SUCCEEDED(reader->GetValue(&value, &length)))
                ++seen.positions;
            reader->MoveToElement();
        } else if (type == XmlNodeType_Text || type == XmlNodeType_Whitespace) {
            reader->GetValue(&value, &length);
            seen.textCharacters += static_cast<long>(length);
        }
    }
    return FAILED(hr) ? hr : S_OK;
}

void Time(const char* name, HRESULT (*read)(const wchar_t*, Seen&), const wchar_t* path)
{
    Seen seen;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HRESULT hr;
    try {
        hr = read(path, seen);
    } catch (const CAtlException& e) {
        hr = e.m_hr;
    }
    QueryPerformanceCounter(&end);
    std::printf("%-12s %8.0f ms  %ld elements, %ld positions, %ld text characters, result 0x%08lX\n", name,
                1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart),
                seen.elements, seen.positions, seen.textCharacters, static_cast<unsigned long>(hr));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: xml_reader_timings FILE.gpx\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Time("MSXML SAX", ReadWithSax, argv[1]);
    Time("XmlLite", ReadWithXmlLite, argv[1]);
    CoUninitialize();
    return 0;
}
