// What the two pages of the layer property sheet remember between the
// user's choices and Apply, free of windows.
//
// The Options page shows four lists (colour, style, 16-colour colour,
// 16-colour style), each set to the value the sheet's layers share and
// empty where their values differ; only the lists the user touched are
// applied, to every layer of the sheet, so layers keep their own differing
// values in the others.
//
// The Zoom Levels page shows six zoom lists for the selected detail levels,
// each empty where the layers' or levels' values differ. A choice made
// while several levels are selected is pending for each of them (key level
// x 6 + field); Apply writes every pending choice to every layer, and
// pending choices stay until the sheet closes. A range whose "from" lies
// beyond its "to" (neither of them "Any") is refused before it is written.
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

// Whether the list offers colours (else styles).
bool IsColourList(AppearanceList list) noexcept;

// The names a list offers, in table order: colours or styles.
std::span<const wchar_t* const> AppearanceNames(AppearanceList list) noexcept;

// The position in its list of the layer's value for that list (ignoring
// case), or nothing when the value is not one of the table's names.
std::optional<size_t> ShownAppearance(const LayerRecord& layer, AppearanceList list);

using LayerSelection = std::span<const LayerRecord* const>;

// The position the layers share in the list, or nothing when their values
// differ or are not table names.
std::optional<size_t> SharedAppearance(LayerSelection layers, AppearanceList list);

// A zoom range of one layer and detail level whose "from" field lies beyond
// its "to" field (the next one).
struct InvertedZoomRange
{
    size_t layer; // index into the selection
    int level;
    int fromField;
    int from;
    int to;
};

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

    // The index shown in a field's list while levels are selected: the one
    // every layer shows for every level, or -1 when they differ.
    int Shared(LayerSelection layers, const std::vector<int>& levels, int field) const;

    // The first range a pending choice makes inverted for one of the
    // layers, or nothing. Ranges no pending choice touches are the file's
    // own and pass as they are.
    std::optional<InvertedZoomRange> FindInvertedRange(LayerSelection layers) const;

    // Whether a choice was made since the page was shown or last applied.
    bool IsChanged() const noexcept { return m_changed; }

    // Every pending choice; clears the changed mark but keeps the choices.
    const ZoomChoices& TakePending() noexcept;

private:
    ZoomChoices m_pending;
    bool m_changed = false;
};
