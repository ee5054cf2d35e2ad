#include "support/TestSupport.h"

#include <algorithm>

#include "gps/ComTestSupport.h"

namespace {

std::wstring GuidText(REFGUID guid)
{
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

// A string value of a key under HKEY_CLASSES_ROOT; "(missing)" when absent.
std::wstring ClassesValue(const std::wstring& key, const wchar_t* name = nullptr)
{
    wchar_t data[512];
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return data;
}

bool ClassesKeyExists(const std::wstring& key)
{
    UniqueHKey opened;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, opened.Put()) == ERROR_SUCCESS;
}

struct ClassRow
{
    const CLSID& classId;
    const wchar_t* progId;
    const wchar_t* friendlyName;
};

const ClassRow c_classes[] = {
    {__uuidof(CSerialConnection), L"Norvask.Tervolin.SerialConnection", L"CSerialConnection Object"},
    {__uuidof(CSerialInterpreter), L"Norvask.Tervolin.SerialInterpreter", L"CSerialInterpreter Object"},
};

} // namespace

// One test, because the steps share the machine's registration.
TEST(Registration, RegisterTwiceThenUnregister)
{
    TervolinDll dll;
    const std::wstring module = GuidText(LIBID_NorvaskTervolin);
    const LCID locale = GetThreadLocale();
    ASSERT_EQ(S_OK, dll.RegisterServer());
    ASSERT_EQ(S_OK, dll.RegisterServer());
    EXPECT_EQ(locale, GetThreadLocale());

    EXPECT_EQ(L"Tervolin", ClassesValue(L"AppID\\" + module));
    EXPECT_EQ(module, ClassesValue(L"AppID\\Tervolin.dll", L"AppID"));
    for (const auto& row : c_classes) {
        const std::wstring clsid = GuidText(row.classId);
        const std::wstring classKey = L"CLSID\\" + clsid;
        const std::wstring versioned = std::wstring(row.progId) + L".1";
        EXPECT_EQ(row.friendlyName, ClassesValue(versioned));
        EXPECT_EQ(clsid, ClassesValue(versioned + L"\\CLSID"));
        EXPECT_EQ(row.friendlyName, ClassesValue(row.progId));
        EXPECT_EQ(clsid, ClassesValue(std::wstring(row.progId) + L"\\CLSID"));
        EXPECT_EQ(versioned, ClassesValue(std::wstring(row.progId) + L"\\CurVer"));
        EXPECT_EQ(row.friendlyName, ClassesValue(classKey));
        EXPECT_EQ(versioned, ClassesValue(classKey + L"\\ProgID"));
        EXPECT_EQ(row.progId, ClassesValue(classKey + L"\\VersionIndependentProgID"));
        EXPECT_TRUE(ClassesKeyExists(classKey + L"\\Programmable"));
        std::wstring path = dll.Path();
        std::replace(path.begin(), path.end(), L'/', L'\\');
        EXPECT_EQ(path, ClassesValue(classKey + L"\\InprocServer32"));
        EXPECT_EQ(L"both", ClassesValue(classKey + L"\\InprocServer32", L"ThreadingModel"));
        EXPECT_EQ(module, ClassesValue(classKey, L"AppID"));
        EXPECT_EQ(module, ClassesValue(classKey + L"\\TypeLib"));
    }

    ComPtr<ITypeLib> library;
    EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_NorvaskTervolin, 1, 0, LOCALE_NEUTRAL, library.Put()));
    library.Reset();

    CLSID fromProgId{};
    EXPECT_EQ(S_OK, CLSIDFromProgID(L"Norvask.Tervolin.SerialConnection", &fromProgId));
    EXPECT_EQ(__uuidof(CSerialConnection), fromProgId);

    ASSERT_EQ(S_OK, dll.UnregisterServer());
    EXPECT_EQ(locale, GetThreadLocale());
    for (const auto& row : c_classes) {
        EXPECT_FALSE(ClassesKeyExists(L"CLSID\\" + GuidText(row.classId)));
        EXPECT_FALSE(ClassesKeyExists(row.progId));
    }
    EXPECT_FALSE(ClassesKeyExists(L"AppID\\" + module));
    EXPECT_FALSE(ClassesKeyExists(L"AppID\\Tervolin.dll"));
    EXPECT_TRUE(ClassesKeyExists(L"CLSID"));
    EXPECT_TRUE(ClassesKeyExists(L"AppID"));
    EXPECT_NE(S_OK, LoadRegTypeLib(LIBID_NorvaskTervolin, 1, 0, LOCALE_NEUTRAL, library.Put()));

    // Unregistering again: the keys are no error, the type library step is.
    EXPECT_TRUE(FAILED(dll.UnregisterServer()));
}

TEST(ClassObjects, GetClassObjectArguments)
{
    TervolinDll dll;
    EXPECT_EQ(E_POINTER, dll.GetClassObject(__uuidof(CSerialConnection), IID_IClassFactory, nullptr));
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, dll.GetClassObject(IID_IDispatch, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_NOINTERFACE, dll.GetClassObject(__uuidof(CSerialConnection), IID_IDispatch, &object));
    EXPECT_EQ(S_OK, dll.CanUnloadNow());
}

TEST(ClassObjects, LockCountFollowsObjectsFactoriesAndLocks)
{
    TervolinDll dll;
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, dll.GetClassObject(__uuidof(CSerialInterpreter), IID_IClassFactory, factory.PutVoid()));
    EXPECT_EQ(S_FALSE, dll.CanUnloadNow());
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, object.PutVoid()));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory.Reset();
    EXPECT_EQ(S_FALSE, dll.CanUnloadNow());
    object.Reset();
    EXPECT_EQ(S_FALSE, dll.CanUnloadNow());
    ASSERT_EQ(S_OK, dll.GetClassObject(__uuidof(CSerialInterpreter), IID_IClassFactory, factory.PutVoid()));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_EQ(S_OK, dll.CanUnloadNow());
}

// A minimal controlling object that aggregates a Tervolin object.
class Outer final : public IUnknown
{
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override
    {
        if (iid == IID_IUnknown) {
            *result = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, result) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }

    ULONG references = 1;
    ComPtr<IUnknown> inner;
};

TEST(ClassObjects, Aggregation)
{
    TervolinDll dll;
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, dll.GetClassObject(__uuidof(CSerialConnection), IID_IClassFactory, factory.PutVoid()));
    Outer outer;
    ComPtr<IUnknown> refused;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IDispatch, refused.PutVoid()));
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, outer.inner.PutVoid()));
    {
        ComPtr<ISerialConnection> connection;
        ASSERT_EQ(S_OK, outer.QueryInterface(__uuidof(ISerialConnection), connection.PutVoid()));
        EXPECT_EQ(2u, outer.references); // delegated to the outer object
        ComPtr<IUnknown> identity;
        ASSERT_EQ(S_OK, connection->QueryInterface(IID_IUnknown, identity.PutVoid()));
        EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.Get());
    }
    outer.inner.Reset();
    factory.Reset();
    EXPECT_EQ(S_OK, dll.CanUnloadNow());
}
