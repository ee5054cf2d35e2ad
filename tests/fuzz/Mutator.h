// Deterministic mutations of sample inputs for the fuzz driver: the same
// seed and input number always give the same bytes, so any finding can be
// replayed from the two numbers alone.
#pragma once

#include <cstdint>
#include <string>

class CRandom
{
public:
    explicit CRandom(std::uint64_t seed);

    std::uint32_t Next() noexcept;
    // A number in 0 .. limit-1 (0 when limit is 0).
    size_t Below(size_t limit) noexcept;
    bool OneIn(size_t odds) noexcept { return Below(odds) == 0; }

private:
    std::uint64_t m_state;
};

// What a mutation may assume about the bytes.
enum class InputShape
{
    Text,      // lines of text with numeric fields
    Container, // a map container: count words and directory entries
};

// Applies one to three mutations: bit flips, byte insertions and deletions,
// duplicated and truncated lines, numeric fields replaced by extreme
// values (positions at and beyond their ranges among them), separators
// put into names, NUL bytes put into lines and, for containers, count, offset and length words set to
// boundary values. The result is at most c_maximumInputBytes long.
std::string Mutate(const std::string& seed, InputShape shape, CRandom& random);

constexpr size_t c_maximumInputBytes = 1u << 20;
