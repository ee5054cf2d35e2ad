#include "support/TestSupport.h"

#include "base/Handle.h"

namespace {

// Counts closes of fake handles.
struct CountingTraits
{
    using Type = int;
    static int closes;
    static int lastClosed;
    static Type Invalid() noexcept { return -1; }
    static void Close(Type h) noexcept
    {
        ++closes;
        lastClosed = h;
        SetLastError(ERROR_INVALID_HANDLE); // a close that disturbs the last error
    }
};
int CountingTraits::closes = 0;
int CountingTraits::lastClosed = 0;

using UniqueCounting = UniqueAny<CountingTraits>;

} // namespace

TEST(Handle, ClosesExactlyOnceThroughMovesAndResets)
{
    CountingTraits::closes = 0;
    {
        UniqueCounting a(5);
        UniqueCounting b(std::move(a));
        EXPECT_FALSE(a.IsValid());
        UniqueCounting c;
        c = std::move(b);
        EXPECT_EQ(0, CountingTraits::closes);
        c.Reset(6);
        EXPECT_EQ(1, CountingTraits::closes);
        EXPECT_EQ(5, CountingTraits::lastClosed);
    }
    EXPECT_EQ(2, CountingTraits::closes);
    EXPECT_EQ(6, CountingTraits::lastClosed);
}

TEST(Handle, ReleaseGivesUpOwnership)
{
    CountingTraits::closes = 0;
    {
        UniqueCounting a(3);
        EXPECT_EQ(3, a.Release());
    }
    EXPECT_EQ(0, CountingTraits::closes);
}

TEST(Handle, ResetKeepsTheLastError)
{
    UniqueCounting a(1);
    SetLastError(ERROR_SHARING_VIOLATION);
    a.Reset();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
}

TEST(Handle, FileGuardTreatsInvalidHandleValueAsEmpty)
{
    UniqueHFile missing(CreateFileW(L"Z:\\no\\such\\file\\here", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(event);
}

TEST(Handle, ScopeExitRunsUnlessDismissed)
{
    int runs = 0;
    {
        ScopeExit a([&] { ++runs; });
    }
    {
        ScopeExit b([&] { ++runs; });
        b.Dismiss();
    }
    EXPECT_EQ(1, runs);
}

namespace {
class CountedUnknown : public IUnknown
{
public:
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};
} // namespace

TEST(Handle, ComPtrBalancesReferences)
{
    CountedUnknown object;
    {
        ComPtr<IUnknown> a(&object);
        ComPtr<IUnknown> b = a;
        EXPECT_EQ(3u, object.refs);
        ComPtr<IUnknown> c = a.As<IUnknown>();
        EXPECT_EQ(4u, object.refs);
        EXPECT_FALSE(a.TryAs<IDispatch>());
        EXPECT_EQ(E_NOINTERFACE, RaisedResult([&] { a.As<IDispatch>(); }));
    }
    EXPECT_EQ(1u, object.refs);
}
