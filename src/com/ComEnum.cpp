#include "com/ComEnum.h"

namespace com {

namespace {

// Builds a snapshot of count elements with fill(snapshot, i), then the enumerator.
template <class Enum, class Out, class Fill>
HRESULT MakeEnumerator(IUnknown* owner, const void* items, size_t count, Out** out, Fill fill) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!items && count) return E_INVALIDARG;
    try {
        auto snapshot = std::make_shared<typename Enum::Snapshot>();
        HRESULT hr = snapshot->Reserve(count);
        if (FAILED(hr)) return hr;
        for (size_t i = 0; i < count; ++i) {
            hr = fill(*snapshot, i);
            if (FAILED(hr)) return hr;
        }
        return Enum::Create(owner, std::move(snapshot), 0, out);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

} // namespace

HRESULT CreateVariantEnumerator(IUnknown* owner, IDispatch* const* items, size_t count, IUnknown** out) {
    if (!out) return E_POINTER;
    IEnumVARIANT* e = nullptr;
    HRESULT hr = MakeEnumerator<VariantEnum>(owner, items, count, &e, [items](VariantEnum::Snapshot& s, size_t i) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_DISPATCH;
        v.pdispVal = items[i];
        if (v.pdispVal) v.pdispVal->AddRef();
        return s.Adopt(v);
    });
    *out = e;  // handed out as IUnknown for get__NewEnum
    return hr;
}

HRESULT CreateVariantEnumeratorFromVariants(IUnknown* owner, const VARIANT* items, size_t count, IUnknown** out) {
    if (!out) return E_POINTER;
    IEnumVARIANT* e = nullptr;
    HRESULT hr = MakeEnumerator<VariantEnum>(owner, items, count, &e,
        [items](VariantEnum::Snapshot& s, size_t i) { return s.Append(items[i]); });
    *out = e;  // handed out as IUnknown for get__NewEnum
    return hr;
}

HRESULT CreateConnectionsEnumerator(IUnknown* owner, const CONNECTDATA* items, size_t count, IEnumConnections** out) {
    return MakeEnumerator<ConnectionsEnum>(owner, items, count, out,
        [items](ConnectionsEnum::Snapshot& s, size_t i) { return s.Append(items[i]); });
}

HRESULT CreateConnectionPointsEnumerator(IUnknown* owner, IConnectionPoint* const* items, size_t count,
                                         IEnumConnectionPoints** out) {
    return MakeEnumerator<ConnectionPointsEnum>(owner, items, count, out,
        [items](ConnectionPointsEnum::Snapshot& s, size_t i) { return s.Append(items[i]); });
}

} // namespace com
