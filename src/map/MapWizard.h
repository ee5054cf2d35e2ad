// The map wizard: from a source map through its packed files and the choice
// of an action to editing the layers of its detail maps, and saving the
// modified map as a new file. The source map is never changed.
//
// Pages: introduction, source map, its contents (with extraction of packed
// files), action, layers, destination map, completion. The one action,
// editing the layers, has no page of its own: the layer page follows. The pages share the
// wizard's state below; the container and layer work is done by
// map/MapContainer.h and map/LayerConfiguration.h, so the pages only show
// their state and pass the user's choices on. Pages keep their state when
// the user goes back: the same source path (in any letter case) reloads
// nothing, another one reloads the contents and then the layers. The map is
// loaded by Next on the source page, so a file that is no map keeps the
// user there.
#pragma once

#include <string>
#include <vector>

#include "base/Handle.h"
#include "map/LayerConfiguration.h"
#include "map/MapContainer.h"
#include "ui/CommonPages.h"
#include "ui/DestinationField.h"
#include "ui/WizardPage.h"
#include "ui/WizardSheet.h"

#include <shldisp.h>

class CMapWizard : public CWizardSheet
{
public:
    CMapWizard();

    // The path the source page starts with (a shell verb on a map file).
    void SetInitialSource(std::wstring path) { m_sourcePath = std::move(path); }

private:
    class CSourcePage : public CWizardPage
    {
    public:
        explicit CSourcePage(CMapWizard& wizard);

    protected:
        BOOL OnInitDialog() override;
        LRESULT OnSetActive() override;
        LRESULT OnWizardNext() override;
        void OnCommand(WORD id, WORD code, HWND control) override;
        HWND InitialFocus() const override;

    private:
        void Update();
        void Browse();

        CMapWizard& m_wizard;
        ComPtr<IAutoComplete> m_completion;
    };

    class CSourceContentsPage : public CWizardPage
    {
    public:
        explicit CSourceContentsPage(CMapWizard& wizard);

    protected:
        BOOL OnInitDialog() override;
        LRESULT OnSetActive() override;
        void OnCommand(WORD id, WORD code, HWND control) override;
        std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
        HWND InitialFocus() const override;

    private:
        void Update();
        void Fill();
        void SaveSelected();
        void SaveOne(const ContainerEntry& entry);
        void SaveSeveral(const std::vector<const ContainerEntry*>& entries);
        void OnGetDisplayInfo(NMLVDISPINFOW& info);

        CMapWizard& m_wizard;
        std::wstring m_itemText;        // text handed to the list until its next request
        unsigned m_shownGeneration = 0; // the container generation the list shows
    };

    class CActionPage : public CWizardPage
    {
    public:
        explicit CActionPage(CMapWizard& wizard);

    protected:
        BOOL OnInitDialog() override;
        LRESULT OnSetActive() override;
        std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
        HWND InitialFocus() const override;

    private:
        void Update();

        CMapWizard& m_wizard;
    };

    class CLayersPage : public CWizardPage
    {
    public:
        explicit CLayersPage(CMapWizard& wizard);

    protected:
        BOOL OnInitDialog() override;
        LRESULT OnSetActive() override;
        LRESULT OnWizardNext() override;
        void OnCommand(WORD id, WORD code, HWND control) override;
        std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
        HWND InitialFocus() const override;

    private:
        // The list is rebuilt from the configuration after every change, so
        // an item's position is always the visible layer's position.
        void Fill(const std::vector<size_t>& selected);
        void Update();
        std::vector<size_t> Selected() const;
        void Remove();
        void Move(bool up);
        void ShowProperties();
        void FocusList() const;

        CMapWizard& m_wizard;
        bool m_filling = false;
    };

    class CDestinationPage : public CWizardPage
    {
    public:
        explicit CDestinationPage(CMapWizard& wizard);

    protected:
        BOOL OnInitDialog() override;
        LRESULT OnSetActive() override;
        LRESULT OnWizardNext() override;
        void OnCommand(WORD id, WORD code, HWND control) override;
        HWND InitialFocus() const override;

    private:
        void Update();
        void Browse();

        CMapWizard& m_wizard;
        ComPtr<IAutoComplete> m_completion;
        CDestinationField m_destinationField;
    };

    // Shared state, built before the pages that refer to it.
    std::wstring m_sourcePath;
    MapContainer m_container;
    LayerConfiguration m_layers;
    std::wstring m_destinationPath;

    CIntroductionPage m_introductionPage;
    CSourcePage m_sourcePage{*this};
    CSourceContentsPage m_contentsPage{*this};
    CActionPage m_actionPage{*this};
    CLayersPage m_layersPage{*this};
    CDestinationPage m_destinationPage{*this};
    CCompletionPage m_completionPage;
};
