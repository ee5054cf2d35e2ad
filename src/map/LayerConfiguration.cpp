#include "map/LayerConfiguration.h"

#include <algorithm>
#include <climits>
#include <cwchar>

#include "base/CommaSeparated.h"
#include "base/Exception.h"
#include "base/Pattern.h"
#include "base/Text.h"
#include "map/LayerTables.h"

namespace {

constexpr wchar_t c_pointerFileName[] = L"ADD_MAPS.CFG";
// "1 00map.ini" and line ends: the captured group is the configuration name.
constexpr wchar_t c_pointerFilePattern[] = L"^[0-9]+ +{[[0-9a-z\\.\\_\\-]+} *\\n*$";

constexpr wchar_t c_layersSection[] = L"LAYERS";
constexpr wchar_t c_numberKey[] = L"NUMBER";
constexpr wchar_t c_drawOrderKey[] = L"ORDERDRAW";
constexpr wchar_t c_colours4Section[] = L"COLORS4BITS";
constexpr wchar_t c_colours4Key[] = L"LAY_COLOR";

constexpr int c_zoomTokenCount = c_detailLevelCount * c_zoomFieldCount;

// Tokens separated by one or more spaces; tabs do not separate.
std::vector<std::wstring> SplitAtSpaces(std::wstring_view text)
{
    std::vector<std::wstring> tokens;
    size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == L' ') {
            ++pos;
            continue;
        }
        const size_t end = std::min(text.find(L' ', pos), text.size());
        tokens.emplace_back(text.substr(pos, end - pos));
        pos = end;
    }
    return tokens;
}

std::wstring JoinWithSpaces(const std::vector<std::wstring>& tokens)
{
    std::wstring text;
    for (const auto& token : tokens) {
        if (!text.empty())
            text += L' ';
        text += token;
    }
    return text;
}

// A decimal integer with an optional minus sign and nothing else.
std::optional<int> ParseInteger(std::wstring_view text)
{
    const bool negative = !text.empty() && text.front() == L'-';
    if (negative)
        text.remove_prefix(1);
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    long long value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return std::nullopt;
        value = value * 10 + (c - L'0');
    }
    if (negative)
        value = -value;
    if (value < INT_MIN || value > INT_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

// Layer numbers are compared without sign: a negative one is out of range.
bool IsLayerNumberBelow(int number, size_t count)
{
    return static_cast<unsigned>(number) < count;
}

std::wstring ReadPointerFile(const MapContainer& container)
{
    const ContainerEntry* pointer = FindEntry(container, c_pointerFileName);
    if (!pointer)
        ThrowOwnFailure(LayerFailure::NoPointerFile);
    const std::vector<char> bytes = ReadEntryData(container, *pointer);
    const std::string_view text(bytes.data(), bytes.size());
    const std::wstring wide = AnsiToWide(text.substr(0, text.find('\0')));
    static const CPattern pattern(c_pointerFilePattern, true);
    std::vector<std::wstring_view> groups;
    if (!pattern.Match(wide, &groups))
        ThrowOwnFailure(LayerFailure::PointerFileSyntax);
    return std::wstring(groups[0]);
}

std::vector<LayerRecord> ReadLayerLines(const IniDocument& document)
{
    const int count = document.IntegerValue(c_layersSection, c_numberKey, 0);
    std::vector<LayerRecord> records;
    for (int number = 0; number < count; ++number) {
        LayerRecord record;
        record.number = number;
        record.line = document.Value(c_layersSection, std::to_wstring(number)).value_or(L"");
        record.tokens = SplitAtSpaces(record.line);
        if (record.tokens.size() < c_layerMinimumTokens)
            ThrowOwnFailure(LayerFailure::LayerLineTooShort);
        records.push_back(std::move(record));
    }
    return records;
}

// "K n colour style ..." gives layer n its 16-colour appearance, which marks
// it changed so that its line is rewritten on save.
void ReadColours4(const IniDocument& document, std::vector<LayerRecord>& records)
{
    const std::vector<std::wstring> tokens =
        SplitAtSpaces(document.Value(c_colours4Section, c_colours4Key).value_or(L""));
    if (tokens.empty())
        return;
    const auto count = ParseInteger(tokens[0]);
    if (!count)
        ThrowOwnFailure(LayerFailure::ColourCountNotNumber);
    const auto triples = static_cast<unsigned>(*count);
    if (triples == 0)
        return;
    if (tokens.size() < 3ull * triples + 1)
        ThrowOwnFailure(LayerFailure::ColourTooFewTokens);
    for (unsigned k = 0; k < triples; ++k) {
        const auto number = ParseInteger(tokens[3 * k + 1]);
        if (!number)
            ThrowOwnFailure(LayerFailure::ColourLayerNotNumber);
        if (!IsLayerNumberBelow(*number, records.size()))
            ThrowOwnFailure(LayerFailure::ColourLayerOutOfRange);
        LayerRecord& record = records[static_cast<size_t>(*number)];
        record.Assign(record.colour4, tokens[3 * k + 2]);
        record.Assign(record.style4, tokens[3 * k + 3]);
    }
}

// "7 10 11 8" (also "7,10,11,8"): one pair of spaces counts as one, every
// other space separates an item.
std::vector<std::wstring> SplitDrawOrder(std::wstring_view value)
{
    std::wstring text(TrimWhiteSpace(value));
    std::wstring single;
    for (size_t i = 0; i < text.size(); ++i) {
        single += text[i];
        if (text[i] == L' ' && i + 1 < text.size() && text[i + 1] == L' ')
            ++i;
    }
    std::replace(single.begin(), single.end(), L' ', L',');
    return SplitCommaSeparated(single);
}

// The records in drawing order. A layer named twice would be written back
// twice and another layer lost, so such an order is refused.
std::vector<LayerRecord> ArrangeInDrawOrder(const IniDocument& document, const std::vector<LayerRecord>& records)
{
    const int count = document.IntegerValue(c_layersSection, c_numberKey, 0);
    const std::vector<std::wstring> items =
        SplitDrawOrder(document.Value(c_layersSection, c_drawOrderKey).value_or(L""));
    if (count < 0 || items.size() != static_cast<size_t>(count))
        ThrowOwnFailure(LayerFailure::DrawOrderCount);
    std::vector<bool> used(records.size(), false);
    std::vector<LayerRecord> ordered;
    for (const auto& item : items) {
        const auto number = ParseInteger(item);
        if (!number)
            ThrowOwnFailure(LayerFailure::DrawOrderNotNumber);
        if (!IsLayerNumberBelow(*number, records.size()))
            ThrowOwnFailure(LayerFailure::DrawOrderOutOfRange);
        if (used[static_cast<size_t>(*number)])
            ThrowOwnFailure(LayerFailure::DrawOrderRepeated);
        used[static_cast<size_t>(*number)] = true;
        ordered.push_back(records[static_cast<size_t>(*number)]);
    }
    return ordered;
}

// "00fwy" or "00fwy.dat" with the extension replaced: "00fwy.LAY".
std::wstring WithExtension(const std::wstring& fileName, const wchar_t* extension)
{
    const size_t dot = fileName.rfind(L'.');
    return fileName.substr(0, dot) + extension;
}

void CheckZoomChoice(int key, int index)
{
    if (key < 0 || key >= c_zoomTokenCount || index < 0 || index >= c_zoomLevelCount)
        ThrowHr(E_INVALIDARG);
}

} // namespace

int LayerRecord::ZoomIndex(int level, int field) const
{
    const size_t token = c_layerFirstZoomToken + static_cast<size_t>(ZoomChoiceKey(level, field));
    if (token >= tokens.size())
        return 0;
    return ParseInteger(tokens[token]).value_or(0);
}

bool LayerRecord::Assign(std::wstring& field, std::wstring_view value)
{
    if (EqualsIgnoreCase(field, value))
        return false;
    field = value;
    changed = true;
    return true;
}

void LayerRecord::Edit(std::wstring& field, std::wstring_view value)
{
    edited = Assign(field, value) || edited;
}

LayerConfiguration::LayerConfiguration() = default;
LayerConfiguration::~LayerConfiguration() = default;

void LayerConfiguration::Clear() noexcept
{
    m_layers.clear();
    m_configName.clear();
    m_workFile.reset();
    m_document.reset();
    m_modified = false;
    m_reordered = false;
    m_generation.reset();
}

void LayerConfiguration::LoadLayerConfiguration(const MapContainer& container)
{
    if (m_generation == container.generation)
        return;
    Clear();
    const std::wstring configName = ReadPointerFile(container);
    const ContainerEntry* configEntry = FindEntry(container, configName);
    if (!configEntry)
        ThrowOwnFailure(LayerFailure::ConfigurationMissing);
    const std::vector<char> bytes = ReadEntryData(container, *configEntry);
    const std::string_view text(bytes.data(), bytes.size());
    auto workFile = std::make_unique<TemporaryFile>();
    workFile->Rewrite(text);
    auto document = std::make_unique<IniDocument>(text);
    std::vector<LayerRecord> records = ReadLayerLines(*document);
    ReadColours4(*document, records);
    m_layers = ArrangeInDrawOrder(*document, records);
    m_configName = configName;
    m_workFile = std::move(workFile);
    m_document = std::move(document);
    m_generation = container.generation;
}

size_t LayerConfiguration::RemovedCount() const noexcept
{
    return static_cast<size_t>(
        std::count_if(m_layers.begin(), m_layers.end(), [](const LayerRecord& record) { return record.removed; }));
}

size_t LayerConfiguration::VisibleCount() const noexcept
{
    return m_layers.size() - RemovedCount();
}

const LayerRecord& LayerConfiguration::VisibleLayer(size_t position) const
{
    if (position >= VisibleCount())
        ThrowHr(E_INVALIDARG);
    return m_layers[RemovedCount() + position];
}

LayerRecord& LayerConfiguration::VisibleRecord(size_t position)
{
    return const_cast<LayerRecord&>(std::as_const(*this).VisibleLayer(position));
}

std::optional<size_t> LayerConfiguration::FindVisibleLayer(std::wstring_view identifier) const
{
    for (size_t position = 0; position < VisibleCount(); ++position)
        if (EqualsIgnoreCase(VisibleLayer(position).Identifier(), identifier))
            return position;
    return std::nullopt;
}

void LayerConfiguration::RemoveLayers(const std::vector<size_t>& positions)
{
    std::vector<LayerRecord*> selected;
    for (const size_t position : positions)
        selected.push_back(&VisibleRecord(position));
    for (LayerRecord* record : selected)
        record->removed = true;
    std::stable_partition(m_layers.begin(), m_layers.end(), [](const LayerRecord& record) { return record.removed; });
    m_modified = true;
}

bool LayerConfiguration::CanMoveLayerUp(size_t position) const noexcept
{
    return position > 0 && position < VisibleCount();
}

bool LayerConfiguration::CanMoveLayerDown(size_t position) const noexcept
{
    return position + 1 < VisibleCount();
}

size_t LayerConfiguration::Swap(size_t position, size_t neighbour)
{
    std::swap(VisibleRecord(position), VisibleRecord(neighbour));
    m_modified = true;
    m_reordered = true;
    return neighbour;
}

LayerEditSummary LayerConfiguration::EditSummary() const
{
    LayerEditSummary summary;
    summary.removed = RemovedCount();
    summary.edited = static_cast<size_t>(std::count_if(m_layers.begin(), m_layers.end(), [](const LayerRecord& record) {
        return !record.removed && record.edited;
    }));
    summary.reordered = m_reordered;
    return summary;
}

size_t LayerConfiguration::MoveLayerUp(size_t position)
{
    if (!CanMoveLayerUp(position))
        ThrowHr(E_INVALIDARG);
    return Swap(position, position - 1);
}

size_t LayerConfiguration::MoveLayerDown(size_t position)
{
    if (!CanMoveLayerDown(position))
        ThrowHr(E_INVALIDARG);
    return Swap(position, position + 1);
}

void LayerConfiguration::ApplyAppearance(const std::vector<size_t>& positions, const AppearanceChange& change)
{
    for (const size_t position : positions) {
        LayerRecord& record = VisibleRecord(position);
        if (change.colour)
            record.Edit(record.tokens[c_layerColourToken], *change.colour);
        if (change.style)
            record.Edit(record.tokens[c_layerStyleToken], *change.style);
        if (change.colour4)
            record.Edit(record.colour4, *change.colour4);
        if (change.style4)
            record.Edit(record.style4, *change.style4);
    }
}

void LayerConfiguration::ApplyZoomLevels(const std::vector<size_t>& positions, const ZoomChoices& pending)
{
    for (const auto& [key, index] : pending)
        CheckZoomChoice(key, index);
    for (const size_t position : positions) {
        LayerRecord& record = VisibleRecord(position);
        for (const auto& [key, index] : pending)
            record.Edit(record.tokens[c_layerFirstZoomToken + static_cast<size_t>(key)], std::to_wstring(index));
    }
}

void LayerConfiguration::LayerSheetClosed(const std::vector<size_t>& positions)
{
    for (const size_t position : positions)
        if (VisibleLayer(position).changed)
            m_modified = true;
}

void LayerConfiguration::SaveLayerConfiguration()
{
    const size_t removed = RemovedCount();
    const size_t count = m_layers.size() - removed;
    if (count == 0 || !m_document)
        ThrowOwnFailure(LayerFailure::NoLayersLeft);

    std::vector<LayerRecord*> byNumber;
    for (size_t i = removed; i < m_layers.size(); ++i)
        byNumber.push_back(&m_layers[i]);
    std::stable_sort(byNumber.begin(), byNumber.end(),
                     [](const LayerRecord* a, const LayerRecord* b) { return a->number < b->number; });
    for (size_t i = 0; i < byNumber.size(); ++i)
        byNumber[i]->number = static_cast<int>(i);

    std::wstring drawOrder;
    std::wstring colours4 = std::to_wstring(count);
    for (size_t i = removed; i < m_layers.size(); ++i) {
        const LayerRecord& record = m_layers[i];
        if (!drawOrder.empty())
            drawOrder += L' ';
        drawOrder += std::to_wstring(record.number);
        colours4 += L' ' + std::to_wstring(record.number) + L' ' + record.EffectiveColour4() + L' ' +
                    record.EffectiveStyle4();
    }

    IniDocument& document = *m_document;
    document.SetValue(c_layersSection, c_numberKey, std::to_wstring(count));
    for (const LayerRecord* record : byNumber)
        document.SetValue(c_layersSection, std::to_wstring(record->number),
                          record->changed ? JoinWithSpaces(record->tokens) : record->line);
    for (size_t number = count; number < m_layers.size(); ++number)
        document.DeleteKey(c_layersSection, std::to_wstring(number));
    document.SetValue(c_layersSection, c_drawOrderKey, drawOrder);
    document.SetValue(c_colours4Section, c_colours4Key, colours4);
    m_workFile->Rewrite(document.Bytes());
}

ContainerChanges LayerConfiguration::GetContainerChanges() const
{
    ContainerChanges changes;
    if (!m_modified || !m_workFile)
        return changes;
    for (const LayerRecord& record : m_layers) {
        if (!record.removed)
            continue;
        changes.dropNames.push_back(WithExtension(record.tokens[c_layerFileToken], L".LAY"));
        changes.dropNames.push_back(WithExtension(record.tokens[c_layerFileToken], L".CLT"));
    }
    changes.replacement = ContainerReplacement{m_configName, m_workFile->Get()};
    return changes;
}
