// tervolin convert waypoints|track|kml|gpx [OPTIONS] IN OUT
#include <windows.h>

#include <cwchar>
#include <iterator>

#include "CommandBoundary.h"
#include "Commands.h"
#include "Console.h"
#include "base/ErrorText.h"
#include "base/OutputFiles.h"
#include "import/GpxConversion.h"
#include "import/KmlConversion.h"
#include "import/OziConversion.h"

namespace {

struct ConvertOptions
{
    bool pointsOnly = false;
    bool routes = false;
    bool quiet = false;
};

// Runs one conversion; returns the line that reports what was written, or
// nothing when the conversion does not count its output.
using Converter = std::wstring (*)(const std::wstring& input, const std::wstring& output,
                                   const ConvertOptions& options);

struct Conversion
{
    const wchar_t* kind;
    const wchar_t* usage;
    const wchar_t* positionNoun;
    const wchar_t* option;           // the one option of its own it takes, if any
    bool ConvertOptions::*optionFlag; // what that option sets
    Converter convert;
};

std::wstring ConvertOziWaypoints(const std::wstring& input, const std::wstring& output, const ConvertOptions&)
{
    ConvertWaypoints(input, output);
    return {};
}

std::wstring ConvertOziTrack(const std::wstring& input, const std::wstring& output, const ConvertOptions&)
{
    ConvertTrack(input, output);
    return {};
}

// "1 waypoint", "2 waypoints"
std::wstring Count(size_t count, const wchar_t* noun)
{
    return std::to_wstring(count) + L' ' + noun + (count == 1 ? L"" : L"s");
}

// Tests shorten the download limits with this variable: "SILENCE,OVERALL,
// MEGABYTES" (seconds, seconds, megabytes, each above 0). Anything else
// leaves the limits as they are.
constexpr wchar_t c_downloadLimitsVariable[] = L"TERVOLIN_DOWNLOAD_LIMITS";

DownloadLimits DownloadLimitsFromEnvironment()
{
    DownloadLimits limits;
    wchar_t text[64];
    const DWORD length = GetEnvironmentVariableW(c_downloadLimitsVariable, text, static_cast<DWORD>(std::size(text)));
    if (length == 0 || length >= std::size(text))
        return limits;
    unsigned long silence = 0;
    unsigned long overall = 0;
    unsigned long megabytes = 0;
    wchar_t rest = 0;
    if (std::swscanf(text, L"%lu,%lu,%lu%lc", &silence, &overall, &megabytes, &rest) == 3 && silence != 0 &&
        overall != 0 && megabytes != 0) {
        limits.silenceSeconds = silence;
        limits.overallSeconds = overall;
        limits.megabytes = megabytes;
    }
    return limits;
}

std::wstring ConvertKml(const std::wstring& input, const std::wstring& output, const ConvertOptions& options)
{
    const KmlImportCounts counts =
        ImportKmlPlacemarks(input, output, options.pointsOnly ? NonPointPlacemarks::Skip : NonPointPlacemarks::Refuse,
                            {DownloadLimitsFromEnvironment()});
    std::wstring line = L"tervolin: " + Count(counts.written, L"waypoint") + L" written to " + output;
    if (options.pointsOnly)
        line += L", " + Count(counts.skipped, L"placemark") + L" without a Point skipped";
    return line + L"\n";
}

std::wstring ConvertGpxFile(const std::wstring& input, const std::wstring& output, const ConvertOptions& options)
{
    const GpxConversionResult result = ConvertGpx(input, output, GpxOutputFor(output), options.routes, DownloadLimitsFromEnvironment());
    const wchar_t* noun = result.output == GpxOutput::TrackPoints ? L"track point" : L"waypoint";
    return L"tervolin: " + Count(result.written, noun) + L" written to " + output + L"\n";
}

const Conversion c_conversions[] = {
    {L"waypoints", L"tervolin convert waypoints IN.wpt OUT.upt   OziExplorer waypoints to a Magellan waypoint file",
     L"line", nullptr, nullptr, ConvertOziWaypoints},
    {L"track", L"tervolin convert track IN.plt OUT.log        OziExplorer track to a Magellan track log", L"line",
     nullptr, nullptr, ConvertOziTrack},
    {L"kml",
     L"tervolin convert kml [--points-only] LOCATION OUT.upt\n"
     L"                                             KML placemarks (a file, an http:// or https:// address)\n"
     L"                                             to a Magellan waypoint file",
     L"placemark", L"--points-only", &ConvertOptions::pointsOnly, ConvertKml},
    {L"gpx",
     L"tervolin convert gpx [--routes] LOCATION OUT.upt|OUT.log\n"
     L"                                             GPX (a file, an http:// or https:// address): waypoints\n"
     L"                                             to a Magellan waypoint file (.upt), track points to a\n"
     L"                                             Magellan track log (.log)",
     L"line", L"--routes", &ConvertOptions::routes, ConvertGpxFile},
};

// "... fails when the server sends nothing for 20 s, ..."
std::wstring DescribeDownloadLimits()
{
    const DownloadLimits limits;
    return L"\nA KML document at an http:// or https:// address goes straight into the conversion,\n"
           L"never into the Internet cache. Its download fails when the server sends nothing for " +
           std::to_wstring(limits.silenceSeconds) + L" s,\nwhen it takes longer than " +
           std::to_wstring(limits.overallSeconds) + L" s in all, after more than " +
           std::to_wstring(limits.redirects) + L" redirects, or beyond " + std::to_wstring(limits.megabytes) +
           L" MB.\n";
}

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
    text += DescribeDownloadLimits();
    text += L"\nOptions:\n"
            L"  --points-only   (kml) skip placemarks without a Point (lines, polygons) instead of failing\n"
            L"  --routes        (gpx) also write the route points (rtept) into the waypoint file\n"
            L"  --quiet         do not report on standard error how many points were written\n";
    PrintOut(text);
}

// Takes the options out of the arguments after the conversion's name;
// false for an option the conversion does not know.
bool TakeOptions(const Conversion& conversion, Arguments& arguments, ConvertOptions& options)
{
    Arguments rest;
    for (auto& argument : arguments) {
        if (argument == L"--quiet")
            options.quiet = true;
        else if (conversion.option && argument == conversion.option)
            options.*conversion.optionFlag = true;
        else if (argument.starts_with(L"--"))
            return false;
        else
            rest.push_back(std::move(argument));
    }
    arguments = std::move(rest);
    return true;
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
        Arguments paths(arguments.begin() + 1, arguments.end());
        ConvertOptions options;
        if (!TakeOptions(conversion, paths, options) || paths.size() != 2) {
            PrintError(std::wstring(L"usage: ") + conversion.usage + L"\n");
            return c_exitUsage;
        }
        const std::wstring& input = paths[0];
        const std::wstring& output = paths[1];
        // An unusable output is told in the wizards' words, before the
        // input is read.
        const int checked = RunReportingFailure({}, [&] {
            CheckOutputPath(input, output);
            return c_exitSuccess;
        });
        if (checked != c_exitSuccess)
            return checked;
        return RunReportingFailure(input, conversion.positionNoun, [&] {
            const std::wstring report = conversion.convert(input, output, options);
            if (!options.quiet && !report.empty())
                PrintError(report);
            return c_exitSuccess;
        });
    }
    PrintError(L"tervolin: unknown conversion \"" + arguments[0] + L"\" (see tervolin convert --help)\n");
    return c_exitUsage;
}
