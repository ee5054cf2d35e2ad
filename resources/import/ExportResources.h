// Resource ids of the export wizard: its pages, their controls and strings.
// Satellite libraries translate the same ids.
#pragma once

#define IDS_EXPORT_WIZARD_TITLE 1370
#define IDS_EXPORT_WIZARD_CANCEL 1371
#define IDD_EXPORT_INTRODUCTION 1372
#define IDD_EXPORT_COMPLETION 1373

// CExportWizard::CPagePaths
#define IDD_EXPORT_PATHS 1374
#define IDS_EXPORT_PATHS_HEADER 1374
#define IDC_EXPORT_SOURCE 260
#define IDC_EXPORT_SOURCE_BROWSE 261
#define IDC_EXPORT_FORMAT 262
#define IDC_EXPORT_DESTINATION 263
#define IDC_EXPORT_DESTINATION_BROWSE 264
#define IDC_EXPORT_HINT 265

// File dialog filters, "|"-separated with a trailing "|".
#define IDS_FILTER_SENTENCE_FILES 3520
#define IDS_FILTER_GPX_EXPORT 3521
#define IDS_FILTER_KML_EXPORT 3522

// The formats of the list, in the order of ExportFormat.
#define IDS_EXPORT_FORMAT_GPX 3523
#define IDS_EXPORT_FORMAT_KML 3524

// The completion page's text: %1 the destination, %2 the count; a further
// line when lines were skipped (%1 their count).
#define IDS_EXPORT_COMPLETE_WAYPOINTS 3525
#define IDS_EXPORT_COMPLETE_TRACK_POINTS 3526
#define IDS_EXPORT_COMPLETE_SKIPPED 3527
