// Ids of the module's string table (resources/Strings.rc). Satellite
// libraries translate the same ids.
#pragma once

#define IDS_INFORMATION 57088
#define IDS_ERROR 57090
#define IDS_CONFIRMATION 57091
