// A connection point for one outgoing dispinterface, and a helper that makes a
// class its IConnectionPointContainer.
//
//   class CThing : public com::ComObjectRoot<com::SingleThreadModel>,
//                  public IThing,
//                  public com::ConnectionPointContainerImpl {
//   public:
//       CThing() : ConnectionPointContainerImpl(DIID__IThingEvents, m_lock) {}
//       // firing: EventConnectionPoint().Fire(42, {EventArg::I2(percent), EventArg::I4(id)});
//   private:
//       com::CriticalSection m_lock;
//   };
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
#include <ocidl.h>
#include <olectl.h>
#include <cstddef>
#include <initializer_list>
#include <vector>
#include "com/ComUtil.h"

namespace com {

// One event argument, given in the event's declaration order. Each sink gets a
// fresh VARIANT built from it, so a sink that changes its arguments affects no other.
class EventArg {
public:
    static EventArg UI4(ULONG value);
    static EventArg I4(LONG value);
    static EventArg I2(SHORT value);
    // Copied into a new BSTR for every sink; a null string stays a null BSTR.
    static EventArg Bstr(const wchar_t* text);
    static EventArg Bstr(const wchar_t* text, UINT length);
    static EventArg Date(DATE value);
    // The object gets a reference for the call's duration; null is allowed.
    static EventArg Dispatch(IDispatch* object);
    // In/out values the sinks may write (a cancel flag, an answer).
    static EventArg ByRefI2(SHORT* value);
    static EventArg ByRefI4(LONG* value);

    VARTYPE Type() const { return m_vt; }
    // Fills an initialised VARIANT that the caller clears afterwards.
    HRESULT Build(VARIANT* out) const;

private:
    explicit EventArg(VARTYPE vt) : m_vt(vt), m_text(nullptr) {}

    VARTYPE m_vt;
    union {
        ULONG m_ui4;
        LONG m_i4;
        SHORT m_i2;
        DATE m_date;
        IDispatch* m_dispatch;
        SHORT* m_pi2;
        LONG* m_pi4;
        const wchar_t* m_text;
    };
    UINT m_length = 0;
};

// Told about each sink whose call failed while firing; the other sinks are
// still called.
using SinkFailureHandler = void (*)(DISPID id, DWORD cookie, HRESULT hr);

// IConnectionPoint for one dispinterface. It lives inside its owner: AddRef and
// Release go to the container's IUnknown, which is the owner's controlling
// unknown (the outer one when the owner is aggregated). Sinks sit in slots whose
// cookie is the slot index + 1; an unadvised slot stays empty until reused.
//
// Events may be fired from any thread. A sink that is a proxy (the client
// advised from another apartment) is only valid in the apartment that advised
// it, so it is kept in the Global Interface Table and taken out on the firing
// thread, which joins the multithreaded apartment for the call when it has no
// apartment of its own: the call then reaches the sink's apartment. What is
// taken out in the multithreaded apartment is valid on all its threads and is
// kept for later events (taking it out once also spares a runtime that
// unmarshals such an entry only once). A sink that is a plain in-process
// object is called directly on the firing thread.
class ConnectionPoint final : public IConnectionPoint {
public:
    // lock is the owner's object lock; it guards the sink list but is not used by
    // the destructor, so the owner may destroy it first.
    ConnectionPoint(IConnectionPointContainer* container, REFIID eventIid, CriticalSection& lock);
    ~ConnectionPoint();
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

    STDMETHOD(GetConnectionInterface)(IID* iid) override;
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** container) override;
    STDMETHOD(Advise)(IUnknown* sink, DWORD* cookie) override;
    STDMETHOD(Unadvise)(DWORD cookie) override;
    STDMETHOD(EnumConnections)(IEnumConnections** connections) override;

    // Calls IDispatch::Invoke(id, DISPATCH_METHOD) on every sink connected when
    // firing starts and still connected when its turn comes; the sinks are called
    // outside the lock. Returns the last Invoke's HRESULT (or the failure to build
    // that sink's arguments or to reach it), S_OK when none was made.
    HRESULT Fire(DISPID id, std::initializer_list<EventArg> args, SinkFailureHandler onFailure = nullptr);
    HRESULT Fire(DISPID id, const EventArg* args, size_t count, SinkFailureHandler onFailure = nullptr);

    // Drops every sink (each held by one reference).
    void ReleaseAll();
    size_t ConnectionCount() const;
    const IID& EventIid() const { return m_eventIid; }

private:
    // direct or globalCookie is set; neither marks an empty slot.
    struct Sink {
        IDispatch* direct = nullptr;     // one reference
        DWORD globalCookie = 0;          // Global Interface Table entry of a proxy
        IDispatch* multithread = nullptr;  // the entry taken out in the MTA; one reference
        explicit operator bool() const { return direct || globalCookie; }
    };
    // The sink of slot as an interface valid on the calling thread (which is in
    // an apartment); fails when the slot was emptied meanwhile.
    HRESULT sinkOnThisThread(size_t slot, const Sink& seen, IDispatch** out);
    static void releaseSink(const Sink& sink);

    IConnectionPointContainer* m_container;
    IID m_eventIid;
    CriticalSection& m_lock;
    std::vector<Sink> m_sinks;
};

// IConnectionPointContainer for a class with one outgoing interface. Derive from
// it beside the class's other interfaces and list IConnectionPointContainer in
// the COM map.
class ConnectionPointContainerImpl : public IConnectionPointContainer {
public:
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** points) override;
    STDMETHOD(FindConnectionPoint)(REFIID iid, IConnectionPoint** point) override;

    ConnectionPoint& EventConnectionPoint() { return m_connectionPoint; }

protected:
    // lock may be a member of the derived class not yet constructed: it is only
    // stored here.
    ConnectionPointContainerImpl(REFIID eventIid, CriticalSection& lock);
    ~ConnectionPointContainerImpl() = default;

private:
    ConnectionPoint m_connectionPoint;
};

} // namespace com
