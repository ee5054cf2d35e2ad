// The detail-map layers of a map container and the edits the map wizard's
// layer page and layer property sheet offer.
//
// A packed file ADD_MAPS.CFG names the layer configuration ("1 00map.ini"),
// an INI-style file packed in the same container:
//
//   [LAYERS]
//   NUMBER=3
//   0=00_Freeways 00fwy 20 1 0 0 7 0 7 ... 0 5 BLACK US_INTERSTATE_HW_LINE
//   ORDERDRAW=2 0 1
//   [COLORS4BITS]
//   LAY_COLOR=1 0 RED SOLID_FILL
//
// A layer line holds at least 37 tokens separated by spaces: identifier,
// file name (with .LAY and .CLT the two packed files of the layer), three
// kept tokens, 5 x 6 zoom level indices (tokens 5 + 6 x level + field),
// colour and style; later tokens are kept. ORDERDRAW lists the keys in
// drawing order; LAY_COLOR holds a count and per layer a triple of key,
// 16-colour colour and 16-colour style.
//
// The configuration is edited in a private temporary copy (the work file);
// the source container is never touched. GetContainerChanges tells the
// container writer which packed files to leave out and which to replace.
//
// How the pages use it: the layer page calls LoadLayerConfiguration when it
// becomes active and then shows VisibleLayer(0 ... VisibleCount() - 1) by
// Identifier(); its buttons call RemoveLayers, MoveLayerUp and MoveLayerDown
// with positions in that visible list and show the list again; the property
// sheet reads the first selected layer, calls ApplyAppearance and
// ApplyZoomLevels on Apply and LayerSheetClosed when it closes; Next calls
// SaveLayerConfiguration. Failures are raised as CAtlException.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/FailureCodes.h"
#include "base/Handle.h"
#include "base/OutputFiles.h"
#include "map/IniDocument.h"
#include "map/MapContainer.h"

constexpr size_t c_layerMinimumTokens = 37;
constexpr size_t c_layerIdentifierToken = 0;
constexpr size_t c_layerFileToken = 1;
constexpr size_t c_layerFirstZoomToken = 5;
constexpr size_t c_layerColourToken = 35;
constexpr size_t c_layerStyleToken = 36;

struct LayerRecord
{
    int number = 0;                  // key in [LAYERS]; renumbered on every save
    std::wstring line;               // the line as read
    std::vector<std::wstring> tokens; // the line split at spaces
    std::wstring colour4;            // 16-colour colour; empty: token 35 applies
    std::wstring style4;             // 16-colour style; empty: token 36 applies
    bool removed = false;
    bool changed = false;            // the line is rebuilt from the tokens on save
    bool edited = false;             // the property sheet changed a value

    const std::wstring& Identifier() const { return tokens[c_layerIdentifierToken]; }
    const std::wstring& Colour() const { return tokens[c_layerColourToken]; }
    const std::wstring& Style() const { return tokens[c_layerStyleToken]; }
    const std::wstring& EffectiveColour4() const { return colour4.empty() ? Colour() : colour4; }
    const std::wstring& EffectiveStyle4() const { return style4.empty() ? Style() : style4; }

    // The zoom index of one field of one detail level; 0 for a token that
    // is not a number. May lie outside 0 ... 17 in a hand-made file.
    int ZoomIndex(int level, int field) const;

    // Gives field the value and sets changed, unless the value equals the
    // one held ignoring case, in which case nothing changes; whether it
    // changed.
    bool Assign(std::wstring& field, std::wstring_view value);

    // The same for the property sheet's choices; also sets edited.
    void Edit(std::wstring& field, std::wstring_view value);
};

// The fields of the property sheet's Options page that the user changed;
// the others keep each layer's own value.
struct AppearanceChange
{
    std::optional<std::wstring> colour;
    std::optional<std::wstring> style;
    std::optional<std::wstring> colour4;
    std::optional<std::wstring> style4;
};

// Pending zoom choices: key level x 6 + field, value the zoom index.
using ZoomChoices = std::map<int, int>;

constexpr int ZoomChoiceKey(int level, int field) noexcept
{
    return level * 6 + field;
}

// What the user's edits amount to: layers removed, layers left whose
// properties the sheet changed, and whether any layer was moved.
struct LayerEditSummary
{
    size_t removed = 0;
    size_t edited = 0;
    bool reordered = false;
};

struct ContainerChanges
{
    std::vector<std::wstring> dropNames;
    std::optional<ContainerReplacement> replacement;
};

class LayerConfiguration
{
public:
    LayerConfiguration();
    ~LayerConfiguration();
    LayerConfiguration(const LayerConfiguration&) = delete;
    LayerConfiguration& operator=(const LayerConfiguration&) = delete;

    // Reads the layers of the container unless they were read for its
    // current generation already (so edits survive moving between pages).
    // A failure leaves the configuration empty and is raised.
    void LoadLayerConfiguration(const MapContainer& container);

    // The layers not removed, in drawing order.
    size_t VisibleCount() const noexcept;
    const LayerRecord& VisibleLayer(size_t position) const;

    // Position of the first visible layer with that identifier (ignoring
    // case), or nothing.
    std::optional<size_t> FindVisibleLayer(std::wstring_view identifier) const;

    void RemoveLayers(const std::vector<size_t>& positions);
    bool CanMoveLayerUp(size_t position) const noexcept;
    bool CanMoveLayerDown(size_t position) const noexcept;
    // Swap the layer with its visible neighbour; return its new position.
    size_t MoveLayerUp(size_t position);
    size_t MoveLayerDown(size_t position);

    void ApplyAppearance(const std::vector<size_t>& positions, const AppearanceChange& change);
    void ApplyZoomLevels(const std::vector<size_t>& positions, const ZoomChoices& pending);
    // After the property sheet closed, by OK or Cancel: a changed layer
    // among those it showed makes the configuration modified.
    void LayerSheetClosed(const std::vector<size_t>& positions);

    // Renumbers the remaining layers and writes them, the drawing order and
    // the 16-colour appearance into the work file.
    void SaveLayerConfiguration();

    // The packed files of removed layers to leave out and the work file to
    // replace the configuration with; both empty while nothing was edited.
    ContainerChanges GetContainerChanges() const;

    bool IsModified() const noexcept { return m_modified; }
    LayerEditSummary EditSummary() const;
    const std::wstring& ConfigName() const noexcept { return m_configName; }

private:
    void Clear() noexcept;
    size_t RemovedCount() const noexcept;
    LayerRecord& VisibleRecord(size_t position);
    size_t Swap(size_t position, size_t neighbour);

    std::wstring m_configName;
    std::unique_ptr<TemporaryFile> m_workFile;
    std::unique_ptr<IniDocument> m_document;
    std::vector<LayerRecord> m_layers; // removed ones first, then drawing order
    std::optional<unsigned> m_generation;
    bool m_modified = false;
    bool m_reordered = false;
};
