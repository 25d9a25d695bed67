// Enumerators over a fixed snapshot of elements (IEnumVARIANT, IEnumConnections,
// IEnumConnectionPoints, ...). The snapshot is copied once when the enumerator is
// made and shared by its clones; every element handed out is a fresh copy that
// the caller owns. An optional owner is held for the enumerator's lifetime, so a
// collection outlives the enumerators it gave out.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
#include <ocidl.h>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>
#include "com/ComObject.h"
#include "com/ComUtil.h"

namespace com {

// Copy policies: Init prepares raw storage, Copy fills an initialised element from
// a source, Destroy frees what an element owns and leaves it initialised.
struct VariantCopyPolicy {
    static void Init(VARIANT* p) { VariantInit(p); }
    static HRESULT Copy(VARIANT* to, const VARIANT* from) { return VariantCopy(to, const_cast<VARIANT*>(from)); }
    static void Destroy(VARIANT* p) { VariantClear(p); }
};

struct ConnectDataCopyPolicy {
    static void Init(CONNECTDATA* p) { p->pUnk = nullptr; p->dwCookie = 0; }
    static HRESULT Copy(CONNECTDATA* to, const CONNECTDATA* from) {
        *to = *from;
        if (to->pUnk) to->pUnk->AddRef();
        return S_OK;
    }
    static void Destroy(CONNECTDATA* p) {
        if (IUnknown* u = p->pUnk) { p->pUnk = nullptr; u->Release(); }
        p->dwCookie = 0;
    }
};

template <class I>
struct InterfaceCopyPolicy {
    static void Init(I** p) { *p = nullptr; }
    static HRESULT Copy(I** to, I* const* from) {
        *to = *from;
        if (*to) (*to)->AddRef();
        return S_OK;
    }
    static void Destroy(I** p) {
        if (I* u = *p) { *p = nullptr; u->Release(); }
    }
};

// The elements an enumerator walks; immutable once built, shared between clones.
template <class T, class Copy>
class EnumSnapshot {
public:
    EnumSnapshot() = default;
    EnumSnapshot(const EnumSnapshot&) = delete;
    EnumSnapshot& operator=(const EnumSnapshot&) = delete;
    ~EnumSnapshot() {
        for (T& item : m_items) Copy::Destroy(&item);
    }

    // Reserves room so that Append and Adopt cannot throw.
    HRESULT Reserve(size_t count) noexcept {
        try {
            m_items.reserve(count);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    // Appends a copy of item; the room must have been reserved.
    HRESULT Append(const T& item) noexcept {
        if (m_items.size() >= m_items.capacity()) return E_OUTOFMEMORY;
        T copy;
        Copy::Init(&copy);
        HRESULT hr = Copy::Copy(&copy, &item);
        if (FAILED(hr)) {
            Copy::Destroy(&copy);
            return hr;
        }
        m_items.push_back(copy);
        return S_OK;
    }

    // Takes over an element the caller built; the room must have been reserved.
    HRESULT Adopt(T item) noexcept {
        if (m_items.size() >= m_items.capacity()) {
            Copy::Destroy(&item);
            return E_OUTOFMEMORY;
        }
        m_items.push_back(item);
        return S_OK;
    }

    size_t Size() const { return m_items.size(); }
    const T& At(size_t i) const { return m_items[i]; }

private:
    std::vector<T> m_items;
};

// The enumerator object: EnumIface is the IEnumXXX interface whose Next takes T*.
template <class EnumIface, class T, class Copy>
class EnumOnSnapshot : public ComObjectRoot<MultiThreadModel>, public EnumIface {
public:
    using Snapshot = EnumSnapshot<T, Copy>;
    using SnapshotPtr = std::shared_ptr<const Snapshot>;

    EnumOnSnapshot(IUnknown* owner, SnapshotPtr snapshot, size_t position)
        : m_owner(owner), m_snapshot(std::move(snapshot)), m_position(position) {}

    BEGIN_COM_MAP(EnumOnSnapshot)
        COM_INTERFACE_ENTRY(EnumIface)
    END_COM_MAP()

    // A new enumerator at position over snapshot, keeping owner (may be null) alive.
    static HRESULT Create(IUnknown* owner, SnapshotPtr snapshot, size_t position, EnumIface** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!snapshot) return E_INVALIDARG;
        ComObject<EnumOnSnapshot>* p = nullptr;
        HRESULT hr = ComObject<EnumOnSnapshot>::CreateInstance(&p, owner, std::move(snapshot), position);
        if (FAILED(hr)) return hr;
        p->AddRef();
        *out = static_cast<EnumIface*>(p);
        return S_OK;
    }

    STDMETHOD(Next)(ULONG celt, T* rgelt, ULONG* pceltFetched) override {
        if (pceltFetched) *pceltFetched = 0;
        if (!rgelt) return E_POINTER;
        // Only a single-element request may omit the count.
        if (celt > 1 && !pceltFetched) return E_INVALIDARG;
        ScopedLock lock(m_lock);
        const size_t size = m_snapshot->Size();
        const size_t available = m_position < size ? size - m_position : 0;
        const ULONG n = available < celt ? static_cast<ULONG>(available) : celt;
        for (ULONG i = 0; i < n; ++i) {
            Copy::Init(&rgelt[i]);
            HRESULT hr = Copy::Copy(&rgelt[i], &m_snapshot->At(m_position + i));
            if (FAILED(hr)) {
                // Hand out all or nothing; the position stays.
                for (ULONG j = 0; j <= i; ++j) Copy::Destroy(&rgelt[j]);
                return hr;
            }
        }
        m_position += n;
        if (pceltFetched) *pceltFetched = n;
        return n == celt ? S_OK : S_FALSE;
    }

    STDMETHOD(Skip)(ULONG celt) override {
        ScopedLock lock(m_lock);
        const size_t size = m_snapshot->Size();
        const size_t available = m_position < size ? size - m_position : 0;
        if (available < celt) {
            m_position = size;
            return S_FALSE;
        }
        m_position += celt;
        return S_OK;
    }

    STDMETHOD(Reset)() override {
        ScopedLock lock(m_lock);
        m_position = 0;
        return S_OK;
    }

    STDMETHOD(Clone)(EnumIface** ppenum) override {
        if (!ppenum) return E_POINTER;
        *ppenum = nullptr;
        size_t position;
        {
            ScopedLock lock(m_lock);
            position = m_position;
        }
        return Create(m_owner.Get(), m_snapshot, position, ppenum);
    }

private:
    ComPtr<IUnknown> m_owner;
    SnapshotPtr m_snapshot;
    CriticalSection m_lock;  // guards m_position: one enumerator may be shared by threads
    size_t m_position;
};

using VariantEnum = EnumOnSnapshot<IEnumVARIANT, VARIANT, VariantCopyPolicy>;
using ConnectionsEnum = EnumOnSnapshot<IEnumConnections, CONNECTDATA, ConnectDataCopyPolicy>;
using ConnectionPointsEnum =
    EnumOnSnapshot<IEnumConnectionPoints, IConnectionPoint*, InterfaceCopyPolicy<IConnectionPoint>>;

// An IEnumVARIANT whose elements are the given objects as VT_DISPATCH (null items
// stay null dispatch pointers). owner (may be null) is kept alive by the enumerator.
HRESULT CreateVariantEnumerator(IUnknown* owner, IDispatch* const* items, size_t count, IUnknown** out);

// Any list of pointers to interfaces derived from IDispatch (dual interfaces).
template <class I>
HRESULT CreateVariantEnumerator(IUnknown* owner, const std::vector<I*>& items, IUnknown** out) {
    static_assert(std::is_base_of<IDispatch, I>::value, "items must be dispatch interfaces");
    std::vector<IDispatch*> list;
    try {
        list.reserve(items.size());
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    for (I* item : items) list.push_back(item);
    return CreateVariantEnumerator(owner, list.data(), list.size(), out);
}

template <class I>
HRESULT CreateVariantEnumerator(IUnknown* owner, const std::vector<ComPtr<I>>& items, IUnknown** out) {
    static_assert(std::is_base_of<IDispatch, I>::value, "items must be dispatch interfaces");
    std::vector<IDispatch*> list;
    try {
        list.reserve(items.size());
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    for (const ComPtr<I>& item : items) list.push_back(item.Get());
    return CreateVariantEnumerator(owner, list.data(), list.size(), out);
}

// An IEnumVARIANT over copies of arbitrary VARIANTs.
HRESULT CreateVariantEnumeratorFromVariants(IUnknown* owner, const VARIANT* items, size_t count, IUnknown** out);

// Snapshots of connections and connection points (each element AddRef'd).
HRESULT CreateConnectionsEnumerator(IUnknown* owner, const CONNECTDATA* items, size_t count, IEnumConnections** out);
HRESULT CreateConnectionPointsEnumerator(IUnknown* owner, IConnectionPoint* const* items, size_t count,
                                         IEnumConnectionPoints** out);

} // namespace com
