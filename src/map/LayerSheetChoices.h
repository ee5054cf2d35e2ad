// What the two pages of the layer property sheet remember between the
// user's choices and Apply, free of windows.
//
// The Options page shows four lists (colour, style, 16-colour colour,
// 16-colour style) set to the first selected layer's values; only the lists
// the user touched are applied, to every layer of the sheet, so layers keep
// their own differing values in the others.
//
// The Zoom Levels page shows six zoom lists for the first selected detail
// level. A choice made while several levels are selected is pending for
// each of them (key level x 6 + field); Apply writes every pending choice
// to every layer, and pending choices stay until the sheet closes.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "map/LayerConfiguration.h"

enum AppearanceList
{
    APPEARANCELIST_COLOUR,
    APPEARANCELIST_STYLE,
    APPEARANCELIST_COLOUR4,
    APPEARANCELIST_STYLE4,
};
constexpr int c_appearanceListCount = 4;

// The names a list offers, in table order: colours or styles.
std::span<const wchar_t* const> AppearanceNames(AppearanceList list) noexcept;

// The position in its list of the layer's value for that list (ignoring
// case), or nothing when the value is not one of the table's names.
std::optional<size_t> ShownAppearance(const LayerRecord& layer, AppearanceList list);

class AppearanceChoices
{
public:
    // The user confirmed the name at position in a list.
    void Choose(AppearanceList list, size_t position);

    bool HasChanges() const noexcept;

    // The touched lists with their chosen names; forgets them, so that the
    // next Apply writes only what is touched after it.
    AppearanceChange TakeChange();

private:
    std::array<std::optional<size_t>, c_appearanceListCount> m_chosen;
};

class ZoomLevelChoices
{
public:
    // The user confirmed zoom index for one field while levels were selected.
    void Choose(const std::vector<int>& levels, int field, int index);

    // The index shown in a field's list while level is the first selected
    // one: its pending choice, else the layer's own token. May lie outside
    // the 18 choices for a hand-made file (the list then shows nothing).
    int Shown(const LayerRecord& layer, int level, int field) const;

    // Whether a choice was made since the page was shown or last applied.
    bool IsChanged() const noexcept { return m_changed; }

    // Every pending choice; clears the changed mark but keeps the choices.
    const ZoomChoices& TakePending() noexcept;

private:
    ZoomChoices m_pending;
    bool m_changed = false;
};
