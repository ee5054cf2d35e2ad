// tervolin.exe: the command-line host. Runs the conversions and map
// operations of Tervolin without a window, for scripts and batch work.
#include <windows.h>
#include <objbase.h>

#include "Commands.h"
#include "Console.h"

namespace {

struct Command
{
    const wchar_t* name;
    const wchar_t* summary;
    int (*run)(const Arguments& arguments);
};

const Command c_commands[] = {
    {L"convert", L"convert OziExplorer waypoints and tracks and KML placemarks into Magellan files", RunConvertCommand},
    {L"export", L"export Magellan waypoint files and track logs to GPX or KML", RunExportCommand},
    {L"language", L"choose the language of the wizards: de, en or the system's", RunLanguageCommand},
    {L"map", L"list, describe and extract Magellan map files, list and edit their layers", RunMapCommand},
    {L"nmea", L"print the events of the NMEA interpreter for a capture file or a serial port", RunNmeaCommand},
    {L"register", L"register the automation classes of Tervolin.dll", RunRegisterCommand},
    {L"unregister", L"remove the registration of Tervolin.dll", RunUnregisterCommand},
    {L"wizard", L"open a wizard of Tervolin.dll", RunWizardCommand},
};

void PrintHelp()
{
    std::wstring text = L"Usage: tervolin COMMAND [ARGUMENTS...]\n\nCommands:\n";
    for (const auto& command : c_commands) {
        text += L"  ";
        text += command.name;
        text.append(12 - std::min<size_t>(11, wcslen(command.name)), L' ');
        text += command.summary;
        text += L'\n';
    }
    text += L"\n'tervolin COMMAND --help' describes one command.\n";
    PrintOut(text);
}

// COM for the conversions that use OLE Automation, for the life of the command.
class ComApartment
{
public:
    ComApartment() : m_initialized(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment()
    {
        if (m_initialized)
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_initialized;
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || wcscmp(argv[1], L"--help") == 0 || wcscmp(argv[1], L"-h") == 0) {
        PrintHelp();
        return FinalExitCode(argc < 2 ? c_exitUsage : c_exitSuccess);
    }
    ComApartment apartment;
    const Arguments arguments(argv + 2, argv + argc);
    for (const auto& command : c_commands)
        if (wcscmp(argv[1], command.name) == 0)
            return FinalExitCode(command.run(arguments));
    PrintError(std::wstring(L"tervolin: unknown command \"") + argv[1] + L"\" (see tervolin --help)\n");
    return FinalExitCode(c_exitUsage);
}
