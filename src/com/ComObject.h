// Reference counting, QueryInterface tables and aggregation for our COM classes.
//
// A class derives from ComObjectRoot<ThreadModel> and its interfaces and lists
// them in a table:
//
//   class CThing : public com::ComObjectRoot<com::MultiThreadModel>,
//                  public com::DispatchImpl<IThing, &LIBID_X> {
//   public:
//       BEGIN_COM_MAP(CThing)
//           COM_INTERFACE_ENTRY(IThing)
//           COM_INTERFACE_ENTRY2(IDispatch, IThing)
//       END_COM_MAP()
//   };
//
// The most derived classes ComObject<CThing> (stand-alone) and ComAggObject<CThing>
// (inner object of an aggregate) supply IUnknown and hold a module lock.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <cstddef>
#include <new>
#include <utility>
#include "com/ComModule.h"

namespace com {

struct QIEntry {
    const IID* iid;
    ptrdiff_t offset;
    // When set, answers the query instead of the offset (forwarding, tear-offs).
    HRESULT (*func)(void* object, REFIID iid, void** ppv, uintptr_t arg);
    uintptr_t arg;
};

struct SingleThreadModel {
    static LONG Increment(LONG* p) { return ++*p; }
    static LONG Decrement(LONG* p) { return --*p; }
};

struct MultiThreadModel {
    static LONG Increment(LONG* p) { return InterlockedIncrement(p); }
    static LONG Decrement(LONG* p) { return InterlockedDecrement(p); }
};

HRESULT InternalQueryInterface(void* object, const QIEntry* entries, REFIID iid, void** ppv);

// Forwards a query to an IUnknown member found at object + arg (an inner object).
HRESULT QueryMemberUnknown(void* object, REFIID iid, void** ppv, uintptr_t arg);

template <class ThreadModel>
class ComObjectRoot {
public:
    using ThreadModelType = ThreadModel;

    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}

    LONG InternalAddRef() { return ThreadModel::Increment(&m_refCount); }
    LONG InternalRelease() { return ThreadModel::Decrement(&m_refCount); }

    // The unknown that owns this object's identity: the outer one when aggregated.
    IUnknown* ControllingUnknown() const { return m_outerUnknown; }

protected:
    ComObjectRoot() = default;
    ~ComObjectRoot() = default;

    LONG m_refCount = 0;
    // Set by the most derived class: the object itself, or the aggregate's outer.
    IUnknown* m_outerUnknown = nullptr;

    template <class> friend class ComObject;
    template <class> friend class ComContainedObject;
    template <class> friend class ComAggObject;
};

#define COM_IFACE_OFFSET(Class, Iface) \
    (reinterpret_cast<ptrdiff_t>(static_cast<Iface*>(reinterpret_cast<Class*>(0x1000))) - 0x1000)

#define BEGIN_COM_MAP(Class)                                     \
    using ComMapClass = Class;                                   \
    static const ::com::QIEntry* GetQIEntries() {                \
        static const ::com::QIEntry entries[] = {
#define COM_INTERFACE_ENTRY(Iface) \
            {&__uuidof(Iface), COM_IFACE_OFFSET(ComMapClass, Iface), nullptr, 0},
#define COM_INTERFACE_ENTRY_IID(iid, Iface) \
            {&(iid), COM_IFACE_OFFSET(ComMapClass, Iface), nullptr, 0},
// A base interface answered with the derived interface's pointer.
#define COM_INTERFACE_ENTRY2(Iface, Via) \
            {&__uuidof(Iface), COM_IFACE_OFFSET(ComMapClass, Via), nullptr, 0},
#define COM_INTERFACE_ENTRY_FUNC(iid, func, arg) \
            {&(iid), 0, (func), static_cast<uintptr_t>(arg)},
// Forwards to an IUnknown* member, e.g. the unknown of an inner object.
#define COM_INTERFACE_ENTRY_AGGREGATE(iid, member) \
            {&(iid), 0, &::com::QueryMemberUnknown, offsetof(ComMapClass, member)},
#define END_COM_MAP()                 \
            {nullptr, 0, nullptr, 0}  \
        };                            \
        return entries;               \
    }                                 \
    IUnknown* GetUnknown() { return reinterpret_cast<IUnknown*>(reinterpret_cast<char*>(this) + GetQIEntries()[0].offset); }

// Stand-alone object: deletes itself when the last reference goes.
template <class Base>
class ComObject final : public Base {
public:
    template <class... Args>
    explicit ComObject(Args&&... args) : Base(std::forward<Args>(args)...) {
        Module().Lock();
        this->m_outerUnknown = static_cast<Base*>(this)->GetUnknown();
    }
    ~ComObject() {
        // Keeps a QueryInterface/AddRef/Release pair in FinalRelease from deleting twice.
        this->m_refCount = -(LONG_MAX / 2);
        this->FinalRelease();
        Module().Unlock();
    }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        return InternalQueryInterface(static_cast<Base*>(this), Base::GetQIEntries(), iid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override {
        LONG r = this->InternalRelease();
        if (r == 0) delete this;
        return static_cast<ULONG>(r);
    }

    // Allocates and runs FinalConstruct with the count held at 1. On success the
    // object is returned with a count of 0; on failure it is destroyed.
    template <class... Args>
    static HRESULT CreateInstance(ComObject** out, Args&&... args) {
        if (!out) return E_POINTER;
        *out = nullptr;
        ComObject* p = new (std::nothrow) ComObject(std::forward<Args>(args)...);
        if (!p) return E_OUTOFMEMORY;
        p->InternalAddRef();
        HRESULT hr = p->FinalConstruct();
        p->InternalRelease();
        if (FAILED(hr)) {
            delete p;
            return hr;
        }
        *out = p;
        return S_OK;
    }

    // Creates and queries in one step; the object is gone again if the query fails.
    template <class... Args>
    static HRESULT CreateAndQuery(REFIID iid, void** ppv, Args&&... args) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        ComObject* p = nullptr;
        HRESULT hr = CreateInstance(&p, std::forward<Args>(args)...);
        if (FAILED(hr)) return hr;
        p->AddRef();
        hr = p->QueryInterface(iid, ppv);
        p->Release();
        return hr;
    }
};

// The object as seen inside an aggregate: its IUnknown delegates to the outer.
template <class Base>
class ComContainedObject final : public Base {
public:
    explicit ComContainedObject(IUnknown* outer) { this->m_outerUnknown = outer; }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override { return this->m_outerUnknown->QueryInterface(iid, ppv); }
    STDMETHOD_(ULONG, AddRef)() override { return this->m_outerUnknown->AddRef(); }
    STDMETHOD_(ULONG, Release)() override { return this->m_outerUnknown->Release(); }

    HRESULT InnerQueryInterface(REFIID iid, void** ppv) {
        return InternalQueryInterface(static_cast<Base*>(this), Base::GetQIEntries(), iid, ppv);
    }
};

// Inner object of an aggregate: the non-delegating unknown the outer holds.
template <class Base>
class ComAggObject final : public IUnknown {
public:
    explicit ComAggObject(IUnknown* outer) : m_contained(outer) { Module().Lock(); }
    ~ComAggObject() {
        m_refCount = -(LONG_MAX / 2);
        m_contained.FinalRelease();
        Module().Unlock();
    }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_contained.InnerQueryInterface(iid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() override { return Base::ThreadModelType::Increment(&m_refCount); }
    STDMETHOD_(ULONG, Release)() override {
        LONG r = Base::ThreadModelType::Decrement(&m_refCount);
        if (r == 0) delete this;
        return static_cast<ULONG>(r);
    }

    Base* Object() { return &m_contained; }

    // Creates the inner object for outer; returns its non-delegating unknown.
    static HRESULT CreateInstance(IUnknown* outer, ComAggObject** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!outer) return E_INVALIDARG;
        ComAggObject* p = new (std::nothrow) ComAggObject(outer);
        if (!p) return E_OUTOFMEMORY;
        p->AddRef();
        HRESULT hr = p->m_contained.FinalConstruct();
        p->Release_NoDelete();
        if (FAILED(hr)) {
            delete p;
            return hr;
        }
        *out = p;
        return S_OK;
    }

private:
    void Release_NoDelete() { Base::ThreadModelType::Decrement(&m_refCount); }

    LONG m_refCount = 0;
    ComContainedObject<Base> m_contained;
};

// Class-factory entry: the plain form, or the aggregatable inner form when an
// outer unknown is given (which may ask only for IUnknown).
template <class Base>
HRESULT CreateComInstance(IUnknown* outer, REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!outer) return ComObject<Base>::CreateAndQuery(iid, ppv);
    if (!IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    ComAggObject<Base>* p = nullptr;
    HRESULT hr = ComAggObject<Base>::CreateInstance(outer, &p);
    if (FAILED(hr)) return hr;
    p->AddRef();
    *ppv = static_cast<IUnknown*>(p);
    return S_OK;
}

} // namespace com
