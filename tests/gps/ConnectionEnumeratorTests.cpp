#include "support/TestSupport.h"

#include <memory>
#include <span>
#include <utility>

#include "gps/ComTestSupport.h"

namespace {

class ConnectionEnumerators : public testing::Test
{
protected:
    void TearDown() override
    {
        // Every enumerator and every element it handed out was released.
        EXPECT_EQ(S_OK, dll.CanUnloadNow());
    }

    TervolinDll dll;
};

// The object's IUnknown, the pointer that tells COM objects apart.
IUnknown* Identity(IUnknown* object)
{
    ComPtr<IUnknown> identity;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_IUnknown, identity.PutVoid()));
    return identity.Get(); // still held by its object
}

void Release(std::span<CONNECTDATA> connections)
{
    for (auto& connection : connections)
        if (connection.pUnk)
            std::exchange(connection.pUnk, nullptr)->Release();
}

// The cookies Next hands out for a request of count connections; checks
// its result (S_OK when all came, S_FALSE when fewer).
std::vector<DWORD> NextCookies(IEnumConnections* connections, ULONG count)
{
    std::vector<CONNECTDATA> data(count, CONNECTDATA{});
    ULONG fetched = 99;
    const HRESULT hr = connections->Next(count, data.data(), &fetched);
    EXPECT_LE(fetched, count);
    EXPECT_EQ(fetched == count ? S_OK : S_FALSE, hr);
    std::vector<DWORD> cookies;
    for (ULONG i = 0; i < fetched; ++i)
        cookies.push_back(data[i].dwCookie);
    Release(data);
    return cookies;
}

// A connection object with two recording sinks advised on its events.
struct ConnectionWithSinks
{
    explicit ConnectionWithSinks(const TervolinDll& dll)
        : object(dll.Create<ISerialConnection>(__uuidof(CSerialConnection)))
    {
        auto container = object.As<IConnectionPointContainer>();
        EXPECT_EQ(S_OK, container->FindConnectionPoint(DIID__SerialConnectionEvents, point.Put()));
        for (size_t i = 0; i < 2; ++i)
            EXPECT_EQ(S_OK, point->Advise(static_cast<IDispatch*>(sinks[i].get()), &cookies[i]));
    }
    ~ConnectionWithSinks()
    {
        for (DWORD cookie : cookies)
            if (cookie)
                point->Unadvise(cookie);
    }

    ComPtr<IEnumConnections> Enumerate() const
    {
        ComPtr<IEnumConnections> connections;
        EXPECT_EQ(S_OK, point->EnumConnections(connections.Put()));
        return connections;
    }

    std::unique_ptr<RecordingSink> sinks[2]{std::make_unique<RecordingSink>(DIID__SerialConnectionEvents),
                                            std::make_unique<RecordingSink>(DIID__SerialConnectionEvents)};
    ComPtr<ISerialConnection> object;
    ComPtr<IConnectionPoint> point;
    DWORD cookies[2] = {};
};

} // namespace

TEST_F(ConnectionEnumerators, EachClassEnumeratesItsEventPoint)
{
    struct Row
    {
        const char* name;
        CLSID classId;
        IID events;
    };
    const Row rows[] = {
        {"SerialConnection", __uuidof(CSerialConnection), DIID__SerialConnectionEvents},
        {"SerialInterpreter", __uuidof(CSerialInterpreter), DIID__SerialInterpreterEvents},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto container = dll.Create<IUnknown>(row.classId).As<IConnectionPointContainer>();
        ComPtr<IEnumConnectionPoints> points;
        ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.Put()));

        IConnectionPoint* found[2] = {};
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, points->Next(2, found, &fetched));
        ASSERT_EQ(1u, fetched);
        EXPECT_EQ(nullptr, found[1]);
        ComPtr<IConnectionPoint> point;
        point.Attach(found[0]);

        IID iid = GUID_NULL;
        EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
        EXPECT_EQ(row.events, iid);
        ComPtr<IConnectionPoint> byFind;
        EXPECT_EQ(S_OK, container->FindConnectionPoint(iid, byFind.Put()));
        EXPECT_EQ(byFind.Get(), point.Get());
        ComPtr<IConnectionPointContainer> owner;
        EXPECT_EQ(S_OK, point->GetConnectionPointContainer(owner.Put()));
        EXPECT_EQ(Identity(container.Get()), Identity(owner.Get()));

        // At the end; after Reset the point comes again through the
        // single-element form, which needs no count.
        IConnectionPoint* next = nullptr;
        EXPECT_EQ(S_FALSE, points->Next(1, &next, nullptr));
        EXPECT_EQ(nullptr, next);
        EXPECT_EQ(S_OK, points->Reset());
        EXPECT_EQ(S_OK, points->Next(1, &next, nullptr));
        EXPECT_EQ(point.Get(), next);
        next->Release();
    }
}

TEST_F(ConnectionEnumerators, PointEnumeratorKeepsItsObjectAlive)
{
    ComPtr<IEnumConnectionPoints> points;
    {
        auto connection = dll.Create<IConnectionPointContainer>(__uuidof(CSerialConnection));
        ASSERT_EQ(S_OK, connection->EnumConnectionPoints(points.Put()));
    }
    EXPECT_EQ(S_FALSE, dll.CanUnloadNow());
    ComPtr<IEnumConnectionPoints> clone;
    ASSERT_EQ(S_OK, points->Clone(clone.Put()));
    points.Reset();
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, clone->Next(1, point.Put(), nullptr));
    IID iid = GUID_NULL;
    EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
    EXPECT_EQ(DIID__SerialConnectionEvents, iid);
}

TEST_F(ConnectionEnumerators, ConnectionsCarryCookiesAndReferencedSinks)
{
    ConnectionWithSinks connection(dll);
    LONG advised[2];
    for (size_t i = 0; i < 2; ++i)
        advised[i] = connection.sinks[i]->References();
    {
        auto connections = connection.Enumerate();
        ASSERT_TRUE(connections);
        LONG beforeNext[2];
        for (size_t i = 0; i < 2; ++i)
            beforeNext[i] = connection.sinks[i]->References();

        CONNECTDATA data[3] = {};
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, connections->Next(3, data, &fetched));
        ASSERT_EQ(2u, fetched);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(connection.cookies[i], data[i].dwCookie) << i;
            EXPECT_EQ(static_cast<IUnknown*>(connection.sinks[i].get()), Identity(data[i].pUnk)) << i;
            EXPECT_EQ(beforeNext[i] + 1, connection.sinks[i]->References()) << i;
        }
        EXPECT_EQ(nullptr, data[2].pUnk);
        Release(data);
    }
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(advised[i], connection.sinks[i]->References()) << i;
}

TEST_F(ConnectionEnumerators, EnumeratorKeepsTheConnectionsOfItsMaking)
{
    RecordingSink third(DIID__SerialConnectionEvents);
    ConnectionWithSinks connection(dll);
    auto before = connection.Enumerate();

    // The first sink leaves; a new one takes its free cookie.
    ASSERT_EQ(S_OK, connection.point->Unadvise(std::exchange(connection.cookies[0], 0)));
    DWORD thirdCookie = 0;
    ASSERT_EQ(S_OK, connection.point->Advise(static_cast<IDispatch*>(&third), &thirdCookie));
    EXPECT_LT(0, connection.sinks[0]->References()) << "the earlier enumerator holds the sink that left";

    CONNECTDATA data[2] = {};
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, before->Next(2, data, &fetched));
    EXPECT_EQ(static_cast<IUnknown*>(connection.sinks[0].get()), Identity(data[0].pUnk));
    EXPECT_EQ(static_cast<IUnknown*>(connection.sinks[1].get()), Identity(data[1].pUnk));
    Release(data);
    before.Reset();
    EXPECT_EQ(0, connection.sinks[0]->References());

    auto after = connection.Enumerate();
    ASSERT_EQ(S_OK, after->Next(2, data, &fetched));
    EXPECT_EQ(thirdCookie, data[0].dwCookie);
    EXPECT_EQ(static_cast<IUnknown*>(&third), Identity(data[0].pUnk));
    EXPECT_EQ(connection.cookies[1], data[1].dwCookie);
    Release(data);
    after.Reset();
    EXPECT_EQ(S_OK, connection.point->Unadvise(thirdCookie));
    EXPECT_EQ(0, third.References());
}

TEST_F(ConnectionEnumerators, SkipResetAndCloneKeepTheirOwnPositions)
{
    ConnectionWithSinks connection(dll);
    const DWORD first = connection.cookies[0];
    const DWORD second = connection.cookies[1];
    auto original = connection.Enumerate();

    EXPECT_EQ(S_OK, original->Skip(0));
    EXPECT_EQ(S_OK, original->Skip(1));
    ComPtr<IEnumConnections> clone;
    ASSERT_EQ(S_OK, original->Clone(clone.Put()));
    EXPECT_EQ(std::vector<DWORD>{second}, NextCookies(clone.Get(), 1));
    EXPECT_EQ(std::vector<DWORD>{second}, NextCookies(original.Get(), 1)) << "the clone moved the original";
    EXPECT_EQ(S_FALSE, original->Skip(1));
    EXPECT_EQ(std::vector<DWORD>{}, NextCookies(original.Get(), 1));

    EXPECT_EQ(S_OK, original->Reset());
    EXPECT_EQ((std::vector<DWORD>{first, second}), NextCookies(original.Get(), 2));
    EXPECT_EQ(std::vector<DWORD>{}, NextCookies(clone.Get(), 1)) << "Reset of the original moved the clone";

    EXPECT_EQ(S_OK, original->Reset());
    EXPECT_EQ(S_FALSE, original->Skip(5));
    EXPECT_EQ(std::vector<DWORD>{}, NextCookies(original.Get(), 2));

    // The clone keeps the shared list when its original is gone.
    original.Reset();
    EXPECT_EQ(S_OK, clone->Reset());
    EXPECT_EQ((std::vector<DWORD>{first, second}), NextCookies(clone.Get(), 3));
}

TEST_F(ConnectionEnumerators, BadArgumentsChangeNothing)
{
    ConnectionWithSinks connection(dll);
    EXPECT_EQ(E_POINTER, connection.point->EnumConnections(nullptr));
    EXPECT_EQ(E_POINTER, connection.object.As<IConnectionPointContainer>()->EnumConnectionPoints(nullptr));

    auto connections = connection.Enumerate();
    const LONG references = connection.sinks[0]->References();
    CONNECTDATA data[2] = {};
    EXPECT_EQ(E_POINTER, connections->Next(2, data, nullptr));
    EXPECT_EQ(nullptr, data[0].pUnk);
    EXPECT_EQ(references, connection.sinks[0]->References());
    ULONG fetched = 99;
    EXPECT_EQ(E_POINTER, connections->Next(1, nullptr, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(E_POINTER, connections->Clone(nullptr));
    EXPECT_EQ(S_OK, connections->Next(0, data, &fetched));
    EXPECT_EQ(0u, fetched);
    // Nothing above moved the position.
    EXPECT_EQ((std::vector<DWORD>{connection.cookies[0], connection.cookies[1]}),
              NextCookies(connections.Get(), 2));

    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, connections->QueryInterface(IID_IUnknown, unknown.PutVoid()));
    EXPECT_EQ(E_NOINTERFACE, connections->QueryInterface(IID_IEnumConnectionPoints, unknown.PutVoid()));
    EXPECT_EQ(nullptr, unknown.Get());
}

TEST_F(ConnectionEnumerators, NoSinksMeansAnEmptyEnumeration)
{
    auto container = dll.Create<IConnectionPointContainer>(__uuidof(CSerialInterpreter));
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__SerialInterpreterEvents, point.Put()));
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, point->EnumConnections(connections.Put()));
    EXPECT_EQ(std::vector<DWORD>{}, NextCookies(connections.Get(), 1));
    EXPECT_EQ(S_FALSE, connections->Skip(1));
}

TEST_F(ConnectionEnumerators, ModuleStaysLockedWhileAnEnumeratorLives)
{
    ConnectionWithSinks connection(dll);
    ComPtr<IEnumConnections> clone;
    ASSERT_EQ(S_OK, connection.Enumerate()->Clone(clone.Put()));
    for (DWORD& cookie : connection.cookies)
        EXPECT_EQ(S_OK, connection.point->Unadvise(std::exchange(cookie, 0)));
    connection.point.Reset();
    connection.object.Reset();

    // The object and the first enumerator are gone; only the clone holds
    // the module (its sinks belong to this test, not to the module).
    EXPECT_EQ(S_FALSE, dll.CanUnloadNow());
    EXPECT_EQ((std::vector<DWORD>{1, 2}), NextCookies(clone.Get(), 2));
    clone.Reset();
    EXPECT_EQ(S_OK, dll.CanUnloadNow());
    for (const auto& sink : connection.sinks)
        EXPECT_EQ(0, sink->References());
}
