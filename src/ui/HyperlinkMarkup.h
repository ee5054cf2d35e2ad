// The anchor markup of hyperlink labels: plain text with links written as
//   Source, a <A HREF="https://example.org/kml" TITLE="About KML">KML</A> file
// Tags and attribute names may be written in any letter case; ID, HREF and
// TITLE are read from anywhere inside the opening tag, each value in double
// quotes. An anchor with empty link text adds nothing.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CHyperlinkSegment
{
    std::wstring text;
    bool isLink = false;
    std::wstring id;
    std::wstring href;
    std::wstring title;
    bool visited = false;
    std::vector<RECT> rects; // client rectangles, one per line the text covers (set by the layout)
};

// The segments of a text, covering all of it in order; nothing when an
// opening anchor has no closing "</A>" (the whole text is rejected). An
// empty text has no segments. Pure and window-free.
std::optional<std::vector<CHyperlinkSegment>> ParseHyperlinkMarkup(std::wstring_view text);

// A colour written as three integers separated by spaces or commas, each
// decimal or with "0x" in front ("0,0,255", "128 0 128", "0x80,0,0x80"): red,
// green and blue from the low bytes of the first three. Nothing when the
// text does not start with three such integers.
std::optional<COLORREF> ParseColorSetting(std::wstring_view text);
