#include "gps/LineQueue.h"

#include <utility>

void CLineQueue::Append(std::vector<std::string>& lines)
{
    for (auto& line : lines) {
        const size_t bytes = line.size() + c_lineOverhead;
        m_lines.push_back(std::move(line));
        m_bytes += bytes;
    }
    while (m_bytes > m_maximumBytes && !m_lines.empty()) {
        m_bytes -= m_lines.front().size() + c_lineOverhead;
        m_lines.pop_front();
        m_dropped = true;
    }
}

bool CLineQueue::Take(std::deque<std::string>& lines) noexcept
{
    lines.clear();
    lines.swap(m_lines);
    m_bytes = 0;
    return std::exchange(m_dropped, false);
}
