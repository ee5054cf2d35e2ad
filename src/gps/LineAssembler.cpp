#include "gps/LineAssembler.h"

#include <windows.h>

#include <emmintrin.h>

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

// The positions of the bytes equal to c among the 16 at p, as bits.
unsigned MatchingBytes(const char* p, char c) noexcept
{
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(c))));
}

// The first byte c at or after start; bytes.size() when there is none.
// Sixteen bytes at a time.
size_t FindByte(std::string_view bytes, char c, size_t start) noexcept
{
    size_t i = start;
    for (; bytes.size() - i >= 16; i += 16)
        if (const unsigned found = MatchingBytes(bytes.data() + i, c))
            return i + static_cast<size_t>(__builtin_ctz(found));
    while (i < bytes.size() && bytes[i] != c)
        ++i;
    return i;
}

} // namespace

std::string_view CLineAssembler::Join(std::string_view bytes)
{
    size_t nul = FindByte(bytes, '\0', 0);
    if (m_pending.empty() && nul == bytes.size())
        return bytes;
    m_pending.reserve(m_pending.size() + bytes.size());
    for (size_t start = 0; start < bytes.size(); nul = FindByte(bytes, '\0', start)) {
        m_pending.append(bytes.data() + start, nul - start);
        start = nul + 1;
    }
    return m_pending;
}

size_t CLineAssembler::FindLineEnd(std::string_view text, size_t start) const noexcept
{
    const size_t size = text.size();
    size_t i = start;
    if (!m_anyLeadByte) {
        // Sixteen bytes at a time up to the block that holds a CR or LF.
        for (; size - i >= 16; i += 16)
            if (const unsigned ends = MatchingBytes(text.data() + i, '\r') | MatchingBytes(text.data() + i, '\n'))
                return i + static_cast<size_t>(__builtin_ctz(ends));
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
