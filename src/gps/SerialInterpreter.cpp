#include "gps/SerialInterpreter.h"

#include "gps/AutomationClasses.h"

namespace {

const DispatchName c_interpreterNames[] = {
    {L"pSerialConnection", 0},
    {L"Initialize", 1},
    {L"Terminate", 2},
};

const DispatchName c_connectionEventNames[] = {
    {L"nCode", 0}, {L"Error", 1}, {L"vLines", 0}, {L"Input", 2}, {L"nTimeout", 0}, {L"Timeout", 3},
};

enum InterpreterEvent : DISPID
{
    SatellitesInViewId = 100,
    GeographicLatitudeAndLongitudeId = 101,
    RecommendedMinimumCId = 102,
    SatellitesActiveId = 103,
    StatusId = 200,
};

// True when the array's elements really are VARIANTs: the VARIANT's type
// only claims so, and reading elements of another size would run past the
// array. An array that does not record its element type is judged by the
// element size alone.
bool HoldsVariants(SAFEARRAY* array) noexcept
{
    VARTYPE type = VT_VARIANT;
    return SafeArrayGetElemsize(array) == sizeof(VARIANT) &&
           (FAILED(SafeArrayGetVartype(array, &type)) || type == VT_VARIANT);
}

// Calls function for each line of an Input batch until it returns false:
// VT_EMPTY and VT_NULL hold no line; anything but a one-dimensional array
// of VARIANTs is a malformed batch, of which nothing is read. Elements that
// are not strings count as empty lines.
template <typename Function>
void ForEachLine(const VARIANT& lines, Function&& function)
{
    if (lines.vt != (VT_ARRAY | VT_VARIANT) || !lines.parray || SafeArrayGetDim(lines.parray) != 1 ||
        !HoldsVariants(lines.parray))
        return;
    LONG lower = 0;
    LONG upper = -1;
    VARIANT* elements = nullptr;
    if (FAILED(SafeArrayGetLBound(lines.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(lines.parray, 1, &upper)) ||
        FAILED(SafeArrayAccessData(lines.parray, reinterpret_cast<void**>(&elements))))
        return;
    ScopeExit unaccess([&] { SafeArrayUnaccessData(lines.parray); });
    for (LONG i = 0; i <= upper - lower; ++i) {
        const VARIANT& line = elements[i];
        const bool isText = line.vt == VT_BSTR && line.bstrVal;
        if (!function(isText ? std::wstring_view(line.bstrVal, SysStringLen(line.bstrVal)) : std::wstring_view()))
            return;
    }
}

} // namespace

CSerialInterpreter::CSerialInterpreter(IUnknown* outer)
    : CDualObject(outer, __uuidof(CSerialInterpreter), __uuidof(_SerialInterpreterEvents), c_interpreterNames),
      m_connectionEvents(*this)
{
}

CSerialInterpreter::~CSerialInterpreter()
{
    Detach();
}

void* CSerialInterpreter::FindInterface(REFIID iid) noexcept
{
    if (iid == __uuidof(_SerialConnectionEvents) || iid == __uuidof(ISerialConnectionEvents))
        return static_cast<ISerialConnectionEvents*>(&m_connectionEvents);
    return CDualObject::FindInterface(iid);
}

STDMETHODIMP CSerialInterpreter::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT* result,
                                        EXCEPINFO* exception, UINT* argumentError)
{
    if (const HRESULT hr = BeginInvoke(parameters, result); FAILED(hr))
        return hr;
    return ResultOfCall([&]() -> HRESULT {
        switch (id) {
        case 1: {
            CInvokeArgument argument(*parameters, VT_DISPATCH, argumentError);
            ComPtr<ISerialConnection> connection;
            if (IDispatch* object = argument.Value().pdispVal) {
                connection = ComPtr<IDispatch>(object).TryAs<ISerialConnection>();
                if (!connection) {
                    if (argumentError)
                        *argumentError = 0;
                    return DISP_E_TYPEMISMATCH;
                }
            }
            return MemberResult(Initialize(connection.Get()), exception);
        }
        case 2:
            RequireNoArguments(*parameters);
            return MemberResult(Terminate(), exception);
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    });
}

STDMETHODIMP CSerialInterpreter::Initialize(ISerialConnection* connection)
{
    CriticalSectionLock lock(m_attachmentLock);
    if (connection && connection == m_connection.Get())
        return S_OK;
    Detach();
    if (!connection)
        return S_OK;
    return ResultOfCall([&]() -> HRESULT {
        ComPtr<IConnectionPointContainer> container =
            ComPtr<ISerialConnection>(connection).TryAs<IConnectionPointContainer>();
        if (!container)
            return E_NOINTERFACE;
        ComPtr<IConnectionPoint> point;
        ThrowIfFailed(container->FindConnectionPoint(__uuidof(_SerialConnectionEvents), point.Put()));
        ThrowIfFailed(point->Advise(static_cast<ISerialConnectionEvents*>(&m_connectionEvents), &m_cookie));
        m_container = container;
        m_advised = true;
        m_connection = connection;
        return S_OK;
    });
}

STDMETHODIMP CSerialInterpreter::Terminate()
{
    CriticalSectionLock lock(m_attachmentLock);
    Detach();
    return S_OK;
}

// Called with the attachment lock held (or from the destructor).
void CSerialInterpreter::Detach() noexcept
{
    if (m_advised) {
        ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(m_container->FindConnectionPoint(__uuidof(_SerialConnectionEvents), point.Put())))
            point->Unadvise(m_cookie);
        m_advised = false;
        m_cookie = 0;
    }
    m_container.Reset();
    m_connection.Reset();
}

void CSerialInterpreter::Input(const VARIANT& lines) noexcept
{
    try {
        InterpretBatch(lines);
    } catch (...) {
        // An event that could not be built ends the batch; the next batch
        // starts afresh.
    }
}

void CSerialInterpreter::InterpretBatch(const VARIANT& lines)
{
    NmeaSentence scratch;
    ForEachLine(lines, [&](std::wstring_view line) { return m_interpreter.InterpretLine(line, scratch, *this); });
}

void CSerialInterpreter::SatellitesInView(const std::vector<SatelliteInView>& satellites)
{
    const CVariantArrayPool::Use pool(m_arrays);
    CEventArguments arguments(pool.Get());
    CVariantArray list(static_cast<ULONG>(satellites.size()), pool.Get());
    for (ULONG i = 0; i < satellites.size(); ++i) {
        CVariantArray satellite(4, pool.Get());
        satellite[0].vt = VT_I4;
        satellite[0].lVal = satellites[i].number;
        satellite[1].vt = VT_R8;
        satellite[1].dblVal = satellites[i].elevation;
        satellite[2].vt = VT_R8;
        satellite[2].dblVal = satellites[i].azimuth;
        satellite[3].vt = VT_R8;
        satellite[3].dblVal = satellites[i].signalToNoise;
        satellite.Detach(list[i]);
    }
    arguments.Array(list).Fire(EventPoint().Sinks(), SatellitesInViewId);
}

void CSerialInterpreter::GeographicLatitudeAndLongitude(const GeographicPosition& position)
{
    CEventArguments arguments;
    arguments.Double(position.latitude).Double(position.longitude).Date(position.time).Bool(position.active);
    arguments.Fire(EventPoint().Sinks(), GeographicLatitudeAndLongitudeId);
}

void CSerialInterpreter::RecommendedMinimumC(const RecommendedMinimum& fix)
{
    CEventArguments arguments;
    arguments.Date(fix.time).Bool(fix.active).Double(fix.latitude).Double(fix.longitude).Double(fix.speed);
    arguments.Double(fix.course).Date(fix.date);
    arguments.Fire(EventPoint().Sinks(), RecommendedMinimumCId);
}

void CSerialInterpreter::SatellitesActive(const ActiveSatellites& satellites)
{
    const CVariantArrayPool::Use pool(m_arrays);
    CEventArguments arguments(pool.Get());
    arguments.Bool(satellites.automatic).Long(satellites.fixType);
    if (satellites.numbers.empty()) {
        VARIANT none;
        VariantInit(&none);
        arguments.Variant(none);
    } else {
        CVariantArray list(static_cast<ULONG>(satellites.numbers.size()), pool.Get());
        for (ULONG i = 0; i < satellites.numbers.size(); ++i) {
            list[i].vt = VT_I4;
            list[i].lVal = satellites.numbers[i];
        }
        arguments.Array(list);
    }
    arguments.Double(satellites.positionDilution).Double(satellites.horizontalDilution);
    arguments.Double(satellites.verticalDilution);
    arguments.Fire(EventPoint().Sinks(), SatellitesActiveId);
}

void CSerialInterpreter::Status(const ReceiverStatus& status)
{
    CEventArguments arguments;
    arguments.String(status.softwareVersion).Long(status.fixType).Bool(status.fixAvailable);
    arguments.Double(status.batteryLevel).Double(status.estimatedBatteryHours).String(status.oscillatorOffset);
    arguments.String(status.proprietaryInformation);
    arguments.Fire(EventPoint().Sinks(), StatusId);
}

// ---- ISerialConnectionEvents

STDMETHODIMP CSerialInterpreter::CConnectionEvents::GetTypeInfo(UINT index, LCID, ITypeInfo** info)
{
    return TypeInfoOf(__uuidof(ISerialConnectionEvents), index, info);
}

STDMETHODIMP CSerialInterpreter::CConnectionEvents::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                                                  DISPID* ids)
{
    return IdsOfNamesFromTable(c_connectionEventNames, names, count, ids);
}

STDMETHODIMP CSerialInterpreter::CConnectionEvents::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters,
                                                           VARIANT* result, EXCEPINFO*, UINT* argumentError)
{
    if (const HRESULT hr = BeginInvoke(parameters, result); FAILED(hr))
        return hr;
    return ResultOfCall([&]() -> HRESULT {
        switch (id) {
        case 1:
        case 3: {
            const CInvokeArgument ignored(*parameters, VT_I4, argumentError);
            return S_OK;
        }
        case 2: {
            if (parameters->cArgs != 1 || !parameters->rgvarg)
                return DISP_E_BADPARAMCOUNT;
            const VARIANT& argument = parameters->rgvarg[0];
            const bool byReference = argument.vt == (VT_BYREF | VT_VARIANT) && argument.pvarVal;
            m_owner.Input(byReference ? *argument.pvarVal : argument);
            return S_OK;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    });
}

STDMETHODIMP CSerialInterpreter::CConnectionEvents::Input(VARIANT lines)
{
    m_owner.Input(lines);
    return S_OK;
}

HRESULT CreateSerialInterpreter(IUnknown* outer, REFIID iid, void** result) noexcept
{
    return CreateAggregatableObject<CSerialInterpreter>(outer, iid, result);
}
