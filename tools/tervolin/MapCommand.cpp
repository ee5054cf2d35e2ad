// tervolin map list|describe|extract|layers|edit: scriptable work on Magellan
// map containers and their layer configuration.
#include <windows.h>

#include <cstdio>
#include <functional>

#include "CommandBoundary.h"
#include "Commands.h"
#include "Console.h"
#include "base/ErrorText.h"
#include "base/Text.h"
#include "map/LayerConfiguration.h"
#include "map/LayerTables.h"
#include "map/MapContainer.h"
#include "map/NumberFormat.h"

namespace {

// A mistake in the command line, reported with exit code 2.
struct UsageError
{
    std::wstring message;
};

// A request the map cannot satisfy (an unknown layer or packed file),
// reported with exit code 1 before anything is written.
struct RequestError
{
    std::wstring message;
};

std::wstring Padded(std::wstring text, size_t width, bool right)
{
    if (text.size() < width)
        text.insert(right ? 0 : text.size(), width - text.size(), L' ');
    return text;
}

std::wstring WithUnixLineEnds(std::wstring text)
{
    std::wstring result;
    for (const wchar_t c : text)
        if (c != L'\r')
            result += c;
    return result;
}

const ContainerEntry& RequireEntry(const MapContainer& container, const std::wstring& name)
{
    const ContainerEntry* entry = FindEntry(container, name);
    if (!entry)
        throw RequestError{L"the map holds no packed file \"" + EscapeControlCharacters(name) + L"\""};
    return *entry;
}

int ListEntries(const MapContainer& container, const Arguments&)
{
    std::wstring text = Padded(L"Name", 16, false) + Padded(L"Offset", 14, true) + Padded(L"Length", 14, true) + L"\n";
    for (const auto& entry : container.entries)
        text += Padded(EscapeControlCharacters(entry.name), 16, false) + Padded(FormatGroupedInteger(entry.offset), 14, true) +
                Padded(FormatGroupedInteger(entry.length), 14, true) + L"\n";
    const CheckWordResult checks = VerifyCheckWords(container);
    text += std::to_wstring(container.entries.size()) + (container.bigEndian ? L" entries, big-endian" : L" entries") +
            L"; header check word " + (checks.header ? L"verifies" : L"does not verify") + L", file check word " +
            (checks.file ? L"verifies" : L"does not verify") + L"\n";
    PrintOut(text);
    if (!checks.header || !checks.file)
        PrintError(L"tervolin: warning: " + container.path +
                   L": a check word does not verify; receivers may still accept the map\n");
    return c_exitSuccess;
}

int DescribeOneEntry(const MapContainer& container, const Arguments& names)
{
    // A name from a damaged map may hold line breaks of its own.
    ContainerEntry shown = RequireEntry(container, names[0]);
    shown.name = EscapeControlCharacters(shown.name);
    PrintOut(WithUnixLineEnds(DescribeEntry(shown)) + L"\n");
    return c_exitSuccess;
}

int ExtractEntries(const MapContainer& container, const Arguments& arguments)
{
    const std::wstring& folder = arguments[0];
    std::vector<const ContainerEntry*> selected;
    for (size_t i = 1; i < arguments.size(); ++i)
        selected.push_back(&RequireEntry(container, arguments[i]));
    if (selected.empty())
        for (const auto& entry : container.entries)
            selected.push_back(&entry);
    const ExtractionNames names = PlanExtraction(selected);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        ThrowLastErrorFor(folder);
    for (size_t i = 0; i < selected.size(); ++i)
        ExtractEntry(container, *selected[i], folder + L"\\" + names.fileNames[i]);
    std::wstring text = std::to_wstring(selected.size()) + L" files extracted into " + folder;
    if (names.renamed != 0)
        text += L" (" + std::to_wstring(names.renamed) +
                L" renamed \"NAME (2).EXT\": their names differ from another's only in letter case)";
    PrintOut(text + L"\n");
    return c_exitSuccess;
}

std::wstring ZoomText(int index)
{
    return index >= 0 && index < c_zoomLevelCount ? ZoomLevelText(index) : L"(index " + std::to_wstring(index) + L")";
}

const wchar_t* const c_zoomRangeNames[] = {L"detail visible", L"base map invisible", L"names visible"};

std::wstring DescribeLayer(const LayerRecord& layer)
{
    std::wstring text = layer.Identifier() + L" (" + layer.tokens[c_layerFileToken] + L"): colour " +
                        layer.Colour() + L", style " + layer.Style() + L"; 16 colours: " +
                        layer.EffectiveColour4() + L", " + layer.EffectiveStyle4() + L"\n";
    for (int level = 0; level < c_detailLevelCount; ++level) {
        text += L"    " + Padded(DetailLevelName(level), 8, false);
        for (int range = 0; range < 3; ++range) {
            text += range == 0 ? L" " : L"; ";
            text += std::wstring(c_zoomRangeNames[range]) + L" " + ZoomText(layer.ZoomIndex(level, 2 * range)) +
                    L" to " + ZoomText(layer.ZoomIndex(level, 2 * range + 1));
        }
        text += L"\n";
    }
    return text;
}

int ListLayers(const MapContainer& container, const Arguments&)
{
    LayerConfiguration configuration;
    configuration.LoadLayerConfiguration(container);
    std::wstring text = L"Layers of " + configuration.ConfigName() + L" in drawing order:\n";
    for (size_t position = 0; position < configuration.VisibleCount(); ++position)
        text += std::to_wstring(position + 1) + L". " + DescribeLayer(configuration.VisibleLayer(position));
    PrintOut(text);
    return c_exitSuccess;
}

// One edit of "tervolin map edit", applied in command-line order.
using LayerEdit = std::function<void(LayerConfiguration&)>;

size_t RequireLayer(const LayerConfiguration& configuration, const std::wstring& identifier)
{
    const auto position = configuration.FindVisibleLayer(identifier);
    if (!position)
        throw RequestError{L"the map has no layer \"" + identifier + L"\" (see tervolin map layers)"};
    return *position;
}

// "ID=VALUE" split at its first '='.
std::pair<std::wstring, std::wstring> SplitAssignment(const std::wstring& option, const std::wstring& text)
{
    const size_t equals = text.find(L'=');
    if (equals == std::wstring::npos || equals == 0 || equals + 1 == text.size())
        throw UsageError{option + L" expects ID=VALUE, not \"" + text + L"\""};
    return {text.substr(0, equals), text.substr(equals + 1)};
}

std::optional<int> SmallNumber(const std::wstring& text, int limit)
{
    if (text.empty() || text.size() > 2 || text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return std::nullopt;
    const int value = std::stoi(text);
    return value < limit ? std::optional<int>(value) : std::nullopt;
}

const wchar_t* const c_zoomFieldNames[] = {L"detail-from",  L"detail-to", L"basemap-from",
                                           L"basemap-to", L"names-from", L"names-to"};

// LEVEL:FIELD=INDEX, LEVEL a detail level name or 0-4, FIELD a field name
// or 0-5, INDEX a zoom index 0-17.
ZoomChoices ParseZoomChoice(const std::wstring& text)
{
    const size_t colon = text.find(L':');
    const size_t equals = text.find(L'=', colon == std::wstring::npos ? 0 : colon);
    const auto fail = [&]() -> UsageError {
        return {L"--zoom expects ID=LEVEL:FIELD=INDEX (LEVEL Highest..Lowest or 0-4, FIELD detail-from, "
                L"detail-to, basemap-from, basemap-to, names-from, names-to or 0-5, INDEX 0-17), not \"" +
                text + L"\""};
    };
    if (colon == std::wstring::npos || equals == std::wstring::npos)
        throw fail();
    const std::wstring levelText = text.substr(0, colon);
    const std::wstring fieldText = text.substr(colon + 1, equals - colon - 1);
    std::optional<int> level = SmallNumber(levelText, c_detailLevelCount);
    for (int i = 0; i < c_detailLevelCount && !level; ++i)
        if (EqualsIgnoreCase(levelText, DetailLevelName(i)))
            level = i;
    std::optional<int> field = SmallNumber(fieldText, c_zoomFieldCount);
    for (int i = 0; i < c_zoomFieldCount && !field; ++i)
        if (EqualsIgnoreCase(fieldText, c_zoomFieldNames[i]))
            field = i;
    const std::optional<int> index = SmallNumber(text.substr(equals + 1), c_zoomLevelCount);
    if (!level || !field || !index)
        throw fail();
    return {{ZoomChoiceKey(*level, *field), *index}};
}

using NameLookup = const wchar_t* (*)(std::wstring_view) noexcept;

struct AppearanceOption
{
    const wchar_t* option;
    NameLookup lookup;
    const wchar_t* kind;
    std::optional<std::wstring> AppearanceChange::*field;
};

const AppearanceOption c_appearanceOptions[] = {
    {L"--color", FindColourName, L"colour", &AppearanceChange::colour},
    {L"--style", FindStyleName, L"style", &AppearanceChange::style},
    {L"--color16", FindColourName, L"colour", &AppearanceChange::colour4},
    {L"--style16", FindStyleName, L"style", &AppearanceChange::style4},
};

// Applies a property-sheet style edit to one layer and closes the "sheet".
LayerEdit SheetEdit(std::wstring identifier, std::function<void(LayerConfiguration&, size_t)> apply)
{
    return [identifier, apply](LayerConfiguration& configuration) {
        const size_t position = RequireLayer(configuration, identifier);
        apply(configuration, position);
        configuration.LayerSheetClosed({position});
    };
}

LayerEdit ParseEdit(const std::wstring& option, const std::wstring& value)
{
    if (option == L"--remove")
        return [value](LayerConfiguration& configuration) {
            configuration.RemoveLayers({RequireLayer(configuration, value)});
        };
    if (option == L"--up" || option == L"--down") {
        const bool up = option == L"--up";
        return [value, up](LayerConfiguration& configuration) {
            const size_t position = RequireLayer(configuration, value);
            if (up ? !configuration.CanMoveLayerUp(position) : !configuration.CanMoveLayerDown(position))
                throw RequestError{L"layer \"" + value + (up ? L"\" is drawn first" : L"\" is drawn last")};
            up ? configuration.MoveLayerUp(position) : configuration.MoveLayerDown(position);
        };
    }
    if (option == L"--zoom") {
        const auto [identifier, choice] = SplitAssignment(option, value);
        const ZoomChoices pending = ParseZoomChoice(choice);
        return SheetEdit(identifier, [pending](LayerConfiguration& configuration, size_t position) {
            configuration.ApplyZoomLevels({position}, pending);
        });
    }
    for (const auto& entry : c_appearanceOptions) {
        if (option != entry.option)
            continue;
        const auto [identifier, name] = SplitAssignment(option, value);
        const wchar_t* canonical = entry.lookup(name);
        if (!canonical)
            throw UsageError{L"unknown " + std::wstring(entry.kind) + L" name \"" + name + L"\""};
        AppearanceChange change;
        change.*entry.field = canonical;
        return SheetEdit(identifier, [change](LayerConfiguration& configuration, size_t position) {
            configuration.ApplyAppearance({position}, change);
        });
    }
    throw UsageError{L"unknown option \"" + option + L"\" (see tervolin map --help)"};
}

int EditLayers(const MapContainer& container, const Arguments& arguments)
{
    const std::wstring& destination = arguments[0];
    std::vector<LayerEdit> edits;
    for (size_t i = 1; i < arguments.size(); i += 2) {
        if (i + 1 >= arguments.size())
            throw UsageError{arguments[i] + L" needs a value"};
        edits.push_back(ParseEdit(arguments[i], arguments[i + 1]));
    }
    LayerConfiguration configuration;
    configuration.LoadLayerConfiguration(container);
    for (const auto& edit : edits)
        edit(configuration);
    configuration.SaveLayerConfiguration();
    const ContainerChanges changes = configuration.GetContainerChanges();
    WriteModifiedContainer(container, destination, changes.dropNames, changes.replacement);
    PrintOut(std::to_wstring(configuration.VisibleCount()) + L" layers written to " + destination + L"\n");
    return c_exitSuccess;
}

struct MapAction
{
    const wchar_t* name;
    size_t minimumArguments; // after MAP
    size_t maximumArguments;
    const wchar_t* usage;
    int (*run)(const MapContainer& container, const Arguments& arguments);
};

const MapAction c_actions[] = {
    {L"list", 0, 0, L"tervolin map list MAP                      the packed files and whether the check words verify",
     ListEntries},
    {L"describe", 1, 1, L"tervolin map describe MAP NAME             the description of one packed file",
     DescribeOneEntry},
    {L"extract", 1, SIZE_MAX, L"tervolin map extract MAP FOLDER [NAME...]  extract all packed files, or the named ones",
     ExtractEntries},
    {L"layers", 0, 0, L"tervolin map layers MAP                    the layers in drawing order with their settings",
     ListLayers},
    {L"edit", 1, SIZE_MAX, L"tervolin map edit MAP OUT [EDIT...]        write a new map with edited layers", EditLayers},
};

void PrintMapHelp()
{
    std::wstring text = L"Usage:\n";
    for (const auto& action : c_actions)
        text += L"  " + std::wstring(action.usage) + L"\n";
    text += L"\nEdits of 'map edit', applied in the order given; ID is a layer identifier:\n"
            L"  --remove ID  --up ID  --down ID\n"
            L"  --color ID=NAME  --style ID=NAME  --color16 ID=NAME  --style16 ID=NAME\n"
            L"  --zoom ID=LEVEL:FIELD=INDEX   LEVEL Highest, High, Medium, Low, Lowest (or 0-4);\n"
            L"        FIELD detail-from, detail-to, basemap-from, basemap-to, names-from, names-to (or 0-5);\n"
            L"        INDEX 0 (Any) to 17 (2,700 km)\n"
            L"\nThe source map is never changed. Unknown layers, colours or styles are refused before\n"
            L"anything is written; a map that fails while being written is deleted.\n";
    PrintOut(text);
}

int RunAction(const MapAction& action, const Arguments& arguments)
{
    const std::wstring& mapPath = arguments[1];
    return RunReportingFailure(mapPath, [&] {
        try {
            const Arguments rest(arguments.begin() + 2, arguments.end());
            MapContainer container;
            OpenContainer(container, mapPath);
            return action.run(container, rest);
        } catch (const UsageError& error) {
            PrintError(L"tervolin: " + error.message + L"\n");
            return c_exitUsage;
        } catch (const RequestError& error) {
            PrintError(L"tervolin: " + mapPath + L": " + error.message + L"\n");
            return c_exitFailure;
        }
    });
}

} // namespace

int RunMapCommand(const Arguments& arguments)
{
    if (arguments.empty() || arguments[0] == L"--help" || arguments[0] == L"-h") {
        PrintMapHelp();
        return arguments.empty() ? c_exitUsage : c_exitSuccess;
    }
    for (const auto& action : c_actions) {
        if (arguments[0] != action.name)
            continue;
        const size_t afterMap = arguments.size() < 2 ? 0 : arguments.size() - 2;
        if (arguments.size() < 2 || afterMap < action.minimumArguments || afterMap > action.maximumArguments) {
            PrintError(L"usage: " + std::wstring(action.usage) + L"\n");
            return c_exitUsage;
        }
        return RunAction(action, arguments);
    }
    PrintError(L"tervolin: unknown map action \"" + arguments[0] + L"\" (see tervolin map --help)\n");
    return c_exitUsage;
}
