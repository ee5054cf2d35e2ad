#include "support/TestSupport.h"

#include <atomic>
#include <cmath>
#include <functional>

#include "base/Text.h"
#include "gps/ComTestSupport.h"

namespace {

constexpr HRESULT c_portWhileConnected = static_cast<HRESULT>(0xA765026C);

// The test's main thread is a single-threaded apartment.
class Automation : public testing::Test
{
protected:
    void TearDown() override
    {
        // Every test releases what it made: the module must be unloadable.
        EXPECT_EQ(S_OK, dll.CanUnloadNow());
    }

    ComPtr<ISerialInterpreter> Interpreter() { return dll.Create<ISerialInterpreter>(__uuidof(CSerialInterpreter)); }
    ComPtr<ISerialConnection> Connection() { return dll.Create<ISerialConnection>(__uuidof(CSerialConnection)); }

    TervolinDll dll;
};

HRESULT InvokeWith(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT> arguments, VARIANT* result = nullptr,
                   EXCEPINFO* exception = nullptr, UINT* argumentError = nullptr)
{
    DISPID put = DISPID_PROPERTYPUT;
    const bool isPut = (flags & DISPATCH_PROPERTYPUT) != 0;
    DISPPARAMS parameters{arguments.data(), isPut ? &put : nullptr, static_cast<UINT>(arguments.size()),
                          isPut ? 1u : 0u};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result, exception, argumentError);
}

VARIANT StringVariant(const wchar_t* text)
{
    VARIANT value;
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text);
    return value;
}

std::wstring PortOf(ISerialConnection* connection)
{
    BSTR port = nullptr;
    EXPECT_EQ(S_OK, connection->get_Port(&port));
    std::wstring text(port ? port : L"");
    SysFreeString(port);
    return text;
}

// The interpreter with a recording client and its ISerialConnectionEvents.
struct InterpreterWithSink
{
    explicit InterpreterWithSink(ComPtr<ISerialInterpreter> made)
        : interpreter(std::move(made)), sink(__uuidof(_SerialInterpreterEvents))
    {
        sink.Advise(interpreter.Get());
        events = interpreter.As<ISerialConnectionEvents>();
    }
    ~InterpreterWithSink() { sink.Unadvise(); }

    void Feed(const std::vector<std::wstring>& lines)
    {
        LineBatch batch(lines);
        EXPECT_EQ(S_OK, events->Input(batch.Value()));
    }

    ComPtr<ISerialInterpreter> interpreter;
    RecordingSink sink;
    ComPtr<ISerialConnectionEvents> events;
};

std::vector<VARTYPE> TypesOf(const RecordedCall& call)
{
    std::vector<VARTYPE> types;
    for (const auto& argument : call.arguments)
        types.push_back(argument.vt);
    return types;
}

} // namespace

TEST_F(Automation, TypeLibraryEntriesInOrder)
{
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, LoadTypeLibEx(dll.Path().c_str(), REGKIND_NONE, library.Put()));
    struct Entry
    {
        const wchar_t* name;
        TYPEKIND kind;
        const wchar_t* help;
    };
    const Entry entries[] = {
        {L"_SerialConnectionEvents", TKIND_DISPATCH, L"_SerialConnectionEvents Interface"},
        {L"ISerialConnectionEvents", TKIND_DISPATCH, L"ISerialConnectionEvents Interface"},
        {L"CSerialConnection", TKIND_COCLASS, L"SerialConnection Class"},
        {L"ISerialConnection", TKIND_DISPATCH, L"ISerialConnection Interface"},
        {L"_SerialInterpreterEvents", TKIND_DISPATCH, L"_SerialInterpreterEvents Interface"},
        {L"FIXTYPE", TKIND_ENUM, nullptr},
        {L"CSerialInterpreter", TKIND_COCLASS, L"SerialInterpreter Class"},
        {L"ISerialInterpreter", TKIND_DISPATCH, L"ISerialInterpreter Interface"},
    };
    ASSERT_EQ(std::size(entries), library->GetTypeInfoCount());
    for (UINT i = 0; i < std::size(entries); ++i) {
        BSTR name = nullptr;
        BSTR help = nullptr;
        ASSERT_EQ(S_OK, library->GetDocumentation(i, &name, &help, nullptr, nullptr));
        EXPECT_STREQ(entries[i].name, name);
        EXPECT_STREQ(entries[i].help ? entries[i].help : L"", help ? help : L"") << entries[i].name;
        SysFreeString(name);
        SysFreeString(help);
        TYPEKIND kind;
        ASSERT_EQ(S_OK, library->GetTypeInfoType(i, &kind));
        EXPECT_EQ(entries[i].kind, kind) << entries[i].name;
    }
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attributes));
    EXPECT_EQ(1, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    EXPECT_EQ(LIBID_NorvaskTervolin, attributes->guid);
    library->ReleaseTLibAttr(attributes);
}

TEST_F(Automation, StatusEventParameterNames)
{
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, LoadTypeLibEx(dll.Path().c_str(), REGKIND_NONE, library.Put()));
    ComPtr<ITypeInfo> events;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(DIID__SerialInterpreterEvents, events.Put()));
    ComPtr<ITypeComp> compiler;
    BSTR names[8] = {};
    UINT count = 0;
    ASSERT_EQ(S_OK, events->GetNames(200, names, 8, &count));
    ASSERT_EQ(8u, count);
    EXPECT_STREQ(L"Status", names[0]);
    EXPECT_STREQ(L"FIXTYPE", names[2]);
    EXPECT_STREQ(L"sProprietaryInformation", names[7]);
    for (BSTR name : names)
        SysFreeString(name);
}

TEST_F(Automation, InterpreterFiresTypedEvents)
{
    InterpreterWithSink object(Interpreter());
    object.Feed({L"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A",
                 L"$GPGLL,4916.45,N,12311.12,W,225444,A", L"$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39",
                 L"$PMGNST,02.12,3,T,534,05.0,+03327,00*40", L"$GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75"});
    object.Feed({L"$GPGSV,2,2,08,15,10,100,,16,20,200,30,17,30,300,31,18,40,45*75", L"$GPGSA,A,1,,,"});
    const auto calls = object.sink.Calls();
    ASSERT_EQ(6u, calls.size());

    EXPECT_EQ(102, calls[0].id);
    EXPECT_EQ((std::vector<VARTYPE>{VT_DATE, VT_BOOL, VT_R8, VT_R8, VT_R8, VT_R8, VT_DATE}), TypesOf(calls[0]));
    EXPECT_NEAR(0.5245254, calls[0].arguments[0].date, 1e-7);
    EXPECT_EQ(VARIANT_TRUE, calls[0].arguments[1].boolVal);
    EXPECT_NEAR(48.1173, calls[0].arguments[2].dblVal, 1e-9);
    EXPECT_EQ(34416, calls[0].arguments[6].date);

    EXPECT_EQ(101, calls[1].id);
    EXPECT_EQ((std::vector<VARTYPE>{VT_R8, VT_R8, VT_DATE, VT_BOOL}), TypesOf(calls[1]));

    EXPECT_EQ(103, calls[2].id);
    EXPECT_EQ((std::vector<VARTYPE>{VT_BOOL, VT_I4, VT_ARRAY | VT_VARIANT, VT_R8, VT_R8, VT_R8}), TypesOf(calls[2]));
    const auto numbers = ArrayElements(calls[2].arguments[2]);
    ASSERT_EQ(12u, numbers.size());
    EXPECT_EQ(VT_I4, numbers[3].vt);
    EXPECT_EQ(9, numbers[3].lVal);

    EXPECT_EQ(200, calls[3].id);
    EXPECT_EQ((std::vector<VARTYPE>{VT_BSTR, VT_I4, VT_BOOL, VT_R8, VT_R8, VT_BSTR, VT_BSTR}), TypesOf(calls[3]));
    EXPECT_STREQ(L"02.12", calls[3].arguments[0].bstrVal);
    EXPECT_NEAR(534.0 / 999, calls[3].arguments[3].dblVal, 1e-12);
    EXPECT_STREQ(L"+03327", calls[3].arguments[5].bstrVal);

    // The satellite group spans two batches and fires after its last message.
    EXPECT_EQ(100, calls[4].id);
    ASSERT_EQ((std::vector<VARTYPE>{VT_ARRAY | VT_VARIANT}), TypesOf(calls[4]));
    const auto satellites = ArrayElements(calls[4].arguments[0]);
    ASSERT_EQ(8u, satellites.size());
    const auto last = ArrayElements(satellites[7]);
    ASSERT_EQ(4u, last.size());
    EXPECT_EQ(VT_I4, last[0].vt);
    EXPECT_EQ(18, last[0].lVal);
    EXPECT_EQ(VT_R8, last[3].vt);
    EXPECT_EQ(0, last[3].dblVal);

    // A GSA without satellite slots passes VT_EMPTY.
    EXPECT_EQ(103, calls[5].id);
    EXPECT_EQ(VT_EMPTY, calls[5].arguments[2].vt);
}

TEST_F(Automation, InterpreterBatchesThatDoNothing)
{
    InterpreterWithSink object(Interpreter());
    VARIANT empty;
    VariantInit(&empty);
    EXPECT_EQ(S_OK, object.events->Input(empty));
    VARIANT text = StringVariant(L"$GPGLL,4916.45,N,12311.12,W,225444,A");
    EXPECT_EQ(S_OK, object.events->Input(text));
    VariantClear(&text);
    // Arrays of another element type labelled VT_ARRAY|VT_VARIANT are no
    // batches: a DECIMAL has the size of a VARIANT and is laid out so that
    // it would read as a string line; the I4 array would be read past its end.
    BSTR line = SysAllocString(L"$GPGLL,4916.45,N,12311.12,W,225444,A");
    for (VARTYPE type : {VT_DECIMAL, VT_I4}) {
        SAFEARRAYBOUND bound{4, 0};
        VARIANT mislabelled;
        mislabelled.vt = VT_ARRAY | VT_VARIANT;
        mislabelled.parray = SafeArrayCreate(type, 1, &bound);
        ASSERT_TRUE(mislabelled.parray);
        auto* fake = static_cast<VARIANT*>(mislabelled.parray->pvData);
        fake->vt = VT_BSTR;
        fake->bstrVal = line;
        EXPECT_EQ(S_OK, object.events->Input(mislabelled));
        SafeArrayDestroy(mislabelled.parray);
    }
    SysFreeString(line);
    EXPECT_EQ(0u, object.sink.CallCount());
    // A failing line ends its batch; the next batch is interpreted.
    object.Feed({L"$GPRMC,1,A,2,N,3,E,4,5,,", L"$GPGLL,4916.45,N,12311.12,W,225444,A"});
    EXPECT_EQ(0u, object.sink.CallCount());
    object.Feed({L"$GPGLL,4916.45,N,12311.12,W,225444,A"});
    EXPECT_EQ(1u, object.sink.CallCount());
}

TEST_F(Automation, InterpreterInputThroughDispatchByReference)
{
    InterpreterWithSink object(Interpreter());
    LineBatch batch({L"$GPGLL,4916.45,N,12311.12,W,225444,A"});
    VARIANT reference;
    reference.vt = VT_BYREF | VT_VARIANT;
    reference.pvarVal = &batch.Value();
    IDispatch* events = object.events.Get(); // the dispatch side of the dual events interface
    EXPECT_EQ(S_OK, InvokeWith(events, 2, DISPATCH_METHOD, {reference}));
    EXPECT_EQ(1u, object.sink.CallCount());
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, InvokeWith(events, 2, DISPATCH_METHOD, {}));
    for (DISPID id : {1, 2, 3}) {
        DISPPARAMS countWithoutArguments{nullptr, nullptr, 1, 0};
        EXPECT_EQ(DISP_E_BADPARAMCOUNT, events->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                                       &countWithoutArguments, nullptr, nullptr, nullptr))
            << id;
    }
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, InvokeWith(events, 9, DISPATCH_METHOD, {}));
    VARIANT code;
    code.vt = VT_BSTR;
    code.bstrVal = SysAllocString(L"x");
    EXPECT_EQ(DISP_E_TYPEMISMATCH, InvokeWith(events, 1, DISPATCH_METHOD, {code}));
    VariantClear(&code);
    // The interpreter's own IDispatch is that of ISerialInterpreter.
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, InvokeWith(object.interpreter.Get(), 2, DISPATCH_METHOD, {reference}));
}

TEST_F(Automation, NamesOfTheDispatchInterfaces)
{
    auto connection = Connection();
    struct Row
    {
        const wchar_t* name;
        HRESULT result;
        DISPID id;
    };
    const Row rows[] = {{L"port", S_OK, 2},         {L"PORT", S_OK, 2},    {L"put_Port", S_OK, 2},
                        {L"AssumedPort", S_OK, 1},  {L"Timeout", S_OK, 5}, {L"Disconnect", S_OK, 4},
                        {L"Baud", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN}};
    for (const auto& row : rows) {
        LPOLESTR name = const_cast<LPOLESTR>(row.name);
        DISPID id = 0;
        EXPECT_EQ(row.result, connection->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)) << row.name;
        EXPECT_EQ(row.id, id) << row.name;
    }
    auto interpreter = Interpreter();
    LPOLESTR name = const_cast<LPOLESTR>(L"terminate");
    DISPID id = 0;
    EXPECT_EQ(S_OK, interpreter->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(2, id);
}

TEST_F(Automation, ConnectionPropertiesThroughInvoke)
{
    auto connection = Connection();
    VARIANT result;
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, InvokeWith(connection.Get(), 2, DISPATCH_METHOD, {}, &result));
    EXPECT_EQ(S_OK, InvokeWith(connection.Get(), 5, DISPATCH_PROPERTYPUT, {StringVariant(L"2500")}));
    EXPECT_EQ(S_OK, InvokeWith(connection.Get(), 5, DISPATCH_PROPERTYGET, {}, &result));
    EXPECT_EQ(VT_I4, result.vt);
    EXPECT_EQ(2500, result.lVal);
    UINT argumentError = 7;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, InvokeWith(connection.Get(), 5, DISPATCH_PROPERTYPUT, {StringVariant(L"abc")},
                                              nullptr, nullptr, &argumentError));
    EXPECT_EQ(0u, argumentError);
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, InvokeWith(connection.Get(), 3, DISPATCH_METHOD, {StringVariant(L"x")}));
    EXPECT_EQ(DISP_E_BADVARTYPE,
              connection->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr));

    EXPECT_EQ(S_OK, InvokeWith(connection.Get(), 2, DISPATCH_PROPERTYPUT, {StringVariant(L"COM7")}));
    EXPECT_EQ(S_OK, connection->put_Port(SysAllocString(L"com7")));
    EXPECT_EQ(L"COM7", PortOf(connection.Get()));
    EXPECT_EQ(S_OK, InvokeWith(connection.Get(), 2, DISPATCH_PROPERTYGET, {}, &result));
    EXPECT_EQ(VT_BSTR, result.vt);
    EXPECT_STREQ(L"COM7", result.bstrVal);
    VariantClear(&result);
    EXPECT_EQ(E_POINTER, connection->get_Port(nullptr));
    EXPECT_EQ(E_POINTER, connection->get_Timeout(nullptr));
}

HRESULT PutPort(ISerialConnection* connection, std::wstring_view text)
{
    BSTR port = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    const HRESULT hr = connection->put_Port(port);
    SysFreeString(port);
    return hr;
}

// Port takes port names only (the device form as its port name); any other
// text, a file path above all, is refused and leaves the port as it was, so
// that Connect never opens a file.
TEST_F(Automation, PortTakesPortNamesOnly)
{
    auto connection = Connection();
    const std::pair<std::wstring_view, const wchar_t*> accepted[] = {
        {L"COM1", L"COM1"},           {L"com7", L"com7"},   {L"CoM255", L"CoM255"}, {L"\\\\.\\COM3", L"COM3"},
        {L"\\\\.\\com12", L"com12"}, {L"COM99", L"COM99"}, {L"", L""},
    };
    for (const auto& [text, expected] : accepted) {
        SCOPED_TRACE(testing::Message() << std::wstring(text));
        EXPECT_EQ(S_OK, PutPort(connection.Get(), text));
        EXPECT_EQ(expected, PortOf(connection.Get()));
    }

    TempFolder folder;
    const std::wstring secret = folder.File(L"secret.txt");
    WriteFileBytes(secret, "secret");
    const std::wstring_view refused[] = {
        secret, L"secret.txt", L"Z:\\tmp\\COM1", L"..\\COM1", L"COM1.txt", L"COM1:", L"COM0", L"COM256", L"COM007",
        L"COM", L"COM1 ", L" COM1", L"COMx", L"COM-1", L"COM+1", L"COM\u00B9", std::wstring_view(L"COM1\0x", 6),
        L"LPT1", L"CON", L"NUL", L"\\\\.\\", L"\\\\.\\NUL", L"\\\\.\\COM1\\x", L"\\\\?\\COM1", L"//./COM1",
        L"\\\\.\\PhysicalDrive0",
    };
    ASSERT_EQ(S_OK, PutPort(connection.Get(), L"COM42"));
    for (const std::wstring_view text : refused) {
        SCOPED_TRACE(testing::Message() << std::wstring(text));
        EXPECT_EQ(E_INVALIDARG, PutPort(connection.Get(), text));
        EXPECT_EQ(L"COM42", PortOf(connection.Get()));
    }
    EXCEPINFO exception{};
    EXPECT_EQ(E_INVALIDARG, InvokeWith(connection.Get(), 2, DISPATCH_PROPERTYPUT, {StringVariant(secret.c_str())},
                                       nullptr, &exception));
    EXPECT_EQ(E_INVALIDARG, exception.scode);
    EXPECT_EQ(L"COM42", PortOf(connection.Get()));
}

TEST_F(Automation, ClassInformationAndErrorInformation)
{
    auto connection = Connection();
    auto info = connection.As<IProvideClassInfo2>();
    GUID guid{};
    EXPECT_EQ(S_OK, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid));
    EXPECT_EQ(DIID__SerialConnectionEvents, guid);
    EXPECT_EQ(E_INVALIDARG, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID + 1, &guid));
    ComPtr<ITypeInfo> classInfo;
    ASSERT_EQ(S_OK, info->GetClassInfo(classInfo.Put()));
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, classInfo->GetTypeAttr(&attributes));
    EXPECT_EQ(__uuidof(CSerialConnection), attributes->guid);
    classInfo->ReleaseTypeAttr(attributes);

    auto errors = connection.As<ISupportErrorInfo>();
    EXPECT_EQ(S_OK, errors->InterfaceSupportsErrorInfo(__uuidof(ISerialConnection)));
    EXPECT_EQ(S_FALSE, errors->InterfaceSupportsErrorInfo(IID_IDispatch));

    auto interpreter = Interpreter();
    EXPECT_EQ(S_OK, interpreter.As<IProvideClassInfo2>()->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid));
    EXPECT_EQ(DIID__SerialInterpreterEvents, guid);
    // The interpreter answers the connection's event dispinterface with its dual.
    EXPECT_TRUE(interpreter.TryAs<_SerialConnectionEvents>());

    UINT count = 0;
    EXPECT_EQ(S_OK, connection->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> typeInfo;
    EXPECT_EQ(DISP_E_BADINDEX, connection->GetTypeInfo(1, 0, typeInfo.Put()));
    EXPECT_EQ(S_OK, connection->GetTypeInfo(0, 0, typeInfo.Put()));
}

TEST_F(Automation, SiteIsStoredAndReturned)
{
    auto connection = Connection();
    auto withSite = connection.As<IObjectWithSite>();
    ComPtr<IUnknown> site;
    EXPECT_EQ(E_FAIL, withSite->GetSite(IID_IUnknown, site.PutVoid()));
    auto interpreter = Interpreter();
    EXPECT_EQ(S_OK, withSite->SetSite(interpreter.Get()));
    EXPECT_EQ(S_OK, withSite->GetSite(__uuidof(ISerialInterpreter), site.PutVoid()));
    EXPECT_EQ(S_OK, withSite->SetSite(nullptr));
}

TEST_F(Automation, InitializeAttachesOnceAndMoves)
{
    auto interpreter = Interpreter();
    auto first = Connection();
    auto second = Connection();
    EXPECT_EQ(S_OK, interpreter->Initialize(first.Get()));
    EXPECT_EQ(S_OK, interpreter->Initialize(first.Get()));
    EXPECT_EQ(S_OK, interpreter->Initialize(second.Get()));
    EXPECT_EQ(S_OK, interpreter->Initialize(nullptr));
    EXPECT_EQ(S_OK, interpreter->Terminate());
    EXPECT_EQ(S_OK, interpreter->Initialize(second.Get()));
    EXPECT_EQ(S_OK, interpreter->Terminate());
    // TearDown's DllCanUnloadNow catches an advise that was never undone.
}

TEST_F(Automation, InitializeWithAnObjectThatIsNoConnection)
{
    auto interpreter = Interpreter();
    VARIANT argument;
    argument.vt = VT_DISPATCH;
    argument.pdispVal = interpreter.Get();
    UINT argumentError = 5;
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              InvokeWith(interpreter.Get(), 1, DISPATCH_METHOD, {argument}, nullptr, nullptr, &argumentError));
    EXPECT_EQ(0u, argumentError);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, InvokeWith(interpreter.Get(), 1, DISPATCH_METHOD, {StringVariant(L"COM1")}));
    auto connection = Connection();
    argument.pdispVal = connection.Get();
    EXPECT_EQ(S_OK, InvokeWith(interpreter.Get(), 1, DISPATCH_METHOD, {argument}));
    EXPECT_EQ(S_OK, InvokeWith(interpreter.Get(), 2, DISPATCH_METHOD, {}));
}

// A port that does not exist: one Error event on the creating thread, the
// worker ends, and Port cannot be changed until Disconnect.
TEST_F(Automation, MissingPortInSingleThreadedApartment)
{
    auto connection = Connection();
    RecordingSink sink(__uuidof(_SerialConnectionEvents));
    sink.Advise(connection.Get());
    EXPECT_EQ(S_OK, connection->put_Port(SysAllocString(L"COM42")));
    EXPECT_EQ(S_OK, connection->Connect());
    EXPECT_EQ(S_OK, connection->Connect());
    ASSERT_TRUE(sink.WaitForCalls(1, 5000));
    sink.WaitForCalls(2, 300);
    const auto calls = sink.Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(1, calls[0].id);
    EXPECT_EQ(VT_I4, calls[0].arguments[0].vt);
    EXPECT_EQ(static_cast<LONG>(0x80070002), calls[0].arguments[0].lVal);
    EXPECT_EQ(GetCurrentThreadId(), calls[0].threadId);

    EXPECT_EQ(c_portWhileConnected, connection->put_Port(SysAllocString(L"COM1")));
    EXCEPINFO exception{};
    EXPECT_EQ(c_portWhileConnected, InvokeWith(connection.Get(), 2, DISPATCH_PROPERTYPUT, {StringVariant(L"COM1")},
                                               nullptr, &exception));
    EXPECT_EQ(c_portWhileConnected, exception.scode);
    EXPECT_NE(S_OK, dll.CanUnloadNow());
    EXPECT_EQ(S_OK, connection->Disconnect());
    EXPECT_EQ(S_OK, connection->Disconnect());
    EXPECT_EQ(S_OK, connection->put_Port(SysAllocString(L"COM1")));
    sink.Unadvise();
}

TEST_F(Automation, EmptyPortInMultithreadedApartmentFiresOnTheWorker)
{
    RunInMultithreadedApartment([&] {
        auto connection = Connection();
        RecordingSink sink(__uuidof(_SerialConnectionEvents));
        sink.Advise(connection.Get());
        EXPECT_EQ(S_OK, connection->Connect());
        ASSERT_TRUE(sink.WaitForCalls(1, 5000));
        const auto calls = sink.Calls();
        EXPECT_EQ(1, calls[0].id);
        EXPECT_NE(GetCurrentThreadId(), calls[0].threadId);
        EXPECT_EQ(S_OK, connection->Disconnect());
        sink.Unadvise();
    });
}

namespace {

// The numbers of the satellites of a SatellitesInView list.
std::vector<LONG> SatelliteNumbers(SAFEARRAY* list)
{
    VARIANT value;
    value.vt = VT_ARRAY | VT_VARIANT;
    value.parray = list;
    std::vector<LONG> numbers;
    for (const VARIANT& satellite : ArrayElements(value))
        numbers.push_back(ArrayElements(satellite)[0].lVal);
    return numbers;
}

std::wstring GroupOf(int first)
{
    std::wstring line = L"$GPGSV,1,1,04";
    for (int number = first; number < first + 4; ++number)
        line += L"," + std::to_wstring(number) + L",10,100,40";
    return line;
}

} // namespace

// The interpreter reuses the arrays of one event for the next: a sink that
// feeds more lines from inside an event, or keeps a list locked after it,
// still sees its own satellites.
TEST_F(Automation, SatelliteListsStayTheSinksDuringAndAfterTheEvent)
{
    ComPtr<ISerialInterpreter> interpreter = Interpreter();
    ComPtr<ISerialConnectionEvents> events = interpreter.As<ISerialConnectionEvents>();
    std::vector<std::vector<LONG>> seen;
    SAFEARRAY* kept = nullptr;
    CallbackSink sink(__uuidof(_SerialInterpreterEvents), [&](DISPID id, DISPPARAMS& parameters) {
        if (id != 100)
            return;
        SAFEARRAY* list = parameters.rgvarg[0].parray;
        seen.push_back(SatelliteNumbers(list));
        if (seen.size() != 1)
            return;
        LineBatch inner({GroupOf(5)});
        EXPECT_EQ(S_OK, events->Input(inner.Value()));
        EXPECT_EQ((std::vector<LONG>{1, 2, 3, 4}), SatelliteNumbers(list));
        EXPECT_EQ(S_OK, SafeArrayLock(list));
        kept = list;
    });
    sink.Advise(interpreter.Get());

    for (int first : {1, 9, 13}) {
        LineBatch batch({GroupOf(first)});
        EXPECT_EQ(S_OK, events->Input(batch.Value()));
    }
    EXPECT_EQ((std::vector<std::vector<LONG>>{{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}}), seen);
    ASSERT_TRUE(kept);
    EXPECT_EQ((std::vector<LONG>{1, 2, 3, 4}), SatelliteNumbers(kept));
    // The locked list was given up by the interpreter: it is the sink's now.
    EXPECT_EQ(S_OK, SafeArrayUnlock(kept));
    EXPECT_EQ(S_OK, SafeArrayDestroy(kept));
}

TEST_F(Automation, InterpreterAttachedToAConnectionReceivesItsEvents)
{
    auto connection = Connection();
    InterpreterWithSink object(Interpreter());
    EXPECT_EQ(S_OK, object.interpreter->Initialize(connection.Get()));
    EXPECT_EQ(S_OK, connection->put_Port(SysAllocString(L"COM43")));
    EXPECT_EQ(S_OK, connection->Connect());
    RecordingSink sink(__uuidof(_SerialConnectionEvents));
    sink.Advise(connection.Get());
    sink.WaitForCalls(1, 2000);
    EXPECT_EQ(S_OK, connection->Disconnect());
    EXPECT_EQ(S_OK, object.interpreter->Terminate());
    EXPECT_EQ(0u, object.sink.CallCount()); // errors are not interpreter events
    sink.Unadvise();
}

TEST_F(Automation, ConnectDisconnectCyclesLeakNothing)
{
    for (int i = 0; i < 20; ++i) {
        auto connection = Connection();
        auto interpreter = Interpreter();
        EXPECT_EQ(S_OK, interpreter->Initialize(connection.Get()));
        EXPECT_EQ(S_OK, connection->Connect());
        EXPECT_EQ(S_OK, connection->Disconnect());
        EXPECT_EQ(S_OK, interpreter->Terminate());
    }
    // Posted notices of ended workers are dropped with their windows.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}

TEST_F(Automation, ReleasingAConnectedObjectStopsItsWorker)
{
    RunInMultithreadedApartment([&] {
        auto connection = Connection();
        EXPECT_EQ(S_OK, connection->put_Port(SysAllocString(L"COM44")));
        EXPECT_EQ(S_OK, connection->Connect());
    });
}

TEST_F(Automation, ClientReleasesTheConnectionInsideAnEventOnTheWorker)
{
    RunInMultithreadedApartment([&] {
        auto connection = Connection();
        ComPtr<ISerialConnection> held = connection;
        UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        // Inside the Error event fired on the worker thread: disconnect and
        // drop the last reference to the connection.
        CallbackSink sink(__uuidof(_SerialConnectionEvents), [&](DISPID, DISPPARAMS&) {
            if (ComPtr<ISerialConnection> last = std::move(held)) {
                last->Disconnect();
                sink.Unadvise();
            } // the last reference goes here, on the worker thread
            SetEvent(done.Get());
        });
        sink.Advise(connection.Get());
        EXPECT_EQ(S_OK, connection->Connect());
        connection.Reset();
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done.Get(), 5000));
        // The worker ends on its own once the event has returned; until then
        // it still holds its reference to the sink, which lives on this stack.
        for (int i = 0; i < 500 && dll.CanUnloadNow() != S_OK; ++i)
            Sleep(10);
        EXPECT_EQ(S_OK, dll.CanUnloadNow());
    });
}

// The receiver's port is found by its USB serial device name.
TEST_F(Automation, AssumedPortFromTheSystemPortList)
{
    UniqueHKey ports;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                             REG_OPTION_VOLATILE, KEY_READ | KEY_WRITE, nullptr, ports.Put(), nullptr));
    auto setPort = [&](const wchar_t* device, const wchar_t* port) {
        RegSetValueExW(ports.Get(), device, 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                       static_cast<DWORD>((wcslen(port) + 1) * sizeof(wchar_t)));
    };
    auto assumedPort = [](ISerialConnection* connection) {
        BSTR port = nullptr;
        EXPECT_EQ(S_OK, connection->get_AssumedPort(&port));
        std::wstring text(port ? port : L"");
        SysFreeString(port);
        return text;
    };
    RegDeleteValueW(ports.Get(), L"\\Device\\USBSER000");
    setPort(L"\\device\\usbser000", L"COM7");
    auto first = Connection();
    EXPECT_EQ(L"COM7", assumedPort(first.Get()));
    RegDeleteValueW(ports.Get(), L"\\device\\usbser000");

    auto second = Connection();
    EXPECT_EQ(L"", assumedPort(second.Get()));
    setPort(L"\\Device\\USBSER000", L"COM9");
    EXPECT_EQ(L"", assumedPort(second.Get())); // the list is read once per object
    EXPECT_EQ(L"COM7", assumedPort(first.Get()));
    EXPECT_EQ(L"COM9", assumedPort(Connection().Get()));
    RegDeleteValueW(ports.Get(), L"\\Device\\USBSER000");
    EXPECT_EQ(E_POINTER, first->get_AssumedPort(nullptr));
}

// The real captures through the automation object, in batches of lines as a
// connection delivers them: every fix lies on the globe and carries the
// event's argument types.
TEST_F(Automation, RealCapturesThroughTheInterpreterObject)
{
    const std::wstring folder = TestDataFolder();
    SKIP_WITHOUT_TESTDATA(folder);
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((folder + L"\\nmea\\*.nmea").c_str(), &found));
    ASSERT_TRUE(search);
    size_t fixes = 0;
    do {
        InterpreterWithSink object(Interpreter());
        const std::string bytes = ReadFileBytes(folder + L"\\nmea\\" + found.cFileName);
        std::vector<std::wstring> batch;
        size_t start = 0;
        while (start < bytes.size()) {
            const size_t end = std::min(bytes.find_first_of("\r\n", start), bytes.size());
            if (end > start)
                batch.push_back(AnsiToWide(std::string_view(bytes).substr(start, end - start)));
            start = end + 1;
            if (batch.size() == 8 || start >= bytes.size()) {
                object.Feed(batch);
                batch.clear();
            }
        }
        for (const auto& call : object.sink.Calls()) {
            if (call.id != 102)
                continue;
            ++fixes;
            ASSERT_EQ((std::vector<VARTYPE>{VT_DATE, VT_BOOL, VT_R8, VT_R8, VT_R8, VT_R8, VT_DATE}), TypesOf(call));
            EXPECT_LE(std::fabs(call.arguments[2].dblVal), 90) << found.cFileName;
            EXPECT_LE(std::fabs(call.arguments[3].dblVal), 180) << found.cFileName;
        }
    } while (FindNextFileW(search.Get(), &found));
    EXPECT_GT(fixes, 50u);
}

// Run by the pseudo-terminal checks, which name the port and write lines
// to it a few seconds after the start.
TEST_F(Automation, ReconnectInsideAnEventOnTheWorker)
{
    const std::wstring port = EnvironmentValue(L"TERVOLIN_TEST_PORT");
    if (port.empty())
        GTEST_SKIP() << "needs a port fed with lines (TERVOLIN_TEST_PORT)";
    RunInMultithreadedApartment([&] {
        auto connection = Connection();
        EXPECT_EQ(S_OK, connection->put_Port(SysAllocString(port.c_str())));
        EXPECT_EQ(S_OK, connection->put_Timeout(300));
        // Reconnects inside the first Timeout event, on the worker thread,
        // then counts Errors and waits for Input.
        std::atomic<bool> reconnected{false};
        std::atomic<int> errors{0};
        HRESULT reconnectResults[2] = {E_PENDING, E_PENDING};
        UniqueHandle input(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        CallbackSink sink(__uuidof(_SerialConnectionEvents), [&](DISPID id, DISPPARAMS&) {
            if (id == 3 && !reconnected.exchange(true)) {
                reconnectResults[0] = connection->Disconnect();
                reconnectResults[1] = connection->Connect();
            } else if (id == 1) {
                ++errors;
            } else if (id == 2 && reconnected) {
                SetEvent(input.Get());
            }
        });
        sink.Advise(connection.Get());
        EXPECT_EQ(S_OK, connection->Connect());
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(input.Get(), 20000));
        EXPECT_EQ(S_OK, reconnectResults[0]);
        EXPECT_EQ(S_OK, reconnectResults[1]);
        EXPECT_EQ(0, errors.load());
        EXPECT_EQ(S_OK, connection->Disconnect());
        EXPECT_EQ(S_OK, connection->put_Port(SysAllocString(port.c_str())));
        sink.Unadvise();
    });
}
