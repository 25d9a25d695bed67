#include "CapabilityManager.h"

#include <new>

#include "Answer.h"

namespace capmgr {
namespace {

// Sets (or, with no text, clears) the thread's error info for the caller.
void ReportError(const std::wstring& text) {
    if (text.empty()) {
        SetErrorInfo(0, nullptr);
        return;
    }
    com::ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.Receive()))) return;
    create->SetGUID(IID_ICapMgr);
    create->SetSource(const_cast<LPOLESTR>(L"Morvane.CapMgr"));
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    com::ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(info, IID_IErrorInfo))) SetErrorInfo(0, info.Get());
}

HRESULT Fail(long code, long* error, HRESULT hr, const std::wstring& text) {
    if (error) *error = code;
    ReportError(text);
    return hr;
}

} // namespace

STDMETHODIMP CCapMgr::Query(BSTR imei, BSTR query, VARIANT* result, long* error) {
    if (error) *error = CAPMGR_ERROR_NONE;
    if (result) VariantInit(result);
    if (!result || !error) return Fail(CAPMGR_ERROR_ARGUMENT, error, E_POINTER, L"Null result or error pointer.");
    if (!query) return Fail(CAPMGR_ERROR_ARGUMENT, error, E_INVALIDARG, L"Null path expression.");
    try {
        Selection selection;
        {
            com::ScopedLock lock(m_guard);
            selection = m_store.Select(imei, query);
        }
        if (selection.error != CAPMGR_ERROR_NONE)
            return Fail(selection.error, error, CAPMGR_E_FROM_ERROR(selection.error), selection.message);
        HRESULT hr = BuildAnswer(selection.texts, result);
        if (FAILED(hr)) return Fail(CAPMGR_ERROR_INTERNAL, error, hr, L"Building the answer failed.");
        ReportError(std::wstring());
        return S_OK;
    } catch (const std::bad_alloc&) {
        VariantClear(result);
        return Fail(CAPMGR_ERROR_INTERNAL, error, E_OUTOFMEMORY, std::wstring());
    } catch (...) {
        VariantClear(result);
        return Fail(CAPMGR_ERROR_INTERNAL, error, E_UNEXPECTED, std::wstring());
    }
}

STDMETHODIMP CCapMgr::InterfaceSupportsErrorInfo(REFIID iid) {
    return IsEqualIID(iid, IID_ICapMgr) ? S_OK : S_FALSE;
}

} // namespace capmgr
