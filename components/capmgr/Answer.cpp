#include "Answer.h"

#include "com/ComUtil.h"

namespace capmgr {
namespace {

HRESULT Put(SAFEARRAY* array, LONG first, LONG second, const VARIANT& value) {
    LONG indices[2] = {first, second};
    return SafeArrayPutElement(array, indices, const_cast<VARIANT*>(&value));
}

} // namespace

HRESULT BuildAnswer(const std::vector<std::wstring>& texts, VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    if (texts.empty()) return S_OK;

    const ULONG cells = static_cast<ULONG>(texts.size()) + 1;
    SAFEARRAYBOUND bounds[2] = {{cells, 0}, {cells, 0}};
    com::UniqueSafeArray array(SafeArrayCreate(VT_VARIANT, 2, bounds));
    if (!array.Get()) return E_OUTOFMEMORY;
    for (size_t i = 0; i < texts.size(); ++i) {
        com::UniqueVariant text;
        text->vt = VT_BSTR;
        text->bstrVal = SysAllocStringLen(texts[i].data(), static_cast<UINT>(texts[i].size()));
        if (!text->bstrVal) return E_OUTOFMEMORY;
        const LONG row = static_cast<LONG>(i);
        HRESULT hr = Put(array.Get(), row, 1, *text.Get());
        if (SUCCEEDED(hr)) hr = Put(array.Get(), 1, row, *text.Get());
        if (FAILED(hr)) return hr;
    }
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array.Detach();
    return S_OK;
}

} // namespace capmgr
