// The three import wizards: introduction, one content page that converts,
// completion naming the file written and its count of points.
//
//   CImportKmlWaypointsWizard   KML placemarks (a file or an http(s) address) -> .upt
//   CImportTrackWizard          OziExplorer track points (.plt) or GPX track points -> track log (.log)
//   CImportWaypointsWizard      OziExplorer waypoints (.wpt) or GPX waypoints -> .upt
//
// Each is built as a local object by its entry point and run with DoModal.
#pragma once

#include <string>

#include "ui/CommonPages.h"
#include "import/ImportPage.h"
#include "ui/CommonPages.h"
#include "ui/WizardSheet.h"

class CImportKmlWaypointsWizard : public CWizardSheet
{
public:
    class CLocationsPage : public CImportPage
    {
    public:
        CLocationsPage(CWizardSheet& sheet, CCompletionPage& completion);
    };

    CImportKmlWaypointsWizard();
    // The location the source edit starts with.
    void SetInitialSource(std::wstring location) { m_locations.SetInitialSource(std::move(location)); }

private:
    CIntroductionPage m_introduction;
    CCompletionPage m_completion;
    CLocationsPage m_locations{*this, m_completion};
};

class CImportTrackWizard : public CWizardSheet
{
public:
    class CPagePaths : public CImportPage
    {
    public:
        CPagePaths(CWizardSheet& sheet, CCompletionPage& completion);
    };

    CImportTrackWizard();
    // The input path the page starts with.
    void SetInitialSource(std::wstring path) { m_paths.SetInitialSource(std::move(path)); }

private:
    CIntroductionPage m_introduction;
    CCompletionPage m_completion;
    CPagePaths m_paths{*this, m_completion};
};

class CImportWaypointsWizard : public CWizardSheet
{
public:
    class CPagePaths : public CImportPage
    {
    public:
        CPagePaths(CWizardSheet& sheet, CCompletionPage& completion);
    };

    CImportWaypointsWizard();
    void SetInitialSource(std::wstring path) { m_paths.SetInitialSource(std::move(path)); }

private:
    CIntroductionPage m_introduction;
    CCompletionPage m_completion;
    CPagePaths m_paths{*this, m_completion};
};
