#include "ErrorText.h"

#include <windows.h>

#include <cwchar>

#include "base/Handle.h"
#include "import/OziConversion.h"

namespace {

struct OwnFailureText
{
    WORD check;
    const wchar_t* text;
};

const OwnFailureText c_ownFailureTexts[] = {
    {OziFailure::TrackTooShort, L"the track has no point after its six header lines"},
    {OziFailure::TrackDatum, L"the datum is not WGS 84"},
    {OziFailure::WaypointsTooShort, L"the file has no waypoint after its four header lines"},
    {OziFailure::WaypointsDatum, L"the datum is not WGS 84"},
    {OziFailure::AltitudeUnit, L"the altitude unit line is neither \"Altitude is in Feet\" nor \"Altitude is in Meters\""},
    {OziFailure::WaypointFields, L"a waypoint needs at least 4 fields (number, name, latitude, longitude)"},
    {OziFailure::TrackPointFields, L"a track point needs at least 5 fields (latitude, longitude, segment, altitude, date)"},
};

std::wstring SystemMessage(HRESULT hr)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer) {
        text.assign(buffer, length);
        LocalFree(buffer);
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                                 text.back() == L'.'))
            text.pop_back();
    }
    return text;
}

std::wstring HexCode(HRESULT hr)
{
    wchar_t buffer[16];
    std::swprintf(buffer, std::size(buffer), L"0x%08X", static_cast<unsigned>(hr));
    return buffer;
}

} // namespace

std::wstring DescribeResult(HRESULT hr)
{
    if (IsOwnFailure(hr)) {
        for (const auto& entry : c_ownFailureTexts)
            if (MakeOwnFailure(entry.check) == hr)
                return entry.text;
        return L"check failed (" + HexCode(hr) + L")";
    }
    std::wstring text = SystemMessage(hr);
    if (text.empty())
        return L"error " + HexCode(hr);
    return text + L" (" + HexCode(hr) + L")";
}

std::wstring DescribeFailure(const CAtlException& failure, const std::wstring& defaultPath,
                             const wchar_t* positionNoun)
{
    std::wstring line = failure.Path().empty() ? defaultPath : failure.Path();
    line += L": ";
    if (failure.Position() != 0) {
        line += positionNoun;
        line += L' ';
        line += std::to_wstring(failure.Position());
        line += L": ";
    }
    line += DescribeResult(failure.m_hr);
    return line;
}
