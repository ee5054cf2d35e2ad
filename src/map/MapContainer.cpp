#include "map/MapContainer.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>

#include "ErrorStrings.h"
#include "base/Exception.h"
#include "base/FilePath.h"
#include "base/OutputFiles.h"
#include "base/ResourceString.h"
#include "base/Text.h"
#include "map/MapResources.h"
#include "map/NumberFormat.h"

namespace {

constexpr size_t c_directoryEntryBytes = 24;
constexpr size_t c_baseNameField = 9;
constexpr size_t c_extensionField = 7;
constexpr size_t c_baseNameMaxBytes = 8;
constexpr size_t c_extensionMaxBytes = 6;
constexpr size_t c_headerTailBytes = 32; // check word, "MAGELLAN", zero bytes
constexpr char c_signature[] = "MAGELLAN";
constexpr size_t c_signatureBytes = 8;
constexpr size_t c_trailerBytes = c_signatureBytes + 2;
// A little-endian count above this reads back as big-endian.
constexpr std::uint32_t c_maxLittleEndianEntries = 0xFFFF;
// Entry data moves through a buffer of this size; large enough for full
// disk speed, small enough for the 32-bit address space.
constexpr DWORD c_chunkBytes = 1u << 20;
constexpr size_t c_directoryEntriesPerRead = 4096;

// The words of a known extension.
struct FileType
{
    const wchar_t* extension;
    UINT descriptionId;
};

const FileType c_fileTypes[] = {
    {L".LAY", IDS_MAP_TYPE_LAYER},          {L".CLT", IDS_MAP_TYPE_CELL_LAYOUT},
    {L".DBD", IDS_MAP_TYPE_DICTIONARY},     {L".AUX", IDS_MAP_TYPE_TABLES},
    {L".CLP", IDS_MAP_TYPE_TABLES},         {L".EXT", IDS_MAP_TYPE_TABLES},
    {L".DAT", IDS_MAP_TYPE_TABLES},         {L".INI", IDS_MAP_TYPE_MAP_INFORMATION},
    {L".ICS", IDS_MAP_TYPE_ICONS},          {L".DAX", IDS_MAP_TYPE_EXTRA_TABLES},
    {L".DCT", IDS_MAP_TYPE_EXTRA_TABLES},   {L".DPO", IDS_MAP_TYPE_EXTRA_TABLES},
    {L".DSC", IDS_MAP_TYPE_EXTRA_TABLES},   {L".DTX", IDS_MAP_TYPE_EXTRA_TABLES},
};

std::uint32_t ByteSwap(std::uint32_t value) noexcept
{
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

std::uint32_t LoadLittleEndian(const unsigned char* bytes) noexcept
{
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void StoreLittleEndian(unsigned char* bytes, std::uint32_t value) noexcept
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

[[noreturn]] void ThrowShortRead()
{
    ThrowWin32(ERROR_HANDLE_EOF);
}

// A file that cannot be a container fails as a short read, with words that
// say so instead of the system's "end of file".
[[noreturn]] void ThrowNotAContainer(const std::optional<std::wstring>& words)
{
    CAtlException failure(HResultFromWin32(ERROR_HANDLE_EOF));
    if (words)
        failure.SetDetailIfUnknown(*words);
    throw failure;
}

void Seek(HANDLE file, std::uint64_t offset)
{
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    ThrowLastErrorIf(!SetFilePointerEx(file, position, nullptr, FILE_BEGIN));
}

// Reads exactly size bytes at the file's current position.
void ReadExact(HANDLE file, void* buffer, DWORD size)
{
    DWORD read = 0;
    ThrowLastErrorIf(!ReadFile(file, buffer, size, &read, nullptr));
    if (read != size)
        ThrowShortRead();
}

std::uint64_t FileSize(HANDLE file)
{
    LARGE_INTEGER size;
    ThrowLastErrorIf(!GetFileSizeEx(file, &size));
    return static_cast<std::uint64_t>(size.QuadPart);
}

// An entry whose data lies outside the file fails as a short read before
// anything is allocated or written for it. An empty entry has no data to
// read, wherever it points.
void CheckEntryInFile(const MapContainer& container, const ContainerEntry& entry)
{
    if (entry.length != 0 && std::uint64_t{entry.offset} + entry.length > container.fileSize)
        ThrowShortRead();
}

// Feeds length bytes from the file's current position to sink in chunks of
// at most c_chunkBytes (each chunk but the last of even size).
template <typename Sink>
void StreamBytes(HANDLE file, std::uint64_t length, std::vector<char>& buffer, Sink sink)
{
    while (length > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(length, c_chunkBytes));
        ReadExact(file, buffer.data(), chunk);
        sink(buffer.data(), chunk);
        length -= chunk;
    }
}

// Runs body and attaches path to a failure that names no file yet.
template <typename Body>
void WithPath(const std::wstring& path, Body body)
{
    try {
        body();
    } catch (CAtlException& failure) {
        failure.SetPathIfUnknown(path);
        throw;
    }
}

// "ADD_MAPS" + "." + "CFG" from the two NUL-terminated name fields. A field
// without its terminator ends at the field's end.
std::wstring DisplayName(const unsigned char* record)
{
    const char* base = reinterpret_cast<const char*>(record);
    const char* extension = base + c_baseNameField;
    std::string name(base, strnlen(base, c_baseNameField));
    name += '.';
    name.append(extension, strnlen(extension, c_extensionField));
    return AnsiToWide(name);
}

ContainerEntry ParseDirectoryEntry(const unsigned char* record, bool bigEndian)
{
    ContainerEntry entry;
    entry.name = DisplayName(record);
    entry.offset = LoadLittleEndian(record + 16);
    entry.length = LoadLittleEndian(record + 20);
    if (bigEndian) {
        entry.offset = ByteSwap(entry.offset);
        entry.length = ByteSwap(entry.length);
    }
    return entry;
}

std::vector<ContainerEntry> ReadDirectory(HANDLE file, std::uint32_t count, bool bigEndian)
{
    std::vector<ContainerEntry> entries;
    entries.reserve(count);
    std::vector<unsigned char> buffer(std::min<size_t>(count, c_directoryEntriesPerRead) * c_directoryEntryBytes);
    while (entries.size() < count) {
        const size_t batch = std::min<size_t>(count - entries.size(), c_directoryEntriesPerRead);
        ReadExact(file, buffer.data(), static_cast<DWORD>(batch * c_directoryEntryBytes));
        for (size_t i = 0; i < batch; ++i)
            entries.push_back(ParseDirectoryEntry(buffer.data() + i * c_directoryEntryBytes, bigEndian));
    }
    return entries;
}

std::wstring_view Extension(std::wstring_view name)
{
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring_view::npos ? std::wstring_view() : name.substr(dot);
}

const FileType* FindFileType(std::wstring_view name)
{
    const std::wstring_view extension = Extension(name);
    if (extension.empty())
        return nullptr;
    for (const auto& type : c_fileTypes)
        if (EqualsIgnoreCase(extension, type.extension))
            return &type;
    return nullptr;
}

// Path separators and the drive or stream colon, which would put the file
// elsewhere, the wildcards and the characters no file name may hold.
constexpr wchar_t c_unsafeNameCharacters[] = L"\\/:*?\"<>|"
                                             L"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F"
                                             L"\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F";

// The name as the file system tells names apart: upper case, without the
// trailing dots and spaces that file creation drops.
std::wstring FileSystemKey(std::wstring_view name)
{
    while (!name.empty() && (name.back() == L'.' || name.back() == L' '))
        name.remove_suffix(1);
    return ToUpperInvariant(name);
}

// "ROADS.LAY" with number 2 gives "ROADS (2).LAY"; a name without a dot
// gets the number at its end.
std::wstring NumberedName(std::wstring_view name, unsigned number)
{
    const size_t dot = std::min(name.rfind(L'.'), name.size());
    return std::wstring(name.substr(0, dot)) + L" (" + std::to_wstring(number) + L")" +
           std::wstring(name.substr(dot));
}

// One entry of the container being written.
struct WorkingEntry
{
    const ContainerEntry* source;
    bool replaced = false;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

std::vector<WorkingEntry> SelectEntries(const MapContainer& container, const std::vector<std::wstring>& dropNames,
                                        const std::optional<ContainerReplacement>& replacement)
{
    std::vector<WorkingEntry> working;
    working.reserve(container.entries.size());
    for (const auto& entry : container.entries)
        working.push_back({&entry});
    for (const auto& name : dropNames) {
        const auto match = std::find_if(working.begin(), working.end(), [&](const WorkingEntry& candidate) {
            return EqualsIgnoreCase(candidate.source->name, name);
        });
        if (match != working.end())
            working.erase(match);
    }
    if (replacement)
        for (auto& entry : working)
            entry.replaced = EqualsIgnoreCase(entry.source->name, replacement->name);
    return working;
}

[[noreturn]] void ThrowTooLarge()
{
    ThrowWin32(ERROR_FILE_TOO_LARGE);
}

// Assigns offsets and lengths; the data of every copied entry must lie in
// the source and every offset must fit the 32-bit directory field.
void LayOut(const MapContainer& container, std::vector<WorkingEntry>& working, std::uint64_t replacementSize)
{
    if (working.size() > c_maxLittleEndianEntries)
        ThrowTooLarge();
    std::uint64_t current = c_directoryEntryBytes * working.size() + 8 + c_headerTailBytes;
    for (auto& entry : working) {
        if (!entry.replaced)
            CheckEntryInFile(container, *entry.source);
        const std::uint64_t length = entry.replaced ? replacementSize : entry.source->length;
        if (current > UINT32_MAX || length > UINT32_MAX)
            ThrowTooLarge();
        entry.offset = static_cast<std::uint32_t>(current);
        entry.length = static_cast<std::uint32_t>(length);
        current += (length + 1) & ~std::uint64_t{1};
    }
}

// "NAME.EXT" split at its last dot into the two ANSI name fields.
void StoreName(unsigned char* record, const std::wstring& name)
{
    const size_t dot = name.rfind(L'.');
    const std::string base = WideToAnsi(std::wstring_view(name).substr(0, dot));
    const std::string extension =
        dot == std::wstring::npos ? std::string() : WideToAnsi(std::wstring_view(name).substr(dot + 1));
    std::memcpy(record, base.data(), std::min(base.size(), c_baseNameMaxBytes));
    std::memcpy(record + c_baseNameField, extension.data(), std::min(extension.size(), c_extensionMaxBytes));
}

// Count words, directory and the 32 bytes after it. The header check word
// covers the count words and the whole directory, so that they XOR to zero
// together with it.
std::vector<unsigned char> BuildHeaderBlock(const std::vector<WorkingEntry>& working)
{
    const size_t directoryEnd = 8 + c_directoryEntryBytes * working.size();
    std::vector<unsigned char> block(directoryEnd + c_headerTailBytes, 0);
    const auto count = static_cast<std::uint32_t>(working.size());
    StoreLittleEndian(block.data(), count);
    StoreLittleEndian(block.data() + 4, count);
    unsigned char* record = block.data() + 8;
    for (const auto& entry : working) {
        StoreName(record, entry.source->name);
        StoreLittleEndian(record + 16, entry.offset);
        StoreLittleEndian(record + 20, entry.length);
        record += c_directoryEntryBytes;
    }
    const std::uint16_t check = XorWords(block.data(), directoryEnd / 2);
    block[directoryEnd] = static_cast<unsigned char>(check);
    block[directoryEnd + 1] = static_cast<unsigned char>(check >> 8);
    std::memcpy(block.data() + directoryEnd + 2, c_signature, c_signatureBytes);
    return block;
}

// Copies length bytes from source's current position to the output, adds a
// zero pad byte after an odd length and folds every word into check.
void CopyPadded(HANDLE source, std::uint64_t length, HANDLE output, std::vector<char>& buffer,
                std::uint16_t& check)
{
    StreamBytes(source, length, buffer, [&](char* bytes, DWORD size) {
        if (size % 2 != 0)
            bytes[size++] = 0; // the buffer has room for the pad byte
        check ^= XorWords(bytes, size / 2);
        WriteAll(output, bytes, size);
    });
}

std::uint64_t ReplacementSize(const std::optional<ContainerReplacement>& replacement)
{
    return replacement ? FileSize(replacement->file) : 0;
}

} // namespace

std::uint16_t XorWords(const void* bytes, size_t wordCount) noexcept
{
    const auto* data = static_cast<const unsigned char*>(bytes);
    std::uint16_t result = 0;
    for (size_t i = 0; i < wordCount; ++i)
        result ^= static_cast<std::uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return result;
}

void OpenContainer(MapContainer& container, const std::wstring& path)
{
    if (!container.path.empty() && EqualsIgnoreCase(container.path, path))
        return;
    ++container.generation;
    container.file.Reset();
    container.path.clear();
    container.entries.clear();
    container.fileSize = 0;
    container.bigEndian = false;

    UniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        ThrowLastErrorFor(path);
    std::uint64_t size = 0;
    bool bigEndian = false;
    std::vector<ContainerEntry> entries;
    WithPath(path, [&] {
        size = FileSize(file.Get());
        unsigned char counts[8];
        if (size < sizeof counts)
            ThrowNotAContainer(TryLoadResourceString(IDS_DETAIL_MAP_TOO_SHORT));
        ReadExact(file.Get(), counts, sizeof counts);
        std::uint32_t count = LoadLittleEndian(counts);
        bigEndian = count > c_maxLittleEndianEntries;
        if (bigEndian)
            count = ByteSwap(count);
        // Checked before anything is allocated: any other file read as a
        // container announces a directory far larger than itself.
        const std::uint64_t directoryBytes = std::uint64_t{count} * c_directoryEntryBytes;
        if (sizeof counts + directoryBytes > size)
            ThrowNotAContainer(TryFormatResourceString(IDS_DETAIL_MAP_DIRECTORY_TOO_LARGE,
                                                       {std::to_wstring(count), std::to_wstring(size)}));
        entries = ReadDirectory(file.Get(), count, bigEndian);
    });
    container.file = std::move(file);
    container.path = path;
    container.entries = std::move(entries);
    container.fileSize = size;
    container.bigEndian = bigEndian;
}

const ContainerEntry* FindEntry(const MapContainer& container, std::wstring_view name)
{
    for (const auto& entry : container.entries)
        if (EqualsIgnoreCase(entry.name, name))
            return &entry;
    return nullptr;
}

std::wstring DescribeEntry(const ContainerEntry& entry)
{
    std::wstring text = FormatResourceString(IDS_MAP_ENTRY_NAME, {entry.name}) + L"\r\n";
    if (const FileType* type = FindFileType(entry.name))
        text += FormatResourceString(IDS_MAP_ENTRY_TYPE, {LoadResourceString(type->descriptionId)}) + L"\r\n";
    text += FormatResourceString(IDS_MAP_ENTRY_LOCATION,
                                 {FormatGroupedInteger(entry.length), FormatGroupedInteger(entry.offset)}) +
            L"\r\n";
    while (!text.empty() && wcschr(L"\t\n\r .", text.back()))
        text.pop_back();
    return text;
}

bool IsPlainFileName(std::wstring_view name) noexcept
{
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(c_unsafeNameCharacters) == std::wstring_view::npos && !IsDeviceName(name);
}

ExtractionNames PlanExtraction(const std::vector<const ContainerEntry*>& entries)
{
    for (const ContainerEntry* entry : entries) {
        if (IsPlainFileName(entry->name))
            continue;
        CAtlException failure(HResultFromWin32(ERROR_INVALID_NAME));
        if (auto words = TryFormatResourceString(IDS_DETAIL_NOT_A_PLAIN_NAME, {EscapeControlCharacters(entry->name)}))
            failure.SetDetailIfUnknown(*words);
        throw failure;
    }
    // Every first occurrence keeps its name, so a new name must avoid all
    // of them, not only those seen so far.
    std::set<std::wstring> taken;
    std::vector<bool> duplicate;
    for (const ContainerEntry* entry : entries)
        duplicate.push_back(!taken.insert(FileSystemKey(entry->name)).second);
    ExtractionNames names;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!duplicate[i]) {
            names.fileNames.push_back(entries[i]->name);
            continue;
        }
        std::wstring candidate;
        for (unsigned number = 2;; ++number) {
            candidate = NumberedName(entries[i]->name, number);
            if (taken.insert(FileSystemKey(candidate)).second)
                break;
        }
        names.fileNames.push_back(candidate);
        ++names.renamed;
    }
    return names;
}

void ExtractEntry(const MapContainer& container, const ContainerEntry& entry, const std::wstring& destinationPath)
{
    WithPath(container.path, [&] { CheckEntryInFile(container, entry); });
    PendingFile output(destinationPath);
    WithPath(destinationPath, [&] {
        std::vector<char> buffer(std::min<size_t>(entry.length, c_chunkBytes));
        Seek(container.file.Get(), entry.offset);
        StreamBytes(container.file.Get(), entry.length, buffer,
                    [&](const char* bytes, DWORD size) { WriteAll(output.Get(), bytes, size); });
        output.Commit();
    });
}

std::vector<char> ReadEntryData(const MapContainer& container, const ContainerEntry& entry)
{
    std::vector<char> data;
    WithPath(container.path, [&] {
        CheckEntryInFile(container, entry);
        if (entry.length == 0)
            return;
        data.resize(entry.length);
        Seek(container.file.Get(), entry.offset);
        ReadExact(container.file.Get(), data.data(), entry.length);
    });
    return data;
}

void WriteModifiedContainer(const MapContainer& container, const std::wstring& destinationPath,
                            const std::vector<std::wstring>& dropNames,
                            const std::optional<ContainerReplacement>& replacement)
{
    std::vector<WorkingEntry> working = SelectEntries(container, dropNames, replacement);
    WithPath(container.path, [&] { LayOut(container, working, ReplacementSize(replacement)); });
    const std::vector<unsigned char> header = BuildHeaderBlock(working);

    ThrowIfSameFile(container.path, destinationPath);
    PendingFile output(destinationPath);
    WithPath(destinationPath, [&] {
        WriteAll(output.Get(), header.data(), static_cast<DWORD>(header.size()));
        std::vector<char> buffer(c_chunkBytes + 2);
        std::uint16_t check = 0;
        for (const auto& entry : working) {
            const HANDLE source = entry.replaced ? replacement->file : container.file.Get();
            Seek(source, entry.replaced ? 0 : entry.source->offset);
            CopyPadded(source, entry.length, output.Get(), buffer, check);
        }
        unsigned char trailer[c_trailerBytes];
        std::memcpy(trailer, c_signature, c_signatureBytes);
        trailer[c_signatureBytes] = static_cast<unsigned char>(check);
        trailer[c_signatureBytes + 1] = static_cast<unsigned char>(check >> 8);
        WriteAll(output.Get(), trailer, sizeof trailer);
        output.Commit();
    });
}

CheckWordResult VerifyCheckWords(const MapContainer& container)
{
    CheckWordResult result;
    const std::uint64_t checkedHeaderBytes = 8 + c_directoryEntryBytes * container.entries.size() + 2;
    const std::uint64_t minimumSize = checkedHeaderBytes - 2 + c_headerTailBytes + c_trailerBytes;
    if (container.fileSize < minimumSize)
        return result;
    WithPath(container.path, [&] {
        const HANDLE file = container.file.Get();
        std::vector<char> buffer(c_chunkBytes);
        std::uint16_t check = 0;
        const auto fold = [&](const char* bytes, DWORD size) { check ^= XorWords(bytes, size / 2); };
        Seek(file, 0);
        StreamBytes(file, checkedHeaderBytes, buffer, fold);
        result.header = check == 0;
        const std::uint64_t rest = container.fileSize - checkedHeaderBytes;
        if (rest % 2 != 0)
            return;
        check = 0;
        StreamBytes(file, rest, buffer, fold);
        result.file = check == 0;
    });
    return result;
}
