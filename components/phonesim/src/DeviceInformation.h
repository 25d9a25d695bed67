// The Device Manager's notification interface, which a service being bound to
// a phone implements. Declared here so the simulator needs no header of the
// service's own; identifier and vtable are those of the framework's
// KVDeviceInformation type library.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace phonesim {

// {D5A00521-2A48-11D8-82E6-00065BC36845}
constexpr IID kIidDeviceInformation = {0xd5a00521, 0x2a48, 0x11d8, {0x82, 0xe6, 0x00, 0x06, 0x5b, 0xc3, 0x68, 0x45}};

struct IDeviceInformation : public IDispatch {
    // Slot 7. A null device tells the service the phone is gone.
    virtual HRESULT STDMETHODCALLTYPE SetDeviceInformation(IUnknown* device, BSTR uid) = 0;
};

} // namespace phonesim
