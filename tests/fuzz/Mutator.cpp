#include "Mutator.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// Bytes that mean something to one parser or another.
constexpr char c_interestingBytes[] = {'\0', '\r', '\n', ',', '"', '\'', '.', '-', '+', '*', '$', '<', '>',
                                       '&', '=', '{', '}', '[', ']', ' ', '\t', '9', 'e', '\x7F', '\x80', '\xFF'};

// Numbers at the edges of what readers convert.
const char* const c_extremeNumbers[] = {
    "0", "-0", "", "-", ".", "1e308", "-1e308", "1e309", "-1e309", "1.7976931348623157e308", "4.9e-324", "nan",
    "inf", "-inf", "2147483647", "2147483648", "-2147483649", "4294967295", "4294967296",
    "99999999999999999999999999999", "0x7FFFFFFF", "1.", ".5", "--1", "1e", "1,5", "007", "+5",
    "3.000000000000000000000000000000000000000000001",
    // Positions at and just beyond their ranges, and notations that are no
    // plain decimals.
    "90", "-90", "90.000001", "-90.0000000001", "180", "-180", "180.000001", "-180.5", "360", "&H10", "(5)", "$1",
    "1.5e3", " 45 ",
};

// Texts that would break a sentence apart if a name carried them into it.
const char* const c_separatorTexts[] = {
    ",", "*", "$", "A,B,C", "Hut*00", "x$PMGNWPL,1,2,3*7F", "\t", "\x01", "\x7F", "&#44;", "&#x2A;", "&#36;",
    "&#9;", "&#x85;", "\xEF\xBC\x8C", "\xEF\xBC\x8A", "\xEF\xBC\x84", "\r", "\n",
};

// 32-bit values at the edges of counts, offsets and lengths.
constexpr std::uint32_t c_boundaryWords[] = {0,          1,          2,          0xFFFF,     0x10000,
                                              0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, 0x00FF0000};

bool IsNumberByte(char c)
{
    return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
}

// Start and length of the line around pos.
std::pair<size_t, size_t> LineAround(const std::string& bytes, size_t pos)
{
    const size_t start = pos == 0 ? 0 : bytes.rfind('\n', pos - 1) + 1; // npos + 1 == 0
    size_t end = bytes.find('\n', pos);
    end = end == std::string::npos ? bytes.size() : end + 1;
    return {start, end - start};
}

void FlipBits(std::string& bytes, CRandom& random)
{
    if (bytes.empty())
        return;
    for (size_t n = 1 + random.Below(4); n > 0; --n)
        bytes[random.Below(bytes.size())] ^= static_cast<char>(1u << random.Below(8));
}

void InsertBytes(std::string& bytes, CRandom& random)
{
    const size_t pos = random.Below(bytes.size() + 1);
    std::string inserted;
    for (size_t n = 1 + random.Below(4); n > 0; --n)
        inserted += random.OneIn(2) ? c_interestingBytes[random.Below(std::size(c_interestingBytes))]
                                    : static_cast<char>(random.Next());
    bytes.insert(pos, inserted);
}

void DeleteBytes(std::string& bytes, CRandom& random)
{
    if (bytes.empty())
        return;
    const size_t pos = random.Below(bytes.size());
    bytes.erase(pos, 1 + random.Below(16));
}

void DuplicateLine(std::string& bytes, CRandom& random)
{
    if (bytes.empty())
        return;
    const auto [start, length] = LineAround(bytes, random.Below(bytes.size()));
    const std::string line = bytes.substr(start, length);
    for (size_t n = random.OneIn(8) ? 1 + random.Below(64) : 1; n > 0; --n)
        bytes.insert(start, line);
}

void TruncateLine(std::string& bytes, CRandom& random)
{
    if (bytes.empty())
        return;
    const size_t pos = random.Below(bytes.size());
    if (random.OneIn(4)) {
        bytes.resize(pos); // the whole input ends here
        return;
    }
    const auto [start, length] = LineAround(bytes, pos);
    size_t end = start + length;
    if (end > start && bytes[end - 1] == '\n')
        --end;
    bytes.erase(pos, end - pos);
}

void ReplaceNumber(std::string& bytes, CRandom& random)
{
    if (bytes.empty())
        return;
    const size_t from = random.Below(bytes.size());
    size_t start = from;
    while (start < bytes.size() && !(bytes[start] >= '0' && bytes[start] <= '9'))
        ++start;
    if (start == bytes.size())
        return;
    while (start > 0 && IsNumberByte(bytes[start - 1]))
        --start;
    size_t end = start;
    while (end < bytes.size() && IsNumberByte(bytes[end]))
        ++end;
    bytes.replace(start, end - start, c_extremeNumbers[random.Below(std::size(c_extremeNumbers))]);
}

// A separator text into a name: after a KML name's start tag, or into the
// second field of a line (an OziExplorer waypoint's name), or anywhere.
void InsertSeparators(std::string& bytes, CRandom& random)
{
    const std::string text = c_separatorTexts[random.Below(std::size(c_separatorTexts))];
    size_t pos = random.Below(bytes.size() + 1);
    const size_t tag = bytes.find("<name>", pos);
    if (tag != std::string::npos && random.OneIn(2)) {
        pos = tag + 6;
    } else if (!bytes.empty()) {
        const auto [start, length] = LineAround(bytes, pos);
        const size_t comma = bytes.find(',', start);
        if (comma != std::string::npos && comma < start + length)
            pos = comma + 1;
    }
    bytes.insert(std::min(pos, bytes.size()), text);
}

// A NUL byte at the start or inside of a line.
void PutNulInLine(std::string& bytes, CRandom& random)
{
    if (bytes.empty())
        return;
    const auto [start, length] = LineAround(bytes, random.Below(bytes.size()));
    bytes[random.OneIn(2) ? start : start + random.Below(length)] = '\0';
}

// A count word, or the offset or length of one of the first directory
// entries, set to a boundary value (or to the file's size, give or take).
void SetHeaderWord(std::string& bytes, CRandom& random)
{
    if (bytes.size() < 8)
        return;
    size_t offset = 4 * random.Below(2);
    if (!random.OneIn(3)) {
        const size_t entries = std::min<size_t>(8, (bytes.size() - 8) / 24);
        if (entries > 0)
            offset = 8 + 24 * random.Below(entries) + 16 + 4 * random.Below(2);
    }
    std::uint32_t value = c_boundaryWords[random.Below(std::size(c_boundaryWords))];
    if (random.OneIn(4))
        value = static_cast<std::uint32_t>(bytes.size() + random.Below(3) - 1);
    if (random.OneIn(3)) // the same in big-endian order
        value = (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

using Mutation = void (*)(std::string&, CRandom&);

const Mutation c_textMutations[] = {FlipBits,     InsertBytes,   DeleteBytes,      DuplicateLine,
                                    TruncateLine, ReplaceNumber, InsertSeparators, PutNulInLine};
const Mutation c_containerMutations[] = {FlipBits, InsertBytes, DeleteBytes, TruncateLine, SetHeaderWord,
                                         SetHeaderWord};

} // namespace

CRandom::CRandom(std::uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull)
{
    for (int i = 0; i < 4; ++i)
        Next();
}

std::uint32_t CRandom::Next() noexcept
{
    // xorshift64*
    m_state ^= m_state >> 12;
    m_state ^= m_state << 25;
    m_state ^= m_state >> 27;
    return static_cast<std::uint32_t>((m_state * 0x2545F4914F6CDD1Dull) >> 32);
}

size_t CRandom::Below(size_t limit) noexcept
{
    return limit == 0 ? 0 : Next() % limit;
}

std::string Mutate(const std::string& seed, InputShape shape, CRandom& random)
{
    std::string bytes = seed;
    for (size_t n = 1 + random.Below(3); n > 0; --n) {
        if (shape == InputShape::Container)
            c_containerMutations[random.Below(std::size(c_containerMutations))](bytes, random);
        else
            c_textMutations[random.Below(std::size(c_textMutations))](bytes, random);
        if (bytes.size() > c_maximumInputBytes)
            bytes.resize(c_maximumInputBytes);
    }
    return bytes;
}
