#include "com/ComModule.h"
#include "com/ComClassFactory.h"
#include "com/ComObject.h"

#include <algorithm>

namespace com {

ComModule& Module() {
    static ComModule module;
    return module;
}

HINSTANCE ComModule::Instance() const {
    if (m_instance) return m_instance;
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Module), &self);
    return self;
}

std::wstring ComModule::ModulePath() const {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(Instance(), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return std::wstring(path, n);
}

void ComModule::AddTermFunc(void (*func)(void*), void* arg) {
    ScopedLock lock(m_guard);
    m_termFuncs.emplace_back(func, arg);
}

void ComModule::Term() {
    std::vector<std::pair<void (*)(void*), void*>> funcs;
    {
        ScopedLock lock(m_guard);
        funcs.swap(m_termFuncs);
    }
    for (auto it = funcs.rbegin(); it != funcs.rend(); ++it) it->first(it->second);
}

HRESULT InternalQueryInterface(void* object, const QIEntry* entries, REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        IUnknown* unk = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + entries[0].offset);
        unk->AddRef();
        *ppv = unk;
        return S_OK;
    }
    for (const QIEntry* e = entries; e->iid; ++e) {
        if (!IsEqualIID(iid, *e->iid)) continue;
        if (e->func) {
            HRESULT hr = e->func(object, iid, ppv, e->arg);
            if (hr == S_FALSE) continue;  // the entry declined; keep looking
            return hr;
        }
        IUnknown* unk = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + e->offset);
        unk->AddRef();
        *ppv = unk;
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT QueryMemberUnknown(void* object, REFIID iid, void** ppv, uintptr_t arg) {
    IUnknown* inner = *reinterpret_cast<IUnknown**>(static_cast<char*>(object) + arg);
    if (!inner) return E_NOINTERFACE;
    return inner->QueryInterface(iid, ppv);
}

// ---- class factory ----------------------------------------------------------

namespace {

// The factory cached in the object map holds no module lock of its own; every
// reference a client holds beyond the cache's does, as do LockServer locks.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(ObjectMapEntry* entry) : m_entry(entry) {}

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override {
        LONG r = InterlockedIncrement(&m_refCount);
        if (r == 2) Module().Lock();
        return static_cast<ULONG>(r);
    }
    STDMETHOD_(ULONG, Release)() override {
        LONG r = InterlockedDecrement(&m_refCount);
        if (r == 1) Module().Unlock();
        if (r == 0) delete this;
        return static_cast<ULONG>(r);
    }
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        try {
            return m_entry->create(outer, iid, ppv);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }
    STDMETHOD(LockServer)(BOOL lock) override {
        if (lock) Module().Lock();
        else Module().Unlock();
        return S_OK;
    }

private:
    LONG m_refCount = 0;
    ObjectMapEntry* m_entry;
};

void ReleaseCachedFactories(void* arg) {
    auto* map = static_cast<ObjectMap*>(arg);
    for (ObjectMapEntry* e = map->begin; e != map->end; ++e) {
        if (IClassFactory* f = e->factory) {
            e->factory = nullptr;
            f->Release();
        }
    }
}

} // namespace

HRESULT GetClassObject(ObjectMap& map, REFCLSID clsid, REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (ObjectMapEntry* e = map.begin; e != map.end; ++e) {
        if (!IsEqualCLSID(clsid, *e->clsid)) continue;
        {
            ScopedLock lock(Module().Guard());
            if (!e->factory) {
                auto* factory = new (std::nothrow) ClassFactory(e);
                if (!factory) return E_OUTOFMEMORY;
                factory->AddRef();
                e->factory = factory;
                if (!map.termRegistered) {
                    map.termRegistered = true;
                    Module().AddTermFunc(&ReleaseCachedFactories, &map);
                }
            }
        }
        return e->factory->QueryInterface(iid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() { return Module().LockCount() == 0 ? S_OK : S_FALSE; }

} // namespace com
