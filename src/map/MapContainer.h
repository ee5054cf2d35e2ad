// Magellan map containers (.img, .imi, .mgi): a directory of named files
// followed by their bytes.
//
// Layout as written here (little-endian, N entries):
//   0        count N, then N again
//   8        N directory entries of 24 bytes: base name (9 bytes, NUL
//            terminated), extension (7 bytes, NUL terminated), offset, length
//   8+24N    header check word: XOR of the 16-bit words before it
//   10+24N   "MAGELLAN", a zero byte, 21 zero bytes
//   40+24N   the packed files, each at an even offset, odd lengths followed
//            by one zero pad byte
//   end-10   "MAGELLAN" and the file check word: XOR of the packed-file
//            words, so that those words and the check word XOR to zero
//
// Reading accepts both byte orders: a first count word above 0xFFFF read
// little-endian means the counts, offsets and lengths are big-endian. Names
// are ANSI text and compared without regard to letter case.
//
// The source container is only ever read: it is held open with read sharing
// alone, so writing a new container over it fails with a sharing violation.
// Entry data is copied in chunks, so containers far larger than the address
// space of the process can be extracted and rewritten.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Handle.h"

struct ContainerEntry
{
    std::wstring name; // base name, a dot, extension: "ADD_MAPS.CFG"
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

struct MapContainer
{
    std::wstring path; // empty while nothing is loaded
    UniqueHFile file;  // read handle of path, read sharing only
    std::vector<ContainerEntry> entries;
    std::uint64_t fileSize = 0;
    bool bigEndian = false;
    unsigned generation = 0; // incremented whenever a new path starts loading
};

// Loads the directory of the container at path, replacing what was loaded.
// Does nothing when path equals the loaded path (ignoring case). A failure
// leaves the container empty with no path.
void OpenContainer(MapContainer& container, const std::wstring& path);

// The first entry of that display name (ignoring case), or nullptr.
const ContainerEntry* FindEntry(const MapContainer& container, std::wstring_view name);

// Three lines without a final line break:
//   File Name: ROADS.LAY
//   File Type: Map layer data (map objects with coordinates)
//   Location: 1,234,567 bytes at offset 1,040
// The type line is left out for an extension the type table lacks.
std::wstring DescribeEntry(const ContainerEntry& entry);

// Whether a display name can be used as a file name inside a folder: names
// come from the container, and one with a path separator, a drive or stream
// colon, or that is "." or "..", would put the file elsewhere; one with a
// wildcard, a control character or one of "<>| cannot be created; one that
// names a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 and
// COM/LPT with a superscript digit, in any case, with or without an
// extension, with trailing dots or spaces: "NUL.", "com1.lay", "Aux .dat")
// would send the bytes to the device.
bool IsPlainFileName(std::wstring_view name) noexcept;

// The file names under which a set of entries is extracted into one folder,
// one per entry in the order given. Names are compared as the file system
// compares them (ignoring letter case and trailing dots and spaces), so two
// entries named ROADS.LAY and roads.lay would land in one file: the first
// keeps its name, each later one gets the first free name of the form
// "ROADS (2).LAY", "ROADS (3).LAY", ... (the number before the last dot).
// renamed counts those. A name that is not a plain file name (see
// IsPlainFileName) refuses the whole set before anything is extracted:
// ERROR_INVALID_NAME, with words naming the entry.
struct ExtractionNames
{
    std::vector<std::wstring> fileNames;
    size_t renamed = 0;
};
ExtractionNames PlanExtraction(const std::vector<const ContainerEntry*>& entries);

// Writes the entry's bytes to a new file, replacing an existing one. A
// failure after the file was created deletes it.
void ExtractEntry(const MapContainer& container, const ContainerEntry& entry, const std::wstring& destinationPath);

// The entry's bytes, exactly length of them (none for an empty entry). For
// small entries such as text files; large ones are streamed by the writer.
std::vector<char> ReadEntryData(const MapContainer& container, const ContainerEntry& entry);

// A packed file whose whole content is taken from an open file instead of
// the source container.
struct ContainerReplacement
{
    std::wstring name;
    HANDLE file = INVALID_HANDLE_VALUE;
};

// Writes a new container with the layout above: the source entries in their
// order, without the first entry matching each of dropNames, with the data
// of the entry named by the replacement taken from its file. The whole
// source is checked before the destination is created; a failure after it
// was created deletes it.
void WriteModifiedContainer(const MapContainer& container, const std::wstring& destinationPath,
                            const std::vector<std::wstring>& dropNames,
                            const std::optional<ContainerReplacement>& replacement);

// XOR of wordCount consecutive little-endian 16-bit words.
std::uint16_t XorWords(const void* bytes, size_t wordCount) noexcept;

// Whether the two check words of the loaded container verify: the count
// words, the directory and the header check word XOR to zero, and so do
// the words from the end of the header check word to the end of the file.
// Some tools write fake check words, so a mismatch is worth a warning only.
struct CheckWordResult
{
    bool header = false;
    bool file = false;
};
CheckWordResult VerifyCheckWords(const MapContainer& container);
