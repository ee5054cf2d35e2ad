#include "Console.h"

#include <windows.h>

#include "base/Text.h"

namespace {

void Print(DWORD stream, std::wstring_view text)
{
    const HANDLE handle = GetStdHandle(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = WideToUtf8(text);
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace

void PrintOut(std::wstring_view text)
{
    Print(STD_OUTPUT_HANDLE, text);
}

void PrintError(std::wstring_view text)
{
    Print(STD_ERROR_HANDLE, text);
}
