// Byte-level helpers of the sentence files, shared by the formatting and
// the block writer: scans test eight bytes at a time (line ends, NUL bytes,
// checksums, ASCII checks).
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

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

// The XOR of the bytes, combined eight at a time, then the eight results:
// the checksum of a sentence's bytes between its '$' and its '*'.
inline unsigned char ChecksumOf(std::string_view bytes) noexcept
{
    uint64_t words = 0;
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8)
        words ^= LoadWord(bytes.data() + i);
    unsigned char sum = 0;
    for (; words != 0; words >>= 8)
        sum ^= static_cast<unsigned char>(words);
    for (; i < bytes.size(); ++i)
        sum ^= static_cast<unsigned char>(bytes[i]);
    return sum;
}

// Writes "*hh" after the length bytes of a line that starts with '$'
// (room for three more bytes is the caller's) and returns the new length.
inline size_t AppendChecksumTo(char* line, size_t length) noexcept
{
    const unsigned char sum = ChecksumOf(std::string_view(line + 1, length - 1));
    static const char c_hex[] = "0123456789ABCDEF";
    line[length] = '*';
    line[length + 1] = c_hex[sum >> 4];
    line[length + 2] = c_hex[sum & 0x0F];
    return length + 3;
}

} // namespace ByteWords
