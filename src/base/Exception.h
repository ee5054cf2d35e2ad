// The one exception type of the module and the helpers that raise it.
//
// Every failure inside the module travels as a CAtlException carrying an
// HRESULT. System failures use their HRESULT form (0x80070000 combined with
// the low 16 bits of the Win32 error); the module's own checks use the
// family 0xA765nnnn (severity error, customer bit, facility 0x765). At a
// boundary (COM member, entry point, window procedure, command-line host)
// ResultFromCaughtException, mostly through ResultOfCall, turns whatever was
// thrown into an HRESULT.
#pragma once

#include <windows.h>

#include <optional>
#include <source_location>
#include <string>
#include <type_traits>

// Builds an own failure code from the low word that identifies the check.
constexpr HRESULT MakeOwnFailure(WORD check) noexcept
{
    return static_cast<HRESULT>(0xA7650000u | check);
}

constexpr bool IsOwnFailure(HRESULT hr) noexcept
{
    return (static_cast<DWORD>(hr) & 0xFFFF0000u) == 0xA7650000u;
}

// 0x80070000 | low 16 bits of the error; an error of 0 stays 0.
constexpr HRESULT HResultFromWin32(DWORD error) noexcept
{
    return error == 0 ? S_OK : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

class CAtlException
{
public:
    explicit CAtlException(HRESULT hr,
                           std::source_location where = std::source_location::current()) noexcept
        : m_hr(hr), m_where(where)
    {
    }

    operator HRESULT() const noexcept { return m_hr; }

    // Where in the module the failure was raised (for diagnostics).
    const std::source_location& Where() const noexcept { return m_where; }

    // The 1-based item of the input being processed when the failure was
    // raised: a line of a text file, a placemark of a KML document; 0 when
    // the failure does not belong to one item.
    unsigned Position() const noexcept { return m_position; }
    void SetPositionIfUnknown(unsigned position) noexcept
    {
        if (m_position == 0)
            m_position = position;
    }

    // The file the failing operation worked on, when it is known.
    const std::wstring& Path() const noexcept { return m_path; }
    void SetPathIfUnknown(const std::wstring& path)
    {
        if (m_path.empty())
            m_path = path;
    }

    // Words that say more than the code alone: which field of the item and
    // what text it held ("the latitude '4x.5' is not a number"), or the XML
    // reader's own message with its line and column. Empty when the code's
    // words say it all; when set, messages show it instead of them.
    const std::wstring& Detail() const noexcept { return m_detail; }
    void SetDetailIfUnknown(const std::wstring& detail)
    {
        if (m_detail.empty())
            m_detail = detail;
    }

    HRESULT m_hr;

private:
    std::source_location m_where;
    unsigned m_position = 0;
    std::wstring m_path;
    std::wstring m_detail;
};

[[noreturn]] void ThrowHr(HRESULT hr, std::source_location where = std::source_location::current());

// Raises the HRESULT of a Win32 error. A failed call that left no error
// code (0) is raised as E_FAIL: a failure must never read as success.
[[noreturn]] void ThrowWin32(DWORD error, std::source_location where = std::source_location::current());

// Raises the HRESULT of GetLastError().
[[noreturn]] void ThrowLastError(std::source_location where = std::source_location::current());

// Raises the HRESULT of GetLastError() for a failed operation on a file.
[[noreturn]] void ThrowLastErrorFor(const std::wstring& path,
                                    std::source_location where = std::source_location::current());

inline void ThrowIfFailed(HRESULT hr, std::source_location where = std::source_location::current())
{
    if (FAILED(hr))
        ThrowHr(hr, where);
}

inline void ThrowLastErrorIf(bool failed, std::source_location where = std::source_location::current())
{
    if (failed)
        ThrowLastError(where);
}

[[noreturn]] inline void ThrowOwnFailure(WORD check, std::source_location where = std::source_location::current())
{
    ThrowHr(MakeOwnFailure(check), where);
}

// Raises an own failure that belongs to one item of the input (a line, a
// placemark), numbered from 1.
[[noreturn]] void ThrowOwnFailureAt(WORD check, unsigned position,
                                    std::source_location where = std::source_location::current());

// Call only inside a catch block: the HRESULT of the exception being handled.
// std::bad_alloc gives E_OUTOFMEMORY, any other exception E_UNEXPECTED.
HRESULT ResultFromCaughtException() noexcept;

// What a body returns as an HRESULT: its own, or S_OK for a body that
// returns nothing. Exceptions pass through.
template <typename Body>
HRESULT ResultOfBody(Body& body)
{
    if constexpr (std::is_void_v<decltype(body())>) {
        body();
        return S_OK;
    } else {
        return body();
    }
}

// The one guard of a COM member and of every other boundary that answers
// with an HRESULT: runs the body and returns its result; whatever escapes
// it becomes its HRESULT (ResultFromCaughtException). A body returning
// nothing gives S_OK.
template <typename Body>
HRESULT ResultOfCall(Body&& body) noexcept
{
    try {
        return ResultOfBody(body);
    } catch (...) {
        return ResultFromCaughtException();
    }
}

// The failure of an object that stays failed once it has failed, such as a
// stream that a reader may call again: Run runs a body as a boundary and
// keeps what escapes it whole (code, words, place); once it holds a
// failure, Run returns its HRESULT without running the body, and Raise
// throws it again for the caller that wants the words.
class StickyFailure
{
public:
    template <typename Body>
    HRESULT Run(Body&& body) noexcept
    {
        if (m_failure)
            return m_failure->m_hr;
        try {
            return ResultOfBody(body);
        } catch (const CAtlException& e) {
            m_failure.emplace(e);
        } catch (...) {
            m_failure.emplace(ResultFromCaughtException());
        }
        return m_failure->m_hr;
    }

    void Raise() const
    {
        if (m_failure)
            throw *m_failure;
    }

private:
    std::optional<CAtlException> m_failure;
};
