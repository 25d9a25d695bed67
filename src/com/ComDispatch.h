// IDispatch served from type information, loaded on first use and kept until
// the module is unloaded.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace com {

// One interface's type information from a registered type library, falling
// back to the type library embedded in the module.
class TypeInfoHolder {
public:
    TypeInfoHolder(const GUID* libid, const IID* iid, WORD major, WORD minor)
        : m_libid(libid), m_iid(iid), m_major(major), m_minor(minor) {}

    HRESULT Get(ITypeInfo** out);
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids);
    HRESULT Invoke(void* object, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr);

private:
    static void Release(void* self);

    const GUID* m_libid;
    const IID* m_iid;
    WORD m_major;
    WORD m_minor;
    ITypeInfo* m_typeInfo = nullptr;
};

template <class Iface, const GUID* LibId, WORD Major = 1, WORD Minor = 0>
class DispatchImpl : public Iface {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return Holder().Get(info);
    }
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        // The type information would read and write through them unchecked.
        if (count && (!names || !ids)) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i)
            if (!names[i]) return E_INVALIDARG;
        return Holder().GetIDsOfNames(names, count, ids);
    }
    STDMETHOD(Invoke)(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        return Holder().Invoke(static_cast<Iface*>(this), id, flags, params, result, excep, argErr);
    }

private:
    static TypeInfoHolder& Holder() {
        static TypeInfoHolder holder(LibId, &__uuidof(Iface), Major, Minor);
        return holder;
    }
};

} // namespace com
