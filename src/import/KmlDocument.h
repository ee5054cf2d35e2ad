// KML documents read with the MSXML SAX2 reader into a small element tree.
//
// LoadKmlDocument reads a local file or an http:// or https:// resource
// (import/Download.h), handed to the reader as a stream of its bytes in
// pieces, so the reader detects the encoding, and builds a tree of
// KmlElement nodes. A UTF-16 document with a code unit that makes no
// character fails with its line before the reader sees it. The tree keeps only what the placemark import needs:
//
//   <kml xmlns="http://www.opengis.net/kml/2.2">      kml element (root slot)
//     <Document>                                      Document (kml slot)
//       <name>Lakes</name>                            Document's name slot
//       <NetworkLink><Url><href>...</href></Url>      Document's link slot
//       <Folder><Placemark>...</Placemark></Folder>   plain elements, with text
//
// A root element other than kml, and everything inside it, is ignored. The
// root element must carry a KML namespace of version 2.0 or later, under
// either host the namespace has been published at (earth.google.com,
// www.opengis.net). Inside kml, an element of any other namespace (the
// extensions programs write, such as gx: or atom:) is ignored with all it
// holds; a KML namespace below version 2.0 fails the load anywhere.
// Element names are compared ignoring letter case. A document that is not
// well-formed fails with the reader's code, and the failure's detail gives
// the reader's words with their line and column. Nesting depth is limited
// only by the tree's limit (KmlReadLimits): events go straight to the
// innermost open element and the tree is released without recursion.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/FailureCodes.h"
#include "base/Handle.h"
#include "import/Download.h"
#include "import/SaxReading.h"

enum class KmlKind { Root, Kml, Document, Plain, Ignored };

// The single-valued slots some kinds keep apart from their child list.
enum class KmlSlot { Kml, Document, Name, NetworkLink, Count };

// One node of the tree. Reference-counted; a tree is built and read on one
// thread, so a node has no lock (a lock for each of millions of nodes would
// cost more than the node).
class KmlElement
{
public:
    KmlElement(KmlKind kind, std::wstring_view name);
    virtual ~KmlElement();
    KmlElement(const KmlElement&) = delete;
    KmlElement& operator=(const KmlElement&) = delete;

    ULONG AddRef() noexcept;
    ULONG Release() noexcept;

    KmlKind Kind() const noexcept { return m_kind; }
    const std::wstring& Name() const noexcept { return m_name; }

    // Character data received while this node was the innermost open
    // element (plain elements only; empty for the other kinds).
    std::wstring Text() const;
    std::vector<ComPtr<KmlElement>> Children() const;
    ComPtr<KmlElement> SlotElement(KmlSlot slot) const;
    // The first child with the name, ignoring case; empty when none.
    ComPtr<KmlElement> FirstChild(std::wstring_view name) const;

    // Reader events for the innermost open element: creates the child of
    // the kind this node's rules give and stores it where they say.
    ComPtr<KmlElement> StartChild(std::wstring_view namespaceUri, std::wstring_view localName);
    void AppendText(std::wstring_view text);

private:
    // Moves out every child and slot element so that the tree can be
    // released without recursion.
    void TakeAll(std::vector<ComPtr<KmlElement>>& into);

    const KmlKind m_kind;
    const std::wstring m_name;
    LONG m_references = 0;
    std::wstring m_text;
    std::vector<ComPtr<KmlElement>> m_children;
    ComPtr<KmlElement> m_slots[static_cast<size_t>(KmlSlot::Count)];
};

// Whether the location is one the reader fetches: "http://..." or
// "https://..." in any letter case. Every other location is a file path.
bool IsKmlUrl(std::wstring_view location);

struct KmlReadLimits
{
    DownloadLimits download;
    // What the tree of one document may keep (its elements and their text,
    // counted with their bookkeeping): a document beyond it fails with words
    // instead of exhausting the process's memory.
    DWORD treeMegabytes = 512;
};

// Reads the document at the location (a download within the limits).
// Returns the document root, whose Kml slot holds the kml element when there
// is one. Failures carry the location as their path.
ComPtr<KmlElement> LoadKmlDocument(const std::wstring& location, const KmlReadLimits& limits = {});

// Hands the document at the location to the reader in pieces: a local file,
// or a download within the limits; a UTF-16 document with a broken
// character fails in words before the reader sees it. Returns the reader's
// result; a failure of the input itself is raised. The GPX reader takes its
// documents this way too.
HRESULT ParseDocumentAt(ISAXXMLReader& reader, const std::wstring& location, const DownloadLimits& limits);
