// The layer property sheet: a modal property sheet centred over the map
// wizard that edits every layer selected on the wizard's layer page at
// once; its caption names the layer ("Lakes – Properties") or counts them
// ("3 layers – Properties"). Its Options page sets the colour (by name,
// with a swatch) and drawing style for full-colour and 16-colour screens,
// its Zoom Levels page the zoom ranges per detail level. A field shows the
// value all selected layers (and levels) share, and stays empty where they
// differ until the user chooses. OK and Apply write the user's choices
// through the layer configuration, as the file's own tokens; Cancel after an
// Apply keeps what was applied. A zoom range whose "from" lies beyond its
// "to" is refused with words, and a failure while applying is shown; the
// sheet then stays open on that page.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <optional>
#include <vector>

#include "map/LayerConfiguration.h"
#include "map/LayerSheetChoices.h"
#include "ui/PropertyPage.h"

class CLayerPropertySheet
{
public:
    // positions: the selected layers, in the order of the layer list.
    CLayerPropertySheet(LayerConfiguration& layers, std::vector<size_t> positions);

    // Runs the sheet until OK or Cancel closes it.
    INT_PTR DoModal(HWND parent);

private:
    // What both pages share besides the property page: the tab title, the
    // layers, and Apply, whose failure is shown and keeps the page.
    class CPage : public CPropertyPage
    {
    public:
        CPage(CLayerPropertySheet& sheet, UINT templateId, UINT tabTitleId);

    protected:
        // False keeps the page: the user has been told why.
        virtual bool Apply() = 0;
        // Notifications other than PSN_APPLY.
        virtual void OnOtherNotify(const NMHDR&) {}

        // Enables the sheet's Apply button.
        void Changed() const;
        const std::vector<const LayerRecord*>& Layers() const noexcept { return m_sheet.m_selection; }

        CLayerPropertySheet& m_sheet;

    private:
        std::optional<LRESULT> OnNotify(const NMHDR& header) final;

        std::wstring m_tabTitle;
    };

    class COptionsPage : public CPage
    {
    public:
        explicit COptionsPage(CLayerPropertySheet& sheet);

    protected:
        BOOL OnInitDialog() override;
        void OnCommand(WORD id, WORD code, HWND control) override;
        std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
        bool Apply() override;

    private:
        void FillList(int id, AppearanceList list);

        AppearanceChoices m_choices;
        bool m_filling = false;
    };

    class CZoomLevelsPage : public CPage
    {
    public:
        explicit CZoomLevelsPage(CLayerPropertySheet& sheet);

    protected:
        BOOL OnInitDialog() override;
        void OnCommand(WORD id, WORD code, HWND control) override;
        void OnOtherNotify(const NMHDR& header) override;
        bool Apply() override;

    private:
        std::vector<int> SelectedLevels() const;
        void ShowValues();
        void ShowInvertedRange(const InvertedZoomRange& range);

        ZoomLevelChoices m_choices;
        bool m_filling = false;
    };

    static int CALLBACK SheetCallback(HWND window, UINT message, LPARAM lParam);
    std::wstring Caption() const;

    LayerConfiguration& m_layers;
    std::vector<size_t> m_positions;
    std::vector<const LayerRecord*> m_selection; // the layers at m_positions
    COptionsPage m_optionsPage{*this};
    CZoomLevelsPage m_zoomLevelsPage{*this};
};
