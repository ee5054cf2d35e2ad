// The fixed choices of the layer editor: the colour names and drawing style
// names a layer may be given, the 18 zoom levels, the five detail levels and
// the six zoom fields of each detail level.
//
// Names are written into configurations exactly as the tables spell them,
// misspellings included ("PAIL_GREEN", "RESTUARANTS"): the receivers know
// them in that spelling.
#pragma once

#include <span>
#include <string>
#include <string_view>

// The 15 colour names, in the order the lists offer them.
std::span<const wchar_t* const> ColourNames() noexcept;

// The 455 style names of lines, areas, points, fonts, shields and
// point-of-interest symbols, in the order the lists offer them.
std::span<const wchar_t* const> StyleNames() noexcept;

// The table's own spelling of name (compared ignoring case), or nullptr.
const wchar_t* FindColourName(std::wstring_view name) noexcept;
const wchar_t* FindStyleName(std::wstring_view name) noexcept;

// Zoom level indices 0 ("Any") to 17 (2,700 km).
constexpr int c_zoomLevelCount = 18;

// The list text of a zoom index in the user's locale: "Any" (the layer
// sheet shows its translated word instead), "35 m",
// "1.4 km", "5.0 km", "10 km", "1,300 km".
std::wstring ZoomLevelText(int index);

// Detail levels 0 Highest to 4 Lowest; each has six zoom fields.
constexpr int c_detailLevelCount = 5;
constexpr int c_zoomFieldCount = 6;

enum ZoomField
{
    ZOOMFIELD_DETAIL_FROM,
    ZOOMFIELD_DETAIL_TO,
    ZOOMFIELD_BASEMAP_INVISIBLE_FROM,
    ZOOMFIELD_BASEMAP_INVISIBLE_TO,
    ZOOMFIELD_NAMES_FROM,
    ZOOMFIELD_NAMES_TO,
};

// "Highest", "High", "Medium", "Low", "Lowest".
const wchar_t* DetailLevelName(int level) noexcept;
