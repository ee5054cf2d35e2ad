// Reads the points of a Magellan sentence file: the waypoints of a .upt
// file ($PMGNWPL) or the track points of a .log file ($PMGNTRK), as this
// product, the receiver itself and GPSBabel write them.
//
//   $PMGNWPL,4830.00000,N,01115.00000,W,0.00000,M,HOME,Home sweet home,a*hh
//   $PMGNWPL,30.000,N,00015.000,W,0001235,M,CAFE,,a
//   $PMGNTRK,5130.000,N,00015.000,W,123,F,120000.000,A,,010108*hh
//   $PMGNTRK,4914.967,N,00651.208,E,000199,M,152224,A,KLLERTAL-RADWEG,210307*48
//
// Positions are degrees and minutes with any number of minute decimals (the
// degrees need not be zero-padded); altitudes are in feet (F) or metres (M),
// an empty altitude is none; times are hhmmss with any number of decimals
// and dates ddmmyy (yy below 80 in this century), both optional. The
// checksum is optional; a sentence whose checksum is present and wrong is
// skipped and counted. Blank lines, $PMGNCMD and $PMGNFMT are passed over;
// any other line (another sentence, text, an overlong line) is skipped and
// counted.
//
// The first point sentence decides the file's kind; sentences of the other
// kind are skipped and counted. A track point whose status is V (no valid
// fix) is skipped and counted, and the next valid point starts a new
// segment, as does a point whose track name differs from the one before.
//
// The file is read in blocks: memory stays bounded whatever its size. A
// point sentence with too few fields or a broken number fails with the
// line number in CAtlException::Position() and words naming the field and
// quoting its text in CAtlException::Detail().
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "base/FailureCodes.h"
#include "base/Handle.h"

enum class SentenceKind { None, Waypoints, Track };

// A calendar time in UTC, to the millisecond.
struct SentenceTime
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

struct SentencePoint
{
    double latitude = 0;  // degrees, south negative
    double longitude = 0; // degrees, west negative
    bool hasAltitude = false;
    double altitude = 0; // metres
    bool hasTime = false;
    SentenceTime time;
    // Waypoints: name and comment as ANSI text, valid until the next call.
    std::string_view name;
    std::string_view comment;
    // Track points: the first point of a run.
    bool startsSegment = false;
};

// What the reader passed over, for the report.
struct SentenceSkips
{
    size_t unknownLines = 0;  // lines that are no sentence of a sentence file
    size_t badChecksums = 0;  // sentences whose checksum is wrong
    size_t otherKind = 0;     // point sentences of the kind the file is not
    size_t invalidFixes = 0;  // track points marked V
};

class CSentenceReader
{
public:
    // Opens the file for reading with read sharing; failures carry the path.
    explicit CSentenceReader(const std::wstring& path);
    CSentenceReader(const CSentenceReader&) = delete;
    CSentenceReader& operator=(const CSentenceReader&) = delete;

    // The next point; false at the end of the file.
    bool Next(SentencePoint& point);

    // Known once the first point has been read.
    SentenceKind Kind() const noexcept { return m_kind; }
    const SentenceSkips& Skips() const noexcept { return m_skips; }
    size_t Points() const noexcept { return m_points; }

private:
    // The next line without its line end into m_line; false at the end.
    bool NextLine();
    bool FillBlock();
    bool ReadPoint(std::string_view sentence, SentencePoint& point);

    std::wstring m_path;
    UniqueHFile m_file;
    std::unique_ptr<char[]> m_block;
    size_t m_blockStart = 0;
    size_t m_blockEnd = 0;
    bool m_endOfFile = false;
    std::string m_line;
    bool m_lineTooLong = false;
    unsigned m_lineNumber = 0;

    SentenceKind m_kind = SentenceKind::None;
    SentenceSkips m_skips;
    size_t m_points = 0;
    bool m_segmentBreak = true;
    std::string m_trackName;
};
