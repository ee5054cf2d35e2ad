// The export wizard: introduction, one content page that exports a
// Magellan waypoint file (.upt) or track log (.log) to GPX or KML, and a
// completion page that names the file written and its count of points.
//
// Built as a local object by its entry point and run with DoModal.
#pragma once

#include <windows.h>
#include <shldisp.h>

#include <string>

#include "base/Handle.h"
#include "ui/CommonPages.h"
#include "import/SentenceExport.h"
#include "ui/DestinationField.h"
#include "ui/WizardPage.h"
#include "ui/WizardSheet.h"

class CExportWizard : public CWizardSheet
{
public:
    // The source edit with its Browse button (which starts on a removable
    // drive holding eXplorist files when the edit is empty), the format list
    // (GPX, KML) whose choice sets the destination's extension, and the
    // destination edit with its Browse button. The focus and the buttons
    // follow the import pages' rules (import/ImportPage.h). Next takes the
    // destination through CDestinationField and exports.
    class CPagePaths : public CWizardPage
    {
    public:
        explicit CPagePaths(CExportWizard& wizard);
        void SetInitialSource(std::wstring source) { m_source = std::move(source); }

    protected:
        BOOL OnInitDialog() override;
        LRESULT OnSetActive() override;
        LRESULT OnWizardNext() override;
        void OnCommand(WORD id, WORD code, HWND control) override;
        HWND InitialFocus() const override;

    private:
        std::wstring EditText(int id) const;
        ExportFormat SelectedFormat() const;
        bool IsComplete() const;
        void UpdateButtons() const;
        void FollowFormat();
        void BrowseSource();
        void BrowseDestination();

        CExportWizard& m_wizard;
        bool m_initializing = false;
        std::wstring m_source;
        ComPtr<IAutoComplete> m_sourceCompletion;
        ComPtr<IAutoComplete> m_destinationCompletion;
        CDestinationField m_destinationField;
    };

    CExportWizard();
    // The source path the page starts with.
    void SetInitialSource(std::wstring path) { m_paths.SetInitialSource(std::move(path)); }

private:
    CIntroductionPage m_introduction;
    CPagePaths m_paths{*this};
    CCompletionPage m_completion;
};
