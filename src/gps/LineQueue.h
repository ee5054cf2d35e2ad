// The lines a serial worker received and its client has not taken yet.
//
// The queue is bounded by the bytes it holds (each line counts its text and
// the bookkeeping around it): when a client stops taking lines, the oldest
// give way, and the next Take says that some were dropped. Not locked: the
// owner guards it.
#pragma once

#include <deque>
#include <string>
#include <vector>

class CLineQueue
{
public:
    static constexpr size_t c_lineOverhead = 32;

    explicit CLineQueue(size_t maximumBytes) noexcept : m_maximumBytes(maximumBytes) {}

    // Moves the lines in after the queued ones, then drops the oldest lines
    // beyond the limit.
    void Append(std::vector<std::string>& lines);

    // Moves every queued line out; true when lines were dropped since the
    // last Take.
    bool Take(std::deque<std::string>& lines) noexcept;

    bool Empty() const noexcept { return m_lines.empty(); }

private:
    size_t m_maximumBytes;
    size_t m_bytes = 0;
    bool m_dropped = false;
    std::deque<std::string> m_lines;
};
