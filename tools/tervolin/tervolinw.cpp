// tervolinw.exe: the host's commands without a console window, for
// shortcuts and shell verbs ("tervolinw wizard track %1"). Its messages
// appear in a message box unless its output is redirected.
#include <windows.h>

#include <string>

#include "Console.h"

int wmain(int argc, wchar_t** argv);

void PrintWithoutConsole(bool isError, std::wstring_view text)
{
    const std::wstring message(text);
    MessageBoxW(nullptr, message.c_str(), L"Tervolin", MB_OK | (isError ? MB_ICONERROR : MB_ICONINFORMATION));
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    return wmain(__argc, __wargv);
}
