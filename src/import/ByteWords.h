// Byte-level helpers of the sentence files, shared by the formatting and
// the block writer: scans test eight bytes at a time (line ends, NUL bytes,
// checksums, ASCII checks).
#pragma once

#include <cstdint>
#include <cstring>

namespace ByteWords {

inline constexpr uint64_t c_everyByte = 0x0101010101010101u;
inline constexpr uint64_t c_everyHighBit = 0x8080808080808080u;

// True when one of the eight bytes of the word is 0.
inline constexpr bool HasZeroByte(uint64_t word) noexcept
{
    return ((word - c_everyByte) & ~word & c_everyHighBit) != 0;
}

inline uint64_t LoadWord(const char* bytes) noexcept
{
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Writes "*hh" after the length bytes of a line that starts with '$'
// (room for three more bytes is the caller's) and returns the new length.
// The bytes are combined eight at a time, then the eight results.
inline size_t AppendChecksumTo(char* line, size_t length) noexcept
{
    uint64_t words = 0;
    size_t i = 1;
    for (; i + 8 <= length; i += 8)
        words ^= LoadWord(line + i);
    unsigned char sum = 0;
    for (; words != 0; words >>= 8)
        sum ^= static_cast<unsigned char>(words);
    for (; i < length; ++i)
        sum ^= static_cast<unsigned char>(line[i]);
    static const char c_hex[] = "0123456789ABCDEF";
    line[length] = '*';
    line[length + 1] = c_hex[sum >> 4];
    line[length + 2] = c_hex[sum & 0x0F];
    return length + 3;
}

} // namespace ByteWords
