#include "MapTestSupport.h"

#include <cstring>

namespace {

void AppendWord(std::string& bytes, std::uint32_t value, bool bigEndian)
{
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 24 - 8 * i : 8 * i;
        bytes += static_cast<char>((value >> shift) & 0xFF);
    }
}

void AppendCheck(std::string& bytes, std::uint16_t check)
{
    bytes += static_cast<char>(check & 0xFF);
    bytes += static_cast<char>(check >> 8);
}

} // namespace

std::uint32_t WordAt(const std::string& bytes, size_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + static_cast<size_t>(i)));
    return value;
}

std::uint16_t XorRange(const std::string& bytes, size_t first, size_t last)
{
    std::uint16_t value = 0;
    for (size_t i = first; i + 1 < last; i += 2)
        value ^= static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return value;
}

std::string BuildContainer(const std::vector<PackedFile>& files, bool bigEndian)
{
    const auto count = static_cast<std::uint32_t>(files.size());
    std::string bytes;
    AppendWord(bytes, count, bigEndian);
    AppendWord(bytes, count, bigEndian);
    std::uint32_t offset = 40 + 24 * count;
    std::string data;
    for (const auto& file : files) {
        const size_t dot = file.name.rfind('.');
        char fields[16] = {};
        const std::string base = file.name.substr(0, dot);
        const std::string extension = file.name.substr(dot + 1);
        std::memcpy(fields, base.data(), std::min<size_t>(base.size(), 9));
        std::memcpy(fields + 9, extension.data(), std::min<size_t>(extension.size(), 7));
        bytes.append(fields, sizeof fields);
        AppendWord(bytes, offset, bigEndian);
        AppendWord(bytes, static_cast<std::uint32_t>(file.data.size()), bigEndian);
        data += file.data;
        if (file.data.size() % 2)
            data += '\0';
        offset += static_cast<std::uint32_t>((file.data.size() + 1) & ~size_t{1});
    }
    AppendCheck(bytes, XorRange(bytes, 0, bytes.size()));
    bytes += std::string("MAGELLAN", 8) + std::string(22, '\0');
    const std::uint16_t fileCheck = XorRange(data, 0, data.size());
    bytes += data;
    bytes += "MAGELLAN";
    AppendCheck(bytes, fileCheck);
    return bytes;
}

std::string LayerLine(const std::string& identifier, const std::string& file, const std::string& colour,
                      const std::string& style, int zoom, const std::string& separator)
{
    std::string line = identifier + separator + file + separator + "20" + separator + "1" + separator + "0";
    for (int i = 0; i < 30; ++i)
        line += separator + std::to_string(zoom);
    return line + separator + colour + separator + style;
}

std::string LayeredContainer(const std::string& configuration, const std::vector<std::string>& stems)
{
    std::vector<PackedFile> files = {{"ADD_MAPS.CFG", "1 MAP.INI\r\n"}, {"MAP.INI", configuration}};
    for (const auto& stem : stems) {
        files.push_back({stem + ".LAY", "layer data of " + stem + "!"});
        files.push_back({stem + ".CLT", "cells " + stem});
    }
    return BuildContainer(files);
}
