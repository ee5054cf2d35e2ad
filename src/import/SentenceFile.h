// Magellan sentence files and the text routines the import readers share.
//
// A sentence file is ANSI text: one proprietary NMEA-style sentence per
// line, CR LF after each, no header and no byte-order mark. Waypoint files
// (.upt) hold $PMGNWPL sentences, track logs (.log) $PMGNTRK sentences; both
// end with $PMGNCMD,END. Numbers are truncated, never rounded.
//
//   $PMGNWPL,4830.00000,N,01115.00000,W,0.00000,M,HOME,,a*hh
//   $PMGNTRK,5130.000,N,00015.000,W,123,F,120000.000,A,,010108*hh
//   $PMGNCMD,END*3D
#pragma once

#include <windows.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Handle.h"

// Refuses a destination that names the same existing file as the source
// (another path, a link or a different case alike): a conversion never
// replaces its own input. Raises the sharing violation with the
// destination's path.
void ThrowIfSameFile(const std::wstring& source, const std::wstring& destination);

// A name or comment made safe for one sentence field: the characters that
// separate fields or sentences (',' '*' '$') and control characters become
// spaces.
std::wstring SentenceFieldText(std::wstring_view text);

// Converts the line to ANSI, appends the checksum when asked, then CR LF,
// and writes it with one write call.
void WriteSentence(HANDLE file, std::wstring_view line, bool checksum);

// Appends "*hh" (XOR of every byte after the '$') to a line that starts
// with '$' and is longer than one byte; returns false otherwise.
bool AppendChecksum(std::string& line);

// Formats integers with a printf-style format limited to what the sentence
// fields use: literal text, "%d" and "%0Nd" (N one digit). Any other
// conversion, or too few values, raises E_INVALIDARG.
std::wstring FormatIntegers(const wchar_t* format, std::initializer_list<int> values);
void AppendIntegers(std::wstring& text, const wchar_t* format, std::initializer_list<int> values);

// Truncates toward zero, saturating at the limits of int (NaN gives 0), so
// that absurd inputs are formatted instead of overflowing.
int TruncateToInt(double value) noexcept;

// "%0Nd" whole degrees of |value| followed by the minutes as
// FormatFixedPoint("%02d", ...): 48.5 with 2 digits gives "4830.00000".
std::wstring FormatDegreeMinutes(int degreeDigits, double value);

// The integer part with integerFormat ("%d", "%02d"), a point and five
// truncated fraction digits; -0.5 gives "-0.50000".
std::wstring FormatFixedPoint(const wchar_t* integerFormat, double value);

// Degrees, whole minutes and thousandths of a minute of |value| with a
// three-integer format such as "%02d%02d.%03d".
std::wstring FormatTrackAngle(const wchar_t* format, double value);
void AppendTrackAngle(std::wstring& text, const wchar_t* format, double value);

// The lines of a text file, read whole. Lines are narrow (ANSI) views into
// the contents the object owns.
class TextLines
{
public:
    size_t size() const noexcept { return m_lines.size(); }
    std::string_view operator[](size_t index) const noexcept { return m_lines[index]; }

private:
    friend TextLines ReadTextLines(const std::wstring& path);
    std::unique_ptr<char[]> m_contents;
    std::vector<std::string_view> m_lines;
};

// Reads the file whole and splits it at LF; CRs at either end of a piece
// are removed, contents from the first NUL byte on are ignored, and an
// empty piece after the last LF is not a line.
TextLines ReadTextLines(const std::wstring& path);

// Splits "a, \"b,\"\"c\"\" \" ,d" into fields: blanks before a field are
// dropped, a quoted field may hold commas and doubled quotes, trailing
// blanks before a comma are dropped, a trailing comma adds no empty field.
std::vector<std::wstring> SplitCommaSeparated(std::wstring_view line);

// The same into a list whose strings are reused (for loops over many lines).
void SplitCommaSeparated(std::wstring_view line, std::vector<std::wstring>& fields);

// Parses a decimal number with the point as separator whatever the user's
// locale: digit strings go through VariantChangeType, the point is handled
// here. Raises the conversion's HRESULT for text that is not a number.
double ParseDecimal(std::wstring_view text);
