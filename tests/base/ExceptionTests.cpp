#include "support/TestSupport.h"

#include <new>
#include <stdexcept>

TEST(Exception, Win32ErrorsTakeTheirHResultForm)
{
    struct Row
    {
        DWORD error;
        HRESULT expected;
    };
    const Row rows[] = {
        {0, S_OK},
        {ERROR_FILE_NOT_FOUND, static_cast<HRESULT>(0x80070002)},
        {ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005)},
        {0x12345678, static_cast<HRESULT>(0x80075678)}, // only the low 16 bits
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, HResultFromWin32(row.error)) << "error " << row.error;
}

TEST(Exception, OwnFailuresUseTheirFamily)
{
    EXPECT_EQ(static_cast<HRESULT>(0xA76500CE), MakeOwnFailure(0x00CE));
    EXPECT_TRUE(IsOwnFailure(MakeOwnFailure(0x0001)));
    EXPECT_FALSE(IsOwnFailure(E_FAIL));
    EXPECT_TRUE(FAILED(MakeOwnFailure(0)));
}

TEST(Exception, LastErrorOfZeroIsStillAFailure)
{
    SetLastError(0);
    EXPECT_EQ(E_FAIL, RaisedResult([] { ThrowLastError(); }));
    SetLastError(ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(HResultFromWin32(ERROR_PATH_NOT_FOUND), RaisedResult([] { ThrowLastError(); }));
}

TEST(Exception, ThrowLastErrorForCarriesThePath)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    try {
        ThrowLastErrorFor(L"C:\\x.wpt");
        FAIL() << "nothing was thrown";
    } catch (const CAtlException& e) {
        EXPECT_EQ(L"C:\\x.wpt", e.Path());
        EXPECT_EQ(0u, e.Position());
    }
}

TEST(Exception, PositionIsKeptFromTheInnermostFrame)
{
    try {
        try {
            ThrowOwnFailureAt(0x00DA, 7);
        } catch (CAtlException& e) {
            e.SetPositionIfUnknown(99);
            throw;
        }
    } catch (const CAtlException& e) {
        EXPECT_EQ(7u, e.Position());
        EXPECT_EQ(MakeOwnFailure(0x00DA), e.m_hr);
    }
}

TEST(Exception, BoundaryConvertsEveryExceptionType)
{
    auto resultOf = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return ResultFromCaughtException();
        }
        return S_OK;
    };
    EXPECT_EQ(E_ACCESSDENIED, resultOf([] { ThrowHr(E_ACCESSDENIED); }));
    EXPECT_EQ(E_OUTOFMEMORY, resultOf([] { throw std::bad_alloc(); }));
    EXPECT_EQ(E_UNEXPECTED, resultOf([] { throw std::runtime_error("x"); }));
    EXPECT_EQ(E_UNEXPECTED, resultOf([] { throw 42; }));
}
