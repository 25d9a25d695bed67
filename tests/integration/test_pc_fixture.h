// Set-up of the memory card tests: a simulated phone with drives C: and E:, a
// configuration whose card (the build's removable drive, serial 439041101)
// is E:\ shown as \Memory card\, restricted to one subfolder U unique to the
// test process (files in it may not be renamed) and one mapped folder
// U-mapped\Videos\ shown as \Memory card\U-videos\. The service is bound as
// the Device Manager binds it. What the test writes on the card lives under
// <card>\U and <card>\U-mapped and is removed at the end.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "Morvane.h"
#include "PhoneSimKit.h"
#include "com/ComObject.h"
#include "connector/StorageObject.h"
#include "connector/SymbianConnectorImpl.h"
#include "mapping/FolderMapping.h"
#include "mapping/MergeFolder.h"
#include "mapping/PcFile.h"
#include "mapping/PcFolder.h"
#include "module/FMService.h"

namespace pctest {

using com::ComPtr;
using namespace phonesim::kit;

constexpr wchar_t kImei[] = L"353918057214006";
constexpr HRESULT kPathTooLong = static_cast<HRESULT>(0x800700CE);

inline std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

inline void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
            else DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &data));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::wstring PathOf(CStorageObject* object) {
    BSTR path = nullptr;
    if (!object || FAILED(object->GetPath(&path))) return L"<no path>";
    com::UniqueBstr owned = com::UniqueBstr::Adopt(path);
    return owned.c_str();
}

// Owns what a listing appended.
template <class T>
struct Owned {
    std::list<T*> items;
    ~Owned() { Clear(); }
    void Clear() {
        for (T* item : items) delete item;
        items.clear();
    }
    std::vector<T*> Vector() const { return std::vector<T*>(items.begin(), items.end()); }
};

// Virtual paths of items [from, to), sorted; each must be a Want.
template <class Want, class T>
std::vector<std::wstring> SortedPaths(const std::list<T*>& list, size_t from = 0, size_t to = ~size_t(0)) {
    std::vector<std::wstring> paths;
    size_t i = 0;
    for (T* item : list) {
        if (i >= from && i < to) {
            EXPECT_NE(nullptr, dynamic_cast<Want*>(item)) << "item " << i << " " << Narrow(PathOf(item));
            paths.push_back(PathOf(item));
        }
        ++i;
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

class CardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        static std::atomic<int> counter{0};
        m_unique = L"pct" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64() % 100000) +
                   L"-" + std::to_wstring(counter++);
        DeviceSpec phone;
        phone.imei = kImei;
        DriveSpec card;
        card.letter = L'E';
        card.label = L"Memory card";
        card.removable = true;
        card.media = 4;
        phone.drives = {DriveSpec(), card};
        m_image.AddDevice(phone);
    }

    void TearDown() override {
        if (!m_drive.empty()) {
            RemoveTree(m_drive + m_unique);
            RemoveTree(m_drive + m_unique + L"-mapped");
        }
        m_service.Reset();
        m_device.Reset();
        m_app.Reset();
        m_config.reset();
        CoUninitialize();
    }

    std::string ConfigXml() const {
        const std::string u = Narrow(m_unique);
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<applications><devices><device uid=\"pc-card\"><foldermapping>"
               "<mountpoint realpath=\"C:\\\" virtualpath=\"Phone\"/>"
               "<mountpoint realpath=\"E:\\\" virtualpath=\"Memory card\"><subfolders restricted=\"true\">"
               "<subfolder realpath=\"" + u + "\"><fileoperations><forbidden_operation name=\"rename\"/>"
               "</fileoperations></subfolder>"
               "<mappedfolder realpath=\"E:\\" + u + "-mapped\\Videos\\\" virtualname=\"" + u + "-videos\"/>"
               "</subfolders></mountpoint></foldermapping>"
               "<storage><media name=\"USBDevice\" present=\"true\" id=\"439041101\" mountpoint=\"E:\\\"/></storage>"
               "</device></devices></applications>\n";
    }

    // Phone content below E:\U\.
    void PhoneFill(const std::vector<Entry>& entries) {
        m_image.Fill(L'E', {Dir(m_unique + L"\\")});
        for (Entry entry : entries) {
            entry.path = m_unique + L"\\" + entry.path;
            m_image.Fill(L'E', {entry});
        }
    }

    // Binds the service; the card's folder U exists afterwards.
    void Bind() {
        m_image.Activate();
        m_config.reset(new CapabilityConfig(ConfigXml()));
        ASSERT_HRESULT_SUCCEEDED(CreateApplication(m_app.Receive()));
        ASSERT_HRESULT_SUCCEEDED(FindDevice(m_app.Get(), kImei, m_device.Receive()));
        com::ComObject<CFMService>* raw = nullptr;
        ASSERT_HRESULT_SUCCEEDED(com::ComObject<CFMService>::CreateInstance(&raw));
        m_service = ComPtr<IKVFileMgmtService>(raw);
        m_object = raw;
        ASSERT_EQ(S_OK, BindService(m_service.Get(), m_device.Get(), L"pc-card"));
        ASSERT_TRUE(Connector()->IsInitialized());
        m_mass = Connector()->GetMassStorageMapping();
        ASSERT_TRUE(m_mass) << "the card drive was not found";
        m_drive = m_mass->GetPcDrive();
        ASSERT_EQ(3u, m_drive.size());
        ASSERT_TRUE(CreateDirectoryW(Card(L"").c_str(), nullptr));
    }

    HRESULT Unbind() {
        ComPtr<IKVDeviceInformation> info;
        HRESULT hr = m_service.As(info, IID_IKVDeviceInformation);
        if (FAILED(hr)) return hr;
        com::UniqueBstr uid(L"");
        return info->SetDeviceInformation(nullptr, uid.Get());
    }

    SymbianConnector* Connector() { return m_object->GetSymbianConnector(); }
    CAsynchOperationExecutor* Executor() { return m_object->GetExecutor(); }

    // Card paths below <card>\U\, and their virtual paths.
    std::wstring Card(const std::wstring& relative) const { return m_drive + m_unique + L"\\" + relative; }
    std::wstring Virtual(const std::wstring& relative) const {
        return L"\\Memory card\\" + m_unique + L"\\" + relative;
    }
    void WriteCard(const std::wstring& relative, const std::string& bytes) const {
        WriteFileBytes(Card(relative), bytes);
    }
    void MakeCardDir(const std::wstring& relative) const {
        ASSERT_TRUE(CreateDirectoryW(Card(relative).c_str(), nullptr)) << Narrow(relative);
    }
    // The card's root as the \Memory card\ folder.
    std::unique_ptr<CPcFolder> CardRoot() {
        return std::unique_ptr<CPcFolder>(
            new CPcFolder(L"\\Memory card\\", m_drive.c_str(), m_mass, Connector()->CurrentBinding()));
    }

    std::unique_ptr<CPcFile> PcFile(const std::wstring& relative) {
        return std::unique_ptr<CPcFile>(
            new CPcFile(Virtual(relative).c_str(), Card(relative).c_str(), m_mass, Connector()->CurrentBinding()));
    }
    std::unique_ptr<CPcFolder> PcFolder(const std::wstring& relative) {
        return std::unique_ptr<CPcFolder>(
            new CPcFolder(Virtual(relative).c_str(), Card(relative).c_str(), m_mass, Connector()->CurrentBinding()));
    }
    // The merged folder for E:\U\relative and <card>\U\relative, as the
    // connector's listing makes it; massStorage replaces the binding's.
    std::unique_ptr<CMergeFolder> Merge(const std::wstring& relative,
                                        std::shared_ptr<CFolderMapping> massStorage = nullptr) {
        ComPtr<ISCDeviceStorageDirectory> directory;
        EXPECT_HRESULT_SUCCEEDED(GetItem(m_device.Get(), L"E:\\" + m_unique + L"\\" + relative,
                                         IID_ISCDeviceStorageDirectory, directory.ReceiveVoid()));
        com::UniqueBstr virtualPath(Virtual(relative).c_str());
        com::UniqueBstr pcPath(Card(relative).c_str());
        return std::unique_ptr<CMergeFolder>(new CMergeFolder(
            Connector(), virtualPath.Get(), pcPath.Get(), directory.Get(), Connector()->GetMapping(),
            massStorage ? massStorage : m_mass, Connector()->CurrentBinding()));
    }

    PhoneImage m_image;
    std::unique_ptr<CapabilityConfig> m_config;
    ComPtr<ISCApplication> m_app;
    ComPtr<ISCDevice> m_device;
    ComPtr<IKVFileMgmtService> m_service;
    CFMService* m_object = nullptr;
    std::shared_ptr<CFolderMapping> m_mass;
    std::wstring m_drive;   // "M:\"
    std::wstring m_unique;  // U
};

} // namespace pctest
