#include "import/KmlConversion.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <vector>

#include "ErrorStrings.h"
#include "base/CommaSeparated.h"
#include "base/ErrorText.h"
#include "base/Exception.h"
#include "base/OutputFiles.h"
#include "base/ResourceString.h"
#include "base/Text.h"
#include "import/KmlDocument.h"
#include "import/SentenceFile.h"

namespace {

constexpr size_t c_leastCoordinateFields = 2; // longitude, latitude; the altitude may be left out
constexpr wchar_t c_positionNoun[] = L"placemark"; // what failure positions count
constexpr wchar_t c_terminator[] = L"$PMGNCMD,END";
constexpr DWORD c_copyBlock = 64 * 1024;

std::wstring BuildPlacemarkSentence(const KmlPlacemark& placemark)
{
    if (!placemark.hasPoint)
        ThrowOwnFailure(KmlFailure::NoPoint);
    if (!placemark.hasCoordinates)
        ThrowOwnFailure(KmlFailure::NoCoordinates);
    const std::vector<std::wstring> fields = SplitCommaSeparated(placemark.coordinates);
    if (fields.size() < c_leastCoordinateFields)
        ThrowOwnFailure(KmlFailure::CoordinateFields);
    const double longitude = ParseNumberField(NumberField::Longitude, fields[0], ParseKmlCoordinate);
    const double latitude = ParseNumberField(NumberField::Latitude, fields[1], ParseKmlCoordinate);
    const double altitude =
        fields.size() > 2 ? ParseNumberField(NumberField::Altitude, fields[2], ParseKmlCoordinate) : 0.0;

    std::wstring sentence = L"$PMGNWPL,";
    sentence += FormatDegreeMinutes(2, latitude);
    sentence += latitude >= 0 ? L",N," : L",S,";
    sentence += FormatDegreeMinutes(3, longitude);
    sentence += longitude >= 0 ? L",E," : L",W,";
    sentence += FormatFixedPoint(L"%d", altitude);
    sentence += L",M,";
    sentence += SentenceFieldText(FlattenKmlText(placemark.name));
    sentence += L',';
    sentence += SentenceFieldText(FlattenKmlText(placemark.description));
    sentence += L",a";
    return sentence;
}

// Gives a placemark's failure the placemark's name, which is what people
// know it by: "Hut": no Point (...).
void NameFailingPlacemark(CAtlException& failure, const KmlPlacemark& placemark)
{
    const std::wstring name(TrimWhiteSpace(FlattenKmlText(placemark.name)));
    if (name.empty() || !failure.Detail().empty())
        return;
    const std::wstring words = DescribeResult(failure.m_hr, c_positionNoun);
    if (auto detail = TryFormatResourceString(IDS_FAILURE_KML_NAMED_PLACEMARK, {name, words}))
        failure.SetDetailIfUnknown(*detail);
}

ULONGLONG FilePosition(HANDLE file)
{
    LARGE_INTEGER position{};
    ThrowLastErrorIf(!SetFilePointerEx(file, {}, &position, FILE_CURRENT));
    return static_cast<ULONGLONG>(position.QuadPart);
}

void Truncate(HANDLE file)
{
    ThrowLastErrorIf(!SetFilePointerEx(file, {}, nullptr, FILE_BEGIN));
    ThrowLastErrorIf(!SetEndOfFile(file));
}

// The waypoint sentences of the placemarks in the order the file keeps
// them: the top container's own placemarks first, then those of each
// container inside it in the order the containers start (each container's
// own before those of the containers it holds, depth first). The top
// container's sentences go straight into the output as they are complete;
// the others wait in a scratch file, in runs of one container each, until
// the document is read, and are then copied in container order. What stays
// in memory is one entry per run, not per placemark.
//
// A placemark that fails does not stop the read: the failure kept is the
// one of the first placemark in the file's order, numbered by its place in
// the file (skipped placemarks count too), and raised by Finish, after
// any failure of the document itself.
class WaypointSentences final : public KmlPlacemarkSink
{
public:
    WaypointSentences(PendingFile& output, NonPointPlacemarks nonPoints) : m_output(output), m_nonPoints(nonPoints) {}

    // Drops everything taken so far.
    void Restart()
    {
        Truncate(m_output.Get());
        if (m_held)
            Truncate(m_held->Get());
        m_runs.clear();
        m_topPlacemarks = 0;
        m_failure.reset();
        m_counts = {};
    }

    // Raises the kept failure; else writes the waiting sentences and the
    // terminator and returns the counts.
    KmlImportCounts Finish()
    {
        if (m_failure) {
            m_failure->exception.SetPositionIfUnknown(static_cast<unsigned>(NumberOf(*m_failure)));
            throw m_failure->exception;
        }
        CopyHeldRuns();
        WriteTo(m_output, c_terminator, false);
        return m_counts;
    }

    void DocumentStarts() override { Restart(); }

    void Placemark(const KmlPlacemark& placemark) override
    {
        Count(placemark.container);
        if (m_nonPoints == NonPointPlacemarks::Skip && !placemark.hasPoint) {
            ++m_counts.skipped;
            return;
        }
        std::wstring sentence;
        try {
            sentence = BuildPlacemarkSentence(placemark);
        } catch (CAtlException& e) {
            KeepFailure(e, placemark);
            return;
        }
        if (placemark.container == 0)
            WriteTo(m_output, sentence, true);
        else
            WriteHeld(sentence);
        ++m_counts.written;
    }

private:
    struct Run
    {
        size_t container;
        ULONGLONG offset; // in the scratch file; the run ends where the next starts
        size_t placemarks;
    };

    struct Failure
    {
        size_t container;
        size_t index;
        CAtlException exception;
    };

    void WriteTo(PendingFile& file, std::wstring_view sentence, bool checksum)
    {
        try {
            WriteSentence(file.Get(), sentence, checksum);
        } catch (CAtlException& e) {
            e.SetPathIfUnknown(file.Destination());
            throw;
        }
    }

    void WriteHeld(std::wstring_view sentence)
    {
        try {
            WriteSentence(Held().Get(), sentence, true);
        } catch (CAtlException& e) {
            if (m_held) // a failure to create the file names its folder
                e.SetPathIfUnknown(m_held->Path());
            throw;
        }
    }

    TemporaryFile& Held()
    {
        if (!m_held)
            m_held.emplace();
        return *m_held;
    }

    // Counts the placemark in its container; one outside the top container
    // continues its container's run or starts a new one.
    void Count(size_t container)
    {
        if (container == 0) {
            ++m_topPlacemarks;
            return;
        }
        if (m_runs.empty() || m_runs.back().container != container)
            m_runs.push_back({container, FilePosition(Held().Get()), 0});
        ++m_runs.back().placemarks;
    }

    void KeepFailure(CAtlException& failure, const KmlPlacemark& placemark)
    {
        if (m_failure && std::pair(m_failure->container, m_failure->index) < std::pair(placemark.container, placemark.index))
            return;
        NameFailingPlacemark(failure, placemark);
        m_failure.emplace(Failure{placemark.container, placemark.index, failure});
    }

    // The 1-based number of the failing placemark in the file's order.
    size_t NumberOf(const Failure& failure) const
    {
        size_t before = failure.container == 0 ? 0 : m_topPlacemarks;
        for (const Run& run : m_runs)
            if (run.container < failure.container)
                before += run.placemarks;
        return before + failure.index + 1;
    }

    // Copies the runs of the scratch file into the output, ordered by their
    // container; the runs of one container keep their order.
    void CopyHeldRuns()
    {
        if (m_runs.empty())
            return;
        struct Piece
        {
            size_t container;
            ULONGLONG offset;
            ULONGLONG size;
        };
        std::vector<Piece> pieces;
        pieces.reserve(m_runs.size());
        const ULONGLONG heldEnd = FilePosition(m_held->Get());
        for (size_t i = 0; i < m_runs.size(); ++i) {
            const ULONGLONG end = i + 1 < m_runs.size() ? m_runs[i + 1].offset : heldEnd;
            pieces.push_back({m_runs[i].container, m_runs[i].offset, end - m_runs[i].offset});
        }
        std::stable_sort(pieces.begin(), pieces.end(),
                         [](const Piece& a, const Piece& b) { return a.container < b.container; });
        std::vector<char> block(c_copyBlock);
        for (const Piece& piece : pieces)
            CopyHeld(piece.offset, piece.size, block);
    }

    void CopyHeld(ULONGLONG offset, ULONGLONG size, std::vector<char>& block)
    {
        LARGE_INTEGER start;
        start.QuadPart = static_cast<LONGLONG>(offset);
        ThrowLastErrorIf(!SetFilePointerEx(m_held->Get(), start, nullptr, FILE_BEGIN));
        while (size > 0) {
            const DWORD piece = static_cast<DWORD>(std::min<ULONGLONG>(size, block.size()));
            DWORD read = 0;
            ThrowLastErrorIf(!ReadFile(m_held->Get(), block.data(), piece, &read, nullptr));
            if (read == 0)
                ThrowHr(HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
            try {
                WriteAll(m_output.Get(), block.data(), read);
            } catch (CAtlException& e) {
                e.SetPathIfUnknown(m_output.Destination());
                throw;
            }
            size -= read;
        }
    }

    PendingFile& m_output;
    const NonPointPlacemarks m_nonPoints;
    std::optional<TemporaryFile> m_held; // made for the first placemark outside the top container
    std::vector<Run> m_runs;
    size_t m_topPlacemarks = 0;
    std::optional<Failure> m_failure;
    KmlImportCounts m_counts;
};

// Reads the document into the sentences; raises noKml when it has no kml
// root element. Failures carry the location as their path.
KmlOutline ReadPlacemarks(const std::wstring& location, WaypointSentences& sentences, const KmlReadLimits& limits,
                          WORD noKml)
{
    try {
        const KmlOutline outline = ReadKmlDocument(location, sentences, limits);
        if (!outline.hasKml)
            ThrowOwnFailure(noKml);
        return outline;
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(location);
        throw;
    }
}

// The location the link names, seen from the linking document.
std::wstring LinkedLocation(const std::wstring& linkingLocation, const KmlNetworkLink& networkLink)
{
    try {
        return ResolveKmlHref(linkingLocation, networkLink.Href());
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(linkingLocation);
        throw;
    }
}

// Reads the Document at the linked location in place of the linking one.
void ReadLinkedPlacemarks(const std::wstring& location, WaypointSentences& sentences, const KmlReadLimits& limits)
{
    sentences.Restart();
    const KmlOutline outline = ReadPlacemarks(location, sentences, limits, KmlFailure::LinkedNoKml);
    if (outline.hasDocument)
        return;
    CAtlException failure(MakeOwnFailure(KmlFailure::LinkedNoDocument));
    failure.SetPathIfUnknown(location);
    throw failure;
}

} // namespace

double ParseKmlCoordinate(std::wstring_view text)
{
    const std::string plain = PlainDecimalText(text);
    double value = 0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value, std::chars_format::fixed);
    if (result.ec == std::errc())
        return value;
    // Out of range: too large, or too small to be told from zero.
    const bool tiny = plain.find_first_of("123456789") > plain.find('.');
    if (!tiny)
        ThrowHr(DISP_E_OVERFLOW);
    return plain.front() == '-' ? -0.0 : 0.0;
}

std::wstring FlattenKmlText(std::wstring_view text)
{
    std::wstring flat;
    flat.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'\r')
            continue;
        flat += c == L'\n' ? L' ' : c;
    }
    return flat;
}

KmlImportCounts ImportKmlPlacemarks(const std::wstring& sourceLocation, const std::wstring& destinationPath,
                                    NonPointPlacemarks nonPoints, const KmlReadLimits& limits)
{
    if (!IsHttpLocation(sourceLocation))
        ThrowIfSameFile(sourceLocation, destinationPath);
    PendingFile output(destinationPath);
    WaypointSentences sentences(output, nonPoints);
    const KmlOutline outline = ReadPlacemarks(sourceLocation, sentences, limits, KmlFailure::NoKml);
    // A Document with a network link is replaced by the one it names; no
    // document read is written over.
    std::wstring documentLocation = sourceLocation;
    if (outline.networkLink) {
        documentLocation = LinkedLocation(sourceLocation, *outline.networkLink);
        if (!IsHttpLocation(documentLocation))
            ThrowIfSameFile(documentLocation, destinationPath);
        ReadLinkedPlacemarks(documentLocation, sentences, limits);
    }
    KmlImportCounts counts;
    try {
        counts = sentences.Finish();
    } catch (CAtlException& e) {
        e.SetPathIfUnknown(documentLocation);
        throw;
    }
    output.Commit();
    return counts;
}
