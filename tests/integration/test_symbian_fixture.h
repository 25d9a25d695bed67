// Shared set-up of the phone-side storage object tests: a simulated phone, a
// capability configuration, a service bound to the phone as the Device
// Manager binds it, captured log lines, and storage objects made over the
// phone's items as path resolution makes them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "PhoneSimKit.h"
#include "com/ComObject.h"
#include "connector/SymbianFile.h"
#include "connector/SymbianFolder.h"
#include "connector/SymbianMountpoint.h"
#include "module/FMService.h"
#include "vnlog/LogManager.h"
#include "../support/log_capture.h"

namespace symtest {

using com::ComPtr;
using namespace phonesim::kit;
using Paths = std::vector<std::wstring>;

constexpr wchar_t kImei[] = L"356938035643809";
constexpr DWORD kHangMs = 60000;  // turns a hang into a failure; nothing depends on timing

inline std::wstring SamplePath(const wchar_t* name) { return WindowsPath(MORVANE_SAMPLES_DIR) + L"\\" + name; }

using LogLines = testlog::LogCapture;

inline std::wstring PathOf(CStorageObject* object) {
    BSTR path = nullptr;
    if (FAILED(object->GetPath(&path))) return L"<no path>";
    return com::UniqueBstr::Adopt(path).c_str();
}

// Paths of a listing in listing order; the objects are deleted.
template <class T>
Paths TakePaths(std::list<T*>& objects) {
    Paths paths;
    for (T* object : objects) {
        paths.push_back(PathOf(object));
        delete object;
    }
    objects.clear();
    return paths;
}

class PhoneTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override {
        m_service.Reset();
        m_control.Reset();
        m_device.Reset();
        m_app.Reset();
        m_config.reset();
        CoUninitialize();
    }

    // The test phone with its one default drive C:.
    void AddPhone() {
        DeviceSpec phone;
        phone.imei = kImei;
        m_image.AddDevice(phone);
    }
    // The test phone with a second drive E: as described.
    void AddPhoneWithCard(long media = 6, const wchar_t* label = nullptr, bool removable = false) {
        DeviceSpec phone;
        phone.imei = kImei;
        DriveSpec card;
        card.letter = L'E';
        card.media = media;
        card.removable = removable;
        if (label) card.label = label;
        phone.drives.push_back(card);
        m_image.AddDevice(phone);
    }
    // The phone image is described first; then the service is bound.
    void Bind(const std::wstring& configPath, const wchar_t* uid) {
        m_config.reset(new CapabilityConfig(configPath));
        BindTo(uid);
    }
    void BindXml(const std::string& xml, const wchar_t* uid) {
        m_config.reset(new CapabilityConfig(xml));
        BindTo(uid);
    }
    void BindTo(const wchar_t* uid) {
        m_image.Activate();
        ASSERT_HRESULT_SUCCEEDED(CreateApplication(m_app.Receive()));
        ASSERT_HRESULT_SUCCEEDED(FindDevice(m_app.Get(), kImei, m_device.Receive()));
        ASSERT_HRESULT_SUCCEEDED(GetControl(m_app.Get(), m_control.Receive()));
        com::ComObject<CFMService>* raw = nullptr;
        ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMService>::CreateInstance(&raw));
        m_service = ComPtr<IKVFileMgmtService>(raw);
        m_object = raw;
        ASSERT_EQ(S_OK, BindService(m_service.Get(), m_device.Get(), uid));
    }
    HRESULT Unbind() {
        ComPtr<IKVDeviceInformation> info;
        HRESULT hr = m_service.As(info, IID_IKVDeviceInformation);
        com::UniqueBstr uid(L"");
        return FAILED(hr) ? hr : info->SetDeviceInformation(nullptr, uid.Get());
    }

    SymbianConnector* Connector() { return m_object->GetSymbianConnector(); }
    CAsynchOperationExecutor* Executor() { return m_object->GetExecutor(); }

    template <class I>
    ComPtr<I> Item(const std::wstring& devicePath, REFIID iid) {
        ComPtr<ISCDevice> device;
        ComPtr<I> out;
        EXPECT_HRESULT_SUCCEEDED(Connector()->GetISCDevice(device.Receive()));
        if (device) {
            EXPECT_HRESULT_SUCCEEDED(GetItem(device.Get(), devicePath, iid, out.ReceiveVoid()));
        }
        return out;
    }
    std::unique_ptr<CSymbianFolder> MakeFolder(const wchar_t* virtualPath, const std::wstring& devicePath) {
        auto dir = Item<ISCDeviceStorageDirectory>(devicePath, IID_ISCDeviceStorageDirectory);
        com::UniqueBstr path(virtualPath);
        return std::unique_ptr<CSymbianFolder>(new CSymbianFolder(
            Connector(), path.Get(), dir.Get(), Connector()->GetMapping(), Connector()->GetMassStorageMapping(),
            Connector()->CurrentBinding()));
    }
    std::unique_ptr<CSymbianFile> MakeFile(const wchar_t* virtualPath, const std::wstring& devicePath) {
        auto file = Item<ISCDeviceStorageFile>(devicePath, IID_ISCDeviceStorageFile);
        com::UniqueBstr path(virtualPath);
        return std::unique_ptr<CSymbianFile>(new CSymbianFile(Connector(), path.Get(), file.Get(),
                                                              Connector()->GetMapping(), Connector()->CurrentBinding()));
    }
    std::unique_ptr<CSymbianMountPoint> MakeMountPoint(const wchar_t* virtualPath, wchar_t letter) {
        auto drive = Item<ISCDrive>(std::wstring(1, letter) + L":", IID_ISCDrive);
        com::UniqueBstr path(virtualPath);
        return std::unique_ptr<CSymbianMountPoint>(
            new CSymbianMountPoint(Connector(), path.Get(), drive.Get(), Connector()->CurrentBinding()));
    }

    long Calls(long kind = simCallAll) {
        long count = -1;
        EXPECT_HRESULT_SUCCEEDED(m_control->CallCount(kind, &count));
        return count;
    }
    void FailNext(long kind, HRESULT hr) { ASSERT_HRESULT_SUCCEEDED(m_control->FailCalls(kind, hr, 1)); }

    LogLines m_log;
    PhoneImage m_image;
    std::unique_ptr<CapabilityConfig> m_config;
    ComPtr<ISCApplication> m_app;
    ComPtr<ISCDevice> m_device;
    ComPtr<IPhoneSimControl> m_control;
    ComPtr<IKVFileMgmtService> m_service;
    CFMService* m_object = nullptr;
};

} // namespace symtest
