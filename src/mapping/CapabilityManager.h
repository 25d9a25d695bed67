// The product's view of the Capability Manager, the configuration component:
// one query method answering a path expression with a table of strings.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <comdef.h>

// {7D8C9B6E-B0A6-433A-90D7-D44D080013D8}
constexpr CLSID CLSID_CapMgr = {0x7d8c9b6e, 0xb0a6, 0x433a, {0x90, 0xd7, 0xd4, 0x4d, 0x08, 0x00, 0x13, 0xd8}};
// {70275532-09BF-40AC-9AFF-908193AACE35}
constexpr IID IID_ICapMgr = {0x70275532, 0x09bf, 0x40ac, {0x9a, 0xff, 0x90, 0x81, 0x93, 0xaa, 0xce, 0x35}};

// Dual interface; only its first own method is used.
struct ICapMgr : public IDispatch {
    // result: VT_EMPTY (no match) or VT_ARRAY|VT_VARIANT, two dimensions; error 0 on success.
    virtual HRESULT STDMETHODCALLTYPE Query(BSTR imei, BSTR query, VARIANT* result, long* error) = 0;
};

__CRT_UUID_DECL(ICapMgr, 0x70275532, 0x09bf, 0x40ac, 0x9a, 0xff, 0x90, 0x81, 0x93, 0xaa, 0xce, 0x35)
_COM_SMARTPTR_TYPEDEF(ICapMgr, __uuidof(ICapMgr));

// Class context of the creation: in-process server and handler, local and remote server.
constexpr DWORD kCapMgrClassContext = 0x17;
