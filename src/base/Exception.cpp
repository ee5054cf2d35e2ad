#include "base/Exception.h"

#include <exception>
#include <new>

void ThrowHr(HRESULT hr, std::source_location where)
{
    throw CAtlException(hr, where);
}

void ThrowWin32(DWORD error, std::source_location where)
{
    ThrowHr(error == 0 ? E_FAIL : HResultFromWin32(error), where);
}

void ThrowLastError(std::source_location where)
{
    ThrowWin32(GetLastError(), where);
}

void ThrowLastErrorFor(const std::wstring& path, std::source_location where)
{
    const DWORD error = GetLastError();
    CAtlException failure(error == 0 ? E_FAIL : HResultFromWin32(error), where);
    failure.SetPathIfUnknown(path);
    throw failure;
}

void ThrowOwnFailureAt(WORD check, unsigned position, std::source_location where)
{
    CAtlException failure(MakeOwnFailure(check), where);
    failure.SetPositionIfUnknown(position);
    throw failure;
}

HRESULT ResultFromCaughtException() noexcept
{
    try {
        throw;
    } catch (const CAtlException& e) {
        return e.m_hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
