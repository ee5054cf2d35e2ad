#include "gps/LineAssembler.h"

#include <windows.h>

namespace {

bool IsLineEnd(char c) noexcept
{
    return c == '\r' || c == '\n';
}

} // namespace

CLineAssembler::CLineAssembler()
{
    for (unsigned byte = 0x80; byte < 0x100; ++byte)
        m_leadBytes[byte] = IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE;
}

size_t CLineAssembler::Append(std::string_view bytes, std::vector<std::string>& lines)
{
    for (char c : bytes)
        if (c != '\0')
            m_pending.push_back(c);

    const size_t before = lines.size();
    const size_t size = m_pending.size();
    size_t start = 0; // first byte of the line being searched
    size_t i = 0;
    while (i < size) {
        const char c = m_pending[i];
        if (IsLineEnd(c)) {
            lines.emplace_back(m_pending, start, i - start);
            ++i;
            while (i < size && IsLineEnd(m_pending[i]))
                ++i;
            start = i;
        } else {
            i += m_leadBytes[static_cast<unsigned char>(c)] ? 2 : 1;
        }
    }
    m_pending.erase(0, start);
    if (m_pending.size() > c_maximumPendingBytes)
        m_pending.erase(0, m_pending.size() - c_maximumPendingBytes);
    return lines.size() - before;
}
