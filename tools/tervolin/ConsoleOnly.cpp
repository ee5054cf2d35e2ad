#include "Console.h"

// The console host started without standard streams (detached) has nobody
// to tell.
void PrintWithoutConsole(bool, std::wstring_view) {}
