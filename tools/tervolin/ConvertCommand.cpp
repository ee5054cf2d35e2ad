// tervolin convert waypoints|track IN OUT
#include <windows.h>

#include "Commands.h"
#include "Console.h"
#include "base/ErrorText.h"
#include "import/KmlConversion.h"
#include "import/OziConversion.h"

namespace {

struct Conversion
{
    const wchar_t* kind;
    const wchar_t* usage;
    const wchar_t* positionNoun;
    void (*convert)(const std::wstring& input, const std::wstring& output);
};

const Conversion c_conversions[] = {
    {L"waypoints", L"tervolin convert waypoints IN.wpt OUT.upt   OziExplorer waypoints to a Magellan waypoint file",
     L"line", ConvertWaypoints},
    {L"track", L"tervolin convert track IN.plt OUT.log        OziExplorer track to a Magellan track log", L"line",
     ConvertTrack},
    {L"kml", L"tervolin convert kml LOCATION OUT.upt       KML placemarks (a file or an http:// address) to a Magellan waypoint file",
     L"placemark", ImportKmlPlacemarks},
};

void PrintConvertHelp()
{
    std::wstring text = L"Usage:\n";
    for (const auto& conversion : c_conversions) {
        text += L"  ";
        text += conversion.usage;
        text += L'\n';
    }
    text += L"\nThe output is created or replaced; the input is never changed. A header that fails its\n"
            L"check leaves an existing output untouched. On failure the exit code is 1 and one line\n"
            L"on standard error names the file, the line and the problem.\n";
    PrintOut(text);
}

} // namespace

int RunConvertCommand(const Arguments& arguments)
{
    if (arguments.empty() || arguments[0] == L"--help" || arguments[0] == L"-h") {
        PrintConvertHelp();
        return arguments.empty() ? c_exitUsage : c_exitSuccess;
    }
    for (const auto& conversion : c_conversions) {
        if (arguments[0] != conversion.kind)
            continue;
        if (arguments.size() != 3) {
            PrintError(std::wstring(L"usage: ") + conversion.usage + L"\n");
            return c_exitUsage;
        }
        const std::wstring& input = arguments[1];
        const std::wstring& output = arguments[2];
        try {
            conversion.convert(input, output);
            return c_exitSuccess;
        } catch (const CAtlException& failure) {
            PrintError(L"tervolin: " + DescribeFailure(failure, input, conversion.positionNoun) + L"\n");
        } catch (...) {
            PrintError(L"tervolin: " + input + L": " + DescribeResult(ResultFromCaughtException()) + L"\n");
        }
        return c_exitFailure;
    }
    PrintError(L"tervolin: unknown conversion \"" + arguments[0] + L"\" (see tervolin convert --help)\n");
    return c_exitUsage;
}
