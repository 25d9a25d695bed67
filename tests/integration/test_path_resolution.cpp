// Virtual paths resolved to storage objects: phone, memory card or both, and
// the phone's drives as mount points.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "PhoneSimKit.h"
#include "com/ComObject.h"
#include "connector/StorageObject.h"
#include "connector/SymbianConnectorImpl.h"
#include "connector/SymbianFile.h"
#include "connector/SymbianFolder.h"
#include "connector/SymbianMountpoint.h"
#include "mapping/MergeFolder.h"
#include "mapping/PcFile.h"
#include "mapping/PcFolder.h"
#include "module/FMService.h"

namespace {

using com::ComPtr;
using namespace phonesim::kit;

const wchar_t kImei[] = L"356938035643809";

class PathResolution : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        wchar_t unique[32];
        swprintf(unique, 32, L"res%lu", GetCurrentProcessId());
        m_unique = unique;
        DeviceSpec phone;
        phone.imei = kImei;
        DriveSpec card;
        card.letter = L'E';
        card.label = L"Memory card";
        card.media = 3;
        phone.drives.push_back(card);
        m_image.AddDevice(phone);
        m_image.Fill(L'C', {Dir(L"Images\\"), File(L"Images\\a.jpg", "phone-a")});
        m_image.Fill(L'E', {Dir(L"Photos\\" + m_unique + L"\\both\\"), Dir(L"Photos\\" + m_unique + L"\\phone\\"),
                            File(L"Photos\\" + m_unique + L"\\both\\same.txt", "from the phone")});
        m_image.Activate();
        // The card's side, on the prefix's removable drive.
        m_card = L"M:\\Photos\\" + m_unique;
        CreateDirectoryW(L"M:\\Photos", nullptr);
        CreateDirectoryW(m_card.c_str(), nullptr);
        CreateDirectoryW((m_card + L"\\both").c_str(), nullptr);
        CreateDirectoryW((m_card + L"\\card").c_str(), nullptr);
        WriteFileBytes(m_card + L"\\both\\same.txt", "from the card");

        ASSERT_HRESULT_SUCCEEDED(CreateApplication(m_app.Receive()));
        ASSERT_HRESULT_SUCCEEDED(FindDevice(m_app.Get(), kImei, m_device.Receive()));
        com::ComObject<CFMService>* raw = nullptr;
        ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMService>::CreateInstance(&raw));
        m_service = ComPtr<IKVFileMgmtService>(raw);
        m_object = raw;
    }
    void TearDown() override {
        m_service.Reset();
        m_device.Reset();
        m_app.Reset();
        m_config.reset();
        DeleteFileW((m_card + L"\\both\\same.txt").c_str());
        RemoveDirectoryW((m_card + L"\\both").c_str());
        RemoveDirectoryW((m_card + L"\\card").c_str());
        RemoveDirectoryW(m_card.c_str());
        CoUninitialize();
    }
    void Bind(const wchar_t* sample, const wchar_t* uid) {
        m_config.reset(new CapabilityConfig(WindowsPath(MORVANE_SAMPLES_DIR) + L"\\" + sample));
        ASSERT_EQ(S_OK, BindService(m_service.Get(), m_device.Get(), uid));
    }
    SymbianConnector* Connector() { return m_object->GetSymbianConnector(); }
    std::unique_ptr<CFolder> OpenFolder(const std::wstring& path, HRESULT expected = S_OK) {
        com::UniqueBstr p(path.c_str());
        BSTR b = p.Get();
        CFolder* folder = nullptr;
        EXPECT_EQ(expected, Connector()->getCFolder(b, &folder)) << com::ToAnsi(path.c_str());
        return std::unique_ptr<CFolder>(folder);
    }
    std::unique_ptr<CFile> OpenFile(const std::wstring& path, HRESULT expected = S_OK) {
        com::UniqueBstr p(path.c_str());
        BSTR b = p.Get();
        CFile* file = nullptr;
        EXPECT_EQ(expected, Connector()->getCFile(b, &file)) << com::ToAnsi(path.c_str());
        return std::unique_ptr<CFile>(file);
    }
    static std::wstring PathOf(CStorageObject* object) {
        com::UniqueBstr path;
        if (!object || FAILED(object->GetPath(path.Receive()))) return L"<failed>";
        return path.c_str();
    }

    std::wstring m_unique, m_card;
    PhoneImage m_image;
    std::unique_ptr<CapabilityConfig> m_config;
    ComPtr<ISCApplication> m_app;
    ComPtr<ISCDevice> m_device;
    ComPtr<IKVFileMgmtService> m_service;
    CFMService* m_object = nullptr;
};

TEST_F(PathResolution, FoldersLiveOnThePhoneTheCardOrBoth) {
    Bind(L"memorycard.xml", L"phone-card");
    ASSERT_TRUE(Connector()->GetMassStorageMapping());
    const std::wstring base = L"\\Memory card\\Photos\\" + m_unique + L"\\";

    auto both = OpenFolder(base + L"both\\");
    EXPECT_NE(nullptr, dynamic_cast<CMergeFolder*>(both.get()));
    auto phone = OpenFolder(base + L"phone\\");
    EXPECT_NE(nullptr, dynamic_cast<CSymbianFolder*>(phone.get()));
    EXPECT_EQ(nullptr, dynamic_cast<CMergeFolder*>(phone.get()));
    auto card = OpenFolder(base + L"card\\");
    EXPECT_NE(nullptr, dynamic_cast<CPcFolder*>(card.get()));
    OpenFolder(base + L"nowhere\\", E_FAIL);

    // The card's copy of a file wins over the phone's.
    auto same = OpenFile(base + L"both\\same.txt");
    EXPECT_NE(nullptr, dynamic_cast<CPcFile*>(same.get()));
}

TEST_F(PathResolution, PhoneItemsUnderTheBrowserMapping) {
    Bind(L"browser.xml", L"phone-browser");
    auto pictures = OpenFolder(L"\\Phone\\Pictures\\");
    ASSERT_NE(nullptr, dynamic_cast<CSymbianFolder*>(pictures.get()));
    EXPECT_EQ(L"\\Phone\\Pictures\\", PathOf(pictures.get()).substr(0, 16));
    auto file = OpenFile(L"\\Phone\\Pictures\\a.jpg");
    ASSERT_NE(nullptr, dynamic_cast<CSymbianFile*>(file.get()));
    ULONG size = 0;
    EXPECT_EQ(S_OK, file->GetSize(&size));
    EXPECT_EQ(7u, size);
    OpenFile(L"\\Phone\\Pictures\\missing.jpg", E_FAIL);
    OpenFile(L"\\Phone\\..\\Phone\\Pictures\\a.jpg", E_FAIL);  // never leaves its entry
    CFolder* none = reinterpret_cast<CFolder*>(1);
    BSTR nullPath = nullptr;
    EXPECT_EQ(E_INVALIDARG, Connector()->getCFolder(nullPath, &none));
}

TEST_F(PathResolution, DrivesNamedByTheMappingAreMountPoints) {
    Bind(L"raw.xml", L"phone-raw");
    std::list<CMountPoint*> mountPoints;
    ASSERT_EQ(S_OK, Connector()->getMountPoints(mountPoints));
    ASSERT_EQ(2u, mountPoints.size());
    std::wstring paths;
    for (CMountPoint* m : mountPoints) {
        paths += PathOf(m) + L";";
        LONG media = -1;
        EXPECT_EQ(S_OK, m->GetMedia(&media));
        delete m;
    }
    EXPECT_NE(std::wstring::npos, paths.find(L"C:")) << com::ToAnsi(paths.c_str());
    EXPECT_NE(std::wstring::npos, paths.find(L"E:")) << com::ToAnsi(paths.c_str());
}

TEST_F(PathResolution, NothingResolvesWithoutABindingAndOldObjectsFail) {
    CFolder* folder = nullptr;
    com::UniqueBstr path(L"\\Phone\\Pictures\\");
    BSTR b = path.Get();
    EXPECT_EQ(E_FAIL, Connector()->getCFolder(b, &folder));

    Bind(L"browser.xml", L"phone-browser");
    auto pictures = OpenFolder(L"\\Phone\\Pictures\\");
    auto file = OpenFile(L"\\Phone\\Pictures\\a.jpg");
    ASSERT_TRUE(pictures && file);
    ComPtr<IKVDeviceInformation> info;
    ASSERT_HRESULT_SUCCEEDED(m_service.As(info, IID_IKVDeviceInformation));
    ASSERT_EQ(S_OK, info->SetDeviceInformation(nullptr, nullptr));
    EXPECT_EQ(E_FAIL, Connector()->getCFolder(b, &folder));
    // Made under the old binding: refused, without reaching freed mappings.
    std::list<CFile*> files;
    EXPECT_EQ(E_FAIL, pictures->GetCFiles(files));
    EXPECT_TRUE(files.empty());
    ULONG size = 0;
    EXPECT_EQ(E_FAIL, file->GetSize(&size));
}

} // namespace
