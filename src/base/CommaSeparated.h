// Fields of a comma-separated line, as the track, waypoint and layer files
// and the coordinates of KML points write them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits "a, \"b,\"\"c\"\" \" ,d" into fields: blanks before a field are
// dropped, a quoted field may hold commas and doubled quotes, trailing
// blanks before a comma are dropped, a trailing comma adds no empty field.
std::vector<std::wstring> SplitCommaSeparated(std::wstring_view line);

// The same into a list whose strings are reused (for loops over many lines).
void SplitCommaSeparated(std::wstring_view line, std::vector<std::wstring>& fields);

// The same for a line of ASCII bytes, without copies: the fields are views
// into the line, or into unquoted for a quoted field with doubled quotes.
// They are valid while both are unchanged.
void SplitCommaSeparated(std::string_view asciiLine, std::vector<std::string_view>& fields, std::string& unquoted);
