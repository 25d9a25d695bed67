// The one set-up of the integration tests: a simulated phone described first,
// a capability configuration, the service bound as the Device Manager binds
// it, the object model over it, a probe folder whose listing proves (the
// worker runs in posting order) that earlier operations have ended, the
// test's own folder U on the memory card drive, and PC folder trees.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "PhoneSimKit.h"
#include "com/ComObject.h"
#include "connector/SymbianConnectorImpl.h"
#include "connector/SymbianFile.h"
#include "connector/SymbianFolder.h"
#include "connector/SymbianMountpoint.h"
#include "mapping/FolderMapping.h"
#include "mapping/MergeFolder.h"
#include "mapping/PcFile.h"
#include "mapping/PcFolder.h"
#include "module/FMService.h"
#include "operations/AsynchOperation.h"
#include "operations/Callbacks.h"
#include "../support/log_capture.h"

namespace itest {

using com::ComPtr;
using namespace phonesim::kit;
using Sink = FolderEvents;
using Paths = std::vector<std::wstring>;
// A folder tree below a folder: relative path -> bytes; folders end with "\".
using Tree = std::map<std::wstring, std::string>;

constexpr wchar_t kImei[] = L"356938035643809";
constexpr DWORD kHangMs = 60000;  // turns a hang into a failure; nothing depends on timing
constexpr HRESULT kNotReady = static_cast<HRESULT>(0x80070015);
constexpr HRESULT kPathTooLong = static_cast<HRESULT>(0x800700CE);

inline std::wstring SamplePath(const wchar_t* name) { return WindowsPath(MORVANE_SAMPLES_DIR) + L"\\" + name; }
inline std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }
inline com::UniqueBstr B(const std::wstring& s) { return com::UniqueBstr(s.c_str()); }

inline std::wstring PathOf(CStorageObject* object) {
    com::UniqueBstr path;
    if (!object || FAILED(object->GetPath(path.Receive()))) return L"<no path>";
    return path.c_str();
}
inline std::wstring PathOf(IUnknown* object) {
    ComPtr<IKVFMObject> item;
    com::UniqueBstr path;
    if (!object || FAILED(object->QueryInterface(IID_IKVFMObject, item.ReceiveVoid())) ||
        FAILED(item->get_Path(path.Receive())))
        return L"<no path>";
    return std::wstring(path.c_str(), path.Length());
}
inline std::wstring NameOf(IKVFMObject* object) {
    com::UniqueBstr name;
    if (!object || FAILED(object->get_Name(name.Receive()))) return L"<failed>";
    return std::wstring(name.c_str(), name.Length());
}
inline LONG TypeOf(IKVFMObject* object) {
    LONG kind = -1;
    if (object) object->get_Type(&kind);
    return kind;
}
// The COM identity of an object; it stays alive through the caller's reference.
inline IUnknown* Identity(IUnknown* object) {
    ComPtr<IUnknown> unknown;
    if (!object || FAILED(object->QueryInterface(IID_IUnknown, unknown.ReceiveVoid()))) return nullptr;
    return unknown.Get();
}
inline VARIANT Key(LONG index) {
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = index;
    return v;
}
inline VARIANT Key(BSTR name) {
    VARIANT v{};
    v.vt = VT_BSTR;
    v.bstrVal = name;
    return v;
}

inline DWORD Advise(IUnknown* object, Sink* sink) {
    const DWORD cookie = sink->Advise(object);
    EXPECT_NE(0u, cookie) << "not advised";
    return cookie;
}
// Every path of there exists and none of gone does.
inline void ExpectPaths(const Paths& there, const Paths& gone = {}) {
    for (const auto& path : there) EXPECT_TRUE(FileExists(path)) << Narrow(path) << " is missing";
    for (const auto& path : gone) EXPECT_FALSE(FileExists(path)) << Narrow(path) << " is still there";
}
// The one completion of id: a failure when none or several came.
inline Sink::Event OneCompletion(Sink* sink, LONG id) {
    EXPECT_TRUE(sink->WaitFor(id)) << "no completion for " << id;
    const auto all = sink->Completions(id);
    EXPECT_EQ(1u, all.size()) << "completions of " << id;
    return all.empty() ? Sink::Event() : all[0];
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
// Owns what a listing appended.
template <class T>
struct Owned {
    std::list<T*> items;
    ~Owned() { Clear(); }
    void Clear() {
        for (T* item : items) delete item;
        items.clear();
    }
};
// Paths of items [from, to), sorted; each must be a Want.
template <class Want, class T>
Paths SortedPaths(const std::list<T*>& list, size_t from = 0, size_t to = ~size_t(0)) {
    Paths paths;
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

// Every folder (its path ending in a backslash) and file below root, with contents.
inline Tree ReadTree(const std::wstring& root, const std::wstring& relative = L"") {
    Tree tree;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return tree;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            tree[relative + name] = ReadFileBytes(root + L"\\" + relative + name);
            continue;
        }
        tree[relative + name + L"\\"] = "";
        tree.merge(ReadTree(root, relative + name + L"\\"));
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return tree;
}
// Creates root and the tree below it, parents first.
inline void WriteTree(const std::wstring& root, const Tree& tree) {
    CreateDirectoryW(root.c_str(), nullptr);
    for (const auto& [path, bytes] : tree) {
        const std::wstring full = root + L"\\" + path;
        for (size_t at = full.find(L'\\', root.size() + 1); at != std::wstring::npos; at = full.find(L'\\', at + 1))
            CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
        if (path.back() != L'\\') WriteFileBytes(full, bytes);
    }
}
// The last components of the tree's files.
inline std::set<std::wstring> FileNames(const Tree& tree) {
    std::set<std::wstring> names;
    for (const auto& entry : tree)
        if (entry.first.back() != L'\\') names.insert(entry.first.substr(entry.first.rfind(L'\\') + 1));
    return names;
}

// Records each progress report; from cancelAt percent on it answers cancel.
class RecordingProgress : public CProgressCallbackFunctionBase {
public:
    HRESULT Invoke(const wchar_t* path, short percent, short* cancel) override {
        com::ScopedLock lock(m_lock);
        m_paths.push_back(path ? path : L"<null>");
        m_percents.push_back(percent);
        if (cancelAt >= 0 && percent >= cancelAt) *cancel = cancelValue;
        return S_OK;
    }
    std::vector<short> Percents() {
        com::ScopedLock lock(m_lock);
        return m_percents;
    }
    std::vector<std::wstring> Sources() {
        com::ScopedLock lock(m_lock);
        return m_paths;
    }
    void Clear() {
        com::ScopedLock lock(m_lock);
        m_percents.clear();
        m_paths.clear();
    }
    std::atomic<short> cancelAt{-1};
    short cancelValue = 1;

private:
    com::CriticalSection m_lock;
    std::vector<short> m_percents;
    std::vector<std::wstring> m_paths;
};
// Counts replace questions and answers each with 3.
class CountingReplace : public CReplaceCallbackFunctionBase {
public:
    HRESULT Invoke(const wchar_t*, DATE, ULONG, DATE, ULONG, long* answer) override {
        ++calls;
        *answer = 3;
        return S_OK;
    }
    std::atomic<int> calls{0};
};

class PhoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        static std::atomic<int> counter{0};
        m_unique = L"it" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64() % 100000) +
                   L"-" + std::to_wstring(counter++);
    }
    void TearDown() override {
        m_probe.Reset();
        m_probeSink.Reset();
        m_fm.Reset();
        m_service.Reset();
        m_control.Reset();
        m_device.Reset();
        m_app.Reset();
        m_config.reset();
        if (!m_drive.empty()) {
            RemoveTree(m_drive + m_unique);
            RemoveTree(m_drive + m_unique + L"-mapped");
        }
        CoUninitialize();
    }

    // The test phone with drive C:, and E: when a card is asked for.
    void AddPhone(bool card = false, long media = 4) {
        DeviceSpec phone;
        phone.imei = kImei;
        if (card) {
            DriveSpec e;
            e.letter = L'E';
            e.label = L"Memory card";
            e.removable = true;
            e.media = media;
            phone.drives.push_back(e);
        }
        m_image.AddDevice(phone);
    }
    // The phone image is described first; then the service is bound.
    // config: a document's path (std::wstring) or the document (std::string).
    template <class Config>
    void Bind(const Config& config, const wchar_t* uid) {
        m_config.reset();  // one configuration at a time
        m_config.reset(new CapabilityConfig(config));
        BindTo(uid);
    }
    void BindXml(const std::string& xml, const wchar_t* uid) { Bind(xml, uid); }
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
        ASSERT_EQ(S_OK, m_service->CreateFileMgmt(m_fm.Receive()));
    }
    HRESULT Unbind() {
        ComPtr<IKVDeviceInformation> info;
        HRESULT hr = m_service.As(info, IID_IKVDeviceInformation);
        com::UniqueBstr uid(L"");
        return FAILED(hr) ? hr : info->SetDeviceInformation(nullptr, uid.Get());
    }
    // Binds again after Unbind; the probe of the old binding is dropped.
    HRESULT Rebind(const wchar_t* uid) {
        m_probe.Reset();
        return BindService(m_service.Get(), m_device.Get(), uid);
    }

    // The card (the build's removable drive, serial 439041101) is E: shown as
    // "\Memory card", restricted to the test's folder U (whose own files may
    // not be renamed) and U-mapped\Videos shown as "\Memory card\U-videos";
    // "\Phone" is C: with nothing forbidden.
    void BindCard() {
        const std::string u = Narrow(m_unique);
        BindXml("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<applications><devices><device uid=\"pc-card\"><foldermapping>"
                "<mountpoint realpath=\"C:\\\" virtualpath=\"Phone\"/>"
                "<mountpoint realpath=\"E:\\\" virtualpath=\"Memory card\"><subfolders restricted=\"true\">"
                "<subfolder realpath=\"" + u + "\"><fileoperations><forbidden_operation name=\"rename\"/>"
                "</fileoperations></subfolder>"
                "<mappedfolder realpath=\"E:\\" + u + "-mapped\\Videos\\\" virtualname=\"" + u + "-videos\"/>"
                "</subfolders></mountpoint></foldermapping>"
                "<storage><media name=\"USBDevice\" present=\"true\" id=\"439041101\" mountpoint=\"E:\\\"/></storage>"
                "</device></devices></applications>\n",
                L"pc-card");
        if (HasFatalFailure()) return;
        m_mass = Connector()->GetMassStorageMapping();
        ASSERT_TRUE(m_mass) << "the card drive was not found";
        m_drive = m_mass->GetPcDrive();
        ASSERT_EQ(3u, m_drive.size());
        ASSERT_TRUE(CreateDirectoryW(Card(L"").c_str(), nullptr));
        m_probePath = Virtual(L"");
    }
    // Phone content below E:\U\ (call before binding).
    void PhoneFill(const std::vector<Entry>& entries) {
        m_image.Fill(L'E', {Dir(m_unique + L"\\")});
        for (Entry entry : entries) {
            entry.path = m_unique + L"\\" + entry.path;
            m_image.Fill(L'E', {entry});
        }
    }
    // Paths below <card>\U\ on the PC, and their virtual paths.
    std::wstring Card(const std::wstring& relative) const { return m_drive + m_unique + L"\\" + relative; }
    std::wstring Virtual(const std::wstring& relative) const { return L"\\Memory card\\" + m_unique + L"\\" + relative; }
    void WriteCard(const std::wstring& relative, const std::string& bytes) const { WriteFileBytes(Card(relative), bytes); }
    void MakeCardDir(const std::wstring& relative) const {
        ASSERT_TRUE(CreateDirectoryW(Card(relative).c_str(), nullptr)) << Narrow(relative);
    }
    std::wstring Pc(const std::wstring& relative) const { return m_image.PcFolder() + L"\\" + relative; }

    SymbianConnector* Connector() { return m_object->GetSymbianConnector(); }
    CAsynchOperationExecutor* Executor() { return m_object->GetExecutor(); }

    // Storage objects made over the phone's items as path resolution makes them.
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
    std::unique_ptr<CPcFile> PcFile(const std::wstring& relative) {
        return std::unique_ptr<CPcFile>(
            new CPcFile(Virtual(relative).c_str(), Card(relative).c_str(), m_mass, Connector()->CurrentBinding()));
    }
    std::unique_ptr<CPcFolder> PcFolder(const std::wstring& relative) {
        return std::unique_ptr<CPcFolder>(
            new CPcFolder(Virtual(relative).c_str(), Card(relative).c_str(), m_mass, Connector()->CurrentBinding()));
    }

    long Calls(long kind = simCallAll) {
        long count = -1;
        EXPECT_HRESULT_SUCCEEDED(m_control->CallCount(kind, &count));
        return count;
    }
    void FailNext(long kind, HRESULT hr) { ASSERT_HRESULT_SUCCEEDED(m_control->FailCalls(kind, hr, 1)); }

    // Objects of the object model.
    ComPtr<IKVFMFolder> Folder(const std::wstring& path) {
        ComPtr<IKVFMFolder> folder;
        EXPECT_EQ(S_OK, m_fm->CreateFMFolder(B(path).Get(), folder.Receive())) << Narrow(path);
        return folder;
    }
    ComPtr<IKVFMFile> FileAt(const std::wstring& path) {
        ComPtr<IKVFMFile> file;
        EXPECT_EQ(S_OK, m_fm->CreateFMFile(B(path).Get(), file.Receive())) << Narrow(path);
        return file;
    }
    // The object, its events heard by m_sink.
    template <class I>
    ComPtr<I> Watched(ComPtr<I> object) {
        if (object) Advise(object.Get(), m_sink.Get());
        return object;
    }
    // Draws an id with a real listing on the probe folder and waits for its
    // event; every operation started before it has run by then.
    LONG DrawId() {
        if (!m_probe) {
            m_probe = Folder(m_probePath);
            m_probeSink = Sink::Create();
            if (m_probe) Advise(m_probe.Get(), m_probeSink.Get());
        }
        LONG id = 0;
        if (!m_probe) return -1;
        EXPECT_EQ(S_OK, m_probe->GetObjectsAsynch(&id));
        EXPECT_TRUE(m_probeSink->WaitFor(id)) << "no event for transaction " << id;
        return id;
    }
    // Starts one transaction, waits for its completion, then for the probe,
    // so that a second completion would have come.
    LONG Run(Sink* sink, const std::function<HRESULT(LONG*)>& start) {
        LONG id = -1;
        EXPECT_EQ(S_OK, start(&id));
        if (sink) {
            EXPECT_TRUE(sink->WaitFor(id)) << "no completion for " << id;
        }
        DrawId();
        return id;
    }

    testlog::LogCapture m_log;
    PhoneImage m_image;
    std::unique_ptr<CapabilityConfig> m_config;
    ComPtr<ISCApplication> m_app;
    ComPtr<ISCDevice> m_device;
    ComPtr<IPhoneSimControl> m_control;
    ComPtr<IKVFileMgmtService> m_service;
    CFMService* m_object = nullptr;
    ComPtr<IKVFileMgmt> m_fm;
    std::wstring m_probePath;
    ComPtr<IKVFMFolder> m_probe;
    ComPtr<Sink> m_probeSink;
    ComPtr<Sink> m_sink = Sink::Create();
    std::wstring m_unique;                   // U
    std::shared_ptr<CFolderMapping> m_mass;  // after BindCard
    std::wstring m_drive;                    // "M:\" after BindCard
};

} // namespace itest
