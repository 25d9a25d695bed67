#include "com/ComDispatch.h"
#include "com/ComModule.h"
#include "com/ComUtil.h"

namespace com {

HRESULT TypeInfoHolder::Get(ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ScopedLock lock(Module().Guard());
    if (!m_typeInfo) {
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadRegTypeLib(*m_libid, m_major, m_minor, LOCALE_NEUTRAL, lib.Receive());
        // Our own library is registered under US English.
        if (FAILED(hr)) hr = LoadRegTypeLib(*m_libid, m_major, m_minor, 0x409, lib.Receive());
        if (FAILED(hr)) {
            // Not registered: the module's own embedded library may hold it.
            std::wstring path = Module().ModulePath();
            if (path.empty() || FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.Receive()))) return hr;
        }
        HRESULT hr2 = lib->GetTypeInfoOfGuid(*m_iid, &m_typeInfo);
        if (FAILED(hr2)) return hr2;
        Module().AddTermFunc(&TypeInfoHolder::Release, this);
    }
    m_typeInfo->AddRef();
    *out = m_typeInfo;
    return S_OK;
}

void TypeInfoHolder::Release(void* self) {
    auto* holder = static_cast<TypeInfoHolder*>(self);
    if (ITypeInfo* info = holder->m_typeInfo) {
        holder->m_typeInfo = nullptr;
        info->Release();
    }
}

HRESULT TypeInfoHolder::GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
    ComPtr<ITypeInfo> info;
    HRESULT hr = Get(info.Receive());
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(info.Get(), names, count, ids);
}

HRESULT TypeInfoHolder::Invoke(void* object, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* excep, UINT* argErr) {
    ComPtr<ITypeInfo> info;
    HRESULT hr = Get(info.Receive());
    if (FAILED(hr)) return hr;
    // Script hosts call property getters (collection enumerators included) as
    // plain methods; Wine's typeinfo would not match them otherwise.
    if (flags == DISPATCH_METHOD) flags |= DISPATCH_PROPERTYGET;
    DISPPARAMS empty = {nullptr, nullptr, 0, 0};
    return DispInvoke(object, info.Get(), id, flags, params ? params : &empty, result, excep, argErr);
}

} // namespace com
