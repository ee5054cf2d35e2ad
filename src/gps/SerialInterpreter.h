// The SerialInterpreter automation object: listens to a SerialConnection's
// Input events and fires the interpreted sentences as
// _SerialInterpreterEvents.
//
// Initialize advises the object's own ISerialConnectionEvents on the
// connection's connection point (the connection answers
// _SerialConnectionEvents with it); Terminate unadvises. While attached,
// the two objects hold each other. Each Input batch is interpreted
// synchronously on the thread that delivers it and fires its events on
// that thread; a malformed line ends its batch silently.
#pragma once

#include "gps/ComSupport.h"
#include "gps/NmeaInterpreter.h"
#include "gps/Tervolin_h.h"

class CSerialInterpreter final : public CDualObject<ISerialInterpreter>, private NmeaEvents
{
public:
    explicit CSerialInterpreter(IUnknown* outer);

    // IDispatch
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // ISerialInterpreter
    STDMETHODIMP Initialize(ISerialConnection* connection) override;
    STDMETHODIMP Terminate() override;

    // Interprets one batch of lines (the vLines of an Input event).
    void Input(const VARIANT& lines) noexcept;

private:
    ~CSerialInterpreter() override;

    void* FindInterface(REFIID iid) noexcept override;
    void Detach() noexcept;
    void InterpretBatch(const VARIANT& lines);

    // NmeaEvents: fired to the clients of _SerialInterpreterEvents.
    void SatellitesInView(const std::vector<SatelliteInView>& satellites) override;
    void GeographicLatitudeAndLongitude(const GeographicPosition& position) override;
    void RecommendedMinimumC(const RecommendedMinimum& fix) override;
    void SatellitesActive(const ActiveSatellites& satellites) override;
    void Status(const ReceiverStatus& status) override;

    // The object's ISerialConnectionEvents, with an IDispatch of its own.
    class CConnectionEvents final : public ISerialConnectionEvents
    {
    public:
        explicit CConnectionEvents(CSerialInterpreter& owner) noexcept : m_owner(owner) {}

        STDMETHODIMP QueryInterface(REFIID iid, void** result) override { return m_owner.QueryInterface(iid, result); }
        STDMETHODIMP_(ULONG) AddRef() override { return m_owner.AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_owner.Release(); }

        STDMETHODIMP GetTypeInfoCount(UINT* count) override { return TypeInfoCount(count); }
        STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override;
        STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
        STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                            EXCEPINFO* exception, UINT* argumentError) override;

        STDMETHODIMP Error(LONG) override { return S_OK; }
        STDMETHODIMP Input(VARIANT lines) override;
        STDMETHODIMP Timeout(LONG) override { return S_OK; }

    private:
        CSerialInterpreter& m_owner;
    };

    CConnectionEvents m_connectionEvents;
    CNmeaInterpreter m_interpreter;
    // The satellite lists of one event are reused by the next.
    CVariantArrayPool m_arrays;

    CriticalSection m_attachmentLock;
    ComPtr<ISerialConnection> m_connection;
    ComPtr<IConnectionPointContainer> m_container;
    DWORD m_cookie = 0;
    bool m_advised = false;
};
