// Ids of the wizard framework's resources (resources/ui/Wizard.rc): the
// sheets' titles and questions, the introduction and completion pages of
// every wizard, the pictures and the About box. Satellite libraries
// translate the same ids.
#pragma once

// Sheet titles and cancel questions.
#define IDS_KML_WIZARD_TITLE 104
#define IDS_MAP_WIZARD_CANCEL 105
#define IDS_MAP_WIZARD_TITLE 107
#define IDS_IMPORT_WIZARD_CANCEL 115
#define IDS_TRACK_WIZARD_TITLE 117
#define IDS_WAYPOINTS_WIZARD_CANCEL 1352
#define IDS_WAYPOINTS_WIZARD_TITLE 1354

// Texts added at run time.
#define IDS_DONT_SHOW_AGAIN 1360
#define IDS_ABOUT_COMMAND 1361
#define IDS_REPLACE_EXISTING 1362
#define IDS_LEGAL_WARNING 113

// Pictures: the sheets' and About box's icon, the Wizard97 header picture
// and the watermark of the introduction and completion pages.
#define IDI_TERVOLIN 205
#define IDB_WIZARD_HEADER 206
#define IDB_WIZARD_WATERMARK 207

// Introduction and completion pages.
#define IDD_TRACK_INTRODUCTION 1343
#define IDD_TRACK_COMPLETION 1344
#define IDD_KML_INTRODUCTION 1346
#define IDD_KML_COMPLETION 1347
#define IDD_WAYPOINTS_INTRODUCTION 1350
#define IDD_WAYPOINTS_COMPLETION 1352
#define IDD_MAP_INTRODUCTION 218
#define IDD_MAP_COMPLETION 219

#define IDC_INTRODUCTION_TITLE 1118
#define IDC_SKIP_INTRODUCTION 246
#define IDC_COMPLETION_TITLE 245
#define IDC_COMPLETION_ICON 218
#define IDC_COMPLETION_TEXT 209
#define IDC_COMPLETION_HINT 1106
// Shows the file written selected in the file manager.
#define IDC_COMPLETION_OPEN_FOLDER 1107

// The About box.
#define IDD_ABOUT 201
#define IDC_ABOUT_ICON 230
#define IDC_ABOUT_PRODUCT 1006
#define IDC_ABOUT_PRODUCT_VERSION 1008
#define IDC_ABOUT_MODULE_VERSION 1007
#define IDC_ABOUT_WEB 202
#define IDC_ABOUT_EMAIL 1203
#define IDC_ABOUT_WARNING 204
