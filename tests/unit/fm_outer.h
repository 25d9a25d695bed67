// The smallest outer object of an aggregated object model part: its own
// IUnknown, everything else from the inner.
#pragma once

#include <windows.h>

#include "objects/FMObjectImpl.h"

namespace unittest {

class FMOuter : public IUnknown {
public:
    virtual ~FMOuter() = default;
    static FMOuter* Create() {
        auto* outer = new FMOuter;
        outer->m_refs = 1;
        if (FAILED(FMObjectImpl::CreateInner(outer, &outer->m_inner, &outer->m_impl))) {
            delete outer;
            return nullptr;
        }
        return outer;
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_inner->QueryInterface(iid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG r = InterlockedDecrement(&m_refs);
        if (r == 0) {
            m_refs = 1;  // guards against the inner's releases re-entering
            m_inner->Release();
            delete this;
        }
        return r;
    }
    FMObjectImpl* Impl() const { return m_impl; }
    LONG Refs() const { return m_refs; }

private:
    LONG m_refs = 0;
    IUnknown* m_inner = nullptr;
    FMObjectImpl* m_impl = nullptr;
};

} // namespace unittest
