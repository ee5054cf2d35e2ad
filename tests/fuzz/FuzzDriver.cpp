// Feeds the module's parsers with deterministic mutations of sample inputs
// and checks, per input, that the parser returns or raises a clean failure
// (CAtlException, or out of memory) within a time limit and writes nothing
// outside the destination it was given.
//
//   tervolin_fuzz [--inputs N] [--seed S] [--only NAME] [--time-limit MS]
//                 [--findings FOLDER] [--list]
//
// Samples come from the source tree (TERVOLIN_SOURCE) and from the shared
// real-world files (TERVOLIN_TESTDATA, skipped when absent). Per parser one
// line: inputs, clean failures, successes, crashes, hangs and the slowest
// input. A crash (an exception the parser should never let out, or a fault
// of the process) or a hang (an input that outlives the time limit, caught
// by a watchdog thread) saves the input under the findings folder and ends
// the process with exit code 3 or 4; a failed check of the outputs counts
// as a crash. Exit code 0 means every input was handled cleanly.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "Mutator.h"
#include "ReferencePattern.h"
#include "base/Exception.h"
#include "base/Handle.h"
#include "base/Pattern.h"
#include "base/Text.h"
#include "gps/LineAssembler.h"
#include "gps/NmeaInterpreter.h"
#include "import/GpxConversion.h"
#include "import/KmlConversion.h"
#include "import/OziConversion.h"
#include "map/LayerConfiguration.h"
#include "map/MapContainer.h"
#include "module/RegistryScript.h"
#include "support/TestFiles.h"
#include "support/Watchdog.h"
#include "ui/HyperlinkMarkup.h"

namespace {

constexpr char c_precious[] = "an existing output that a failed run must leave as it was";
constexpr char c_sentenceTerminator[] = "$PMGNCMD,END";
// Extraction stops after this many entries of one input: a damaged
// directory can name the same megabytes thousands of times.
constexpr size_t c_maximumExtractedEntries = 64;

// A check of the outputs that failed: counted as a crash.
struct CheckFailure
{
    std::string what;
};

void Require(bool condition, const char* what)
{
    if (!condition)
        throw CheckFailure{what};
}

// ---------------------------------------------------------------- files

// The file's bytes, or nothing when it cannot be read: a check that
// compares them then fails with its own words instead of raising, which
// would count as the parser's clean failure.
std::string ReadBytes(const std::wstring& path)
{
    try {
        return ReadFileBytes(path);
    } catch (const CAtlException&) {
        return {};
    }
}

// Names in a folder (without "." and ".."), with a flag for folders.
std::vector<std::pair<std::wstring, bool>> List(const std::wstring& folder)
{
    std::vector<std::pair<std::wstring, bool>> names;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!search)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search.Get(), &found));
    return names;
}

void RemoveTree(const std::wstring& folder)
{
    for (const auto& [name, isFolder] : List(folder)) {
        const std::wstring path = folder + L"\\" + name;
        if (isFolder)
            RemoveTree(path);
        else
            DeleteFileW(path.c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

std::vector<std::wstring> FilesIn(const std::wstring& folder, const wchar_t* pattern)
{
    std::vector<std::wstring> paths;
    if (folder.empty())
        return paths;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((folder + L"\\" + pattern).c_str(), &found));
    if (!search)
        return paths;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            paths.push_back(folder + L"\\" + found.cFileName);
    } while (FindNextFileW(search.Get(), &found));
    return paths;
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(value, length);
}

// ---------------------------------------------------------------- sandbox

// sandbox\box... holds the input and out\, the only place a parser may
// write to. Anything that appears beside the box, or in the box beside the
// input and out, escaped its destination. The box's name is long enough
// that out\ ends just short of MAX_PATH, so every file written in it has a
// path beyond MAX_PATH: the writers' path handling is fuzzed too.
class Sandbox
{
public:
    static constexpr size_t c_outPathLength = MAX_PATH - 10;

    Sandbox()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_root = std::wstring(temp) + L"tervolin-fuzz-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(m_root.c_str(), nullptr);
        const size_t fixed = m_root.size() + std::size(L"\\box\\out") - 1;
        m_boxName = L"box" + std::wstring(c_outPathLength > fixed ? c_outPathLength - fixed : 0, L'x');
        m_box = m_root + L"\\" + m_boxName;
        CreateDirectoryW(m_box.c_str(), nullptr);
        m_out = m_box + L"\\out";
    }
    ~Sandbox() { RemoveTree(m_root); }

    std::wstring Input(const wchar_t* extension) const { return m_box + L"\\input" + extension; }
    const std::wstring& Out() const { return m_out; }

    // Empties out\ before an input.
    void Reset()
    {
        if (!CreateDirectoryW(m_out.c_str(), nullptr))
            for (const auto& [name, isFolder] : List(m_out))
                isFolder ? RemoveTree(m_out + L"\\" + name) : void(DeleteFileW((m_out + L"\\" + name).c_str()));
    }

    // Nothing beside box, nothing in box but input files and out.
    void CheckNothingEscaped() const
    {
        for (const auto& [name, isFolder] : List(m_root))
            Require(name == m_boxName, "a file appeared beside the sandbox");
        for (const auto& [name, isFolder] : List(m_box))
            Require(name == L"out" || name.rfind(L"input", 0) == 0, "a file appeared beside the input");
    }

private:
    std::wstring m_root;
    std::wstring m_boxName;
    std::wstring m_box;
    std::wstring m_out;
};

// ---------------------------------------------------------------- targets

enum class Outcome { Success, CleanFailure };

struct Target
{
    const char* name;
    InputShape shape;
    std::vector<std::string> seeds;
    // Runs one input; raises what the parser raises.
    std::function<void(const std::string& input, Sandbox& sandbox)> run;
    // Builds the input itself from a random source instead of mutating seeds.
    std::function<std::string(CRandom& random)> generate;
    // Whether the parser works on files (and the sandbox must be checked).
    bool files = false;
};

// The fields of each sentence the converters write, its name included.
struct SentenceShape
{
    const char* name;
    size_t fields;
};

constexpr SentenceShape c_sentenceShapes[] = {{"$PMGNWPL", 10}, {"$PMGNTRK", 11}, {"$PMGNCMD", 2}};

// Every written line is one whole sentence of a known name: one '$' at its
// start, exactly its fields, a right checksum where it has one (only the
// KML terminator has none), and a position on the globe.
void CheckSentences(const std::string& output)
{
    size_t start = 0;
    for (size_t end = output.find("\r\n"); end != std::string::npos; start = end + 2, end = output.find("\r\n", start)) {
        std::string line = output.substr(start, end - start);
        Require(line.rfind('$') == 0, "a written line holds a '$' inside or does not start with one");
        const size_t star = line.find('*');
        if (star != std::string::npos) {
            Require(star + 3 == line.size(), "a written line holds a '*' before its checksum");
            unsigned char sum = 0;
            for (size_t i = 1; i < star; ++i)
                sum ^= static_cast<unsigned char>(line[i]);
            Require(std::strtoul(line.substr(star + 1).c_str(), nullptr, 16) == sum, "a written checksum is wrong");
            line.resize(star);
        }
        std::vector<std::string> fields;
        for (size_t from = 0;;) {
            const size_t comma = line.find(',', from);
            fields.push_back(line.substr(from, comma - from));
            if (comma == std::string::npos)
                break;
            from = comma + 1;
        }
        const SentenceShape* shape = nullptr;
        for (const auto& known : c_sentenceShapes)
            if (fields[0] == known.name)
                shape = &known;
        Require(shape != nullptr, "a written sentence has an unknown name");
        Require(fields.size() == shape->fields, "a written sentence does not have its fields");
        Require(star != std::string::npos || fields[0] == "$PMGNCMD", "a written sentence has no checksum");
        if (shape->fields > 3) {
            Require(std::strtod(fields[1].c_str(), nullptr) <= 9000.0, "a written latitude is beyond the pole");
            Require(std::strtod(fields[3].c_str(), nullptr) <= 18000.0, "a written longitude is beyond 180");
        }
    }
    Require(start == output.size(), "a converted file does not end with a line end");
}

// Converters that write one sentence file: an existing output survives any
// failure, and a success leaves a terminated file of whole sentences.
template <typename Convert>
void RunConversion(const std::string& input, Sandbox& sandbox, const wchar_t* extension, Convert convert)
{
    const std::wstring source = sandbox.Input(extension);
    WriteFileBytes(source, input);
    const std::wstring destination = sandbox.Out() + L"\\result.txt";
    WriteFileBytes(destination, c_precious);
    try {
        convert(source, destination);
    } catch (...) {
        Require(ReadBytes(destination) == c_precious, "a failed conversion changed the existing output");
        Require(List(sandbox.Out()).size() == 1, "a failed conversion left a file behind");
        Require(ReadBytes(source) == input, "the conversion changed its source");
        throw;
    }
    const std::string output = ReadBytes(destination);
    Require(output.find(c_sentenceTerminator) != std::string::npos, "a converted file has no terminator");
    CheckSentences(output);
    Require(List(sandbox.Out()).size() == 1, "a conversion left a second file behind");
    Require(ReadBytes(source) == input, "the conversion changed its source");
}

void ImportKml(const std::wstring& source, const std::wstring& destination)
{
    ImportKmlPlacemarks(source, destination);
}

void ConvertGpxWaypoints(const std::wstring& source, const std::wstring& destination)
{
    ConvertGpx(source, destination, GpxOutput::Waypoints, true);
}

void ConvertGpxTrack(const std::wstring& source, const std::wstring& destination)
{
    ConvertGpx(source, destination, GpxOutput::TrackPoints);
}

void RunContainer(const std::string& input, Sandbox& sandbox)
{
    const std::wstring source = sandbox.Input(L".imi");
    WriteFileBytes(source, input);
    MapContainer container;
    OpenContainer(container, source);
    for (const auto& entry : container.entries)
        DescribeEntry(entry);
    VerifyCheckWords(container);
    std::vector<const ContainerEntry*> selected;
    for (size_t i = 0; i < container.entries.size() && i < c_maximumExtractedEntries; ++i)
        selected.push_back(&container.entries[i]);
    const ExtractionNames names = PlanExtraction(selected);
    const std::wstring folder = sandbox.Out() + L"\\x";
    CreateDirectoryW(folder.c_str(), nullptr);
    try {
        for (size_t i = 0; i < selected.size(); ++i)
            ExtractEntry(container, *selected[i], folder + L"\\" + names.fileNames[i]);
    } catch (...) {
        sandbox.CheckNothingEscaped();
        throw;
    }
    const auto extracted = List(folder);
    Require(extracted.size() == selected.size(), "extraction did not give one file per entry");
    for (const auto& [name, isFolder] : extracted)
        Require(!isFolder, "extraction made a folder");
}

// A container with the given packed files, in the layout the writer uses
// (check words left zero: the reader does not look at them).
std::string BuildContainer(const std::vector<std::pair<std::string, std::string>>& files)
{
    const size_t header = 8 + 24 * files.size() + 32;
    std::string bytes(header, '\0');
    auto store = [&](size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>(value >> (8 * i));
    };
    store(0, static_cast<std::uint32_t>(files.size()));
    store(4, static_cast<std::uint32_t>(files.size()));
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string& name = files[i].first;
        const size_t dot = name.rfind('.');
        const std::string base = name.substr(0, std::min<size_t>(dot, 8));
        const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1, 6);
        std::memcpy(&bytes[8 + 24 * i], base.data(), base.size());
        std::memcpy(&bytes[8 + 24 * i + 9], extension.data(), extension.size());
        store(8 + 24 * i + 16, static_cast<std::uint32_t>(bytes.size()));
        store(8 + 24 * i + 20, static_cast<std::uint32_t>(files[i].second.size()));
        bytes += files[i].second;
        if (bytes.size() % 2 != 0)
            bytes += '\0';
    }
    return bytes + "MAGELLAN\0\0";
}

// The layer input is the pointer file and the configuration, separated by
// a form feed, so that the mutations reach both texts.
void RunLayers(const std::string& input, Sandbox& sandbox)
{
    const size_t split = input.find('\f');
    const std::string pointer = input.substr(0, split);
    const std::string configuration = split == std::string::npos ? std::string() : input.substr(split + 1);
    std::string name = "MAP.INI";
    const size_t space = pointer.find(' ');
    if (space != std::string::npos) {
        const size_t end = pointer.find_first_of(" \r\n", space + 1);
        const std::string named = pointer.substr(space + 1, end == std::string::npos ? end : end - space - 1);
        if (!named.empty())
            name = named;
    }
    const std::wstring source = sandbox.Input(L".imi");
    WriteFileBytes(source, BuildContainer({{"ADD_MAPS.CFG", pointer}, {name, configuration}, {"ROADS.LAY", "data"}}));
    MapContainer container;
    OpenContainer(container, source);
    LayerConfiguration layers;
    layers.LoadLayerConfiguration(container);
    if (layers.VisibleCount() > 1)
        layers.RemoveLayers({0});
    if (layers.VisibleCount() > 1 && layers.CanMoveLayerDown(0))
        layers.MoveLayerDown(0);
    layers.SaveLayerConfiguration();
    const ContainerChanges changes = layers.GetContainerChanges();
    const std::wstring destination = sandbox.Out() + L"\\result.imi";
    WriteModifiedContainer(container, destination, changes.dropNames, changes.replacement);
    MapContainer written;
    OpenContainer(written, destination);
    Require(written.entries.size() <= container.entries.size(), "the edited map has more files than its source");
}

class SilentEvents final : public NmeaEvents
{
public:
    void SatellitesInView(const std::vector<SatelliteInView>&) override {}
    void GeographicLatitudeAndLongitude(const GeographicPosition&) override {}
    void RecommendedMinimumC(const RecommendedMinimum&) override {}
    void SatellitesActive(const ActiveSatellites&) override {}
    void Status(const ReceiverStatus&) override {}
};

void RunNmea(const std::string& input, Sandbox&)
{
    CNmeaInterpreter interpreter;
    SilentEvents events;
    size_t start = 0;
    while (start < input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos)
            end = input.size();
        interpreter.InterpretLine(AnsiToWide(std::string_view(input).substr(start, end - start)), events);
        start = end + 1;
    }
}

void RunLineAssembler(const std::string& input, Sandbox&)
{
    CLineAssembler assembler;
    std::vector<std::string> lines;
    // Chunks of varying size, as reads of a port deliver them.
    size_t chunk = 1;
    for (size_t pos = 0; pos < input.size(); pos += chunk, chunk = chunk * 7 % 61 + 1) {
        assembler.Append(std::string_view(input).substr(pos, chunk), lines);
        Require(assembler.Pending().size() <= CLineAssembler::c_maximumPendingBytes, "too many pending bytes");
    }
    for (const auto& line : lines)
        Require(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos, "a line holds a line end");
}

void RunRegistryScript(const std::string& input, Sandbox&)
{
    const RegistryReplacements replacements = {{L"MODULE", L"C:\\Program Files\\Tervolin\\Tervolin.dll"},
                                               {L"APPID", L"{00000000-0000-0000-0000-000000000000}"}};
    ParseRegistryScript(ReplacePlaceholders(AnsiToWide(input), replacements));
}

// Link labels are resource texts, but translations come from elsewhere.
// The text outside the anchors must come through whole and in order.
void RunHyperlinkMarkup(const std::string& input, Sandbox&)
{
    const std::wstring text = AnsiToWide(input);
    const auto segments = ParseHyperlinkMarkup(text);
    if (!segments)
        return;
    size_t searchFrom = 0;
    for (const auto& segment : *segments) {
        const size_t found = text.find(segment.text, searchFrom);
        Require(found != std::wstring::npos, "a segment's text is not in the markup in order");
        searchFrom = found + segment.text.size();
    }
}

const char* const c_markupSamples[] = {
    "Source, a <A HREF=\"https://example.org/kml\" TITLE=\"About KML\">KML</A> file",
    "<a id=\"help\" href=\"https://example.org/help\">Help</a> and <A HREF=\"x\">more</A>.",
    "Plain text without links",
    "Visit <A   TITLE=\"t\"  ID=\"i\" HREF=\"h\">the site</A><A HREF=\"\"></A>",
};

// Pattern input: the pattern, a NUL, the text. Both matchers must agree on
// compiling, on the match and on every group (position and length).
void RunPattern(const std::string& input, Sandbox&)
{
    const size_t split = input.find('\0');
    const std::wstring pattern = AnsiToWide(input.substr(0, split));
    const std::wstring text = split == std::string::npos ? std::wstring() : AnsiToWide(input.substr(split + 1));
    const bool ignoreCase = !pattern.empty() && pattern.size() % 2 == 0;
    HRESULT compiled = S_OK;
    HRESULT referenceCompiled = S_OK;
    std::optional<CPattern> subject;
    std::optional<CReferencePattern> reference;
    try {
        subject.emplace(pattern, ignoreCase);
    } catch (const CAtlException& e) {
        compiled = e.m_hr;
    }
    try {
        reference.emplace(pattern, ignoreCase);
    } catch (const CAtlException& e) {
        referenceCompiled = e.m_hr;
    }
    Require(compiled == referenceCompiled, "the matchers disagree on compiling the pattern");
    if (compiled != S_OK)
        ThrowHr(compiled);
    std::vector<std::wstring_view> groups;
    std::vector<std::wstring_view> referenceGroups;
    bool referenceMatched = false;
    try {
        referenceMatched = reference->Match(text, &referenceGroups);
    } catch (const CAtlException&) {
        return; // the plain backtracking reference ran out of depth
    }
    const bool matched = subject->Match(text, &groups);
    Require(matched == referenceMatched, "the matchers disagree on the match");
    if (!matched)
        return;
    Require(groups.size() == referenceGroups.size(), "the matchers disagree on the group count");
    for (size_t i = 0; i < groups.size(); ++i) {
        const bool bothEmpty = groups[i].empty() && referenceGroups[i].empty();
        Require(bothEmpty || (groups[i].data() == referenceGroups[i].data() &&
                              groups[i].size() == referenceGroups[i].size()),
                "the matchers disagree on a group");
    }
}

// Random patterns of the dialect over a small alphabet, so that texts of
// the same alphabet often match in several ways: mostly well formed, built
// from nested groups, alternations and repetitions; now and then a raw
// string of pieces that may not compile at all.
void AppendPattern(std::string& pattern, CRandom& random, int depth)
{
    static const char* const atoms[] = {"a", "b", "1", ".", "[ab]", "[^a]", "[a-b1]", "\\d", "\\a", "\\b", "\\c",
                                        "\\h", "\\n", "\\q", "\\w", "\\z", "\\.", "\r"};
    static const char* const quantifiers[] = {"", "", "", "*", "+", "?"};
    for (size_t n = 1 + random.Below(4); n > 0; --n) {
        const size_t kind = random.Below(10);
        if (kind == 0) {
            pattern += random.OneIn(2) ? "^" : "$";
            continue;
        }
        if (kind <= 3 && depth > 0) {
            const bool capture = random.OneIn(2);
            pattern += capture ? '{' : '(';
            for (size_t alternatives = 1 + random.Below(3); alternatives > 0; --alternatives) {
                if (!random.OneIn(6) || alternatives == 1)
                    AppendPattern(pattern, random, depth - 1);
                if (alternatives > 1)
                    pattern += '|';
            }
            pattern += capture ? '}' : ')';
        } else {
            pattern += atoms[random.Below(std::size(atoms))];
        }
        pattern += quantifiers[random.Below(std::size(quantifiers))];
    }
}

std::string GeneratePattern(CRandom& random)
{
    static const char* const pieces[] = {"a", "(", ")", "{", "}", "|", "*", "+", "?", "[", "]", "\\", "^", "$"};
    std::string pattern;
    if (random.OneIn(8)) {
        for (size_t n = 1 + random.Below(8); n > 0; --n)
            pattern += pieces[random.Below(std::size(pieces))];
    } else {
        AppendPattern(pattern, random, 3);
    }
    std::string text;
    static const char alphabet[] = "aab1\r\n'\". A";
    for (size_t n = random.Below(14); n > 0; --n)
        text += alphabet[random.Below(sizeof alphabet - 1)];
    return pattern + '\0' + text;
}

// ---------------------------------------------------------------- seeds

std::vector<std::string> Seeds(const std::vector<std::pair<std::wstring, const wchar_t*>>& places)
{
    std::vector<std::string> seeds;
    for (const auto& [folder, pattern] : places)
        for (const auto& path : FilesIn(folder, pattern))
            seeds.push_back(ReadBytes(path));
    return seeds;
}

// The pointer file and the configuration of every seed map, as RunLayers
// takes them.
std::vector<std::string> LayerSeeds(const std::vector<std::string>& maps, Sandbox& sandbox)
{
    std::vector<std::string> seeds;
    for (const auto& bytes : maps) {
        try {
            const std::wstring path = sandbox.Input(L"-seed.imi");
            WriteFileBytes(path, bytes);
            MapContainer container;
            OpenContainer(container, path);
            LayerConfiguration layers;
            layers.LoadLayerConfiguration(container);
            const ContainerEntry* pointer = FindEntry(container, L"ADD_MAPS.CFG");
            const ContainerEntry* configuration = FindEntry(container, layers.ConfigName());
            const std::vector<char> pointerBytes = ReadEntryData(container, *pointer);
            const std::vector<char> configurationBytes = ReadEntryData(container, *configuration);
            seeds.push_back(std::string(pointerBytes.begin(), pointerBytes.end()) + '\f' +
                            std::string(configurationBytes.begin(), configurationBytes.end()));
        } catch (const CAtlException&) {
            // a seed map without layers adds nothing here
        }
        DeleteFileW(sandbox.Input(L"-seed.imi").c_str());
    }
    return seeds;
}

const char c_sentenceSample[] =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
    "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n"
    "$GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75\r\n"
    "$GPGSV,2,2,08,15,40,083,46,16,17,308,41,17,07,344,39,18,22,228,45*7A\r\n"
    "$GPGLL,4916.45,N,12311.12,W,225444,A,*1D\r\n"
    "$PMGNST,02.12,3,T,534,05.0,+03327,00*40\r\n";

std::vector<Target> BuildTargets(Sandbox& sandbox)
{
    const std::wstring source = Environment(L"TERVOLIN_SOURCE");
    const std::wstring data = Environment(L"TERVOLIN_TESTDATA");
    const std::wstring samples = source.empty() ? std::wstring() : source + L"\\samples";
    const std::wstring resources = source.empty() ? std::wstring() : source + L"\\resources";
    auto in = [&](const wchar_t* sub) { return data.empty() ? std::wstring() : data + sub; };

    std::vector<std::string> maps =
        Seeds({{samples, L"*.imi"}, {in(L"\\maps\\public"), L"*.im?"}, {in(L"\\maps\\synthetic"), L"*.i*"},
               {in(L"\\maps\\synthetic"), L"*.mgi"}});
    std::vector<std::string> nmea = Seeds({{in(L"\\nmea"), L"*.nmea"}});
    nmea.push_back(c_sentenceSample);

    std::vector<Target> targets;
    targets.push_back({"ozi-waypoints", InputShape::Text, Seeds({{samples, L"*.wpt"}, {in(L"\\ozi"), L"*.wpt"}}),
                       [](const std::string& input, Sandbox& box) { RunConversion(input, box, L".wpt", ConvertWaypoints); },
                       nullptr, true});
    targets.push_back({"ozi-track", InputShape::Text, Seeds({{samples, L"*.plt"}, {in(L"\\ozi"), L"*.plt"}}),
                       [](const std::string& input, Sandbox& box) { RunConversion(input, box, L".plt", ConvertTrack); },
                       nullptr, true});
    targets.push_back({"kml", InputShape::Text, Seeds({{samples, L"*.kml"}, {in(L"\\kml"), L"*.kml"}}),
                       [](const std::string& input, Sandbox& box) { RunConversion(input, box, L".kml", ImportKml); },
                       nullptr, true});
    const std::vector<std::string> gpx = Seeds({{samples, L"*.gpx"}, {in(L"\\gpx"), L"*.gpx"}});
    targets.push_back({"gpx-waypoints", InputShape::Text, gpx,
                       [](const std::string& input, Sandbox& box) {
                           RunConversion(input, box, L".gpx", ConvertGpxWaypoints);
                       },
                       nullptr, true});
    targets.push_back({"gpx-track", InputShape::Text, gpx,
                       [](const std::string& input, Sandbox& box) {
                           RunConversion(input, box, L".gpx", ConvertGpxTrack);
                       },
                       nullptr, true});
    targets.push_back({"map-container", InputShape::Container, maps, RunContainer, nullptr, true});
    targets.push_back({"map-layers", InputShape::Text, LayerSeeds(maps, sandbox), RunLayers, nullptr, true});
    targets.push_back({"nmea-interpreter", InputShape::Text, nmea, RunNmea, nullptr});
    targets.push_back({"line-assembler", InputShape::Text, nmea, RunLineAssembler, nullptr});
    targets.push_back({"registry-script", InputShape::Text, Seeds({{resources, L"*.rgs"}}), RunRegistryScript,
                       nullptr});
    targets.push_back({"hyperlink-markup", InputShape::Text,
                       std::vector<std::string>(std::begin(c_markupSamples), std::end(c_markupSamples)),
                       RunHyperlinkMarkup, nullptr});
    targets.push_back({"pattern", InputShape::Text, {}, RunPattern, GeneratePattern});
    return targets;
}

// ---------------------------------------------------------------- watchdog

struct Current
{
    const char* target = nullptr;
    unsigned input = 0;
    const std::string* bytes = nullptr;
};

Current g_current;
Watchdog* g_watchdog = nullptr; // armed while an input runs
std::wstring g_findings;
unsigned g_seed = 1;

// Saves the input being run and reports it; called from the watchdog, the
// fault filter and the check of each input.
void ReportFinding(const char* kind, const std::string& what)
{
    std::wstring saved;
    if (g_current.bytes && !g_findings.empty()) {
        CreateDirectoryW(g_findings.c_str(), nullptr);
        saved = g_findings + L"\\" + Utf8ToWide(g_current.target) + L"-seed" + std::to_wstring(g_seed) + L"-input" +
                std::to_wstring(g_current.input) + L"." + Utf8ToWide(kind);
        try {
            WriteFileBytes(saved, *g_current.bytes);
        } catch (...) {
            saved.clear();
        }
    }
    std::printf("%s: %s in input %u (seed %u): %s%s%s\n", g_current.target, kind, g_current.input, g_seed,
                what.c_str(), saved.empty() ? "" : ", saved as ", WideToUtf8(saved).c_str());
    std::fflush(stdout);
}

LONG WINAPI FaultFilter(EXCEPTION_POINTERS* pointers)
{
    char what[64];
    std::snprintf(what, sizeof what, "exception 0x%08lX at %p", pointers->ExceptionRecord->ExceptionCode,
                  pointers->ExceptionRecord->ExceptionAddress);
    ReportFinding("crash", what);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// ---------------------------------------------------------------- driver

struct Figures
{
    unsigned inputs = 0;
    unsigned cleanFailures = 0;
    unsigned successes = 0;
    unsigned crashes = 0;
    double slowestMs = 0;
    unsigned slowestInput = 0;
    double totalSeconds = 0;
};

std::uint64_t InputSeed(unsigned seed, size_t targetIndex, unsigned input)
{
    return (std::uint64_t{seed} << 40) ^ (std::uint64_t{targetIndex} << 32) ^ input;
}

Figures RunTarget(const Target& target, size_t targetIndex, unsigned count, Sandbox& sandbox)
{
    Figures figures;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (unsigned input = 0; input < count; ++input) {
        CRandom random(InputSeed(g_seed, targetIndex, input));
        std::string bytes;
        if (target.generate)
            bytes = target.generate(random);
        else if (input < target.seeds.size())
            bytes = target.seeds[input]; // each sample once as it is
        else
            bytes = Mutate(target.seeds[random.Below(target.seeds.size())], target.shape, random);
        if (target.files)
            sandbox.Reset();
        g_current = {target.name, input, &bytes};
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        g_watchdog->Arm();
        Outcome outcome = Outcome::Success;
        std::string crash;
        try {
            target.run(bytes, sandbox);
            if (target.files)
                sandbox.CheckNothingEscaped();
        } catch (const CAtlException&) {
            outcome = Outcome::CleanFailure;
        } catch (const std::bad_alloc&) {
            outcome = Outcome::CleanFailure;
        } catch (const CheckFailure& failure) {
            crash = failure.what;
        } catch (const std::exception& e) {
            crash = std::string("C++ exception: ") + e.what();
        } catch (...) {
            crash = "an exception of an unknown type";
        }
        g_watchdog->Disarm();
        LARGE_INTEGER end;
        QueryPerformanceCounter(&end);
        const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
        ++figures.inputs;
        if (!crash.empty()) {
            ++figures.crashes;
            ReportFinding("crash", crash);
        } else if (outcome == Outcome::Success) {
            ++figures.successes;
        } else {
            ++figures.cleanFailures;
        }
        figures.totalSeconds += ms / 1000;
        if (ms > figures.slowestMs) {
            figures.slowestMs = ms;
            figures.slowestInput = input;
        }
    }
    g_current = {};
    return figures;
}

struct Options
{
    unsigned inputs = 2000;
    DWORD timeLimitMs = 10000;
    std::string only;
    bool list = false;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--list") {
            options.list = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const std::wstring value = argv[++i];
        if (option == L"--inputs")
            options.inputs = static_cast<unsigned>(std::wcstoul(value.c_str(), nullptr, 10));
        else if (option == L"--seed")
            g_seed = static_cast<unsigned>(std::wcstoul(value.c_str(), nullptr, 10));
        else if (option == L"--time-limit")
            options.timeLimitMs = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10));
        else if (option == L"--only")
            options.only = WideToUtf8(value);
        else if (option == L"--findings")
            g_findings = value;
        else
            return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: tervolin_fuzz [--inputs N] [--seed S] [--only NAME] [--time-limit MS] "
                             "[--findings FOLDER] [--list]\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(FaultFilter);
    Sandbox sandbox;
    const std::vector<Target> targets = BuildTargets(sandbox);
    if (options.list) {
        for (const auto& target : targets)
            std::printf("%s\n", target.name);
        return 0;
    }
    const DWORD limit = options.timeLimitMs;
    Watchdog watchdog(
        limit, [limit] { ReportFinding("hang", "still running after " + std::to_string(limit) + " ms"); }, 4);
    g_watchdog = &watchdog;
    unsigned crashes = 0;
    for (size_t i = 0; i < targets.size(); ++i) {
        const Target& target = targets[i];
        if (!options.only.empty() && options.only != target.name)
            continue;
        if (target.seeds.empty() && !target.generate) {
            std::printf("%-17s skipped: no samples\n", target.name);
            continue;
        }
        const Figures figures = RunTarget(target, i, options.inputs, sandbox);
        crashes += figures.crashes;
        std::printf("%-17s inputs %7u  clean failures %7u  successes %7u  crashes %u  hangs 0  "
                    "slowest %8.1f ms (input %u)  all %6.1f s\n",
                    target.name, figures.inputs, figures.cleanFailures, figures.successes, figures.crashes,
                    figures.slowestMs, figures.slowestInput, figures.totalSeconds);
        std::fflush(stdout);
    }
    return crashes == 0 ? 0 : 3;
}
