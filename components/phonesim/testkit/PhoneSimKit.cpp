#include "PhoneSimKit.h"

#include <ocidl.h>

#include <algorithm>
#include <cwctype>
#include <stdexcept>

#include "KVDeviceInformation.h"
#include "KVFileMgmt.h"

namespace phonesim {
namespace kit {
namespace {

std::string Utf8(const std::wstring& s) {
    if (s.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string XmlText(const std::wstring& s) {
    std::string out;
    for (char ch : Utf8(s)) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += ch;
        }
    }
    return out;
}

std::wstring Join(const std::wstring& a, const std::wstring& b) {
    if (a.empty()) return b;
    return (a.back() == L'\\') ? a + b : a + L"\\" + b;
}

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

void MakeFolders(const std::wstring& path) {
    for (size_t pos = path.find(L'\\', 3); ; pos = path.find(L'\\', pos + 1)) {
        const std::wstring part = pos == std::wstring::npos ? path : path.substr(0, pos);
        if (!part.empty() && GetFileAttributesW(part.c_str()) == INVALID_FILE_ATTRIBUTES)
            Check(CreateDirectoryW(part.c_str(), nullptr) != FALSE, "cannot create a folder of the phone image");
        if (pos == std::wstring::npos) break;
    }
}

long ArgI4(DISPPARAMS* params, UINT index) {
    // Arguments arrive last first.
    VARIANT& v = params->rgvarg[params->cArgs - 1 - index];
    if (v.vt == VT_I4) return v.lVal;
    VARIANT c;
    VariantInit(&c);
    if (SUCCEEDED(VariantChangeType(&c, &v, 0, VT_I4))) return c.lVal;
    return 0;
}

std::wstring ArgString(DISPPARAMS* params, UINT index) {
    VARIANT& v = params->rgvarg[params->cArgs - 1 - index];
    if (v.vt == VT_BSTR && v.bstrVal) return std::wstring(v.bstrVal, SysStringLen(v.bstrVal));
    return std::wstring();
}

} // namespace

// ---- files and folders -------------------------------------------------------------

TempFolder::TempFolder(const wchar_t* prefix) {
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    Check(n > 0 && n < MAX_PATH, "no temporary folder");
    GUID guid;
    Check(SUCCEEDED(CoCreateGuid(&guid)), "no unique name");
    wchar_t name[64];
    swprintf(name, 64, L"%ls-%08lx%04x%04x", prefix, static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3);
    m_path = Join(temp, name);
    Check(CreateDirectoryW(m_path.c_str(), nullptr) != FALSE, "cannot create the temporary folder");
}

TempFolder::~TempFolder() { RemoveTree(m_path); }

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Join(path, L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = Join(path, name);
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadFileBytes(const std::wstring& path) {
    com::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                       FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    std::string out;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got) out.append(buffer, got);
    return out;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    com::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Check(file.Valid(), "cannot create a file");
    DWORD written = 0;
    Check(bytes.empty() || (WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                            written == bytes.size()),
          "cannot write a file");
}

uint64_t FileTimeUtc(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    FILETIME ft;
    Check(SystemTimeToFileTime(&st, &ft) != FALSE, "bad calendar time");
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::string PatternBytes(int64_t size) {
    std::string out(static_cast<size_t>(size), '\0');
    for (int64_t i = 0; i < size; ++i) out[static_cast<size_t>(i)] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return out;
}

// ---- phone image ---------------------------------------------------------------------

PhoneImage::PhoneImage() : m_root(L"phonesim") { MakeFolders(PcFolder()); }

PhoneImage& PhoneImage::AddDevice(const DeviceSpec& device) {
    Check(!device.imei.empty(), "a device needs an IMEI");
    m_devices.push_back(device);
    for (const auto& d : device.drives) MakeFolders(DriveFolder(device, d.letter));
    return *this;
}

const DeviceSpec& PhoneImage::Device(const std::wstring& imei) const {
    Check(!m_devices.empty(), "the image has no device");
    if (imei.empty()) return m_devices.back();
    for (const auto& d : m_devices)
        if (d.imei == imei) return d;
    throw std::runtime_error("no device with that IMEI in the image");
}

std::wstring PhoneImage::DriveFolder(const DeviceSpec& device, wchar_t letter) const {
    for (const auto& d : device.drives)
        if (std::towupper(d.letter) == std::towupper(letter) && !d.folder.empty()) return d.folder;
    return Join(Join(m_root.Path(), device.imei), std::wstring(1, static_cast<wchar_t>(std::towupper(letter))));
}

PhoneImage& PhoneImage::Fill(wchar_t drive, std::initializer_list<Entry> entries, const std::wstring& imei) {
    const DeviceSpec& device = Device(imei);
    const std::wstring folder = DriveFolder(device, drive);
    for (const Entry& e : entries) {
        const std::wstring path = Join(folder, e.path);
        if (!e.path.empty() && e.path.back() == L'\\') {
            MakeFolders(path.substr(0, path.size() - 1));
            if (e.attributes) SetFileAttributesW(path.c_str(), e.attributes | FILE_ATTRIBUTE_DIRECTORY);
            continue;
        }
        MakeFolders(path.substr(0, path.find_last_of(L'\\')));
        WriteFileBytes(path, e.size >= 0 ? PatternBytes(e.size) : e.content);
        if (e.modified) {
            com::UniqueHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            FILETIME ft{static_cast<DWORD>(e.modified), static_cast<DWORD>(e.modified >> 32)};
            Check(file.Valid() && SetFileTime(file.Get(), nullptr, nullptr, &ft), "cannot set a file time");
        }
        if (e.attributes) SetFileAttributesW(path.c_str(), e.attributes);
    }
    return *this;
}

std::wstring PhoneImage::PcPath(const std::wstring& devicePath, const std::wstring& imei) const {
    Check(devicePath.size() >= 2 && devicePath[1] == L':', "not a device path");
    std::wstring rest = devicePath.substr(2);
    while (!rest.empty() && rest.front() == L'\\') rest.erase(0, 1);
    const std::wstring folder = DriveFolder(Device(imei), devicePath[0]);
    return rest.empty() ? folder : Join(folder, rest);
}

std::wstring PhoneImage::PcFolder() const { return Join(m_root.Path(), L"pc"); }

std::wstring PhoneImage::WritePcFile(const std::wstring& name, const std::string& content) const {
    const std::wstring path = Join(PcFolder(), name);
    MakeFolders(path.substr(0, path.find_last_of(L'\\')));
    WriteFileBytes(path, content);
    return path;
}

std::wstring PhoneImage::WritePcFile(const std::wstring& name, int64_t size) const {
    return WritePcFile(name, PatternBytes(size));
}

std::wstring PhoneImage::DescriptionPath() const { return Join(m_root.Path(), L"phone.xml"); }

std::wstring PhoneImage::Write() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<phonesim>\n";
    for (const auto& device : m_devices) {
        xml += "  <device imei=\"" + XmlText(device.imei) + "\" manufacturer=\"" + XmlText(device.manufacturer) +
               "\" model=\"" + XmlText(device.model) + "\" name=\"" + XmlText(device.name) + "\" connected=\"" +
               (device.connected ? "true" : "false") + "\">\n";
        for (const auto& d : device.drives) {
            // Relative folders: the image can be moved as a whole.
            xml += "    <drive letter=\"" + XmlText(std::wstring(1, d.letter)) + "\" label=\"" + XmlText(d.label) +
                   "\" folder=\"" +
                   XmlText(d.folder.empty() ? Join(device.imei, std::wstring(1, static_cast<wchar_t>(std::towupper(d.letter))))
                                            : d.folder) +
                   "\" capacity=\"" + std::to_string(d.capacity) + "\" free=\"" +
                   (d.free < 0 ? std::string("computed") : std::to_string(d.free)) + "\" media=\"" +
                   std::to_string(d.media) + "\" removable=\"" + (d.removable ? "true" : "false") +
                   "\" readonly=\"" + (d.readOnly ? "true" : "false") + "\"/>\n";
        }
        xml += "  </device>\n";
    }
    xml += "</phonesim>\n";
    WriteFileBytes(DescriptionPath(), xml);
    return DescriptionPath();
}

std::wstring PhoneImage::Activate() {
    const std::wstring path = Write();
    Check(SetEnvironmentVariableW(L"MORVANE_PHONESIM_CONFIG", path.c_str()) != FALSE, "cannot set the variable");
    return path;
}

// ---- client side -----------------------------------------------------------------------

HRESULT CreateApplication(ISCApplication** app) {
    if (!app) return E_POINTER;
    *app = nullptr;
    com::ComPtr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(CLSID_PhoneSimApplication, nullptr, 23, IID_IUnknown, unknown.ReceiveVoid());
    if (FAILED(hr)) return hr;
    hr = OleRun(unknown.Get());
    if (FAILED(hr)) return hr;
    return unknown->QueryInterface(IID_ISCApplication, reinterpret_cast<void**>(app));
}

HRESULT GetControl(ISCApplication* app, IPhoneSimControl** control) {
    if (!app || !control) return E_POINTER;
    return app->QueryInterface(IID_IPhoneSimControl, reinterpret_cast<void**>(control));
}

HRESULT FindDevice(ISCApplication* app, const std::wstring& imei, ISCDevice** device) {
    if (!app || !device) return E_POINTER;
    *device = nullptr;
    com::ComPtr<ISCDevices> devices;
    HRESULT hr = app->get_Devices(devices.Receive());
    if (FAILED(hr)) return hr;
    long count = 0;
    hr = devices->get_Count(&count);
    if (FAILED(hr)) return hr;
    for (long i = 1; i <= count; ++i) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = i;
        com::ComPtr<ISCDevice> candidate;
        hr = devices->get_Item(index, candidate.Receive());
        if (FAILED(hr)) return hr;
        com::UniqueBstr id;
        if (SUCCEEDED(candidate->get_IMEI(id.Receive())) && imei == id.c_str()) {
            *device = candidate.Detach();
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT GetItem(ISCDevice* device, const std::wstring& path, REFIID iid, void** out) {
    if (!device || !out) return E_POINTER;
    *out = nullptr;
    com::ComPtr<ISCDeviceStorageItem> item;
    com::UniqueBstr p(path.c_str());
    HRESULT hr = device->GetStorageItem(p.Get(), item.Receive());
    if (FAILED(hr)) return hr;
    return item->QueryInterface(iid, out);
}

// ---- event sinks ----------------------------------------------------------------------

STDMETHODIMP EventSink::QueryInterface(REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, m_eventIid))
        return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) EventSink::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) EventSink::Release() {
    const LONG n = InterlockedDecrement(&m_refs);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

STDMETHODIMP EventSink::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP EventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

// ---- event recorder -------------------------------------------------------------------

EventRecorder::EventRecorder() : EventSink(DIID_ISCEvents) { InitializeConditionVariable(&m_changed); }

EventRecorder::~EventRecorder() = default;

com::ComPtr<EventRecorder> EventRecorder::Create() { return com::ComPtr<EventRecorder>::Adopt(new EventRecorder()); }

void EventRecorder::CancelAtPercent(long percent) {
    com::ScopedLock lock(m_lock);
    m_cancelAt = percent;
}

void EventRecorder::AnswerExisting(long action, bool cancel) {
    com::ScopedLock lock(m_lock);
    m_action = action;
    m_cancelExisting = cancel;
}

void EventRecorder::AnswerContinue(bool goOn) {
    com::ScopedLock lock(m_lock);
    m_continue = goOn;
}

void EventRecorder::OnEvent(std::function<void(const Event&)> hook) {
    com::ScopedLock lock(m_lock);
    m_hook = std::move(hook);
}

HRESULT EventRecorder::WaitForCompletion(long requestId, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    com::ScopedLock lock(m_lock);
    HRESULT result = E_ABORT;
    for (;;) {
        // From the end: a long run of copies keeps thousands of earlier events.
        auto it = std::find_if(m_events.rbegin(), m_events.rend(),
                               [&](const Event& e) { return e.id == 16 && e.requestId == requestId; });
        if (it != m_events.rend()) {
            result = it->result;
            break;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) break;
        SleepConditionVariableCS(&m_changed, m_lock.Native(), static_cast<DWORD>(end - now));
    }
    return result;
}

std::vector<EventRecorder::Event> EventRecorder::EventsFor(long requestId) const {
    std::vector<Event> out;
    com::ScopedLock lock(m_lock);
    for (const auto& e : m_events)
        if (e.requestId == requestId) out.push_back(e);
    return out;
}

std::vector<EventRecorder::Event> EventRecorder::All() const {
    com::ScopedLock lock(m_lock);
    return m_events;
}

STDMETHODIMP EventRecorder::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    if (!params) return E_INVALIDARG;
    static const UINT expected[] = {0, 5, 5, 10, 2};  // by dispatch id 13 to 16
    if (id < 13 || id > 16 || params->cArgs != expected[id - 12]) return DISP_E_BADPARAMCOUNT;
    try {
        Event e;
        e.id = id;
        e.requestId = ArgI4(params, 0);
        e.threadId = GetCurrentThreadId();
        switch (id) {
        case 13:
            e.fileName = ArgString(params, 1);
            e.bytes = ArgI4(params, 2);
            e.percent = ArgI4(params, 3);
            break;
        case 14:
            e.errorType = ArgI4(params, 1);
            e.errorCode = ArgI4(params, 2);
            e.canContinue = params->rgvarg[1].vt == VT_BOOL && params->rgvarg[1].boolVal != VARIANT_FALSE;
            break;
        case 15:
            e.fileName = ArgString(params, 1);
            e.existingSize = ArgI4(params, 2);
            e.newSize = ArgI4(params, 5);
            break;
        case 16: e.result = ArgI4(params, 1); break;
        }
        std::function<void(const Event&)> hook;
        long cancelAt, action;
        bool cancelExisting, goOn;
        {
            com::ScopedLock lock(m_lock);
            hook = m_hook;
            cancelAt = m_cancelAt;
            action = m_action;
            cancelExisting = m_cancelExisting;
            goOn = m_continue;
        }
        if (hook) hook(e);

        // Out-arguments must be exactly the types the library declares.
        VARIANT* last = &params->rgvarg[0];
        if (id == 13 && last->vt == (VT_BYREF | VT_BOOL))
            *last->pboolVal = (cancelAt >= 0 && e.percent >= cancelAt) ? VARIANT_TRUE : VARIANT_FALSE;
        if (id == 14 && last->vt == (VT_BYREF | VT_BOOL)) *last->pboolVal = goOn ? VARIANT_TRUE : VARIANT_FALSE;
        if (id == 15 && action >= 0 && last->vt == (VT_BYREF | VT_BOOL) && params->rgvarg[1].vt == (VT_BYREF | VT_I4)) {
            *params->rgvarg[1].plVal = action;
            *last->pboolVal = cancelExisting ? VARIANT_TRUE : VARIANT_FALSE;
        }

        com::ScopedLock lock(m_lock);
        m_events.push_back(e);
        // Waits end only on completions: no wake-up per progress event.
        if (id == 16) WakeAllConditionVariable(&m_changed);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// ---- connections and binding ---------------------------------------------------------------

SinkConnection::SinkConnection(IUnknown* application, IUnknown* sink) {
    if (!application || !sink) {
        m_hr = E_POINTER;
        return;
    }
    com::ComPtr<IConnectionPointContainer> container;
    m_hr = application->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid());
    if (SUCCEEDED(m_hr)) m_hr = container->FindConnectionPoint(DIID_ISCEvents, m_point.Receive());
    if (SUCCEEDED(m_hr)) m_hr = m_point->Advise(sink, &m_cookie);
}

SinkConnection::~SinkConnection() {
    if (m_point && m_cookie) m_point->Unadvise(m_cookie);
}

CapabilityConfig::CapabilityConfig(const std::string& xml) : m_folder(L"capcfg") {
    m_path = m_folder.Path() + L"\\config.xml";
    WriteFileBytes(m_path, xml);
    SetEnvironmentVariableW(L"MORVANE_CAPMGR_CONFIG", m_path.c_str());
}

CapabilityConfig::CapabilityConfig(const std::wstring& existingPath) : m_folder(L"capcfg"), m_path(existingPath) {
    SetEnvironmentVariableW(L"MORVANE_CAPMGR_CONFIG", m_path.c_str());
}

CapabilityConfig::~CapabilityConfig() { SetEnvironmentVariableW(L"MORVANE_CAPMGR_CONFIG", nullptr); }

std::wstring WindowsPath(const std::wstring& unixPath) {
    std::wstring p = unixPath;
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    if (!p.empty() && p[0] == L'\\') p = L"Z:" + p;
    return p;
}

HRESULT BindService(IUnknown* service, ISCDevice* device, const wchar_t* uid) {
    if (!service || !device) return E_POINTER;
    com::ComPtr<IKVDeviceInformation> information;
    HRESULT hr = service->QueryInterface(IID_IKVDeviceInformation, information.ReceiveVoid());
    if (FAILED(hr)) return hr;
    com::UniqueBstr id(uid ? uid : L"");
    return information->SetDeviceInformation(device, id.Get());
}

// ---- FolderEvents ----

FolderEvents::FolderEvents()
    : EventSink(DIID__IKVFMFolderEvents), m_changed(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

FolderEvents::~FolderEvents() {
    if (m_changed) CloseHandle(m_changed);
}

com::ComPtr<FolderEvents> FolderEvents::Create() { return com::ComPtr<FolderEvents>::Adopt(new FolderEvents()); }

void FolderEvents::KeepProgress(bool keep) {
    com::ScopedLock lock(m_lock);
    m_keepProgress = keep;
}

void FolderEvents::AnswerFolders(LONG answer, std::map<std::wstring, LONG> byFolder) {
    com::ScopedLock lock(m_lock);
    m_folderAnswer = answer;
    m_folderAnswers = std::move(byFolder);
}

void FolderEvents::CancelTransaction(LONG transactionId, DISPID kind) {
    com::ScopedLock lock(m_lock);
    m_cancel.emplace_back(transactionId, kind);
}

void FolderEvents::AnswerFileProgress(SHORT answer) {
    com::ScopedLock lock(m_lock);
    m_fileProgressAnswer = answer;
}

void FolderEvents::OnEvent(std::function<void(const Event&)> hook) {
    com::ScopedLock lock(m_lock);
    m_hook = std::move(hook);
}

std::vector<FolderEvents::Event> FolderEvents::Where(const std::function<bool(const Event&)>& keep) const {
    com::ScopedLock lock(m_lock);
    std::vector<Event> out;
    for (const Event& e : m_events)
        if (keep(e)) out.push_back(e);
    return out;
}

FolderEvents::Event FolderEvents::Completion(LONG transactionId) const {
    auto all = Completions(transactionId);
    return all.empty() ? Event() : all[0];
}

std::vector<FolderEvents::Event> FolderEvents::Completions(LONG transactionId) const {
    return Where([&](const Event& e) { return e.transactionId == transactionId && IsCompletion(e.id); });
}

std::vector<FolderEvents::Event> FolderEvents::Of(LONG transactionId, DISPID kind) const {
    return Where([&](const Event& e) { return e.transactionId == transactionId && (!kind || e.id == kind); });
}

std::vector<FolderEvents::Event> FolderEvents::All() const {
    return Where([](const Event&) { return true; });
}

bool FolderEvents::WaitFor(LONG transactionId, DISPID kind, DWORD timeoutMs) {
    return WaitUntil([&] { return kind ? !Of(transactionId, kind).empty() : !Completions(transactionId).empty(); },
                     timeoutMs);
}

bool FolderEvents::WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        // Objects of a single-threaded apartment fire through this thread's queue.
        if (MsgWaitForMultipleObjects(1, &m_changed, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT) ==
            WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
    return true;
}

com::ComPtr<IConnectionPoint> FolderEventPoint(IUnknown* object) {
    com::ComPtr<IConnectionPointContainer> container;
    com::ComPtr<IConnectionPoint> point;
    if (object && SUCCEEDED(object->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid())))
        container->FindConnectionPoint(DIID__IKVFMFolderEvents, point.Receive());
    return point;
}

DWORD FolderEvents::Advise(IUnknown* object) {
    DWORD cookie = 0;
    const auto point = FolderEventPoint(object);
    if (!point || FAILED(point->Advise(static_cast<IDispatch*>(this), &cookie))) cookie = 0;
    return cookie;
}

void FolderEvents::Unadvise(IUnknown* object, DWORD cookie) {
    if (const auto point = cookie ? FolderEventPoint(object) : nullptr) point->Unadvise(cookie);
}

SHORT FolderEvents::CancelAnswer(DISPID id, LONG transactionId) const {
    for (const auto& c : m_cancel)
        if (c.first == transactionId && (!c.second || c.second == id)) return -1;
    return id == kFileProgress ? m_fileProgressAnswer : 0;
}

template <class I>
static LONG CountOf(IDispatch* collection, REFIID iid) {
    com::ComPtr<I> typed;
    LONG count = -1;
    if (collection && SUCCEEDED(collection->QueryInterface(iid, typed.ReceiveVoid()))) typed->get_Count(&count);
    return count;
}

STDMETHODIMP FolderEvents::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    const UINT n = params ? params->cArgs : 0;
    // Arguments arrive last first.
    auto arg = [&](UINT position) -> VARIANT& { return params->rgvarg[n - 1 - position]; };
    // Progress: ([file name,] percent, transaction id, cancel flag).
    const bool progress = (id == kProgress && n == 3) || (id == kFileProgress && n == 4);
    SHORT* cancel = progress && arg(n - 1).vt == (VT_BYREF | VT_I2) ? arg(n - 1).piVal : nullptr;
    // Progress that is not kept is only answered: a long copy sends two
    // events per 64 KiB, and a client that keeps nothing of them costs
    // nothing per event either.
    if (progress) {
        com::ScopedLock lock(m_lock);
        if (!m_keepProgress) {
            if (const SHORT answer = cancel ? CancelAnswer(id, arg(n - 2).lVal) : 0) *cancel = answer;
            return S_OK;
        }
    }
    try {
        Event e;
        e.id = id;
        e.threadId = GetCurrentThreadId();
        auto text = [](const VARIANT& v) { return v.vt == VT_BSTR && v.bstrVal ? std::wstring(v.bstrVal) : L""; };
        for (UINT i = 0; i < n; ++i) e.types.push_back(arg(i).vt);
        std::function<void(const Event&)> hook;
        {
            com::ScopedLock lock(m_lock);
            if (progress) {
                if (id == kFileProgress) e.name = text(arg(0));
                e.percent = arg(n - 3).iVal;
                e.transactionId = arg(n - 2).lVal;
                if (cancel) {
                    e.cancelOnArrival = *cancel;
                    if (const SHORT answer = CancelAnswer(id, e.transactionId)) *cancel = answer;
                }
            } else if (id == kReplaceFolder && n == 3) {
                e.transactionId = arg(0).lVal;
                e.name = text(arg(1));
                if (LONG* answer = arg(2).vt == (VT_BYREF | VT_I4) ? arg(2).plVal : nullptr) {
                    e.offered = *answer;
                    const auto listed = m_folderAnswers.find(e.name);
                    const LONG given = listed != m_folderAnswers.end() ? listed->second : m_folderAnswer;
                    if (given >= 0) *answer = given;
                }
            } else if (id == kReplaceFile && n == 7) {
                e.transactionId = arg(0).lVal;
                e.name = text(arg(1));
            } else if (n >= 2) {
                // Completions: (result, [object,] transaction id).
                e.result = arg(0).ulVal;
                e.transactionId = arg(n - 1).lVal;
                if (n == 3 && arg(1).vt == VT_DISPATCH) e.object = com::ComPtr<IDispatch>(arg(1).pdispVal);
            }
            hook = m_hook;
        }
        // Outside the lock: a proxy's call may bring further events in.
        if (id == 35) e.count = CountOf<IKVFMObjects>(e.object.Get(), IID_IKVFMObjects);
        if (id == 36) e.count = CountOf<IKVFMFiles>(e.object.Get(), IID_IKVFMFiles);
        if (id == 37) e.count = CountOf<IKVFMFolders>(e.object.Get(), IID_IKVFMFolders);
        if (hook) hook(e);
        com::ScopedLock lock(m_lock);
        m_events.push_back(std::move(e));
        SetEvent(m_changed);
    } catch (...) {
        return E_OUTOFMEMORY;  // nothing is recorded
    }
    return S_OK;
}

} // namespace kit
} // namespace phonesim
