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

// A string value of a key below a classes root; "(missing)" when absent.
std::wstring ClassesValue(HKEY root, const std::wstring& key, const wchar_t* name = nullptr)
{
    wchar_t data[512];
    DWORD size = sizeof data;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return data;
}

bool ClassesKeyExists(HKEY root, const std::wstring& key)
{
    UniqueHKey opened;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.Put()) == ERROR_SUCCESS;
}

UniqueHKey OpenClassesRoot(HKEY root, const wchar_t* path)
{
    UniqueHKey key;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_READ, nullptr, key.Put(), nullptr));
    return key;
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

// Registration for the machine (DllRegisterServer, regsvr32) and for the
// calling user (DllInstall with "user", regsvr32 /n /i:user): where the keys
// must appear, and where they must not.
struct ScopeRow
{
    const char* name;
    HRESULT (*registerServer)(const TervolinDll& dll);
    HRESULT (*unregisterServer)(const TervolinDll& dll);
    HKEY root;
    const wchar_t* classesPath;
    HKEY otherRoot;
    const wchar_t* otherClassesPath;
};

const ScopeRow c_scopes[] = {
    {"machine", [](const TervolinDll& dll) { return dll.RegisterServer(); },
     [](const TervolinDll& dll) { return dll.UnregisterServer(); }, HKEY_LOCAL_MACHINE, L"Software\\Classes",
     HKEY_CURRENT_USER, L"Software\\Classes"},
    {"user", [](const TervolinDll& dll) { return dll.Install(true, L"User"); },
     [](const TervolinDll& dll) { return dll.Install(false, L"user"); }, HKEY_CURRENT_USER, L"Software\\Classes",
     HKEY_LOCAL_MACHINE, L"Software\\Classes"},
};

void ExpectRegistered(const TervolinDll& dll, HKEY classes)
{
    const std::wstring module = GuidText(LIBID_NorvaskTervolin);
    std::wstring path = dll.Path();
    std::replace(path.begin(), path.end(), L'/', L'\\');
    EXPECT_EQ(L"Tervolin", ClassesValue(classes, L"AppID\\" + module));
    EXPECT_EQ(module, ClassesValue(classes, L"AppID\\Tervolin.dll", L"AppID"));
    for (const auto& row : c_classes) {
        const std::wstring clsid = GuidText(row.classId);
        const std::wstring classKey = L"CLSID\\" + clsid;
        const std::wstring versioned = std::wstring(row.progId) + L".1";
        EXPECT_EQ(row.friendlyName, ClassesValue(classes, versioned));
        EXPECT_EQ(clsid, ClassesValue(classes, versioned + L"\\CLSID"));
        EXPECT_EQ(row.friendlyName, ClassesValue(classes, row.progId));
        EXPECT_EQ(clsid, ClassesValue(classes, std::wstring(row.progId) + L"\\CLSID"));
        EXPECT_EQ(versioned, ClassesValue(classes, std::wstring(row.progId) + L"\\CurVer"));
        EXPECT_EQ(row.friendlyName, ClassesValue(classes, classKey));
        EXPECT_EQ(versioned, ClassesValue(classes, classKey + L"\\ProgID"));
        EXPECT_EQ(row.progId, ClassesValue(classes, classKey + L"\\VersionIndependentProgID"));
        EXPECT_TRUE(ClassesKeyExists(classes, classKey + L"\\Programmable"));
        EXPECT_EQ(path, ClassesValue(classes, classKey + L"\\InprocServer32"));
        EXPECT_EQ(L"both", ClassesValue(classes, classKey + L"\\InprocServer32", L"ThreadingModel"));
        EXPECT_EQ(module, ClassesValue(classes, classKey, L"AppID"));
        EXPECT_EQ(module, ClassesValue(classes, classKey + L"\\TypeLib"));
    }
    EXPECT_EQ(path, ClassesValue(classes, L"TypeLib\\" + module + L"\\1.0\\0\\win32"));
}

void ExpectUnregistered(HKEY classes)
{
    const std::wstring module = GuidText(LIBID_NorvaskTervolin);
    for (const auto& row : c_classes) {
        EXPECT_FALSE(ClassesKeyExists(classes, L"CLSID\\" + GuidText(row.classId)));
        EXPECT_FALSE(ClassesKeyExists(classes, row.progId));
        EXPECT_FALSE(ClassesKeyExists(classes, std::wstring(row.progId) + L".1"));
    }
    EXPECT_FALSE(ClassesKeyExists(classes, L"AppID\\" + module));
    EXPECT_FALSE(ClassesKeyExists(classes, L"AppID\\Tervolin.dll"));
    EXPECT_FALSE(ClassesKeyExists(classes, L"TypeLib\\" + module));
}

} // namespace

// One test per scope, because the steps share the registry.
TEST(Registration, RegisterTwiceThenUnregisterInEachScope)
{
    TervolinDll dll;
    for (const auto& scope : c_scopes) {
        SCOPED_TRACE(scope.name);
        const UniqueHKey classes = OpenClassesRoot(scope.root, scope.classesPath);
        const UniqueHKey otherClasses = OpenClassesRoot(scope.otherRoot, scope.otherClassesPath);
        const LCID locale = GetThreadLocale();
        ASSERT_EQ(S_OK, scope.registerServer(dll));
        ASSERT_EQ(S_OK, scope.registerServer(dll));
        EXPECT_EQ(locale, GetThreadLocale());
        ExpectRegistered(dll, classes.Get());
        ExpectUnregistered(otherClasses.Get());

        ASSERT_EQ(S_OK, scope.unregisterServer(dll));
        EXPECT_EQ(locale, GetThreadLocale());
        ExpectUnregistered(classes.Get());
        EXPECT_TRUE(ClassesKeyExists(classes.Get(), L"CLSID"));
        EXPECT_TRUE(ClassesKeyExists(classes.Get(), L"AppID"));

        // Unregistering again: the keys are no error, the type library step is.
        EXPECT_TRUE(FAILED(scope.unregisterServer(dll)));
    }
    EXPECT_EQ(E_INVALIDARG, dll.Install(true, L"everyone"));
}

// The machine's registration is what COM itself reads.
TEST(Registration, MachineRegistrationServesCom)
{
    TervolinDll dll;
    ASSERT_EQ(S_OK, dll.RegisterServer());
    ComPtr<ITypeLib> library;
    EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_NorvaskTervolin, 1, 0, LOCALE_NEUTRAL, library.Put()));
    library.Reset();
    CLSID fromProgId{};
    EXPECT_EQ(S_OK, CLSIDFromProgID(L"Norvask.Tervolin.SerialConnection", &fromProgId));
    EXPECT_EQ(__uuidof(CSerialConnection), fromProgId);
    ASSERT_EQ(S_OK, dll.UnregisterServer());
    EXPECT_NE(S_OK, LoadRegTypeLib(LIBID_NorvaskTervolin, 1, 0, LOCALE_NEUTRAL, library.Put()));
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
