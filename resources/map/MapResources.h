// Resource ids of the map wizard's content pages and of the layer property
// sheet: dialog templates, their controls and strings. Satellite libraries
// translate the same ids.
#pragma once

// Content pages of CMapWizard and their header strings (title, line feed,
// subtitle).
#define IDD_MAP_SOURCE 224
#define IDD_MAP_CONTENTS 225
#define IDD_MAP_ACTION 226
#define IDD_MAP_LAYERS 227
#define IDD_MAP_DESTINATION 228
#define IDS_MAP_SOURCE_HEADER 108
#define IDS_MAP_CONTENTS_HEADER 109
#define IDS_MAP_ACTION_HEADER 110
#define IDS_MAP_LAYERS_HEADER 111
#define IDS_MAP_DESTINATION_HEADER 112

// CMapWizard::CSourcePage
#define IDC_MAP_SOURCE_PATH 215
#define IDC_MAP_SOURCE_BROWSE 216
#define IDC_MAP_NO_SOURCE 229
#define IDC_MAP_SOURCE_LABEL 230

// CMapWizard::CSourceContentsPage
#define IDC_MAP_CONTENTS 217
#define IDC_MAP_SELECT_ALL 218
#define IDC_MAP_SAVE_AS 216

// CMapWizard::CActionPage
#define IDC_MAP_ACTIONS 219

// CMapWizard::CLayersPage
#define IDC_MAP_LAYER_LIST 220
#define IDC_MAP_REMOVE 218
#define IDC_MAP_MOVE_UP 221
#define IDC_MAP_MOVE_DOWN 222
#define IDC_MAP_PROPERTIES 225

// CMapWizard::CDestinationPage
#define IDC_MAP_DESTINATION_PATH 223
#define IDC_MAP_DESTINATION_BROWSE 224

// CLayerPropertySheet: COptionsPage and CZoomLevelsPage. The zoom field f
// has the list IDC_LAYER_ZOOM_FIRST + f.
#define IDD_LAYER_OPTIONS 1342
#define IDD_LAYER_ZOOM_LEVELS 1349
#define IDC_LAYER_COLOUR 1175
#define IDC_LAYER_STYLE 1176
#define IDC_LAYER_COLOUR4 1177
#define IDC_LAYER_STYLE4 1178
#define IDC_LAYER_DETAIL_LEVELS 300
#define IDC_LAYER_ZOOM_FIRST 301

// File dialog filters, "|"-separated with a trailing "|".
#define IDS_MAP_FILTER_SOURCE 3600
#define IDS_MAP_FILTER_DESTINATION 3601
#define IDS_MAP_FILTER_ALL 3602

// List columns, items and prompts.
#define IDS_MAP_COLUMN_FILE_NAME 3603
#define IDS_MAP_COLUMN_OFFSET 3604
#define IDS_MAP_COLUMN_LENGTH 3605
#define IDS_MAP_COLUMN_ACTION 3606
#define IDS_MAP_COLUMN_DESCRIPTION 3607
#define IDS_MAP_COLUMN_LAYER 3608
#define IDS_MAP_ACTION_LAYERS 3609
#define IDS_MAP_ACTION_LAYERS_DESCRIPTION 3610
#define IDS_MAP_SAVE_MULTIPLE 3611

// Extraction messages: display name and path; count and folder.
#define IDS_MAP_SINGLE_FILE_SAVED 3612
#define IDS_MAP_MULTIPLE_FILES_SAVED 3613

// The layer property sheet's caption for one layer (its name), tabs,
// detail level names (one per line, Highest first) and the first zoom
// choice ("no limit").
#define IDS_LAYER_SHEET_CAPTION 3614
#define IDS_LAYER_OPTIONS_TAB 3615
#define IDS_LAYER_ZOOM_LEVELS_TAB 3616
#define IDS_LAYER_DETAIL_LEVELS 3617
#define IDS_LAYER_ZOOM_ANY 3618
// The caption for several layers (their count), the colour names (one per
// line, in the colour table's order) and the refusal of an inverted zoom
// range (layer, detail level, from, to).
#define IDS_LAYER_SHEET_CAPTION_SEVERAL 3619
#define IDS_LAYER_COLOUR_NAMES 3620
#define IDS_LAYER_ZOOM_INVERTED 3621
// The completion: the new map's path, layers removed, layers with changed
// properties; the sentence added when layers were moved.
#define IDS_MAP_COMPLETED 3622
#define IDS_MAP_COMPLETED_REORDERED 3623
// The contents list's info tip of a packed file: its name, its type's
// description when the extension is known, its place in the container.
#define IDS_MAP_ENTRY_NAME 3624
#define IDS_MAP_ENTRY_TYPE 3625
#define IDS_MAP_ENTRY_LOCATION 3626
#define IDS_MAP_TYPE_LAYER 3627
#define IDS_MAP_TYPE_CELL_LAYOUT 3628
#define IDS_MAP_TYPE_DICTIONARY 3629
#define IDS_MAP_TYPE_TABLES 3630
#define IDS_MAP_TYPE_MAP_INFORMATION 3631
#define IDS_MAP_TYPE_ICONS 3632
#define IDS_MAP_TYPE_EXTRA_TABLES 3633
// The style names, one per token of the style table: the name of the n-th
// token is IDS_LAYER_STYLE_FIRST + n (resources/map/LayerStyles.rc).
#define IDS_LAYER_STYLE_FIRST 3700
