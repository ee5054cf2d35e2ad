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

#include "base/FailureCodes.h"
#include "base/Handle.h"
#include "base/OutputFiles.h"

// Text made safe for one field of a sentence, so that the sentence keeps
// exactly its fields and its checksum: the field separator ',' and control
// characters (C0, DEL, C1) become a space, '*' (which starts the checksum)
// and '$' (which starts a sentence) become '_'. A character outside ASCII
// that the ANSI code page would write as one of these (its best-fit forms,
// such as the fullwidth comma) is replaced the same way.
std::wstring SentenceFieldText(std::wstring_view text);

// Converts the line to ANSI, appends the checksum when asked, then CR LF,
// and writes it with one write call.
void WriteSentence(HANDLE file, std::wstring_view line, bool checksum);

// Appends "*hh" (XOR of every byte after the '$') to a line that starts
// with '$' and is longer than one byte; returns false otherwise.
bool AppendChecksum(std::string& line);

// Appends integers formatted with a printf-style format limited to what the
// sentence fields use: literal text, "%d" and "%0Nd" (N one digit). Any other
// conversion, or too few values, raises E_INVALIDARG.
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
void AppendTrackAngle(std::wstring& text, const wchar_t* format, double value);

// The lines of a text file, read in blocks of 256 KiB so that memory does
// not grow with the file's size: a block grows for a longer line, up to
// 1 MiB. Lines end at LF; CRs at either end of a line are removed, and what
// follows the last LF is a line only when it holds more than CRs. A NUL
// byte in a line is a damaged file (TextFailure::NulByte), and so is a
// longer line (TextFailure::LineTooLong), with the line's number as the
// position. Every failure carries the file's path.
class TextLineReader
{
public:
    explicit TextLineReader(const std::wstring& path);
    TextLineReader(const TextLineReader&) = delete;
    TextLineReader& operator=(const TextLineReader&) = delete;

    // The next line as ANSI bytes, valid until the next call; false at the
    // end of the file.
    bool Next(std::string_view& line);

    // The 1-based number of the line Next gave last.
    unsigned LineNumber() const noexcept { return m_lineNumber; }

private:
    // Moves the unread bytes to the front of the block (doubling it when a
    // line fills it) and reads more behind them; false at the end.
    bool ReadMore();
    bool Deliver(std::string_view piece, std::string_view& line);

    std::wstring m_path;
    UniqueHFile m_file;
    std::unique_ptr<char[]> m_block;
    size_t m_capacity = 0;
    size_t m_start = 0; // first unread byte
    size_t m_end = 0;   // end of the bytes read
    bool m_atEnd = false;
    unsigned m_lineNumber = 0;
};

// Sentences written into the pending file of a destination in blocks of
// 256 KiB, so that a conversion writes as it goes with few write calls.
// Commit writes the rest and moves the file over the destination; without
// it the destination keeps what it had.
class SentenceWriter
{
public:
    explicit SentenceWriter(const std::wstring& destination);
    SentenceWriter(const SentenceWriter&) = delete;
    SentenceWriter& operator=(const SentenceWriter&) = delete;

    // Appends the sentence (ANSI bytes starting with '$'), its checksum and
    // CR LF.
    void Write(std::string_view sentence);
    void Commit();

private:
    void Flush();

    PendingFile m_file;
    std::unique_ptr<char[]> m_block;
    size_t m_used = 0;
};

// The narrow forms of the field formats above, for sentences built as ANSI
// bytes: value as "%0<width>d" (width 0: "%d"), FormatDegreeMinutes and
// FormatTrackAngle with degreeDigits integer digits of degrees.
void AppendInteger(std::string& text, int value, int width);
void AppendDegreeMinutes(std::string& text, int degreeDigits, double value);
void AppendTrackAngle(std::string& text, int degreeDigits, double value);

// Appends the field text as SentenceFieldText makes it (ASCII text: one
// byte each; other text is converted from the ANSI code page and back).
void AppendSentenceFieldText(std::string& sentence, std::string_view asciiText);
void AppendSentenceFieldText(std::string& sentence, std::wstring_view text);


// True when every byte is ASCII, whose values are the same characters in
// every ANSI code page: such text can be read as bytes.
bool IsAscii(std::string_view text) noexcept;

// The plain decimal number a text holds, in ASCII with its sign ("-12.5"
// of " -12.5 ", "12." of "+12."): white space around it, an optional sign,
// digits with at most one point and at least one digit ("12", "-0.5",
// "12.", ".5"), whatever the user's locale. Any other text (exponents,
// hexadecimal, currency signs, parentheses, group separators, "nan",
// "inf") raises DISP_E_TYPEMISMATCH.
std::string PlainDecimalText(std::wstring_view text);

// The value of a plain decimal number (PlainDecimalText): the integer
// digits' value plus the fraction digits' value divided by the power of ten
// of their count, each of the three correctly rounded. Text that is not a
// plain decimal number raises DISP_E_TYPEMISMATCH, a value beyond the
// range of a double DISP_E_OVERFLOW.
double ParseDecimal(std::wstring_view text);

// The fields whose numbers the readers take, with their ranges: latitudes
// within +-90, longitudes within +-180, altitudes and day numbers any
// finite value.
enum class NumberField { Latitude, Longitude, Altitude, DayNumber };

// The number of one field read with parse. A failure gets words naming the
// field and quoting its text: "the latitude '4x.5' is not a number" (the
// parser's DISP_E_TYPEMISMATCH), "the altitude '1000...0' is too large"
// (its DISP_E_OVERFLOW), "the latitude '95' is not between -90 and 90"
// (raised as DISP_E_OVERFLOW).
double ParseNumberField(NumberField field, std::wstring_view text,
                        double (*parse)(std::wstring_view) = ParseDecimal);

// The same for ASCII text, read as ParseDecimal reads wide text.
double ParseNumberField(NumberField field, std::string_view asciiText);
