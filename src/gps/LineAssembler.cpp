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
    for (unsigned byte = 0x80; byte < 0x100; ++byte) {
        m_leadBytes[byte] = IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE;
        m_anyLeadByte = m_anyLeadByte || m_leadBytes[byte];
    }
}

size_t CLineAssembler::Append(std::string_view bytes, std::vector<std::string>& lines)
{
    return ForEachLine(bytes, [&lines](std::string_view line) { lines.emplace_back(line); });
}

std::string_view CLineAssembler::Join(std::string_view bytes)
{
    const bool hasNul = bytes.find('\0') != std::string_view::npos;
    if (m_pending.empty() && !hasNul)
        return bytes;
    if (!hasNul) {
        m_pending.append(bytes);
    } else {
        for (char c : bytes)
            if (c != '\0')
                m_pending.push_back(c);
    }
    return m_pending;
}

size_t CLineAssembler::FindLineEnd(std::string_view text, size_t start) const noexcept
{
    const size_t size = text.size();
    size_t i = start;
    if (!m_anyLeadByte) {
        while (i < size && !IsLineEnd(text[i]))
            ++i;
        return i;
    }
    while (i < size && !IsLineEnd(text[i]))
        i += m_leadBytes[static_cast<unsigned char>(text[i])] ? 2 : 1;
    return std::min(i, size);
}

void CLineAssembler::Keep(std::string_view text, size_t start)
{
    if (text.data() == m_pending.data())
        m_pending.erase(0, start);
    else
        m_pending.assign(text.substr(start));
    if (m_pending.size() > c_maximumPendingBytes)
        m_pending.erase(0, m_pending.size() - c_maximumPendingBytes);
}
