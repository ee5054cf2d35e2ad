// The layer property sheet: a modal property sheet over the map wizard that
// edits every layer selected on the wizard's layer page at once. Its
// Options page sets the colour and drawing style for full-colour and
// 16-colour screens, its Zoom Levels page the zoom ranges per detail level.
// The first selected layer supplies every value shown; OK and Apply write
// the user's choices through the layer configuration, Cancel after an Apply
// keeps what was applied. A failure while applying is shown and the sheet
// stays open on that page.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <optional>
#include <vector>

#include "map/LayerConfiguration.h"
#include "map/LayerSheetChoices.h"

class CLayerPropertySheet
{
public:
    // positions: the selected layers, in the order of the layer list.
    CLayerPropertySheet(LayerConfiguration& layers, std::vector<size_t> positions);

    // Runs the sheet until OK or Cancel closes it.
    INT_PTR DoModal(HWND parent);

private:
    // What both pages share: the page structure with `this` in its lParam,
    // the dialog procedure with its exception guard, and Apply.
    class CPage
    {
    public:
        CPage(CLayerPropertySheet& sheet, UINT templateId, UINT tabTitleId);
        virtual ~CPage() = default;
        CPage(const CPage&) = delete;
        CPage& operator=(const CPage&) = delete;

        PROPSHEETPAGEW& PageStructure() noexcept { return m_page; }

    protected:
        virtual void OnInitDialog() = 0;
        virtual void OnCommand(WORD id, WORD code) = 0;
        virtual void OnNotify(const NMHDR&) {}
        virtual void Apply() = 0;

        HWND Item(int id) const noexcept { return GetDlgItem(m_window, id); }
        // Enables the sheet's Apply button.
        void Changed() const;
        const LayerRecord& FirstLayer() const;

        CLayerPropertySheet& m_sheet;

    private:
        static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
        std::optional<LRESULT> HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

        std::wstring m_tabTitle;
        PROPSHEETPAGEW m_page{};
        HWND m_window = nullptr;
    };

    class COptionsPage : public CPage
    {
    public:
        explicit COptionsPage(CLayerPropertySheet& sheet);

    protected:
        void OnInitDialog() override;
        void OnCommand(WORD id, WORD code) override;
        void Apply() override;

    private:
        AppearanceChoices m_choices;
        bool m_filling = false;
    };

    class CZoomLevelsPage : public CPage
    {
    public:
        explicit CZoomLevelsPage(CLayerPropertySheet& sheet);

    protected:
        void OnInitDialog() override;
        void OnCommand(WORD id, WORD code) override;
        void OnNotify(const NMHDR& header) override;
        void Apply() override;

    private:
        std::vector<int> SelectedLevels() const;
        void ShowValues();

        ZoomLevelChoices m_choices;
        bool m_filling = false;
    };

    LayerConfiguration& m_layers;
    std::vector<size_t> m_positions;
    COptionsPage m_optionsPage{*this};
    CZoomLevelsPage m_zoomLevelsPage{*this};
};
