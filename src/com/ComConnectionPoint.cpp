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

namespace {

// Puts a thread without an apartment into the multithreaded one for the
// scope; leaves a thread that has one as it is.
class ApartmentScope {
public:
    ApartmentScope() : m_hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ApartmentScope() {
        if (SUCCEEDED(m_hr)) CoUninitialize();
    }
    ApartmentScope(const ApartmentScope&) = delete;
    ApartmentScope& operator=(const ApartmentScope&) = delete;

private:
    HRESULT m_hr;
};

HRESULT globalTable(ComPtr<IGlobalInterfaceTable>& table) {
    return CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                            table.ReceiveVoid());
}

// Only the proxy manager answers IClientSecurity.
bool isProxy(IUnknown* object) {
    ComPtr<IUnknown> security;
    return SUCCEEDED(object->QueryInterface(IID_IClientSecurity, security.ReceiveVoid())) && security;
}

} // namespace

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID eventIid, CriticalSection& lock)
    : m_container(container), m_eventIid(eventIid), m_lock(lock) {}

ConnectionPoint::~ConnectionPoint() {
    // No other reference exists now, so the owner's lock is not needed (and may be gone).
    std::vector<Sink> sinks;
    sinks.swap(m_sinks);
    for (const Sink& sink : sinks) releaseSink(sink);
}

void ConnectionPoint::releaseSink(const Sink& sink) {
    if (sink.direct) sink.direct->Release();
    if (sink.multithread) sink.multithread->Release();
    if (sink.globalCookie) {
        ApartmentScope apartment;
        ComPtr<IGlobalInterfaceTable> table;
        if (SUCCEEDED(globalTable(table))) table->RevokeInterfaceFromGlobal(sink.globalCookie);
    }
}

HRESULT ConnectionPoint::sinkOnThisThread(size_t slot, const Sink& seen, IDispatch** out) {
    *out = nullptr;
    if (seen.direct) {
        *out = seen.direct;
        seen.direct->AddRef();
        return S_OK;
    }
    APTTYPE type = APTTYPE_STA;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    const bool multithreaded = SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && type == APTTYPE_MTA;
    if (multithreaded) {
        ScopedLock lock(m_lock);
        if (slot < m_sinks.size() && m_sinks[slot].globalCookie == seen.globalCookie && m_sinks[slot].multithread) {
            *out = m_sinks[slot].multithread;
            (*out)->AddRef();
            return S_OK;
        }
    }
    ComPtr<IGlobalInterfaceTable> table;
    HRESULT hr = globalTable(table);
    if (SUCCEEDED(hr))
        hr = table->GetInterfaceFromGlobal(seen.globalCookie, IID_IDispatch, reinterpret_cast<void**>(out));
    if (FAILED(hr) || !multithreaded) return hr;
    ScopedLock lock(m_lock);
    if (slot < m_sinks.size() && m_sinks[slot].globalCookie == seen.globalCookie && !m_sinks[slot].multithread) {
        m_sinks[slot].multithread = *out;
        (*out)->AddRef();
    }
    return hr;
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

    Sink entry;
    if (isProxy(dispatch.Get())) {
        ComPtr<IGlobalInterfaceTable> table;
        hr = globalTable(table);
        if (SUCCEEDED(hr)) hr = table->RegisterInterfaceInGlobal(dispatch.Get(), IID_IDispatch, &entry.globalCookie);
        if (FAILED(hr)) return CONNECT_E_CANNOTCONNECT;
    } else {
        entry.direct = dispatch.Detach();
    }

    {
        ScopedLock lock(m_lock);
        size_t slot = 0;
        while (slot < m_sinks.size() && m_sinks[slot]) ++slot;
        try {
            if (slot == m_sinks.size()) m_sinks.push_back(Sink());
            m_sinks[slot] = entry;
            *cookie = static_cast<DWORD>(slot + 1);
            return S_OK;
        } catch (...) {
        }
    }
    releaseSink(entry);
    return E_OUTOFMEMORY;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
    Sink sink;
    {
        ScopedLock lock(m_lock);
        if (cookie == 0 || cookie > m_sinks.size() || !m_sinks[cookie - 1]) return CONNECT_E_NOCONNECTION;
        sink = m_sinks[cookie - 1];
        m_sinks[cookie - 1] = Sink();
    }
    // Released outside the lock: the sink's destructor may call back into the owner.
    releaseSink(sink);
    return S_OK;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (!connections) return E_POINTER;
    *connections = nullptr;
    try {
        std::vector<Sink> slots;
        {
            ScopedLock lock(m_lock);
            slots = m_sinks;
            for (const Sink& sink : slots)
                if (sink.direct) sink.direct->AddRef();
        }
        std::vector<ComPtr<IDispatch>> held;
        std::vector<CONNECTDATA> live;
        held.reserve(slots.size());
        for (size_t i = 0; i < slots.size(); ++i) {
            ComPtr<IDispatch> sink = ComPtr<IDispatch>::Adopt(slots[i].direct);
            if (slots[i].globalCookie && FAILED(sinkOnThisThread(i, slots[i], sink.Receive()))) continue;
            if (!sink) continue;
            live.push_back(CONNECTDATA{sink.Get(), static_cast<DWORD>(i + 1)});
            held.push_back(std::move(sink));
        }
        // The enumerator keeps this point, and so its owner, alive.
        return CreateConnectionsEnumerator(this, live.data(), live.size(), connections);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

size_t ConnectionPoint::ConnectionCount() const {
    ScopedLock lock(m_lock);
    size_t n = 0;
    for (const Sink& sink : m_sinks)
        if (sink) ++n;
    return n;
}

void ConnectionPoint::ReleaseAll() {
    std::vector<Sink> sinks;
    {
        ScopedLock lock(m_lock);
        sinks.swap(m_sinks);
    }
    for (const Sink& sink : sinks) releaseSink(sink);
}

HRESULT ConnectionPoint::Fire(DISPID id, std::initializer_list<EventArg> args, SinkFailureHandler onFailure) {
    return Fire(id, args.begin(), args.size(), onFailure);
}

HRESULT ConnectionPoint::Fire(DISPID id, const EventArg* args, size_t count, SinkFailureHandler onFailure) {
    if (count && !args) return E_INVALIDARG;
    size_t slots = 0;
    bool connected = false, anyProxy = false;
    {
        ScopedLock lock(m_lock);
        slots = m_sinks.size();
        for (const Sink& sink : m_sinks) {
            connected = connected || sink;
            anyProxy = anyProxy || sink.globalCookie;
        }
    }
    if (!connected) return S_OK;

    std::unique_ptr<VARIANT[]> params(new (std::nothrow) VARIANT[count ? count : 1]);
    if (!params) return E_OUTOFMEMORY;
    for (size_t i = 0; i < count; ++i) VariantInit(&params[i]);

    std::unique_ptr<ApartmentScope> apartment;
    if (anyProxy) apartment.reset(new (std::nothrow) ApartmentScope());

    HRESULT result = S_OK;
    for (size_t i = 0; i < slots; ++i) {
        Sink entry;
        {
            ScopedLock lock(m_lock);
            if (i < m_sinks.size()) entry = m_sinks[i];
            if (entry.direct) entry.direct->AddRef();
        }
        if (!entry) continue;
        ComPtr<IDispatch> sink = ComPtr<IDispatch>::Adopt(entry.direct);
        HRESULT hr = S_OK;
        if (entry.globalCookie) {
            hr = sinkOnThisThread(i, entry, sink.Receive());
            if (FAILED(hr)) {
                // Unadvised since the slot was read: it is gone, not failing.
                ScopedLock lock(m_lock);
                if (i >= m_sinks.size() || m_sinks[i].globalCookie != entry.globalCookie) continue;
            }
        }

        // Invoke wants the last argument first.
        for (size_t a = 0; a < count && SUCCEEDED(hr); ++a) hr = args[a].Build(&params[count - 1 - a]);
        if (SUCCEEDED(hr) && sink) {
            DISPPARAMS dp = {count ? params.get() : nullptr, nullptr, static_cast<UINT>(count), 0};
            UniqueVariant invokeResult;
            hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, invokeResult.Get(),
                              nullptr, nullptr);
        }
        if (FAILED(hr) && onFailure) onFailure(id, static_cast<DWORD>(i + 1), hr);
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
