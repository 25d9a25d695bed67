// CapMgr.dll as a COM server: its registration, Query in vtable slot 7 of a
// dual interface, and late-bound calls through its type library.
#include "capmgr_test_util.h"

#include <thread>

namespace {

const wchar_t kQuery[] = L"//devices/device[@uid=\"phone-browser\"]/foldermapping/mountpoint/@realpath";
const std::vector<std::wstring> kMountPoints = {L"C:\\", L"E:\\"};

class CapMgrServer : public captest::CapMgrTest {
protected:
    void SetUp() override {
        CapMgrTest::SetUp();
        captest::UseConfig(captest::Sample(L"browser.xml"));
    }
};

TEST_F(CapMgrServer, IsRegisteredForBothApartments) {
    wchar_t model[32] = {};
    DWORD bytes = sizeof(model);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT,
                                          L"CLSID\\{7D8C9B6E-B0A6-433A-90D7-D44D080013D8}\\InprocServer32",
                                          L"ThreadingModel", RRF_RT_REG_SZ, nullptr, model, &bytes));
    EXPECT_STREQ(L"Both", model);
    HRESULT created = E_FAIL;
    std::thread([&created] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            com::ComPtr<ICapMgr> capMgr;
            created = captest::CreateAsTheSystemDoes(capMgr);
            if (SUCCEEDED(created)) captest::ExpectRows(captest::Ask(capMgr.Get(), kQuery), kMountPoints);
        }
        CoUninitialize();
    }).join();
    EXPECT_HRESULT_SUCCEEDED(created);
}

TEST_F(CapMgrServer, QueryIsInSlotSeven) {
    using QueryFn = HRESULT(STDMETHODCALLTYPE*)(ICapMgr*, BSTR, BSTR, VARIANT*, long*);
    auto query = reinterpret_cast<QueryFn>((*reinterpret_cast<void***>(capMgr.Get()))[7]);
    com::UniqueBstr imei(L""), text(kQuery);
    VARIANT result;
    VariantInit(&result);
    long error = -1;
    HRESULT hr = query(capMgr.Get(), imei.Get(), text.Get(), &result, &error);
    captest::ExpectRows(captest::ReadAnswer(hr, error, result), kMountPoints);
}

TEST_F(CapMgrServer, AnswersLateBoundCallers) {
    com::ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(capMgr.As(dispatch, IID_IDispatch));
    LPOLESTR name = const_cast<LPOLESTR>(L"Query");
    DISPID id = 0;
    ASSERT_HRESULT_SUCCEEDED(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    com::UniqueBstr imei(L""), text(kQuery);
    VARIANT result;
    VariantInit(&result);
    long error = -1;
    VARIANT args[4];  // last argument first
    args[3].vt = args[2].vt = VT_BSTR;
    args[3].bstrVal = imei.Get();
    args[2].bstrVal = text.Get();
    args[1].vt = VT_BYREF | VT_VARIANT;
    args[1].pvarVal = &result;
    args[0].vt = VT_BYREF | VT_I4;
    args[0].plVal = &error;
    DISPPARAMS params = {args, nullptr, 4, 0};
    HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                  nullptr);
    captest::ExpectRows(captest::ReadAnswer(hr, error, result), kMountPoints);
}

} // namespace
