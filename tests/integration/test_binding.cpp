// The service bound to a simulated phone through the real replacement
// components: configured (browser), unconfigured (raw), with the memory card,
// and the connect/disconnect notices of the Device Manager.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "PhoneSimKit.h"
#include "test_symbian_fixture.h"
#include "com/ComObject.h"
#include "connector/SymbianConnectorImpl.h"
#include "mapping/FolderMapping.h"
#include "module/FMService.h"
#include "vnlog/LogManager.h"

namespace {

using com::ComPtr;
using namespace phonesim::kit;

const wchar_t kImei[] = L"490154203237518";

using symtest::LogLines;
using symtest::SamplePath;

class Binding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        DeviceSpec phone;
        phone.imei = kImei;
        m_image.AddDevice(phone);
        DeviceSpec other;  // listed beside it, never the one asked for
        other.imei = L"490154203237599";
        m_image.AddDevice(other);
        m_image.Fill(L'C', {Dir(L"Images\\"), Dir(L"Sounds\\"), Dir(L"Data\\Documents\\")});
        m_image.Activate();
        ASSERT_HRESULT_SUCCEEDED(CreateApplication(m_app.Receive()));
        ASSERT_HRESULT_SUCCEEDED(FindDevice(m_app.Get(), kImei, m_device.Receive()));
        ASSERT_HRESULT_SUCCEEDED(GetControl(m_app.Get(), m_control.Receive()));
        CreateService();
    }
    void TearDown() override {
        m_service.Reset();
        m_control.Reset();
        m_device.Reset();
        m_app.Reset();
        m_config.reset();
        CoUninitialize();
    }

    void CreateService() {
        com::ComObject<CFMService>* raw = nullptr;
        ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMService>::CreateInstance(&raw));
        m_service = ComPtr<IKVFileMgmtService>(raw);
        m_object = raw;
    }
    void UseConfiguration(const wchar_t* sample) { m_config.reset(new CapabilityConfig(SamplePath(sample))); }
    HRESULT Connect(const wchar_t* uid) { return BindService(m_service.Get(), m_device.Get(), uid); }
    HRESULT Disconnect() {
        ComPtr<IKVDeviceInformation> info;
        HRESULT hr = m_service.As(info, IID_IKVDeviceInformation);
        if (FAILED(hr)) return hr;
        com::UniqueBstr uid(L"");
        return info->SetDeviceInformation(nullptr, uid.Get());
    }
    SymbianConnector* Connector() { return m_object->GetSymbianConnector(); }

    LogLines m_log;
    PhoneImage m_image;
    std::unique_ptr<CapabilityConfig> m_config;
    ComPtr<ISCApplication> m_app;
    ComPtr<ISCDevice> m_device;
    ComPtr<IPhoneSimControl> m_control;
    ComPtr<IKVFileMgmtService> m_service;
    CFMService* m_object = nullptr;
};

TEST_F(Binding, ConfiguredPhoneGetsTheBrowserMappingWithoutCard) {
    UseConfiguration(L"browser.xml");
    ASSERT_EQ(S_OK, Connect(L"phone-browser"));
    EXPECT_TRUE(m_object->IsDeviceBound());
    ASSERT_TRUE(Connector()->IsInitialized());
    EXPECT_TRUE(Connector()->IsBrowserMappingInUse());
    ASSERT_TRUE(Connector()->GetMapping());
    EXPECT_FALSE(Connector()->GetMapping()->GetEntries().empty());
    EXPECT_FALSE(Connector()->GetMassStorageMapping());  // the card is configured absent
    EXPECT_EQ(std::wstring(kImei), std::wstring(static_cast<const wchar_t*>(Connector()->GetImei())));
    EXPECT_GE(m_log.Find("Tessal connecting to device with Imei: 490154203237518"), 0);
}

TEST_F(Binding, UnconfiguredPhoneFallsBackToTheRawMapping) {
    UseConfiguration(L"raw.xml");
    ASSERT_EQ(S_OK, Connect(L"phone-raw"));
    ASSERT_TRUE(Connector()->IsInitialized());
    EXPECT_FALSE(Connector()->IsBrowserMappingInUse());
    EXPECT_TRUE(Connector()->GetMapping());
    EXPECT_FALSE(Connector()->GetMassStorageMapping());
    EXPECT_GE(m_log.Find("Try the default raw mapping object instead."), 0);
}

TEST_F(Binding, MemoryCardOnThePcAddsTheMassStorageMapping) {
    UseConfiguration(L"memorycard.xml");
    ASSERT_EQ(S_OK, Connect(L"phone-card"));
    ASSERT_TRUE(Connector()->IsBrowserMappingInUse());
    auto card = Connector()->GetMassStorageMapping();
    ASSERT_TRUE(card);
    EXPECT_EQ(std::wstring(L"M:\\"), card->GetPcDrive());
}

TEST_F(Binding, ConnectNoticesFollowTheStateTable) {
    UseConfiguration(L"browser.xml");
    EXPECT_EQ(S_OK, Disconnect());  // never bound
    EXPECT_FALSE(m_object->IsDeviceBound());

    ASSERT_EQ(S_OK, Connect(L"phone-browser"));
    auto mapping = Connector()->GetMapping();
    const unsigned long generation = Connector()->BindingGeneration();
    const BindingGuard guard = Connector()->CurrentBinding();
    EXPECT_TRUE(guard.Valid());
    EXPECT_EQ(S_OK, Connect(L"phone-browser"));
    EXPECT_TRUE(guard.Valid());
    EXPECT_GE(m_log.Find("SetDevice skipped"), 0);
    EXPECT_EQ(mapping, Connector()->GetMapping());
    EXPECT_EQ(generation, Connector()->BindingGeneration());

    // Unbinding frees the binding's mappings for everyone but their holders,
    // who see a new generation.
    EXPECT_EQ(S_OK, Disconnect());
    EXPECT_FALSE(m_object->IsDeviceBound());
    EXPECT_FALSE(Connector()->IsInitialized());
    EXPECT_FALSE(Connector()->GetMapping());
    EXPECT_NE(generation, Connector()->BindingGeneration());
    EXPECT_FALSE(guard.Valid());
    EXPECT_TRUE(mapping->IsInitialized());
    // Binding again does not revive what was made under the old binding.
    ASSERT_EQ(S_OK, Connect(L"phone-browser"));
    EXPECT_FALSE(guard.Valid());
}

TEST_F(Binding, FailedConnectCanBeRetried) {
    UseConfiguration(L"browser.xml");
    com::UniqueBstr imei(kImei);
    // Gone from the device list, where another phone stays: none matches.
    ASSERT_HRESULT_SUCCEEDED(m_control->Disconnect(imei.Get()));
    EXPECT_EQ(E_FAIL, Connect(L"phone-browser"));
    EXPECT_FALSE(m_object->IsDeviceBound());
    EXPECT_FALSE(Connector()->IsInitialized());
    EXPECT_EQ(0u, Connector()->GetImei().length());
    const int lookup = m_log.Find("Could not get ISCDevice interface for device", 0, "ERROR");
    EXPECT_GE(lookup, 0);
    EXPECT_GE(m_log.Find("with IMEI=490154203237518", lookup, "DEBUG"), 0);
    EXPECT_GE(m_log.Find("Failed to initialize SymbianConnector"), 0);

    ASSERT_HRESULT_SUCCEEDED(m_control->Reconnect(imei.Get()));
    EXPECT_EQ(S_OK, Connect(L"phone-browser"));
    EXPECT_TRUE(m_object->IsDeviceBound());
}

TEST_F(Binding, ReleasingABoundServiceUnbindsThenDeletesConnectorThenExecutor) {
    UseConfiguration(L"browser.xml");
    ASSERT_EQ(S_OK, Connect(L"phone-browser"));
    const int before = m_log.Has("SetDevice called for object 0x");
    ASSERT_GE(before, 0);
    m_service.Reset();
    const int unbind = m_log.Find("Uninitialize of SymbianConnector", before);
    const int connector = m_log.Find("Deleting SymbianConnector", before);
    const int executor = m_log.Find("Deleting CAsynchOperationExecutor", before);
    ASSERT_GE(unbind, 0);
    EXPECT_LT(unbind, connector);
    EXPECT_LT(connector, executor);
    EXPECT_GE(m_log.Find("Deleting Tessal CFMService object", executor), 0);
}

} // namespace
