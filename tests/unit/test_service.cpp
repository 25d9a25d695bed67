// The service object before any phone layer: construction, the Device
// Manager's notices, and the file management objects it hands out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/ComObject.h"
#include "module/FMService.h"
#include "objects/FileMgmt.h"
#include "unit_fakes.h"

namespace {

using com::ComPtr;

class Service : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        com::ComObject<CFMService>* raw = nullptr;
        ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMService>::CreateInstance(&raw));
        m_service = ComPtr<IKVFileMgmtService>(raw);
        m_object = raw;
        ASSERT_HRESULT_SUCCEEDED(m_service.As(m_deviceInfo, IID_IKVDeviceInformation));
    }
    void TearDown() override {
        m_deviceInfo.Reset();
        m_service.Reset();
        CoUninitialize();
    }

    ComPtr<IKVFileMgmtService> m_service;
    ComPtr<IKVDeviceInformation> m_deviceInfo;
    CFMService* m_object = nullptr;
};

TEST_F(Service, DisconnectNoticeWhenNeverBoundSucceeds) {
    com::UniqueBstr uid(L"phone-1");
    EXPECT_EQ(S_OK, m_deviceInfo->SetDeviceInformation(nullptr, uid.Get()));
    EXPECT_FALSE(m_object->IsDeviceBound());
}

TEST_F(Service, ConnectNoticeNeedsThePhoneDeviceInterface) {
    unittest::RecordingSink notADevice;  // any object but a phone device
    com::UniqueBstr uid(L"phone-1");
    EXPECT_EQ(E_NOINTERFACE, m_deviceInfo->SetDeviceInformation(&notADevice, uid.Get()));
    EXPECT_EQ(0, notADevice.refs);

    EXPECT_EQ(E_INVALIDARG, m_object->SetDevice(nullptr, uid.Get()));
}

TEST_F(Service, HandsOutANewFileManagementObjectPerCall) {
    EXPECT_EQ(E_INVALIDARG, m_service->CreateFileMgmt(nullptr));

    ComPtr<IKVFileMgmt> first, second;
    ASSERT_EQ(S_OK, m_service->CreateFileMgmt(first.Receive()));
    ASSERT_EQ(S_OK, m_service->CreateFileMgmt(second.Receive()));
    EXPECT_NE(first.Get(), second.Get());

    // Unbound: the device test comes before the argument test.
    com::UniqueBstr path(L"\\\\C:\\\\Data\\");
    EXPECT_EQ(E_FAIL, first->CreateFMFolder(path.Get(), nullptr));
    ComPtr<IKVFMFile> file;
    EXPECT_EQ(E_FAIL, first->CreateFMFile(path.Get(), file.Receive()));

    ComPtr<ISupportErrorInfo> errorInfo;
    ASSERT_HRESULT_SUCCEEDED(first.As(errorInfo, IID_ISupportErrorInfo));
    EXPECT_EQ(S_OK, errorInfo->InterfaceSupportsErrorInfo(IID_IKVFileMgmt));
    EXPECT_EQ(S_FALSE, errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch));
}

} // namespace
