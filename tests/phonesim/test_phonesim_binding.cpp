// The control plays the Device Manager for script clients: it hands the first
// connected device to a service's IKVDeviceInformation and takes it back.
#include <vector>

#include "KVDeviceInformation.h"
#include "phonesim_test_util.h"

namespace simtest {
namespace {

constexpr wchar_t kOtherImei[] = L"004400000000022";

// A service that records what the Device Manager tells it.
class RecordingService final : public IKVDeviceInformation {
public:
    struct Call {
        bool hadDevice = false;
        std::wstring imei;      // the device's, read through ISCDevice
        HRESULT deviceQuery = S_OK;
        bool hadUid = false;
        std::wstring uid;
    };

    HRESULT answer = S_OK;
    std::vector<Call> calls;

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IKVDeviceInformation))
            *ppv = static_cast<IKVDeviceInformation*>(this);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    STDMETHOD(SetDeviceInformation)(IUnknown* unk, BSTR uid) override {
        Call call;
        call.hadDevice = unk != nullptr;
        if (unk) {
            ComPtr<ISCDevice> device;
            call.deviceQuery = unk->QueryInterface(IID_ISCDevice, device.ReceiveVoid());
            UniqueBstr imei;
            if (device && SUCCEEDED(device->get_IMEI(imei.Receive()))) call.imei = Text(imei.Get());
        }
        call.hadUid = uid != nullptr;
        call.uid = Text(uid);
        calls.push_back(call);
        return answer;
    }

    ULONG refs = 1;
};

// An automation object that is no service.
class PlainDispatch final : public IDispatch {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        *ppv = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch)) return E_NOINTERFACE;
        *ppv = this;
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

// Two phones; the first in the description starts disconnected.
class PhoneSimBinding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        DeviceSpec first{kImei};
        first.connected = false;
        image.AddDevice(first);
        image.AddDevice(DeviceSpec{kOtherImei});
        image.Activate();
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_PhoneSimControl, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IPhoneSimControl, control.ReceiveVoid()));
        ASSERT_HRESULT_SUCCEEDED(control->LoadDescription(UniqueBstr(image.DescriptionPath().c_str()).Get()));
        ASSERT_HRESULT_SUCCEEDED(control->Reset());
    }
    void TearDown() override {
        control.Reset();
        CoUninitialize();
    }

    PhoneImage image;
    ComPtr<IPhoneSimControl> control;
};

TEST_F(PhoneSimBinding, BindHandsTheFirstConnectedDeviceAndUnbindTakesItBack) {
    RecordingService service;
    ASSERT_HRESULT_SUCCEEDED(control->BindService(&service, UniqueBstr(L"phone-browser").Get()));
    ASSERT_EQ(1u, service.calls.size());
    EXPECT_TRUE(service.calls[0].hadDevice);
    EXPECT_HRESULT_SUCCEEDED(service.calls[0].deviceQuery);
    EXPECT_EQ(kOtherImei, service.calls[0].imei);
    EXPECT_EQ(L"phone-browser", service.calls[0].uid);

    // Once the first phone is connected, it is the one handed out.
    ASSERT_HRESULT_SUCCEEDED(control->Reconnect(UniqueBstr(kImei).Get()));
    ASSERT_HRESULT_SUCCEEDED(control->BindService(&service, UniqueBstr(L"other").Get()));
    ASSERT_EQ(2u, service.calls.size());
    EXPECT_EQ(kImei, service.calls[1].imei);
    EXPECT_EQ(L"other", service.calls[1].uid);

    ASSERT_HRESULT_SUCCEEDED(control->UnbindService(&service));
    ASSERT_EQ(3u, service.calls.size());
    EXPECT_FALSE(service.calls[2].hadDevice);
    EXPECT_FALSE(service.calls[2].hadUid);

    // Binding is not a call of the service on the phone: the device list is
    // not counted (the service's own IMEI reads are).
    long listCalls = -1, imeiCalls = -1;
    ASSERT_HRESULT_SUCCEEDED(control->CallCount(simCallDevices, &listCalls));
    EXPECT_EQ(0, listCalls);
    ASSERT_HRESULT_SUCCEEDED(control->CallCount(simCallDeviceList, &listCalls));
    EXPECT_EQ(0, listCalls);
    ASSERT_HRESULT_SUCCEEDED(control->CallCount(simCallImei, &imeiCalls));
    EXPECT_EQ(2, imeiCalls);
    // The simulator keeps no reference to the service.
    EXPECT_EQ(1u, service.refs);
}

TEST_F(PhoneSimBinding, FailuresOfTheServiceOrThePhoneAreReturned) {
    RecordingService service;
    service.answer = E_UNEXPECTED;
    EXPECT_EQ(E_UNEXPECTED, control->BindService(&service, UniqueBstr(L"uid").Get()));
    service.answer = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, control->UnbindService(&service));
    EXPECT_EQ(2u, service.calls.size());

    // Without a connected phone the service is not told anything.
    service.answer = S_OK;
    ASSERT_HRESULT_SUCCEEDED(control->Disconnect(UniqueBstr(L"").Get()));
    EXPECT_EQ(kDeviceNotReady, control->BindService(&service, UniqueBstr(L"uid").Get()));
    EXPECT_EQ(2u, service.calls.size());

    PlainDispatch plain;
    EXPECT_EQ(E_NOINTERFACE, control->BindService(&plain, UniqueBstr(L"uid").Get()));
    EXPECT_EQ(E_NOINTERFACE, control->UnbindService(&plain));
    EXPECT_EQ(E_POINTER, control->BindService(nullptr, UniqueBstr(L"uid").Get()));
    EXPECT_EQ(E_POINTER, control->UnbindService(nullptr));
}

TEST_F(PhoneSimBinding, ScriptsBindThroughTheTypeLibrary) {
    // What a script does: names to ids, then Invoke with the service as an object argument.
    RecordingService service;
    ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(control.As(dispatch, IID_IDispatch));
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"BindService"), const_cast<LPOLESTR>(L"UnbindService")};
    DISPID ids[2] = {0, 0};
    ASSERT_HRESULT_SUCCEEDED(dispatch->GetIDsOfNames(IID_NULL, &names[0], 1, LOCALE_USER_DEFAULT, &ids[0]));
    ASSERT_HRESULT_SUCCEEDED(dispatch->GetIDsOfNames(IID_NULL, &names[1], 1, LOCALE_USER_DEFAULT, &ids[1]));

    UniqueBstr uid(L"phone-browser");
    VARIANT args[2];  // in reverse order
    VariantInit(&args[0]);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = uid.Get();
    VariantInit(&args[1]);
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = &service;
    DISPPARAMS bind = {args, nullptr, 2, 0};
    ASSERT_HRESULT_SUCCEEDED(
        dispatch->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &bind, nullptr, nullptr, nullptr));
    DISPPARAMS unbind = {&args[1], nullptr, 1, 0};
    ASSERT_HRESULT_SUCCEEDED(
        dispatch->Invoke(ids[1], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &unbind, nullptr, nullptr, nullptr));
    ASSERT_EQ(2u, service.calls.size());
    EXPECT_EQ(kOtherImei, service.calls[0].imei);
    EXPECT_EQ(L"phone-browser", service.calls[0].uid);
    EXPECT_FALSE(service.calls[1].hadDevice);
}

} // namespace
} // namespace simtest
