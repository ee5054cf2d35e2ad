#include "gps/LineAssembler.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

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

namespace {

// True when a byte of the word is 0.
constexpr bool HasZeroByte(std::uint32_t word) noexcept
{
    return ((word - 0x01010101u) & ~word & 0x80808080u) != 0;
}

// True when the bytes hold a NUL; four bytes at a time.
bool HasNul(std::string_view bytes) noexcept
{
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    for (; end - p >= 4; p += 4) {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        if (HasZeroByte(word))
            return true;
    }
    for (; p != end; ++p)
        if (*p == '\0')
            return true;
    return false;
}

} // namespace

std::string_view CLineAssembler::Join(std::string_view bytes)
{
    const bool hasNul = HasNul(bytes);
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
        // Four bytes at a time up to the word that holds a CR or LF.
        for (; size - i >= 4; i += 4) {
            std::uint32_t word;
            std::memcpy(&word, text.data() + i, 4);
            if (HasZeroByte(word ^ 0x0D0D0D0Du) || HasZeroByte(word ^ 0x0A0A0A0Au))
                break;
        }
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
