#include "map/LayerSheetChoices.h"

#include "base/Exception.h"
#include "base/Text.h"
#include "map/LayerTables.h"

bool IsColourList(AppearanceList list) noexcept
{
    return list == APPEARANCELIST_COLOUR || list == APPEARANCELIST_COLOUR4;
}

namespace {

const std::wstring& LayerValue(const LayerRecord& layer, AppearanceList list)
{
    switch (list) {
    case APPEARANCELIST_COLOUR:
        return layer.Colour();
    case APPEARANCELIST_STYLE:
        return layer.Style();
    case APPEARANCELIST_COLOUR4:
        return layer.EffectiveColour4();
    case APPEARANCELIST_STYLE4:
        return layer.EffectiveStyle4();
    }
    ThrowHr(E_INVALIDARG);
}

constexpr std::optional<std::wstring> AppearanceChange::*c_changeFields[c_appearanceListCount] = {
    &AppearanceChange::colour, &AppearanceChange::style, &AppearanceChange::colour4, &AppearanceChange::style4};

} // namespace

std::span<const wchar_t* const> AppearanceNames(AppearanceList list) noexcept
{
    return IsColourList(list) ? ColourNames() : StyleNames();
}

std::optional<size_t> ShownAppearance(const LayerRecord& layer, AppearanceList list)
{
    const std::span<const wchar_t* const> names = AppearanceNames(list);
    const std::wstring& value = LayerValue(layer, list);
    for (size_t position = 0; position < names.size(); ++position)
        if (EqualsIgnoreCase(names[position], value))
            return position;
    return std::nullopt;
}

std::optional<size_t> SharedAppearance(LayerSelection layers, AppearanceList list)
{
    std::optional<size_t> shared;
    for (const LayerRecord* layer : layers) {
        const std::optional<size_t> shown = ShownAppearance(*layer, list);
        if (!shown || (shared && *shared != *shown))
            return std::nullopt;
        shared = shown;
    }
    return shared;
}

void AppearanceChoices::Choose(AppearanceList list, size_t position)
{
    if (position >= AppearanceNames(list).size())
        ThrowHr(E_INVALIDARG);
    m_chosen.at(static_cast<size_t>(list)) = position;
}

bool AppearanceChoices::HasChanges() const noexcept
{
    for (const auto& chosen : m_chosen)
        if (chosen)
            return true;
    return false;
}

AppearanceChange AppearanceChoices::TakeChange()
{
    AppearanceChange change;
    for (int list = 0; list < c_appearanceListCount; ++list) {
        auto& chosen = m_chosen[static_cast<size_t>(list)];
        if (chosen)
            change.*c_changeFields[list] = AppearanceNames(static_cast<AppearanceList>(list))[*chosen];
        chosen.reset();
    }
    return change;
}

void ZoomLevelChoices::Choose(const std::vector<int>& levels, int field, int index)
{
    if (field < 0 || field >= c_zoomFieldCount || index < 0 || index >= c_zoomLevelCount)
        ThrowHr(E_INVALIDARG);
    for (const int level : levels) {
        if (level < 0 || level >= c_detailLevelCount)
            ThrowHr(E_INVALIDARG);
        m_pending[ZoomChoiceKey(level, field)] = index;
    }
    m_changed = m_changed || !levels.empty();
}

int ZoomLevelChoices::Shown(const LayerRecord& layer, int level, int field) const
{
    const auto pending = m_pending.find(ZoomChoiceKey(level, field));
    return pending != m_pending.end() ? pending->second : layer.ZoomIndex(level, field);
}

int ZoomLevelChoices::Shared(LayerSelection layers, const std::vector<int>& levels, int field) const
{
    std::optional<int> shared;
    for (const LayerRecord* layer : layers) {
        for (const int level : levels) {
            const int shown = Shown(*layer, level, field);
            if (shared && *shared != shown)
                return -1;
            shared = shown;
        }
    }
    return shared.value_or(-1);
}

std::optional<InvertedZoomRange> ZoomLevelChoices::FindInvertedRange(LayerSelection layers) const
{
    for (const auto& [key, index] : m_pending) {
        const int level = key / c_zoomFieldCount;
        const int fromField = key % c_zoomFieldCount / 2 * 2;
        for (size_t layer = 0; layer < layers.size(); ++layer) {
            const int from = Shown(*layers[layer], level, fromField);
            const int to = Shown(*layers[layer], level, fromField + 1);
            // Zoom index 0 is "Any": no limit on that side.
            if (from > 0 && to > 0 && from > to)
                return InvertedZoomRange{layer, level, fromField, from, to};
        }
    }
    return std::nullopt;
}

const ZoomChoices& ZoomLevelChoices::TakePending() noexcept
{
    m_changed = false;
    return m_pending;
}
