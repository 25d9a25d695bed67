// The phone connectivity component's interfaces as Morvane calls them: the raw
// interfaces come from its type library; the wrappers below raise _com_error
// (with the callee's error information) for a failing HRESULT, and each call
// site catches it.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <comdef.h>

#include "PhoneSim.h"
#include "com/ComUtil.h"

namespace scom {

inline void Check(HRESULT hr, IUnknown* object, REFIID iid) {
    if (FAILED(hr)) _com_issue_errorex(hr, object, iid);
}

inline com::ComPtr<ISCDevices> Devices(ISCApplication* app) {
    com::ComPtr<ISCDevices> out;
    Check(app->get_Devices(out.Receive()), app, IID_ISCApplication);
    return out;
}

inline long Count(ISCDevices* devices) {
    long count = 0;
    Check(devices->get_Count(&count), devices, IID_ISCDevices);
    return count;
}

// Collections are 1-based and indexed by a VT_I4 VARIANT.
inline com::ComPtr<ISCDevice> Item(ISCDevices* devices, long index) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = index;
    com::ComPtr<ISCDevice> out;
    Check(devices->get_Item(v, out.Receive()), devices, IID_ISCDevices);
    return out;
}

inline _bstr_t Imei(ISCDevice* device) {
    BSTR imei = nullptr;
    Check(device->get_IMEI(&imei), device, IID_ISCDevice);
    return _bstr_t(imei, false);
}

} // namespace scom
