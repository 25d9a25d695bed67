#include "com/ComConnectionPoint.h"

#include <cwchar>
#include <memory>
#include <new>
#include <utility>
#include "com/ComEnum.h"

namespace com {

// ---- EventArg ----

EventArg EventArg::UI4(ULONG value) { EventArg a(VT_UI4); a.m_ui4 = value; return a; }
EventArg EventArg::I4(LONG value) { EventArg a(VT_I4); a.m_i4 = value; return a; }
EventArg EventArg::I2(SHORT value) { EventArg a(VT_I2); a.m_i2 = value; return a; }
EventArg EventArg::Date(DATE value) { EventArg a(VT_DATE); a.m_date = value; return a; }
EventArg EventArg::Dispatch(IDispatch* object) { EventArg a(VT_DISPATCH); a.m_dispatch = object; return a; }
EventArg EventArg::ByRefI2(SHORT* value) { EventArg a(VT_BYREF | VT_I2); a.m_pi2 = value; return a; }
EventArg EventArg::ByRefI4(LONG* value) { EventArg a(VT_BYREF | VT_I4); a.m_pi4 = value; return a; }

EventArg EventArg::Bstr(const wchar_t* text) {
    return Bstr(text, text ? static_cast<UINT>(wcslen(text)) : 0);
}

EventArg EventArg::Bstr(const wchar_t* text, UINT length) {
    EventArg a(VT_BSTR);
    a.m_text = text;
    a.m_length = length;
    return a;
}

HRESULT EventArg::Build(VARIANT* out) const {
    if (!out) return E_POINTER;
    VariantClear(out);
    switch (m_vt) {
    case VT_UI4: out->ulVal = m_ui4; break;
    case VT_I4: out->lVal = m_i4; break;
    case VT_I2: out->iVal = m_i2; break;
    case VT_DATE: out->date = m_date; break;
    case VT_DISPATCH:
        out->pdispVal = m_dispatch;
        if (m_dispatch) m_dispatch->AddRef();
        break;
    case VT_BYREF | VT_I2: out->piVal = m_pi2; break;
    case VT_BYREF | VT_I4: out->plVal = m_pi4; break;
    case VT_BSTR:
        out->bstrVal = nullptr;
        if (m_text) {
            out->bstrVal = SysAllocStringLen(m_text, m_length);
            if (!out->bstrVal) return E_OUTOFMEMORY;
        }
        break;
    default: return E_INVALIDARG;
    }
    out->vt = m_vt;
    return S_OK;
}

// ---- ConnectionPoint ----

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID eventIid, CriticalSection& lock)
    : m_container(container), m_eventIid(eventIid), m_lock(lock) {}

ConnectionPoint::~ConnectionPoint() {
    // No other reference exists now, so the owner's lock is not needed (and may be gone).
    std::vector<IDispatch*> sinks;
    sinks.swap(m_sinks);
    for (IDispatch* sink : sinks)
        if (sink) sink->Release();
}

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ConnectionPoint::AddRef() { return m_container->AddRef(); }
STDMETHODIMP_(ULONG) ConnectionPoint::Release() { return m_container->Release(); }

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = m_eventIid;
    return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = m_container;
    m_container->AddRef();
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    // The event interface is a dispinterface, so either answer is an IDispatch.
    ComPtr<IDispatch> dispatch;
    HRESULT hr = sink->QueryInterface(m_eventIid, dispatch.ReceiveVoid());
    if (FAILED(hr) || !dispatch) hr = sink->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid());
    if (FAILED(hr) || !dispatch) return CONNECT_E_CANNOTCONNECT;

    ScopedLock lock(m_lock);
    size_t slot = 0;
    while (slot < m_sinks.size() && m_sinks[slot]) ++slot;
    if (slot == m_sinks.size()) {
        try {
            m_sinks.push_back(nullptr);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    m_sinks[slot] = dispatch.Detach();
    *cookie = static_cast<DWORD>(slot + 1);
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
    IDispatch* sink = nullptr;
    {
        ScopedLock lock(m_lock);
        if (cookie == 0 || cookie > m_sinks.size() || !m_sinks[cookie - 1]) return CONNECT_E_NOCONNECTION;
        sink = m_sinks[cookie - 1];
        m_sinks[cookie - 1] = nullptr;
    }
    // Released outside the lock: the sink's destructor may call back into the owner.
    sink->Release();
    return S_OK;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (!connections) return E_POINTER;
    *connections = nullptr;
    try {
        ScopedLock lock(m_lock);
        std::vector<CONNECTDATA> live;
        for (size_t i = 0; i < m_sinks.size(); ++i)
            if (m_sinks[i]) live.push_back(CONNECTDATA{m_sinks[i], static_cast<DWORD>(i + 1)});
        // The enumerator keeps this point, and so its owner, alive.
        return CreateConnectionsEnumerator(this, live.data(), live.size(), connections);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

size_t ConnectionPoint::ConnectionCount() const {
    ScopedLock lock(m_lock);
    size_t n = 0;
    for (IDispatch* sink : m_sinks)
        if (sink) ++n;
    return n;
}

void ConnectionPoint::ReleaseAll() {
    std::vector<IDispatch*> sinks;
    {
        ScopedLock lock(m_lock);
        sinks.swap(m_sinks);
    }
    for (IDispatch* sink : sinks)
        if (sink) sink->Release();
}

HRESULT ConnectionPoint::Fire(DISPID id, std::initializer_list<EventArg> args) {
    return Fire(id, args.begin(), args.size());
}

HRESULT ConnectionPoint::Fire(DISPID id, const EventArg* args, size_t count) {
    if (count && !args) return E_INVALIDARG;
    size_t slots = 0;
    bool connected = false;
    {
        ScopedLock lock(m_lock);
        slots = m_sinks.size();
        for (IDispatch* sink : m_sinks) connected = connected || sink;
    }
    if (!connected) return S_OK;

    std::unique_ptr<VARIANT[]> params(new (std::nothrow) VARIANT[count ? count : 1]);
    if (!params) return E_OUTOFMEMORY;
    for (size_t i = 0; i < count; ++i) VariantInit(&params[i]);

    HRESULT result = S_OK;
    for (size_t i = 0; i < slots; ++i) {
        ComPtr<IDispatch> sink;
        {
            ScopedLock lock(m_lock);
            if (i < m_sinks.size()) sink = ComPtr<IDispatch>(m_sinks[i]);
        }
        if (!sink) continue;

        // Invoke wants the last argument first.
        HRESULT hr = S_OK;
        for (size_t a = 0; a < count && SUCCEEDED(hr); ++a) hr = args[a].Build(&params[count - 1 - a]);
        if (SUCCEEDED(hr)) {
            DISPPARAMS dp = {count ? params.get() : nullptr, nullptr, static_cast<UINT>(count), 0};
            UniqueVariant invokeResult;
            hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, invokeResult.Get(),
                              nullptr, nullptr);
        }
        result = hr;
        for (size_t a = 0; a < count; ++a) VariantClear(&params[a]);
    }
    return result;
}

// ---- ConnectionPointContainerImpl ----

ConnectionPointContainerImpl::ConnectionPointContainerImpl(REFIID eventIid, CriticalSection& lock)
    : m_connectionPoint(this, eventIid, lock) {}

STDMETHODIMP ConnectionPointContainerImpl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (!points) return E_POINTER;
    IConnectionPoint* point = &m_connectionPoint;
    return CreateConnectionPointsEnumerator(this, &point, 1, points);
}

STDMETHODIMP ConnectionPointContainerImpl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, m_connectionPoint.EventIid())) return CONNECT_E_NOCONNECTION;
    *point = &m_connectionPoint;
    m_connectionPoint.AddRef();
    return S_OK;
}

} // namespace com
