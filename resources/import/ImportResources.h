// Resource ids of the import wizards' content pages: dialog templates,
// their controls and the pages' strings. Satellite libraries translate the
// same ids.
#pragma once

// CImportKmlWaypointsWizard::CLocationsPage
#define IDD_KML_LOCATIONS 1348
#define IDS_KML_LOCATIONS_HEADER 1348
#define IDC_KML_SOURCE 231
#define IDC_KML_SOURCE_BROWSE 232
#define IDC_KML_DESTINATION 233
#define IDC_KML_DESTINATION_BROWSE 234
#define IDC_KML_SOURCE_LABEL 235
#define IDC_KML_POINTS_ONLY 248

// CImportTrackWizard::CPagePaths
#define IDD_TRACK_PATHS 1345
#define IDS_TRACK_PATHS_HEADER 118
#define IDC_TRACK_TYPE 226
#define IDC_TRACK_INPUT 227
#define IDC_TRACK_INPUT_BROWSE 228
#define IDC_TRACK_OUTPUT 217
#define IDC_TRACK_OUTPUT_BROWSE 218

// CImportWaypointsWizard::CPagePaths
#define IDD_WAYPOINT_PATHS 1351
#define IDS_WAYPOINT_PATHS_HEADER 1351
#define IDC_WAYPOINT_TYPE 239
#define IDC_WAYPOINT_INPUT 240
#define IDC_WAYPOINT_INPUT_BROWSE 241
#define IDC_WAYPOINT_OUTPUT 242
#define IDC_WAYPOINT_OUTPUT_BROWSE 243

// The hint of each content page, shown while Next is disabled.
#define IDC_IMPORT_HINT 247

// File dialog filters, "|"-separated with a trailing "|".
#define IDS_FILTER_KML 3500
#define IDS_FILTER_WAYPOINT_FILES 3501
#define IDS_FILTER_TRACK_POINTS 3502
#define IDS_FILTER_TRACK_LOGS 3503
#define IDS_FILTER_OZI_WAYPOINTS 3504
#define IDS_FILTER_GPX 3508

// Input types of the CPagePaths combo boxes.
#define IDS_TRACK_TYPE_PLT 3505
#define IDS_WAYPOINT_TYPE_WPT 3506
#define IDS_INPUT_TYPE_GPX 3509

// The success message; %s is the destination path.
#define IDS_IMPORT_COMPLETE 3507

// The completion page's text: %1 the destination, %2 the count; a further
// line when placemarks were skipped (%1 their count).
#define IDS_IMPORT_RESULT_WAYPOINTS 3510
#define IDS_IMPORT_RESULT_TRACK_POINTS 3511
#define IDS_IMPORT_RESULT_SKIPPED 3512
