// Set-up of the object model tests: the service bound to a simulated phone as
// the Device Manager binds it, objects opened through IKVFileMgmt, an event
// sink for the folders' connection points, and a probe folder that draws
// transaction ids and proves, by the worker's first-in first-out order, that
// earlier operations have run.
#pragma once

#include "test_symbian_fixture.h"

#include <functional>

namespace omtest {

using namespace symtest;

inline std::wstring Text(const com::UniqueBstr& s) { return std::wstring(s.c_str(), s.Length()); }

inline std::wstring PathOf(IKVFMObject* object) {
    com::UniqueBstr path;
    if (!object || FAILED(object->get_Path(path.Receive()))) return L"<failed>";
    return Text(path);
}
inline std::wstring NameOf(IKVFMObject* object) {
    com::UniqueBstr name;
    if (!object || FAILED(object->get_Name(name.Receive()))) return L"<failed>";
    return Text(name);
}
inline LONG TypeOf(IKVFMObject* object) {
    LONG kind = -1;
    if (object) object->get_Type(&kind);
    return kind;
}
// The COM identity of an object (its IUnknown).
inline IUnknown* Identity(IUnknown* object) {
    ComPtr<IUnknown> unknown;
    if (!object || FAILED(object->QueryInterface(IID_IUnknown, unknown.ReceiveVoid()))) return nullptr;
    return unknown.Get();  // the object stays alive through the caller's reference
}
inline VARIANT Key(LONG index) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = index;
    return v;
}
inline VARIANT Key(BSTR name) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = name;
    return v;
}
template <class C>
LONG CountOf(IUnknown* collection, REFIID iid) {
    ComPtr<C> typed;
    LONG count = -1;
    if (collection && SUCCEEDED(collection->QueryInterface(iid, typed.ReceiveVoid()))) typed->get_Count(&count);
    return count;
}

// Records the folder events; they arrive on the worker thread.
class Sink final : public IDispatch {
public:
    struct Call {
        DISPID id = 0;
        std::vector<VARTYPE> types;  // in declaration order
        ULONG result = 0;
        LONG transactionId = 0;
        ComPtr<IDispatch> object;
        LONG count = -1;  // of the collection handed over
        DWORD threadId = GetCurrentThreadId();  // where the call arrived
    };

    static ComPtr<Sink> Create() { return ComPtr<Sink>::Adopt(new Sink()); }
    // Runs on the firing thread inside each call.
    void OnCall(std::function<void(const Call&)> hook) { m_hook = std::move(hook); }

    std::vector<Call> CallsFor(LONG transactionId) {
        com::ScopedLock lock(m_lock);
        std::vector<Call> out;
        for (const Call& c : m_calls)
            if (c.transactionId == transactionId) out.push_back(c);
        return out;
    }
    size_t CallCount() {
        com::ScopedLock lock(m_lock);
        return m_calls.size();
    }
    std::vector<Call> Calls() {
        com::ScopedLock lock(m_lock);
        return m_calls;
    }
    // Pumps messages while waiting; the cap only turns a hang into a failure.
    bool WaitFor(LONG transactionId) {
        const ULONGLONG deadline = GetTickCount64() + kHangMs;
        for (;;) {
            if (!CallsFor(transactionId).empty()) return true;
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) return false;
            const DWORD r = MsgWaitForMultipleObjects(1, &m_event, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
            if (r == WAIT_OBJECT_0 + 1) {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
            }
        }
    }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID__IKVFMFolderEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return InterlockedIncrement(&m_refs); }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG n = InterlockedDecrement(&m_refs);
        if (!n) delete this;
        return n;
    }
    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        Call call;
        call.id = id;
        const UINT n = params ? params->cArgs : 0;
        for (UINT i = n; i-- > 0;) call.types.push_back(params->rgvarg[i].vt);  // rgvarg holds the last first
        // Completion events only: (result, [object,] transaction id).
        if (n >= 2) {
            call.result = params->rgvarg[n - 1].ulVal;
            call.transactionId = params->rgvarg[0].lVal;
        }
        if (n == 3 && params->rgvarg[1].vt == VT_DISPATCH) {
            call.object = ComPtr<IDispatch>(params->rgvarg[1].pdispVal);
            if (id == 35) call.count = CountOf<IKVFMObjects>(call.object.Get(), IID_IKVFMObjects);
            if (id == 36) call.count = CountOf<IKVFMFiles>(call.object.Get(), IID_IKVFMFiles);
            if (id == 37) call.count = CountOf<IKVFMFolders>(call.object.Get(), IID_IKVFMFolders);
        }
        if (m_hook) m_hook(call);
        {
            com::ScopedLock lock(m_lock);
            m_calls.push_back(call);
        }
        SetEvent(m_event);
        return S_OK;
    }

private:
    Sink() : m_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~Sink() { CloseHandle(m_event); }

    LONG m_refs = 1;
    HANDLE m_event;
    com::CriticalSection m_lock;
    std::vector<Call> m_calls;
    std::function<void(const Call&)> m_hook;
};

inline ComPtr<IConnectionPoint> EventPoint(IUnknown* object) {
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (object && SUCCEEDED(object->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid())))
        container->FindConnectionPoint(DIID__IKVFMFolderEvents, point.Receive());
    return point;
}
// Any event sink: the folder events are a dispinterface.
inline DWORD Advise(IUnknown* object, IDispatch* sink) {
    DWORD cookie = 0;
    ComPtr<IConnectionPoint> point = EventPoint(object);
    EXPECT_TRUE(point);
    if (point) {
        EXPECT_EQ(S_OK, point->Advise(sink, &cookie));
    }
    return cookie;
}

class ObjectModelTest : public PhoneTest {
protected:
    void TearDown() override {
        m_probe.Reset();
        m_probeSink.Reset();
        m_fm.Reset();
        PhoneTest::TearDown();
    }
    void BindAs(const std::wstring& config, const wchar_t* uid) {
        Bind(config, uid);
        ASSERT_EQ(S_OK, m_service->CreateFileMgmt(m_fm.Receive()));
    }
    ComPtr<IKVFMFolder> Folder(const std::wstring& path) {
        ComPtr<IKVFMFolder> folder;
        com::UniqueBstr p(path.c_str());
        EXPECT_EQ(S_OK, m_fm->CreateFMFolder(p.Get(), folder.Receive())) << com::ToAnsi(path.c_str());
        return folder;
    }
    ComPtr<IKVFMFile> FileAt(const std::wstring& path) {
        ComPtr<IKVFMFile> file;
        com::UniqueBstr p(path.c_str());
        EXPECT_EQ(S_OK, m_fm->CreateFMFile(p.Get(), file.Receive())) << com::ToAnsi(path.c_str());
        return file;
    }
    // Draws an id with a real listing on the probe folder and waits for its
    // event; every operation started before it has run by then.
    LONG DrawId() {
        if (!m_probe) {
            m_probe = Folder(m_probePath);
            m_probeSink = Sink::Create();
            if (m_probe) Advise(m_probe.Get(), m_probeSink.Get());
        }
        LONG id = 0;
        if (!m_probe) return -1;
        EXPECT_EQ(S_OK, m_probe->GetObjectsAsynch(&id));
        EXPECT_TRUE(m_probeSink->WaitFor(id)) << "no event for transaction " << id;
        return id;
    }

    std::wstring m_probePath;
    ComPtr<IKVFileMgmt> m_fm;
    ComPtr<IKVFMFolder> m_probe;
    ComPtr<Sink> m_probeSink;
};

} // namespace omtest
