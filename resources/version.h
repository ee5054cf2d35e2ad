// Product and file version shared by every binary of the project.
#pragma once

#define TERVOLIN_VERSION_MAJOR 1
#define TERVOLIN_VERSION_MINOR 0
#define TERVOLIN_VERSION_BUILD 0
#define TERVOLIN_VERSION_REVISION 0
#define TERVOLIN_VERSION_TEXT "1.0.0.0"

#define TERVOLIN_COMPANY_NAME "Norvask"
#define TERVOLIN_PRODUCT_NAME "Tervolin"
#define TERVOLIN_COPYRIGHT "Copyright (C) 2026 Norvask"
