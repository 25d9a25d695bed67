// Test kit for the phone simulator: builds phone images in unique temporary
// folders, creates the simulator as Morvane does, records ISCEvents and binds
// a Morvane service to a simulated device as the Device Manager would.
//
//   phonesim::kit::PhoneImage image;
//   image.AddDevice({L"004400000000011"});
//   image.Fill(L'C', {Dir(L"Data\\"), File(L"Data\\a.txt", "hello"),
//                     Sized(L"Data\\big.bin", 300000), File(L"ro.txt", "x", FILE_ATTRIBUTE_READONLY)});
//   image.Activate();                          // MORVANE_PHONESIM_CONFIG for this process
//   ComPtr<ISCApplication> app;  CreateApplication(app.Receive());
#pragma once

#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "PhoneSim.h"
#include "com/ComUtil.h"

namespace phonesim {
namespace kit {

// A new folder with a unique name under the user's temporary folder, deleted
// with everything in it (read-only files included).
class TempFolder {
public:
    explicit TempFolder(const wchar_t* prefix = L"phonesim");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};

struct DriveSpec {
    wchar_t letter = L'C';
    std::wstring label = L"Phone memory";
    uint64_t capacity = 64ull << 20;
    int64_t free = -1;          // bytes; -1: computed from the content
    long media = 6;             // flash
    bool removable = false;
    bool readOnly = false;
    // An existing PC folder to serve the drive from, left in place after the
    // image (a cache of large contents); empty: a folder inside the image.
    std::wstring folder;
};

struct DeviceSpec {
    std::wstring imei;
    std::wstring manufacturer = L"Veltrune";
    std::wstring model = L"Orra 7";
    std::wstring name = L"Test phone";
    bool connected = true;
    std::vector<DriveSpec> drives = {DriveSpec()};
};

// One entry of a drive's content; the path is below the drive's root.
struct Entry {
    std::wstring path;          // "Data\\a.txt"; a directory ends with "\\"
    std::string content;
    int64_t size = -1;          // >= 0: that many pattern bytes instead of content
    DWORD attributes = 0;       // FILE_ATTRIBUTE_READONLY, _HIDDEN, ...
    uint64_t modified = 0;      // UTC FILETIME; 0 leaves the time of writing
};

inline Entry Dir(const std::wstring& path) {
    return Entry{!path.empty() && path.back() == L'\\' ? path : path + L"\\", {}, -1, 0, 0};
}
inline Entry File(const std::wstring& path, const std::string& content, DWORD attributes = 0) {
    return Entry{path, content, -1, attributes, 0};
}
inline Entry Sized(const std::wstring& path, int64_t size, DWORD attributes = 0) {
    return Entry{path, {}, size, attributes, 0};
}
// The UTC FILETIME of a calendar time.
uint64_t FileTimeUtc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// The bytes Sized() writes: a pattern that depends on the offset.
std::string PatternBytes(int64_t size);

class PhoneImage {
public:
    PhoneImage();
    PhoneImage(const PhoneImage&) = delete;
    PhoneImage& operator=(const PhoneImage&) = delete;

    // Adds a device and creates its drives' folders.
    PhoneImage& AddDevice(const DeviceSpec& device);
    // Writes entries into a drive of the device (the last added when imei is empty).
    PhoneImage& Fill(wchar_t drive, std::initializer_list<Entry> entries, const std::wstring& imei = L"");

    // The PC path behind a device path such as "C:\\Data\\a.txt".
    std::wstring PcPath(const std::wstring& devicePath, const std::wstring& imei = L"") const;
    // A scratch folder on the PC side, for copy sources and targets.
    std::wstring PcFolder() const;
    std::wstring WritePcFile(const std::wstring& name, const std::string& content) const;
    std::wstring WritePcFile(const std::wstring& name, int64_t size) const;

    // Writes the description file and returns its path.
    std::wstring Write();
    // Writes it and sets MORVANE_PHONESIM_CONFIG to it in this process.
    std::wstring Activate();
    std::wstring DescriptionPath() const;
    const std::wstring& Root() const { return m_root.Path(); }

private:
    const DeviceSpec& Device(const std::wstring& imei) const;
    std::wstring DriveFolder(const DeviceSpec& device, wchar_t letter) const;

    TempFolder m_root;
    std::vector<DeviceSpec> m_devices;
};

// File helpers for checks.
bool FileExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Deletes the folder and everything in it, read-only files included.
void RemoveTree(const std::wstring& path);

// The application object created as Morvane's connector creates it: CLSCTX 23,
// OleRun, then ISCApplication.
HRESULT CreateApplication(ISCApplication** app);
HRESULT GetControl(ISCApplication* app, IPhoneSimControl** control);
// The connected device with this IMEI.
HRESULT FindDevice(ISCApplication* app, const std::wstring& imei, ISCDevice** device);
// The storage item at a device path, queried for iid.
HRESULT GetItem(ISCDevice* device, const std::wstring& path, REFIID iid, void** out);

// The plumbing of the kit's event sinks: heap-held and really reference
// counted (a firing thread may release its reference after a waiter woke),
// answering IUnknown, IDispatch and the one event interface.
class EventSink : public IDispatch {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(GetTypeInfoCount)(UINT* count) override;
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** info) override;
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;

protected:
    explicit EventSink(REFIID eventIid) : m_eventIid(eventIid) {}
    virtual ~EventSink() = default;

private:
    const IID m_eventIid;
    LONG m_refs = 1;
};

// An ISCEvents sink that records every event and answers the questions as set.
// Thread-safe: events arrive on the simulator's copy threads.
class EventRecorder final : public EventSink {
public:
    struct Event {
        DISPID id = 0;
        long requestId = 0;
        std::wstring fileName;
        long bytes = 0;             // progress
        long percent = 0;           // progress
        long errorType = 0;         // error
        long errorCode = 0;         // error
        bool canContinue = false;   // error
        long result = 0;            // completion
        long existingSize = 0;      // existing file
        long newSize = 0;           // existing file
        DWORD threadId = 0;
    };

    static com::ComPtr<EventRecorder> Create();

    // Answers: cancel at the first progress event with percent >= p (-1 never);
    // the action and cancel for an existing file (a negative action leaves
    // both untouched); continue after an error.
    void CancelAtPercent(long percent);
    void AnswerExisting(long action, bool cancel = false);
    void AnswerContinue(bool goOn);
    // Called on the event's thread before the answer is written.
    void OnEvent(std::function<void(const Event&)> hook);

    // Waits until requestId has completed and returns its result; E_ABORT if
    // nothing comes within timeoutMs (a guard against hangs, not a timing check).
    HRESULT WaitForCompletion(long requestId, DWORD timeoutMs = 60000);
    std::vector<Event> EventsFor(long requestId) const;
    std::vector<Event> All() const;

    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    EventRecorder();
    ~EventRecorder() override;

    mutable com::CriticalSection m_lock;
    CONDITION_VARIABLE m_changed;
    std::vector<Event> m_events;
    long m_cancelAt = -1;
    long m_action = scActionOverwrite;
    bool m_cancelExisting = false;
    bool m_continue = false;
    std::function<void(const Event&)> m_hook;
};

// Advises a sink on an application object for its lifetime.
class SinkConnection {
public:
    SinkConnection(IUnknown* application, IUnknown* sink);
    ~SinkConnection();
    SinkConnection(const SinkConnection&) = delete;
    SinkConnection& operator=(const SinkConnection&) = delete;
    HRESULT Result() const { return m_hr; }
    DWORD Cookie() const { return m_cookie; }

private:
    com::ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
    HRESULT m_hr = E_FAIL;
};

// The object's _IKVFMFolderEvents connection point (null when it has none).
com::ComPtr<IConnectionPoint> FolderEventPoint(IUnknown* object);

// A client's sink for the folder events of Morvane's objects. Heap-held and
// really reference counted: the worker may still hold and release it after
// the completion that a waiter was woken by. Records every event with the
// thread it arrived on; answers ReplaceFolder as told and cancels the
// transactions it is told to.
class FolderEvents final : public EventSink {
public:
    static constexpr DISPID kProgress = 42, kFileProgress = 43, kReplaceFile = 44, kReplaceFolder = 45;
    struct Event {
        DISPID id = 0;
        std::vector<VARTYPE> types;  // in declaration order
        LONG transactionId = 0;
        ULONG result = 0;            // completions
        com::ComPtr<IDispatch> object;
        LONG count = -1;             // listings: the count of the collection handed over
        std::wstring name;           // FileProgress, ReplaceFile, ReplaceFolder
        SHORT percent = -1;          // Progress, FileProgress
        SHORT cancelOnArrival = 0;   // Progress, FileProgress
        LONG offered = 0;            // ReplaceFolder: the answer as it arrived
        DWORD threadId = 0;
    };

    static com::ComPtr<FolderEvents> Create();
    static bool IsCompletion(DISPID id) { return id < kProgress; }

    // Progress events are answered but not kept (long transfers send thousands).
    void KeepProgress(bool keep);
    // The answer a ReplaceFolder question gets, by folder name where listed
    // (negative: left untouched).
    void AnswerFolders(LONG answer, std::map<std::wstring, LONG> byFolder = {});
    // Cancels from the transaction's progress events; only from those of kind when given.
    void CancelTransaction(LONG transactionId, DISPID kind = 0);
    // Written into every FileProgress's cancel flag not cancelled otherwise (0: untouched).
    void AnswerFileProgress(SHORT answer);
    // Called on the event's thread before the event is recorded.
    void OnEvent(std::function<void(const Event&)> hook);

    // Wait, pumping this thread's messages, for the completion of the
    // transaction, for an event of kind (0: a completion), or for done; false
    // when none came within timeoutMs (a hang guard).
    bool WaitFor(LONG transactionId, DISPID kind = 0, DWORD timeoutMs = 60000);
    bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 60000);
    // The first completion of the transaction (id 0 when none came).
    Event Completion(LONG transactionId) const;
    std::vector<Event> Completions(LONG transactionId) const;
    std::vector<Event> Of(LONG transactionId, DISPID kind = 0) const;
    std::vector<Event> All() const;

    // Connects to an object's _IKVFMFolderEvents; 0 when that fails.
    DWORD Advise(IUnknown* object);
    void Unadvise(IUnknown* object, DWORD cookie);

    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    FolderEvents();
    ~FolderEvents() override;
    std::vector<Event> Where(const std::function<bool(const Event&)>& keep) const;
    // The answer for a progress event's cancel flag (0: untouched).
    SHORT CancelAnswer(DISPID id, LONG transactionId) const;

    HANDLE m_changed;
    mutable com::CriticalSection m_lock;
    std::vector<Event> m_events;
    std::vector<std::pair<LONG, DISPID>> m_cancel;
    LONG m_folderAnswer = -1;
    std::map<std::wstring, LONG> m_folderAnswers;
    SHORT m_fileProgressAnswer = 0;
    bool m_keepProgress = true;
    std::function<void(const Event&)> m_hook;
};

// The device configuration the Capability Manager replacement answers from,
// made this process's MORVANE_CAPMGR_CONFIG while the object lives.
class CapabilityConfig {
public:
    // Writes the document into a unique folder.
    explicit CapabilityConfig(const std::string& xml);
    // Uses an existing document or folder, e.g. a sample.
    explicit CapabilityConfig(const std::wstring& existingPath);
    ~CapabilityConfig();
    CapabilityConfig(const CapabilityConfig&) = delete;
    CapabilityConfig& operator=(const CapabilityConfig&) = delete;
    const std::wstring& Path() const { return m_path; }

private:
    TempFolder m_folder;
    std::wstring m_path;
};

// A Unix path of the build (a test's compile-time constant) as Wine sees it.
std::wstring WindowsPath(const std::wstring& unixPath);

// Binds a Morvane service (IKVDeviceInformation) to a simulated device, as the
// Device Manager does.
HRESULT BindService(IUnknown* service, ISCDevice* device, const wchar_t* uid);

} // namespace kit
} // namespace phonesim
