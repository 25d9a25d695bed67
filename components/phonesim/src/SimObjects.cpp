#include "SimObjects.h"

#include <memory>

#include "DeviceInformation.h"
#include "SimCopy.h"
#include "com/ComEnum.h"

namespace phonesim {

using com::ComPtr;

namespace {

SimState& State() { return SimState::Instance(); }

constexpr DWORD kReportedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// Enters a call on an item and finds its drive and PC path.
HRESULT Locate(long kind, const ItemLocation& at, DriveDesc& drive, std::wstring& pcPath) {
    HRESULT hr = State().Enter(kind, &at.imei);
    if (FAILED(hr)) return hr;
    if (!State().FindDrive(at.imei, at.drive, drive)) return kPathNotFound;
    pcPath = PcPath(drive, at);
    return S_OK;
}

HRESULT RequireDirectory(const std::wstring& pcPath) {
    DWORD attributes = GetFileAttributesW(pcPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return kPathNotFound;
    return S_OK;
}

bool Exists(const std::wstring& pcPath) { return GetFileAttributesW(pcPath.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Parent(const std::wstring& pcPath) {
    size_t slash = pcPath.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : pcPath.substr(0, slash);
}

ItemLocation ParentOf(const ItemLocation& at) {
    ItemLocation parent = at;
    if (!parent.names.empty()) parent.names.pop_back();
    return parent;
}

HRESULT ReturnBool(bool value, VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    *out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

// Renames the item at pcPath within its folder, as a phone does.
HRESULT RenameItem(const std::wstring& pcPath, const std::wstring& oldName, BSTR newName, const DriveDesc& drive,
                   DWORD attributes) {
    const std::wstring name = FromBstr(newName);
    if (!IsValidName(name)) return kInvalidName;
    if (drive.readOnly || (attributes & FILE_ATTRIBUTE_READONLY)) return kAccessDenied;
    const std::wstring target = JoinPath(Parent(pcPath), name);
    // Only a change of case may land on the item's own name.
    if (Exists(target) && !SameName(name, oldName)) return kAlreadyExists;
    if (SameName(name, oldName) && name != oldName) {
        // A change of case only: through a passing name, or the file system may keep the old spelling.
        const std::wstring passing = target + L".rename~";
        if (!MoveFileW(pcPath.c_str(), passing.c_str())) return LastError();
        if (!MoveFileW(passing.c_str(), target.c_str())) {
            const HRESULT hr = LastError();
            MoveFileW(passing.c_str(), pcPath.c_str());
            return hr;
        }
        return S_OK;
    }
    if (!MoveFileW(pcPath.c_str(), target.c_str())) return LastError();
    return S_OK;
}

} // namespace

HRESULT MakeDirectory(const ItemLocation& at, ISCDeviceStorageDirectory** out) {
    if (at.names.empty()) return MakeObject<CSimDrive>(out, at.imei, at.drive);
    return MakeObject<CSimDirectory>(out, at);
}

// ---- control ---------------------------------------------------------------------

HRESULT CSimControl::FinalConstruct() {
    HRESULT hr = SimObject::FinalConstruct();
    if (FAILED(hr)) return hr;
    return Guarded([&] {
        State().BeginSessionIfIdle();
        return S_OK;
    });
}

STDMETHODIMP ControlPart::LoadDescription(BSTR path) {
    return Guarded([&] { return ReportLoad(State().Load(FromBstr(path))); });
}

STDMETHODIMP ControlPart::Reload() {
    return Guarded([&] { return ReportLoad(State().Reload()); });
}

STDMETHODIMP ControlPart::InterfaceSupportsErrorInfo(REFIID iid) {
    return IsEqualIID(iid, IID_IPhoneSimControl) ? S_OK : S_FALSE;
}

HRESULT ControlPart::ReportLoad(HRESULT hr) {
    if (FAILED(hr)) {
        // Says what is wrong with the description, for scripts and logs.
        ComPtr<ICreateErrorInfo> create;
        if (SUCCEEDED(CreateErrorInfo(create.Receive()))) {
            const std::wstring why = State().LastLoadError();
            create->SetGUID(IID_IPhoneSimControl);
            create->SetSource(const_cast<LPOLESTR>(L"PhoneSim.Control"));
            create->SetDescription(const_cast<LPOLESTR>(why.c_str()));
            ComPtr<IErrorInfo> info;
            if (SUCCEEDED(create.As(info, IID_IErrorInfo))) SetErrorInfo(0, info.Get());
        }
    }
    return hr;
}

STDMETHODIMP ControlPart::get_DescriptionPath(BSTR* path) {
    return Guarded([&] { return ReturnString(State().DescriptionPath(), path); });
}

STDMETHODIMP ControlPart::get_Throttle(long* bytesPerSecond) {
    if (!bytesPerSecond) return E_POINTER;
    *bytesPerSecond = State().Throttle();
    return S_OK;
}

STDMETHODIMP ControlPart::put_Throttle(long bytesPerSecond) {
    if (bytesPerSecond < 0) return E_INVALIDARG;
    State().SetThrottle(bytesPerSecond);
    return S_OK;
}

STDMETHODIMP ControlPart::FailCalls(long kind, long hr, long count) { return State().FailCalls(kind, hr, count); }

STDMETHODIMP ControlPart::FailNextCopy(long hr, long atPercent) {
    if (SUCCEEDED(hr)) return E_INVALIDARG;
    State().FailNextCopy(hr, atPercent);
    return S_OK;
}

STDMETHODIMP ControlPart::InjectCopyError(long errorType, long errorCode, VARIANT_BOOL canContinue) {
    State().InjectCopyError(errorType, errorCode, canContinue != VARIANT_FALSE);
    return S_OK;
}

STDMETHODIMP ControlPart::get_EarlyEvents(VARIANT_BOOL* on) { return ReturnBool(State().EarlyEvents(), on); }

STDMETHODIMP ControlPart::put_EarlyEvents(VARIANT_BOOL on) {
    State().SetEarlyEvents(on != VARIANT_FALSE);
    return S_OK;
}

STDMETHODIMP ControlPart::get_CopiesPaused(VARIANT_BOOL* paused) {
    return ReturnBool(State().CopiesPaused(), paused);
}

STDMETHODIMP ControlPart::put_CopiesPaused(VARIANT_BOOL paused) {
    State().SetCopiesPaused(paused != VARIANT_FALSE);
    return S_OK;
}

STDMETHODIMP ControlPart::Disconnect(BSTR imei) {
    return Guarded([&] { return State().SetConnected(FromBstr(imei), false); });
}

STDMETHODIMP ControlPart::Reconnect(BSTR imei) {
    return Guarded([&] { return State().SetConnected(FromBstr(imei), true); });
}

STDMETHODIMP ControlPart::CallCount(long kind, long* count) {
    if (!count) return E_POINTER;
    *count = 0;
    if (kind < 0 || kind >= simCallKindCount) return E_INVALIDARG;
    *count = State().CallCount(kind);
    return S_OK;
}

STDMETHODIMP ControlPart::ResetCallCounts() {
    State().ResetCallCounts();
    return S_OK;
}

STDMETHODIMP ControlPart::get_ActiveCopies(long* count) {
    if (!count) return E_POINTER;
    *count = State().ActiveCopies();
    return S_OK;
}

STDMETHODIMP ControlPart::Reset() {
    State().ResetControl();
    return S_OK;
}

namespace {

HRESULT DeviceInformationOf(IDispatch* service, ComPtr<IDeviceInformation>& out) {
    if (!service) return E_POINTER;
    return service->QueryInterface(kIidDeviceInformation, out.ReceiveVoid());
}

} // namespace

STDMETHODIMP ControlPart::BindService(IDispatch* service, BSTR uid) {
    return Guarded([&] {
        ComPtr<IDeviceInformation> information;
        HRESULT hr = DeviceInformationOf(service, information);
        if (FAILED(hr)) return hr;
        // The same device object the application's device list hands out, made
        // without going through the list: binding is the Device Manager's
        // doing, not a call of the service, so it is neither counted nor made
        // to fail by FailCalls.
        const std::vector<std::wstring> connected = State().ConnectedDevices();
        if (connected.empty()) return kDeviceNotReady;
        ComPtr<ISCDevice> device;
        hr = MakeObject<CSimDevice>(device.Receive(), connected.front());
        if (FAILED(hr)) return hr;
        return information->SetDeviceInformation(device.Get(), uid);
    });
}

STDMETHODIMP ControlPart::UnbindService(IDispatch* service) {
    return Guarded([&] {
        ComPtr<IDeviceInformation> information;
        HRESULT hr = DeviceInformationOf(service, information);
        if (FAILED(hr)) return hr;
        return information->SetDeviceInformation(nullptr, nullptr);
    });
}

// ---- application -------------------------------------------------------------

CSimApplication::CSimApplication() : m_point(this) {}

HRESULT CSimApplication::FinalConstruct() {
    HRESULT hr = SimObject::FinalConstruct();
    if (FAILED(hr)) return hr;
    return Guarded([&] {
        State().BeginSessionIfIdle();
        return S_OK;
    });
}

void CSimApplication::FinalRelease() {
    State().UnadviseAll(this);
    SimObject::FinalRelease();
}

STDMETHODIMP CSimApplication::get_Devices(ISCDevices** devices) {
    return Guarded([&] {
        if (!devices) return E_POINTER;
        *devices = nullptr;
        HRESULT hr = State().Enter(simCallDevices, nullptr);
        if (FAILED(hr)) return hr;
        std::vector<ComPtr<ISCDevice>> items;
        for (const auto& imei : State().ConnectedDevices()) {
            ComPtr<ISCDevice> device;
            hr = MakeObject<CSimDevice>(device.Receive(), imei);
            if (FAILED(hr)) return hr;
            items.push_back(device);
        }
        return MakeObject<CSimDevices>(devices, std::wstring(), std::move(items));
    });
}

STDMETHODIMP CSimApplication::get_Version(BSTR* version) {
    return Guarded([&] { return ReturnString(L"1.0 phone simulator", version); });
}

STDMETHODIMP CSimApplication::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (!points) return E_POINTER;
    *points = nullptr;
    IConnectionPoint* point = &m_point;
    return Guarded([&] { return com::CreateConnectionPointsEnumerator(GetUnknown(), &point, 1, points); });
}

STDMETHODIMP CSimApplication::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, DIID_ISCEvents)) return CONNECT_E_NOCONNECTION;
    *point = &m_point;
    m_point.AddRef();
    return S_OK;
}

STDMETHODIMP CSimApplication::Point::QueryInterface(REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CSimApplication::Point::AddRef() { return m_owner->GetUnknown()->AddRef(); }
STDMETHODIMP_(ULONG) CSimApplication::Point::Release() { return m_owner->GetUnknown()->Release(); }

STDMETHODIMP CSimApplication::Point::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = DIID_ISCEvents;
    return S_OK;
}

STDMETHODIMP CSimApplication::Point::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = static_cast<IConnectionPointContainer*>(m_owner);
    (*container)->AddRef();
    return S_OK;
}

STDMETHODIMP CSimApplication::Point::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(DIID_ISCEvents, dispatch.ReceiveVoid())) || !dispatch) {
        if (FAILED(sink->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid())) || !dispatch)
            return CONNECT_E_CANNOTCONNECT;
    }
    return Guarded([&] { return State().Advise(m_owner, dispatch.Get(), cookie); });
}

STDMETHODIMP CSimApplication::Point::Unadvise(DWORD cookie) { return State().Unadvise(m_owner, cookie); }

STDMETHODIMP CSimApplication::Point::EnumConnections(IEnumConnections** connections) {
    if (!connections) return E_POINTER;
    *connections = nullptr;
    return Guarded([&] {
        auto sinks = State().SinksOf(m_owner);
        std::vector<CONNECTDATA> data;
        for (auto& s : sinks) data.push_back(CONNECTDATA{s.second.Get(), s.first});
        return com::CreateConnectionsEnumerator(this, data.data(), data.size(), connections);
    });
}

// ---- device ------------------------------------------------------------------

STDMETHODIMP CSimDevice::get_IMEI(BSTR* imei) {
    return Guarded([&] {
        if (!imei) return E_POINTER;
        *imei = nullptr;
        // The identity stays readable while the device is disconnected.
        HRESULT hr = State().Enter(simCallImei, &m_imei, true);
        if (FAILED(hr)) return hr;
        return ReturnString(m_imei, imei);
    });
}

HRESULT CSimDevice::Property(std::wstring DeviceDesc::*field, BSTR* out) {
    return Guarded([&] {
        if (!out) return E_POINTER;
        *out = nullptr;
        HRESULT hr = State().Enter(simCallDeviceProperty, &m_imei, true);
        if (FAILED(hr)) return hr;
        DeviceDesc device;
        if (!State().FindDevice(m_imei, device)) return kDeviceNotReady;
        return ReturnString(device.*field, out);
    });
}

STDMETHODIMP CSimDevice::get_Manufacturer(BSTR* manufacturer) {
    return Property(&DeviceDesc::manufacturer, manufacturer);
}
STDMETHODIMP CSimDevice::get_Model(BSTR* model) { return Property(&DeviceDesc::model, model); }
STDMETHODIMP CSimDevice::get_Name(BSTR* name) { return Property(&DeviceDesc::name, name); }

STDMETHODIMP CSimDevice::get_Connected(VARIANT_BOOL* connected) {
    return Guarded([&] {
        if (!connected) return E_POINTER;
        *connected = VARIANT_FALSE;
        HRESULT hr = State().Enter(simCallDeviceProperty, &m_imei, true);
        if (FAILED(hr)) return hr;
        DeviceDesc device;
        if (!State().FindDevice(m_imei, device)) return kDeviceNotReady;
        return ReturnBool(device.connected, connected);
    });
}

STDMETHODIMP CSimDevice::get_Drives(ISCDrives** drives) {
    return Guarded([&] {
        if (!drives) return E_POINTER;
        *drives = nullptr;
        HRESULT hr = State().Enter(simCallDrives, &m_imei);
        if (FAILED(hr)) return hr;
        DeviceDesc device;
        if (!State().FindDevice(m_imei, device)) return kDeviceNotReady;
        std::vector<ComPtr<ISCDrive>> items;
        for (const auto& d : device.drives) {
            ComPtr<ISCDrive> drive;
            hr = MakeObject<CSimDrive>(drive.Receive(), m_imei, d.letter);
            if (FAILED(hr)) return hr;
            items.push_back(drive);
        }
        return MakeObject<CSimDrives>(drives, m_imei, std::move(items));
    });
}

STDMETHODIMP CSimDevice::GetStorageItem(BSTR path, ISCDeviceStorageItem** item) {
    return Guarded([&] {
        if (!item) return E_POINTER;
        *item = nullptr;
        HRESULT hr = State().Enter(simCallStorageItem, &m_imei);
        if (FAILED(hr)) return hr;
        if (!path || !*path) return E_INVALIDARG;
        ItemLocation at;
        at.imei = m_imei;
        std::vector<std::wstring> names;
        bool wantDirectory = false;
        hr = ParseDevicePath(FromBstr(path), at.drive, names, wantDirectory);
        if (FAILED(hr)) return hr;
        DriveDesc drive;
        if (!State().FindDrive(m_imei, at.drive, drive)) return kInvalidDrive;
        if (names.empty()) return MakeObject<CSimDrive>(item, m_imei, at.drive);
        bool isDirectory = false;
        hr = ResolveNames(drive.folder, names, wantDirectory, at.names, isDirectory);
        if (FAILED(hr)) return hr;
        if (isDirectory) return MakeObject<CSimDirectory>(item, at);
        return MakeObject<CSimFile>(item, at);
    });
}

// ---- directories ---------------------------------------------------------------

HRESULT DirectoryPart::CreateSubdirectoryAt(const ItemLocation& at, BSTR name, ISCDeviceStorageDirectory** directory) {
    return Guarded([&] {
        if (!directory) return E_POINTER;
        *directory = nullptr;
        DriveDesc drive;
        std::wstring pc;
        HRESULT hr = Locate(simCallCreateSubdirectory, at, drive, pc);
        if (FAILED(hr)) return hr;
        hr = RequireDirectory(pc);
        if (FAILED(hr)) return hr;
        const std::wstring n = FromBstr(name);
        if (!IsValidName(n)) return kInvalidName;
        if (drive.readOnly) return kAccessDenied;
        const std::wstring target = JoinPath(pc, n);
        if (Exists(target)) return kAlreadyExists;
        if (!CreateDirectoryW(target.c_str(), nullptr)) return LastError();
        ItemLocation child = at;
        child.names.push_back(n);
        return MakeDirectory(child, directory);
    });
}

HRESULT DirectoryPart::CopyFileFromPcAt(const ItemLocation& at, BSTR pcPath, long* requestId) {
    return Guarded([&] {
        if (!requestId) return E_POINTER;
        *requestId = 0;
        DriveDesc drive;
        std::wstring pc;
        HRESULT hr = Locate(simCallCopyFromPC, at, drive, pc);
        if (FAILED(hr)) return hr;
        hr = RequireDirectory(pc);
        if (FAILED(hr)) return hr;
        const std::wstring source = FullPcPath(FromBstr(pcPath));
        const size_t slash = source.find_last_of(L'\\');
        const std::wstring name = slash == std::wstring::npos ? source : source.substr(slash + 1);
        if (source.empty() || !IsValidName(name)) return E_INVALIDARG;
        auto job = std::make_shared<CopyJob>();
        job->imei = at.imei;
        job->drive = at.drive;
        job->toPc = false;
        job->eventName = source;
        job->source = source;
        job->target = JoinPath(pc, name);
        return StartCopy(job, requestId);
    });
}

HRESULT DirectoryPart::SubdirectoriesAt(const ItemLocation& at, ISCDirectories** directories) {
    return Guarded([&] {
        if (!directories) return E_POINTER;
        *directories = nullptr;
        DriveDesc drive;
        std::wstring pc;
        HRESULT hr = Locate(simCallSubdirectories, at, drive, pc);
        if (FAILED(hr)) return hr;
        hr = RequireDirectory(pc);
        if (FAILED(hr)) return hr;
        std::vector<std::wstring> names;
        hr = ListNames(pc, true, names);
        if (FAILED(hr)) return hr;
        std::vector<ComPtr<ISCDeviceStorageDirectory>> items;
        for (const auto& n : names) {
            ItemLocation child = at;
            child.names.push_back(n);
            ComPtr<ISCDeviceStorageDirectory> d;
            hr = MakeObject<CSimDirectory>(d.Receive(), child);
            if (FAILED(hr)) return hr;
            items.push_back(d);
        }
        return MakeObject<CSimDirectories>(directories, at.imei, std::move(items));
    });
}

HRESULT DirectoryPart::FilesAt(const ItemLocation& at, ISCFiles** files) {
    return Guarded([&] {
        if (!files) return E_POINTER;
        *files = nullptr;
        DriveDesc drive;
        std::wstring pc;
        HRESULT hr = Locate(simCallFiles, at, drive, pc);
        if (FAILED(hr)) return hr;
        hr = RequireDirectory(pc);
        if (FAILED(hr)) return hr;
        std::vector<std::wstring> names;
        hr = ListNames(pc, false, names);
        if (FAILED(hr)) return hr;
        std::vector<ComPtr<ISCDeviceStorageFile>> items;
        for (const auto& n : names) {
            ItemLocation child = at;
            child.names.push_back(n);
            ComPtr<ISCDeviceStorageFile> f;
            hr = MakeObject<CSimFile>(f.Receive(), child);
            if (FAILED(hr)) return hr;
            items.push_back(f);
        }
        return MakeObject<CSimFiles>(files, at.imei, std::move(items));
    });
}

// ---- drive -----------------------------------------------------------------------

CSimDrive::CSimDrive(std::wstring imei, wchar_t letter) {
    m_at.imei = std::move(imei);
    m_at.drive = letter;
}

HRESULT CSimDrive::Drive(long kind, DriveDesc& drive) {
    HRESULT hr = State().Enter(kind, &m_at.imei);
    if (FAILED(hr)) return hr;
    return State().FindDrive(m_at.imei, m_at.drive, drive) ? S_OK : kPathNotFound;
}

STDMETHODIMP CSimDrive::get_Path(BSTR* path) {
    return Guarded([&] {
        if (!path) return E_POINTER;
        *path = nullptr;
        DriveDesc drive;
        HRESULT hr = Drive(simCallPath, drive);
        return FAILED(hr) ? hr : ReturnString(DevicePath(m_at, true), path);
    });
}

STDMETHODIMP CSimDrive::get_Type(long* type) {
    if (!type) return E_POINTER;
    *type = 0;
    DriveDesc drive;
    HRESULT hr = Guarded([&] { return Drive(simCallType, drive); });
    if (SUCCEEDED(hr)) *type = scItemDrive;
    return hr;
}

STDMETHODIMP CSimDrive::get_Label(BSTR* label) {
    return Guarded([&] {
        if (!label) return E_POINTER;
        *label = nullptr;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveLabel, drive);
        return FAILED(hr) ? hr : ReturnString(drive.label, label);
    });
}

STDMETHODIMP CSimDrive::get_Letter(BSTR* letter) {
    return Guarded([&] {
        if (!letter) return E_POINTER;
        *letter = nullptr;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveProperty, drive);
        return FAILED(hr) ? hr : ReturnString(std::wstring(1, drive.letter), letter);
    });
}

STDMETHODIMP CSimDrive::get_RootDirectory(ISCDeviceStorageDirectory** root) {
    return Guarded([&] {
        if (!root) return E_POINTER;
        *root = nullptr;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveProperty, drive);
        if (FAILED(hr)) return hr;
        *root = static_cast<ISCDeviceStorageDirectory*>(this);
        (*root)->AddRef();
        return S_OK;
    });
}

STDMETHODIMP CSimDrive::get_Device(ISCDevice** device) {
    return Guarded([&] {
        if (!device) return E_POINTER;
        *device = nullptr;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveProperty, drive);
        return FAILED(hr) ? hr : MakeObject<CSimDevice>(device, m_at.imei);
    });
}

STDMETHODIMP CSimDrive::get_Removable(VARIANT_BOOL* removable) {
    return Guarded([&] {
        if (!removable) return E_POINTER;
        *removable = VARIANT_FALSE;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveProperty, drive);
        return FAILED(hr) ? hr : ReturnBool(drive.removable, removable);
    });
}

STDMETHODIMP CSimDrive::get_ReadOnly(VARIANT_BOOL* readOnly) {
    return Guarded([&] {
        if (!readOnly) return E_POINTER;
        *readOnly = VARIANT_FALSE;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveProperty, drive);
        return FAILED(hr) ? hr : ReturnBool(drive.readOnly, readOnly);
    });
}

STDMETHODIMP CSimDrive::get_Capacity(unsigned long* bytes) {
    return Guarded([&] {
        if (!bytes) return E_POINTER;
        *bytes = 0;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveInformation, drive);
        if (SUCCEEDED(hr)) *bytes = Saturate32(drive.capacity);
        return hr;
    });
}

STDMETHODIMP CSimDrive::get_UsedSpace(unsigned long* bytes) {
    return Guarded([&] {
        if (!bytes) return E_POINTER;
        *bytes = 0;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveInformation, drive);
        if (FAILED(hr)) return hr;
        const uint64_t free = FreeBytes(drive);
        *bytes = Saturate32(drive.capacity > free ? drive.capacity - free : 0);
        return S_OK;
    });
}

STDMETHODIMP CSimDrive::get_FreeSpace(unsigned long* bytes) {
    return Guarded([&] {
        if (!bytes) return E_POINTER;
        *bytes = 0;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveInformation, drive);
        if (SUCCEEDED(hr)) *bytes = Saturate32(FreeBytes(drive));
        return hr;
    });
}

STDMETHODIMP CSimDrive::get_FileSystem(BSTR* name) {
    return Guarded([&] {
        if (!name) return E_POINTER;
        *name = nullptr;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveInformation, drive);
        return FAILED(hr) ? hr : ReturnString(drive.fileSystem, name);
    });
}

STDMETHODIMP CSimDrive::get_SerialNumber(long* serial) {
    return Guarded([&] {
        if (!serial) return E_POINTER;
        *serial = 0;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveInformation, drive);
        if (SUCCEEDED(hr)) *serial = static_cast<long>(drive.serial);
        return hr;
    });
}

STDMETHODIMP CSimDrive::get_MediaTypeName(BSTR* name) {
    static const wchar_t* const names[] = {L"Not present", L"Unknown", L"Floppy", L"Hard disk", L"CD-ROM",
                                           L"RAM",         L"Flash",   L"ROM",    L"Remote"};
    return Guarded([&] {
        if (!name) return E_POINTER;
        *name = nullptr;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveInformation, drive);
        if (FAILED(hr)) return hr;
        const bool known = drive.media >= 0 && drive.media <= 8;
        return ReturnString(known ? names[drive.media] : L"Unknown", name);
    });
}

STDMETHODIMP CSimDrive::get_MediaType(long* type) {
    return Guarded([&] {
        if (!type) return E_POINTER;
        *type = 0;
        DriveDesc drive;
        HRESULT hr = Drive(simCallDriveInformation, drive);
        if (SUCCEEDED(hr)) *type = drive.media;
        return hr;
    });
}

STDMETHODIMP CSimDrive::CreateSubdirectory(BSTR name, ISCDeviceStorageDirectory** directory) {
    return CreateSubdirectoryAt(m_at, name, directory);
}

STDMETHODIMP CSimDrive::CopyFileFromPC(BSTR pcPath, long* requestId) {
    return CopyFileFromPcAt(m_at, pcPath, requestId);
}

STDMETHODIMP CSimDrive::get_Name(BSTR* name) {
    return Guarded([&] {
        if (!name) return E_POINTER;
        *name = nullptr;
        DriveDesc drive;
        HRESULT hr = Drive(simCallPath, drive);
        return FAILED(hr) ? hr : ReturnString(DevicePath(m_at, true), name);
    });
}

STDMETHODIMP CSimDrive::get_Subdirectories(ISCDirectories** directories) {
    return SubdirectoriesAt(m_at, directories);
}

STDMETHODIMP CSimDrive::get_Files(ISCFiles** files) { return FilesAt(m_at, files); }

STDMETHODIMP CSimDrive::Delete() {
    DriveDesc drive;
    HRESULT hr = Guarded([&] { return Drive(simCallDeleteDirectory, drive); });
    // A drive's root can be neither deleted nor renamed.
    return FAILED(hr) ? hr : kAccessDenied;
}

STDMETHODIMP CSimDrive::Rename(BSTR) {
    DriveDesc drive;
    HRESULT hr = Guarded([&] { return Drive(simCallRenameDirectory, drive); });
    return FAILED(hr) ? hr : kAccessDenied;
}

STDMETHODIMP CSimDrive::get_Parent(ISCDeviceStorageDirectory** parent) {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    DriveDesc drive;
    HRESULT hr = Guarded([&] { return Drive(simCallNavigate, drive); });
    // The root has no parent.
    return FAILED(hr) ? hr : S_FALSE;
}

STDMETHODIMP CSimDrive::get_Drive(ISCDrive** drive) {
    return Guarded([&] {
        if (!drive) return E_POINTER;
        *drive = nullptr;
        DriveDesc d;
        HRESULT hr = Drive(simCallNavigate, d);
        if (FAILED(hr)) return hr;
        *drive = static_cast<ISCDriveInformation*>(this);
        (*drive)->AddRef();
        return S_OK;
    });
}

// ---- directory -------------------------------------------------------------------

ItemLocation CSimDirectory::Location() {
    com::ScopedLock lock(m_lock);
    return m_at;
}

STDMETHODIMP CSimDirectory::get_Path(BSTR* path) {
    return Guarded([&] {
        if (!path) return E_POINTER;
        *path = nullptr;
        const ItemLocation at = Location();
        HRESULT hr = State().Enter(simCallPath, &at.imei);
        return FAILED(hr) ? hr : ReturnString(DevicePath(at, true), path);
    });
}

STDMETHODIMP CSimDirectory::get_Type(long* type) {
    if (!type) return E_POINTER;
    *type = 0;
    HRESULT hr = Guarded([&] {
        const ItemLocation at = Location();
        return State().Enter(simCallType, &at.imei);
    });
    if (SUCCEEDED(hr)) *type = scItemDirectory;
    return hr;
}

STDMETHODIMP CSimDirectory::CreateSubdirectory(BSTR name, ISCDeviceStorageDirectory** directory) {
    return Guarded([&] { return CreateSubdirectoryAt(Location(), name, directory); });
}

STDMETHODIMP CSimDirectory::CopyFileFromPC(BSTR pcPath, long* requestId) {
    return Guarded([&] { return CopyFileFromPcAt(Location(), pcPath, requestId); });
}

STDMETHODIMP CSimDirectory::get_Name(BSTR* name) {
    return Guarded([&] {
        if (!name) return E_POINTER;
        *name = nullptr;
        const ItemLocation at = Location();
        HRESULT hr = State().Enter(simCallPath, &at.imei);
        return FAILED(hr) ? hr : ReturnString(at.names.back(), name);
    });
}

STDMETHODIMP CSimDirectory::get_Subdirectories(ISCDirectories** directories) {
    return Guarded([&] { return SubdirectoriesAt(Location(), directories); });
}

STDMETHODIMP CSimDirectory::get_Files(ISCFiles** files) {
    return Guarded([&] { return FilesAt(Location(), files); });
}

STDMETHODIMP CSimDirectory::Delete() {
    return Guarded([&] {
        const ItemLocation at = Location();
        DriveDesc drive;
        std::wstring pc;
        HRESULT hr = Locate(simCallDeleteDirectory, at, drive, pc);
        if (FAILED(hr)) return hr;
        hr = RequireDirectory(pc);
        if (FAILED(hr)) return hr;
        if (drive.readOnly || (GetFileAttributesW(pc.c_str()) & FILE_ATTRIBUTE_READONLY)) return kAccessDenied;
        if (!IsEmptyFolder(pc)) return kDirNotEmpty;
        if (!RemoveDirectoryW(pc.c_str())) return LastError();
        return S_OK;
    });
}

STDMETHODIMP CSimDirectory::Rename(BSTR newName) {
    return Guarded([&] {
        const ItemLocation at = Location();
        DriveDesc drive;
        std::wstring pc;
        HRESULT hr = Locate(simCallRenameDirectory, at, drive, pc);
        if (FAILED(hr)) return hr;
        hr = RequireDirectory(pc);
        if (FAILED(hr)) return hr;
        hr = RenameItem(pc, at.names.back(), newName, drive, GetFileAttributesW(pc.c_str()));
        if (FAILED(hr)) return hr;
        com::ScopedLock lock(m_lock);
        m_at.names.back() = FromBstr(newName);
        return S_OK;
    });
}

STDMETHODIMP CSimDirectory::get_Parent(ISCDeviceStorageDirectory** parent) {
    return Guarded([&] {
        if (!parent) return E_POINTER;
        *parent = nullptr;
        const ItemLocation at = Location();
        HRESULT hr = State().Enter(simCallNavigate, &at.imei);
        return FAILED(hr) ? hr : MakeDirectory(ParentOf(at), parent);
    });
}

STDMETHODIMP CSimDirectory::get_Drive(ISCDrive** drive) {
    return Guarded([&] {
        if (!drive) return E_POINTER;
        *drive = nullptr;
        const ItemLocation at = Location();
        HRESULT hr = State().Enter(simCallNavigate, &at.imei);
        return FAILED(hr) ? hr : MakeObject<CSimDrive>(drive, at.imei, at.drive);
    });
}

// ---- file ------------------------------------------------------------------------

ItemLocation CSimFile::Location() {
    com::ScopedLock lock(m_lock);
    return m_at;
}

HRESULT CSimFile::Backing(long kind, ItemLocation& at, DriveDesc& drive, std::wstring& pcPath,
                          WIN32_FILE_ATTRIBUTE_DATA* data) {
    at = Location();
    HRESULT hr = Locate(kind, at, drive, pcPath);
    if (FAILED(hr)) return hr;
    WIN32_FILE_ATTRIBUTE_DATA local;
    if (!data) data = &local;
    if (!GetFileAttributesExW(pcPath.c_str(), GetFileExInfoStandard, data) ||
        (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return kFileNotFound;
    return S_OK;
}

STDMETHODIMP CSimFile::get_Path(BSTR* path) {
    return Guarded([&] {
        if (!path) return E_POINTER;
        *path = nullptr;
        const ItemLocation at = Location();
        HRESULT hr = State().Enter(simCallPath, &at.imei);
        return FAILED(hr) ? hr : ReturnString(DevicePath(at, false), path);
    });
}

STDMETHODIMP CSimFile::get_Type(long* type) {
    if (!type) return E_POINTER;
    *type = 0;
    HRESULT hr = Guarded([&] {
        const ItemLocation at = Location();
        return State().Enter(simCallType, &at.imei);
    });
    if (SUCCEEDED(hr)) *type = scItemFile;
    return hr;
}

STDMETHODIMP CSimFile::get_Attributes(long* attributes) {
    return Guarded([&] {
        if (!attributes) return E_POINTER;
        *attributes = 0;
        ItemLocation at;
        DriveDesc drive;
        std::wstring pc;
        WIN32_FILE_ATTRIBUTE_DATA data;
        HRESULT hr = Backing(simCallGetAttributes, at, drive, pc, &data);
        if (FAILED(hr)) return hr;
        DWORD value = data.dwFileAttributes & kReportedAttributes;
        if (drive.readOnly) value |= FILE_ATTRIBUTE_READONLY;
        *attributes = static_cast<long>(value);
        return S_OK;
    });
}

STDMETHODIMP CSimFile::put_Attributes(long attributes) {
    return Guarded([&] {
        ItemLocation at;
        DriveDesc drive;
        std::wstring pc;
        HRESULT hr = Backing(simCallPutAttributes, at, drive, pc);
        if (FAILED(hr)) return hr;
        if (static_cast<DWORD>(attributes) & ~kReportedAttributes) return E_INVALIDARG;
        if (drive.readOnly) return kAccessDenied;
        const DWORD value = attributes ? static_cast<DWORD>(attributes) : FILE_ATTRIBUTE_NORMAL;
        return SetFileAttributesW(pc.c_str(), value) ? S_OK : LastError();
    });
}

STDMETHODIMP CSimFile::get_Size(unsigned long* bytes) {
    return Guarded([&] {
        if (!bytes) return E_POINTER;
        *bytes = 0;
        ItemLocation at;
        DriveDesc drive;
        std::wstring pc;
        WIN32_FILE_ATTRIBUTE_DATA data;
        HRESULT hr = Backing(simCallSize, at, drive, pc, &data);
        if (SUCCEEDED(hr)) *bytes = data.nFileSizeLow;
        return hr;
    });
}

STDMETHODIMP CSimFile::get_LastModified(DATE* modified) {
    return Guarded([&] {
        if (!modified) return E_POINTER;
        *modified = 0.0;
        ItemLocation at;
        DriveDesc drive;
        std::wstring pc;
        WIN32_FILE_ATTRIBUTE_DATA data;
        HRESULT hr = Backing(simCallLastModified, at, drive, pc, &data);
        if (SUCCEEDED(hr)) *modified = ToDate(data.ftLastWriteTime);
        return hr;
    });
}

STDMETHODIMP CSimFile::get_Name(BSTR* name) {
    return Guarded([&] {
        if (!name) return E_POINTER;
        *name = nullptr;
        const ItemLocation at = Location();
        HRESULT hr = State().Enter(simCallPath, &at.imei);
        return FAILED(hr) ? hr : ReturnString(at.names.back(), name);
    });
}

STDMETHODIMP CSimFile::CopyFileToPC(BSTR pcPath, long* requestId) {
    return Guarded([&] {
        if (!requestId) return E_POINTER;
        *requestId = 0;
        ItemLocation at;
        DriveDesc drive;
        std::wstring pc;
        HRESULT hr = Backing(simCallCopyToPC, at, drive, pc);
        if (FAILED(hr)) return hr;
        const std::wstring given = FromBstr(pcPath);
        std::wstring target = FullPcPath(given);
        if (target.empty()) return E_INVALIDARG;
        // A folder (existing, or written with a final backslash) gets the file's own name.
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (given.back() == L'\\' || given.back() == L'/' ||
            (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)))
            target = JoinPath(target, at.names.back());
        auto job = std::make_shared<CopyJob>();
        job->imei = at.imei;
        job->drive = at.drive;
        job->toPc = true;
        job->eventName = DevicePath(at, false);
        job->source = pc;
        job->target = target;
        return StartCopy(job, requestId);
    });
}

STDMETHODIMP CSimFile::get_Directory(ISCDeviceStorageDirectory** directory) {
    return Guarded([&] {
        if (!directory) return E_POINTER;
        *directory = nullptr;
        const ItemLocation at = Location();
        HRESULT hr = State().Enter(simCallNavigate, &at.imei);
        return FAILED(hr) ? hr : MakeDirectory(ParentOf(at), directory);
    });
}

STDMETHODIMP CSimFile::Delete() {
    return Guarded([&] {
        ItemLocation at;
        DriveDesc drive;
        std::wstring pc;
        WIN32_FILE_ATTRIBUTE_DATA data;
        HRESULT hr = Backing(simCallDeleteFile, at, drive, pc, &data);
        if (FAILED(hr)) return hr;
        if (drive.readOnly || (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) return kAccessDenied;
        return DeleteFileW(pc.c_str()) ? S_OK : LastError();
    });
}

STDMETHODIMP CSimFile::Rename(BSTR newName) {
    return Guarded([&] {
        ItemLocation at;
        DriveDesc drive;
        std::wstring pc;
        WIN32_FILE_ATTRIBUTE_DATA data;
        HRESULT hr = Backing(simCallRenameFile, at, drive, pc, &data);
        if (FAILED(hr)) return hr;
        hr = RenameItem(pc, at.names.back(), newName, drive, data.dwFileAttributes);
        if (FAILED(hr)) return hr;
        com::ScopedLock lock(m_lock);
        m_at.names.back() = FromBstr(newName);
        return S_OK;
    });
}

STDMETHODIMP CSimFile::get_MIMEType(BSTR* mimeType) {
    return Guarded([&] {
        if (!mimeType) return E_POINTER;
        *mimeType = nullptr;
        ItemLocation at;
        DriveDesc drive;
        std::wstring pc;
        HRESULT hr = Backing(simCallMIMEType, at, drive, pc);
        return FAILED(hr) ? hr : ReturnString(State().MimeType(at.names.back()), mimeType);
    });
}

} // namespace phonesim
