// Locale number texts for the map tools: the contents list, the entry
// descriptions and the zoom level choices show numbers the way the user's
// regional settings write them.
#pragma once

#include <cstdint>
#include <string>

// The digits of value grouped by three with the user's thousands separator
// (default ","), no fraction, the user's negative number format:
// 1234567 gives "1,234,567" under an English locale.
std::wstring FormatGroupedInteger(std::int64_t value);

// value with exactly fractionDigits digits after the user's decimal
// separator (default "."), rounded, grouped by three with the user's
// thousands separator, with the user's leading-zero rule and negative
// format: (5.0, 1) gives "5.0", (1300.0, 0) gives "1,300".
std::wstring FormatGroupedDecimal(double value, unsigned fractionDigits);

// The plain number handed to the locale formatter: a minus sign for a
// negative value, the integer part truncated toward zero and, when a
// fraction remains, a point and up to 15 fraction digits. 1.4 gives "1.4".
std::wstring PlainDecimalText(double value);
