// Cuts the byte stream of a serial port into text lines.
//
// CR, LF and any run of them end one line, so CR LF, LF and CR line ends
// all work and blank lines between sentences disappear. A run is only
// recognised within what has been received so far: bytes that end between
// the CR and the LF of a pair give one extra empty line when the LF arrives
// (the client sees that the stream paused there). The search steps over
// the double-byte characters of the ANSI code page. NUL bytes are dropped
// on arrival. Bytes without a line end are kept for the next read, but at
// most c_maximumPendingBytes of them: beyond that the oldest are discarded,
// so a stream that never sends a line end cannot exhaust memory.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

class CLineAssembler
{
public:
    static constexpr size_t c_maximumPendingBytes = 64 * 1024;

    CLineAssembler();

    // Adds received bytes and appends every line they complete to lines
    // (without its line end). Returns the number of lines appended.
    size_t Append(std::string_view bytes, std::vector<std::string>& lines);

    // Forgets a partial line (the port was reopened or the reader stops).
    void Clear() noexcept { m_pending.clear(); }

    std::string_view Pending() const noexcept { return m_pending; }

private:
    std::array<bool, 256> m_leadBytes{};
    std::string m_pending;
};
