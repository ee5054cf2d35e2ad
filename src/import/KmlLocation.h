// Where a KML document comes from: a local file or an http:// or https://
// address, and the stream of its bytes that the XML reader takes.
//
// ParseDocumentAt hands the document to the reader in pieces, from the file
// or from a download within its limits (import/Download.h), so the reader
// detects the encoding itself and nothing holds the whole document. A
// UTF-16 document with a code unit that makes no character fails with its
// line before the reader sees it. The GPX reader takes its documents the
// same way.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <string>
#include <string_view>

#include "base/FailureCodes.h"
#include "import/Download.h"

// Whether the location is one that is downloaded: "http://..." or
// "https://..." in any letter case. Every other location is a file path.
bool IsHttpLocation(std::wstring_view location) noexcept;

// The location a network link's href names, seen from the document at
// documentLocation: relative to its URL or its folder; an http(s) address
// or a rooted path stands as it is. White space around the href is dropped.
std::wstring ResolveKmlHref(const std::wstring& documentLocation, std::wstring_view href);

// Hands the document at the location to the reader in pieces: a local file,
// or a download within the limits. Returns the reader's result; a failure
// of the input itself (a file that cannot be read, a download beyond its
// limits, broken UTF-16) is raised.
HRESULT ParseDocumentAt(ISAXXMLReader& reader, const std::wstring& location, const DownloadLimits& limits);
