#include "import/ImportWizards.h"

#include "import/GpxConversion.h"
#include "import/ImportPageRules.h"
#include "import/ImportResources.h"
#include "import/KmlConversion.h"
#include "import/OziConversion.h"
#include "ui/WizardResources.h"

namespace {

ImportCounts ImportOziTrack(const std::wstring& source, const std::wstring& destination, const ImportOptions&)
{
    return {ConvertTrack(source, destination)};
}

ImportCounts ImportOziWaypoints(const std::wstring& source, const std::wstring& destination, const ImportOptions&)
{
    return {ConvertWaypoints(source, destination)};
}

// A placemark without a Point is refused, as the host does, unless the
// user ticked "Skip lines, areas and overlays".
ImportCounts ImportKmlWaypoints(const std::wstring& source, const std::wstring& destination,
                                const ImportOptions& options)
{
    const KmlImportCounts counts = ImportKmlPlacemarks(
        source, destination, options.pointsOnly ? NonPointPlacemarks::Skip : NonPointPlacemarks::Refuse);
    return {counts.written, counts.skipped};
}

// The wizards write what they are named for, whatever the destination's
// extension.
ImportCounts ConvertGpxTrack(const std::wstring& source, const std::wstring& destination, const ImportOptions&)
{
    return {ConvertGpx(source, destination, GpxOutput::TrackPoints).written};
}

ImportCounts ConvertGpxWaypoints(const std::wstring& source, const std::wstring& destination, const ImportOptions&)
{
    return {ConvertGpx(source, destination, GpxOutput::Waypoints).written};
}

const ImportInputType c_kmlTypes[] = {
    {0, L"kml", IDS_FILTER_KML, ImportKmlWaypoints, L"placemark"},
};

const ImportInputType c_trackTypes[] = {
    {IDS_TRACK_TYPE_PLT, L"plt", IDS_FILTER_TRACK_POINTS, ImportOziTrack, L"line"},
    {IDS_INPUT_TYPE_GPX, L"gpx", IDS_FILTER_GPX, ConvertGpxTrack, L"line"},
};

const ImportInputType c_waypointTypes[] = {
    {IDS_WAYPOINT_TYPE_WPT, L"wpt", IDS_FILTER_OZI_WAYPOINTS, ImportOziWaypoints, L"line"},
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
    IDC_KML_POINTS_ONLY,
    CanImportLocations,
    L"CImportKmlWaypointsWizard::CLocationsPage::ImportComplete",
    IDS_IMPORT_RESULT_WAYPOINTS,
    L"CImportKmlWaypointsWizard",
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
    0,
    CanConvertPaths,
    L"CImportTrackWizard::CPagePaths::ImportComplete",
    IDS_IMPORT_RESULT_TRACK_POINTS,
    L"CImportTrackWizard",
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
    0,
    CanConvertPaths,
    L"CImportWaypointsWizard::CPagePaths::ImportComplete",
    IDS_IMPORT_RESULT_WAYPOINTS,
    L"CImportWaypointsWizard",
};

} // namespace

CImportKmlWaypointsWizard::CLocationsPage::CLocationsPage(CWizardSheet& sheet, CCompletionPage& completion)
    : CImportPage(sheet, c_kmlLocations, completion)
{
}

CImportKmlWaypointsWizard::CImportKmlWaypointsWizard()
    : CWizardSheet(IDS_KML_WIZARD_TITLE, IDS_IMPORT_WIZARD_CANCEL),
      m_introduction(*this, IDD_KML_INTRODUCTION, L"CImportKmlWaypointsWizard::CIntroductionPage"),
      m_completion(*this, IDD_KML_COMPLETION)
{
    AddPages(m_introduction, m_locations, m_completion);
}

CImportTrackWizard::CPagePaths::CPagePaths(CWizardSheet& sheet, CCompletionPage& completion)
    : CImportPage(sheet, c_trackPaths, completion)
{
}

CImportTrackWizard::CImportTrackWizard()
    : CWizardSheet(IDS_TRACK_WIZARD_TITLE, IDS_IMPORT_WIZARD_CANCEL),
      m_introduction(*this, IDD_TRACK_INTRODUCTION, L"CImportTrackWizard::CIntroductionPage"),
      m_completion(*this, IDD_TRACK_COMPLETION)
{
    AddPages(m_introduction, m_paths, m_completion);
}

CImportWaypointsWizard::CPagePaths::CPagePaths(CWizardSheet& sheet, CCompletionPage& completion)
    : CImportPage(sheet, c_waypointPaths, completion)
{
}

CImportWaypointsWizard::CImportWaypointsWizard()
    : CWizardSheet(IDS_WAYPOINTS_WIZARD_TITLE, IDS_WAYPOINTS_WIZARD_CANCEL),
      m_introduction(*this, IDD_WAYPOINTS_INTRODUCTION, L"CImportWaypointsWizard::CIntroductionPage"),
      m_completion(*this, IDD_WAYPOINTS_COMPLETION)
{
    AddPages(m_introduction, m_paths, m_completion);
}
