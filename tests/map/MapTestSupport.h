// Builds map containers in memory for the map tests, independently of the
// writer under test: count words, directory, header check word,
// "MAGELLAN" block, padded data, trailer and file check word.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackedFile
{
    std::string name; // "BASE.EXT"; the base may use all 9 bytes of its field
    std::string data;
};

std::string BuildContainer(const std::vector<PackedFile>& files, bool bigEndian = false);

// Reads a little-endian 32-bit word of bytes at offset.
std::uint32_t WordAt(const std::string& bytes, size_t offset);

// XOR of the 16-bit words of bytes[first, last).
std::uint16_t XorRange(const std::string& bytes, size_t first, size_t last);

// A layer line of 37 tokens: identifier, file, "20 1 0", thirty zoom
// indices of zoom, colour and style; separator between the tokens.
std::string LayerLine(const std::string& identifier, const std::string& file, const std::string& colour,
                      const std::string& style, int zoom = 5, const std::string& separator = " ");

// A container holding ADD_MAPS.CFG naming MAP.INI, the given MAP.INI and
// a .LAY and .CLT file for every stem.
std::string LayeredContainer(const std::string& configuration, const std::vector<std::string>& stems);
