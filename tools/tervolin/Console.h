// Output of the command-line host: wide text to the console, or UTF-8
// when the stream is redirected to a file or pipe.
#pragma once

#include <string_view>

void PrintOut(std::wstring_view text);
void PrintError(std::wstring_view text);
