// tervolin export [--points] [--quiet] SOURCE DEST.gpx|DEST.kml
#include <windows.h>

#include "CommandBoundary.h"
#include "Commands.h"
#include "Console.h"
#include "base/ErrorText.h"
#include "import/SentenceExport.h"

namespace {

constexpr wchar_t c_usage[] = L"tervolin export [--points] [--quiet] SOURCE.upt|SOURCE.log DEST.gpx|DEST.kml";

struct ExportArguments
{
    ExportOptions options;
    bool quiet = false;
    Arguments paths;
};

void PrintExportHelp()
{
    PrintOut(std::wstring(L"Usage:\n  ") + c_usage +
             L"\n\nExports the waypoints of a Magellan waypoint file (.upt) or the track of a track log\n"
             L"(.log), as this product, the receiver or GPSBabel wrote it, to GPX 1.1 or KML 2.2; the\n"
             L"destination's extension chooses the format. The destination is created or replaced\n"
             L"only when the export succeeds; the source is never changed. Lines that are not\n"
             L"sentences of the file, sentences with a wrong checksum and track points without a\n"
             L"valid fix are skipped and counted on standard error. On failure the exit code is 1\n"
             L"and one line on standard error names the file, the line and the problem.\n"
             L"\nOptions:\n"
             L"  --points   (KML, track) the track's points as placemarks too, in a folder\n"
             L"  --quiet    do not report on standard error how many points were written\n");
}

bool TakeArguments(const Arguments& arguments, ExportArguments& result)
{
    for (const auto& argument : arguments) {
        if (argument == L"--points")
            result.options.kmlTrackPoints = true;
        else if (argument == L"--quiet")
            result.quiet = true;
        else if (argument.starts_with(L"--"))
            return false;
        else
            result.paths.push_back(argument);
    }
    return result.paths.size() == 2;
}

// "1 waypoint", "2 waypoints"
std::wstring Count(size_t count, const wchar_t* singular, const wchar_t* plural)
{
    return std::to_wstring(count) + L' ' + (count == 1 ? singular : plural);
}

// "tervolin: 3 lines skipped: 2 unknown lines, 1 sentence with a wrong checksum"
std::wstring SkippedReport(const SentenceSkips& skipped)
{
    struct Item
    {
        size_t count;
        const wchar_t* singular;
        const wchar_t* plural;
    };
    const Item items[] = {
        {skipped.unknownLines, L"line that is no sentence of the file", L"lines that are no sentences of the file"},
        {skipped.badChecksums, L"sentence with a wrong checksum", L"sentences with a wrong checksum"},
        {skipped.otherKind, L"point of the other kind (waypoint or track)",
         L"points of the other kind (waypoint or track)"},
        {skipped.invalidFixes, L"track point without a valid fix", L"track points without a valid fix"},
    };
    std::wstring report;
    for (const auto& item : items) {
        if (item.count == 0)
            continue;
        report += report.empty() ? L"tervolin: skipped " : L", ";
        report += Count(item.count, item.singular, item.plural);
    }
    return report.empty() ? report : report + L"\n";
}

std::wstring WrittenReport(const ExportCounts& counts, const std::wstring& destination)
{
    std::wstring what = counts.kind == SentenceKind::Waypoints
                            ? Count(counts.points, L"waypoint", L"waypoints")
                            : Count(counts.points, L"track point", L"track points") + L" in " +
                                  Count(counts.segments, L"segment", L"segments");
    return L"tervolin: " + what + L" written to " + destination + L"\n";
}

} // namespace

int RunExportCommand(const Arguments& arguments)
{
    if (arguments.empty() || arguments[0] == L"--help" || arguments[0] == L"-h") {
        PrintExportHelp();
        return arguments.empty() ? c_exitUsage : c_exitSuccess;
    }
    ExportArguments parsed;
    if (!TakeArguments(arguments, parsed)) {
        PrintError(std::wstring(L"usage: ") + c_usage + L"\n");
        return c_exitUsage;
    }
    const std::wstring& source = parsed.paths[0];
    const std::wstring& destination = parsed.paths[1];
    return RunReportingFailure(source, [&] {
        const ExportCounts counts = ExportSentenceFile(source, destination, parsed.options);
        PrintError(SkippedReport(counts.skipped));
        if (!parsed.quiet)
            PrintError(WrittenReport(counts, destination));
        return c_exitSuccess;
    });
}
