// The service object before any phone layer: construction, the Device
// Manager's notices, and the file management objects it hands out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/ComObject.h"
#include "module/FMService.h"
#include "objects/FileMgmt.h"
#include "vnlog/LogManager.h"
#include "../support/log_capture.h"

namespace {

using com::ComPtr;

using testlog::LogCapture;

// An object that is not a phone device.
struct NotADevice : IUnknown {
    LONG refs = 1;
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
};

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

    LogCapture m_log;
    ComPtr<IKVFileMgmtService> m_service;
    ComPtr<IKVDeviceInformation> m_deviceInfo;
    CFMService* m_object = nullptr;
};

TEST_F(Service, DisconnectNoticeWhenNeverBoundSucceeds) {
    com::UniqueBstr uid(L"phone-1");
    EXPECT_EQ(S_OK, m_deviceInfo->SetDeviceInformation(nullptr, uid.Get()));
    EXPECT_FALSE(m_object->IsDeviceBound());
    EXPECT_EQ(1, m_log.Count(qzlog::level_event, "Device Manager signalling that device disconnected"));
    EXPECT_EQ(1, m_log.Count(qzlog::level_info, "unk=0000000000000000, uid=phone-1"));
}

TEST_F(Service, ConnectNoticeNeedsThePhoneDeviceInterface) {
    NotADevice notADevice;
    com::UniqueBstr uid(L"phone-1");
    EXPECT_EQ(E_NOINTERFACE, m_deviceInfo->SetDeviceInformation(&notADevice, uid.Get()));
    EXPECT_EQ(1, m_log.Count(qzlog::level_error, "Unable to get ISCDevice interface to device"));
    EXPECT_EQ(1, notADevice.refs);

    EXPECT_EQ(E_INVALIDARG, m_object->SetDevice(nullptr, uid.Get()));
}

TEST_F(Service, HandsOutANewFileManagementObjectPerCall) {
    EXPECT_EQ(E_INVALIDARG, m_service->CreateFileMgmt(nullptr));
    EXPECT_EQ(1, m_log.Count(qzlog::level_error, "Invalid argument. NULL pointer received."));

    ComPtr<IKVFileMgmt> first, second;
    ASSERT_EQ(S_OK, m_service->CreateFileMgmt(first.Receive()));
    ASSERT_EQ(S_OK, m_service->CreateFileMgmt(second.Receive()));
    EXPECT_NE(first.Get(), second.Get());

    // Unbound: the device test comes before the argument test.
    com::UniqueBstr path(L"\\\\C:\\\\Data\\");
    EXPECT_EQ(E_FAIL, first->CreateFMFolder(path.Get(), nullptr));
    ComPtr<IKVFMFile> file;
    EXPECT_EQ(E_FAIL, first->CreateFMFile(path.Get(), file.Receive()));
    EXPECT_EQ(2, m_log.Count(qzlog::level_error,
                             "The CFileMgmt object has not been initialized with any device to use"));

    ComPtr<ISupportErrorInfo> errorInfo;
    ASSERT_HRESULT_SUCCEEDED(first.As(errorInfo, IID_ISupportErrorInfo));
    EXPECT_EQ(S_OK, errorInfo->InterfaceSupportsErrorInfo(IID_IKVFileMgmt));
    EXPECT_EQ(S_FALSE, errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch));
}

TEST_F(Service, FileManagementObjectKeepsTheServiceAlive) {
    ComPtr<IKVFileMgmt> fileMgmt;
    ASSERT_EQ(S_OK, m_service->CreateFileMgmt(fileMgmt.Receive()));
    m_deviceInfo.Reset();
    m_service.Reset();
    EXPECT_EQ(0, m_log.Count(qzlog::level_trace, "Deleting Tessal CFMService object"));
    fileMgmt.Reset();
    EXPECT_EQ(1, m_log.Count(qzlog::level_trace, "Deleting Tessal CFMService object"));
    EXPECT_EQ(1, m_log.Count(qzlog::level_trace, "Deleting Tessal CFileMgmt object"));
}

} // namespace
