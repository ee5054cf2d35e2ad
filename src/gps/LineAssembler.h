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

    // The same, calling onLine(std::string_view) for each line instead; the
    // view is valid during the call only.
    template <typename OnLine>
    size_t ForEachLine(std::string_view bytes, OnLine&& onLine)
    {
        const std::string_view text = Join(bytes);
        size_t count = 0;
        size_t start = 0;
        for (size_t end = FindLineEnd(text, start); end < text.size(); end = FindLineEnd(text, start)) {
            onLine(text.substr(start, end - start));
            ++count;
            start = end + 1;
            while (start < text.size() && (text[start] == '\r' || text[start] == '\n'))
                ++start;
        }
        Keep(text, start);
        return count;
    }

    // Forgets a partial line (the port was reopened or the reader stops).
    void Clear() noexcept { m_pending.clear(); }

    std::string_view Pending() const noexcept { return m_pending; }

private:
    // The pending bytes followed by the new ones, without NUL bytes: a view
    // of the new bytes themselves when nothing is pending and they hold no
    // NUL, else of the pending buffer.
    std::string_view Join(std::string_view bytes);
    // The first CR or LF at or after start, stepping over double-byte
    // characters; text.size() when there is none.
    size_t FindLineEnd(std::string_view text, size_t start) const noexcept;
    // Keeps text from start on as the pending bytes (bounded).
    void Keep(std::string_view text, size_t start);

    std::array<bool, 256> m_leadBytes{};
    bool m_anyLeadByte = false;
    std::string m_pending;
};
