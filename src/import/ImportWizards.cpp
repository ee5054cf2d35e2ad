#include "import/ImportWizards.h"

#include "import/GpxConversion.h"
#include "import/ImportPageRules.h"
#include "import/ImportResources.h"
#include "import/KmlConversion.h"
#include "import/OziConversion.h"
#include "ui/WizardResources.h"

namespace {

bool CanConvertInput(const std::wstring& input, const std::wstring&)
{
    return CanConvertPaths(input);
}

// The wizard refuses a placemark without a Point, as the host does unless
// told otherwise.
void ImportKmlWaypoints(const std::wstring& source, const std::wstring& destination)
{
    ImportKmlPlacemarks(source, destination);
}

// The wizards write what they are named for, whatever the destination's
// extension.
void ConvertGpxTrack(const std::wstring& source, const std::wstring& destination)
{
    ConvertGpx(source, destination, GpxOutput::TrackPoints);
}

void ConvertGpxWaypoints(const std::wstring& source, const std::wstring& destination)
{
    ConvertGpx(source, destination, GpxOutput::Waypoints);
}

const ImportInputType c_kmlTypes[] = {
    {0, L"kml", IDS_FILTER_KML, ImportKmlWaypoints, L"placemark"},
};

const ImportInputType c_trackTypes[] = {
    {IDS_TRACK_TYPE_PLT, L"plt", IDS_FILTER_TRACK_POINTS, ConvertTrack, L"line"},
    {IDS_INPUT_TYPE_GPX, L"gpx", IDS_FILTER_GPX, ConvertGpxTrack, L"line"},
};

const ImportInputType c_waypointTypes[] = {
    {IDS_WAYPOINT_TYPE_WPT, L"wpt", IDS_FILTER_OZI_WAYPOINTS, ConvertWaypoints, L"line"},
    {IDS_INPUT_TYPE_GPX, L"gpx", IDS_FILTER_GPX, ConvertGpxWaypoints, L"line"},
};

const ImportPageLayout c_kmlLocations = {
    IDD_KML_LOCATIONS,
    IDS_KML_LOCATIONS_HEADER,
    0,
    c_kmlTypes,
    IDC_KML_SOURCE_LABEL,
    IDC_KML_SOURCE,
    IDC_KML_SOURCE_BROWSE,
    {IDC_KML_DESTINATION, IDC_KML_DESTINATION_BROWSE, L"upt", IDS_FILTER_WAYPOINT_FILES},
    CanImportLocations,
    L"CImportKmlWaypointsWizard::CLocationsPage::ImportComplete",
};

const ImportPageLayout c_trackPaths = {
    IDD_TRACK_PATHS,
    IDS_TRACK_PATHS_HEADER,
    IDC_TRACK_TYPE,
    c_trackTypes,
    0,
    IDC_TRACK_INPUT,
    IDC_TRACK_INPUT_BROWSE,
    {IDC_TRACK_OUTPUT, IDC_TRACK_OUTPUT_BROWSE, L"log", IDS_FILTER_TRACK_LOGS},
    CanConvertInput,
    L"CImportTrackWizard::CPagePaths::ImportComplete",
};

const ImportPageLayout c_waypointPaths = {
    IDD_WAYPOINT_PATHS,
    IDS_WAYPOINT_PATHS_HEADER,
    IDC_WAYPOINT_TYPE,
    c_waypointTypes,
    0,
    IDC_WAYPOINT_INPUT,
    IDC_WAYPOINT_INPUT_BROWSE,
    {IDC_WAYPOINT_OUTPUT, IDC_WAYPOINT_OUTPUT_BROWSE, L"upt", IDS_FILTER_WAYPOINT_FILES},
    CanConvertInput,
    L"CImportWaypointsWizard::CPagePaths::ImportComplete",
};

void AddPages(CWizardSheet& sheet, std::initializer_list<CWizardPage*> pages)
{
    for (CWizardPage* page : pages)
        ThrowLastErrorIf(!sheet.AddPage(page->PageStructure()));
}

} // namespace

CImportKmlWaypointsWizard::CLocationsPage::CLocationsPage(CWizardSheet& sheet) : CImportPage(sheet, c_kmlLocations)
{
}

CImportKmlWaypointsWizard::CImportKmlWaypointsWizard()
    : CWizardSheet(IDS_KML_WIZARD_TITLE, IDS_IMPORT_WIZARD_CANCEL),
      m_introduction(*this, IDD_KML_INTRODUCTION, L"CImportKmlWaypointsWizard::CIntroductionPage"),
      m_completion(*this, IDD_KML_COMPLETION)
{
    AddPages(*this, {&m_introduction, &m_locations, &m_completion});
}

CImportTrackWizard::CPagePaths::CPagePaths(CWizardSheet& sheet) : CImportPage(sheet, c_trackPaths) {}

CImportTrackWizard::CImportTrackWizard()
    : CWizardSheet(IDS_TRACK_WIZARD_TITLE, IDS_IMPORT_WIZARD_CANCEL),
      m_introduction(*this, IDD_TRACK_INTRODUCTION, L"CImportTrackWizard::CIntroductionPage"),
      m_completion(*this, IDD_TRACK_COMPLETION)
{
    AddPages(*this, {&m_introduction, &m_paths, &m_completion});
}

CImportWaypointsWizard::CPagePaths::CPagePaths(CWizardSheet& sheet) : CImportPage(sheet, c_waypointPaths) {}

CImportWaypointsWizard::CImportWaypointsWizard()
    : CWizardSheet(IDS_WAYPOINTS_WIZARD_TITLE, IDS_WAYPOINTS_WIZARD_CANCEL),
      m_introduction(*this, IDD_WAYPOINTS_INTRODUCTION, L"CImportWaypointsWizard::CIntroductionPage"),
      m_completion(*this, IDD_WAYPOINTS_COMPLETION)
{
    AddPages(*this, {&m_introduction, &m_paths, &m_completion});
}
