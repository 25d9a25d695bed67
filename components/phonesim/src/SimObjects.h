// The COM objects of the simulator. All are free-threaded: they keep no
// apartment state, read the shared phone through SimState, and aggregate the
// free-threaded marshaler so every apartment calls them directly.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <string>
#include <utility>
#include <vector>

#include "SimCommon.h"
#include "SimPaths.h"
#include "SimState.h"
#include "com/ComDispatch.h"
#include "com/ComEnum.h"
#include "com/ComObject.h"
#include "com/ComUtil.h"

namespace phonesim {

class SimObject : public com::ComObjectRoot<com::MultiThreadModel> {
public:
    HRESULT FinalConstruct() { return CoCreateFreeThreadedMarshaler(ControllingUnknown(), m_marshaler.Receive()); }
    void FinalRelease() { m_marshaler.Reset(); }
    HRESULT QueryMarshaler(REFIID iid, void** ppv) {
        return m_marshaler ? m_marshaler->QueryInterface(iid, ppv) : E_NOINTERFACE;
    }

protected:
    SimObject() { SimState::Instance().ObjectCreated(); }
    ~SimObject() { SimState::Instance().ObjectDestroyed(); }

private:
    com::ComPtr<IUnknown> m_marshaler;
};

template <class T>
HRESULT QueryObjectMarshaler(void* object, REFIID iid, void** ppv, uintptr_t) {
    return static_cast<T*>(object)->QueryMarshaler(iid, ppv);
}

#define SIM_MARSHALER_ENTRY() COM_INTERFACE_ENTRY_FUNC(IID_IMarshal, &::phonesim::QueryObjectMarshaler<ComMapClass>, 0)

template <class I>
using Dispatch = com::DispatchImpl<I, &LIBID_PhoneSimLib>;

// Creates a T for its interface I.
template <class T, class I, class... Args>
HRESULT MakeObject(I** out, Args&&... args) {
    return com::ComObject<T>::CreateAndQuery(__uuidof(I), reinterpret_cast<void**>(out), std::forward<Args>(args)...);
}

// ---- control -------------------------------------------------------------------

// IPhoneSimControl; everything it steers lives in SimState.
class ControlPart : public Dispatch<IPhoneSimControl>, public ISupportErrorInfo {
public:
    // A failed load leaves an error description (IErrorInfo) naming the fault.
    STDMETHOD(LoadDescription)(BSTR path) override;
    STDMETHOD(Reload)() override;
    STDMETHOD(get_DescriptionPath)(BSTR* path) override;
    STDMETHOD(get_Throttle)(long* bytesPerSecond) override;
    STDMETHOD(put_Throttle)(long bytesPerSecond) override;
    STDMETHOD(FailCalls)(long kind, long hr, long count) override;
    STDMETHOD(FailNextCopy)(long hr, long atPercent) override;
    STDMETHOD(InjectCopyError)(long errorType, long errorCode, VARIANT_BOOL canContinue) override;
    STDMETHOD(get_EarlyEvents)(VARIANT_BOOL* on) override;
    STDMETHOD(put_EarlyEvents)(VARIANT_BOOL on) override;
    STDMETHOD(get_CopiesPaused)(VARIANT_BOOL* paused) override;
    STDMETHOD(put_CopiesPaused)(VARIANT_BOOL paused) override;
    STDMETHOD(Disconnect)(BSTR imei) override;
    STDMETHOD(Reconnect)(BSTR imei) override;
    STDMETHOD(CallCount)(long kind, long* count) override;
    STDMETHOD(ResetCallCounts)() override;
    STDMETHOD(get_ActiveCopies)(long* count) override;
    STDMETHOD(Reset)() override;
    STDMETHOD(BindService)(IDispatch* service, BSTR uid) override;
    STDMETHOD(UnbindService)(IDispatch* service) override;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID iid) override;

private:
    static HRESULT ReportLoad(HRESULT hr);
};

// The control alone, for script clients, which cannot query the application
// object for a second interface.
class CSimControl : public SimObject, public ControlPart {
public:
    BEGIN_COM_MAP(CSimControl)
        COM_INTERFACE_ENTRY(IPhoneSimControl)
        COM_INTERFACE_ENTRY2(IDispatch, IPhoneSimControl)
        COM_INTERFACE_ENTRY(ISupportErrorInfo)
        SIM_MARSHALER_ENTRY()
    END_COM_MAP()

    HRESULT FinalConstruct();
};

// ---- application -------------------------------------------------------------

class CSimApplication : public SimObject,
                        public Dispatch<ISCApplication>,
                        public ControlPart,
                        public IConnectionPointContainer {
public:
    CSimApplication();

    BEGIN_COM_MAP(CSimApplication)
        COM_INTERFACE_ENTRY(ISCApplication)
        COM_INTERFACE_ENTRY2(IDispatch, ISCApplication)
        COM_INTERFACE_ENTRY(IPhoneSimControl)
        COM_INTERFACE_ENTRY(ISupportErrorInfo)
        COM_INTERFACE_ENTRY(IConnectionPointContainer)
        SIM_MARSHALER_ENTRY()
    END_COM_MAP()

    HRESULT FinalConstruct();
    void FinalRelease();

    // ISCApplication
    STDMETHOD(get_Devices)(ISCDevices** devices) override;
    STDMETHOD(get_Version)(BSTR* version) override;

    // IConnectionPointContainer
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** points) override;
    STDMETHOD(FindConnectionPoint)(REFIID iid, IConnectionPoint** point) override;

private:
    // The ISCEvents connection point; its sinks live in SimState so that any
    // thread's copy can reach them.
    class Point final : public IConnectionPoint {
    public:
        explicit Point(CSimApplication* owner) : m_owner(owner) {}
        STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(GetConnectionInterface)(IID* iid) override;
        STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** container) override;
        STDMETHOD(Advise)(IUnknown* sink, DWORD* cookie) override;
        STDMETHOD(Unadvise)(DWORD cookie) override;
        STDMETHOD(EnumConnections)(IEnumConnections** connections) override;

    private:
        CSimApplication* m_owner;
    };

    Point m_point;
};

// ---- collections -----------------------------------------------------------

template <class Coll, class Item, long Kind>
class SimCollection : public SimObject, public Dispatch<Coll> {
public:
    // imei: the device whose connection the calls need; empty for none.
    SimCollection(std::wstring imei, std::vector<com::ComPtr<Item>> items)
        : m_imei(std::move(imei)), m_items(std::move(items)) {}

    BEGIN_COM_MAP(SimCollection)
        COM_INTERFACE_ENTRY(Coll)
        COM_INTERFACE_ENTRY2(IDispatch, Coll)
        SIM_MARSHALER_ENTRY()
    END_COM_MAP()

    STDMETHOD(get_Item)(VARIANT index, Item** item) override {
        if (!item) return E_POINTER;
        *item = nullptr;
        HRESULT hr = Enter();
        if (FAILED(hr)) return hr;
        VARIANT i;
        VariantInit(&i);
        if (FAILED(VariantChangeType(&i, &index, 0, VT_I4))) return E_INVALIDARG;
        if (i.lVal < 1 || static_cast<size_t>(i.lVal) > m_items.size()) return E_INVALIDARG;
        return m_items[i.lVal - 1].CopyTo(item);
    }
    STDMETHOD(get_Count)(long* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        HRESULT hr = Enter();
        if (FAILED(hr)) return hr;
        *count = static_cast<long>(m_items.size());
        return S_OK;
    }
    STDMETHOD(get__NewEnum)(IUnknown** items) override {
        if (!items) return E_POINTER;
        *items = nullptr;
        HRESULT hr = Enter();
        if (FAILED(hr)) return hr;
        return com::CreateVariantEnumerator(this->GetUnknown(), m_items, items);
    }

private:
    HRESULT Enter() { return SimState::Instance().Enter(Kind, m_imei.empty() ? nullptr : &m_imei); }

    const std::wstring m_imei;
    const std::vector<com::ComPtr<Item>> m_items;
};

using CSimDevices = SimCollection<ISCDevices, ISCDevice, simCallDeviceList>;
using CSimDrives = SimCollection<ISCDrives, ISCDrive, simCallDriveList>;
using CSimDirectories = SimCollection<ISCDirectories, ISCDeviceStorageDirectory, simCallDirectoryList>;
using CSimFiles = SimCollection<ISCFiles, ISCDeviceStorageFile, simCallFileList>;

// ---- device ------------------------------------------------------------------

class CSimDevice : public SimObject, public Dispatch<ISCDevice> {
public:
    explicit CSimDevice(std::wstring imei) : m_imei(std::move(imei)) {}

    BEGIN_COM_MAP(CSimDevice)
        COM_INTERFACE_ENTRY(ISCDevice)
        COM_INTERFACE_ENTRY2(IDispatch, ISCDevice)
        SIM_MARSHALER_ENTRY()
    END_COM_MAP()

    STDMETHOD(get_IMEI)(BSTR* imei) override;
    STDMETHOD(get_Manufacturer)(BSTR* manufacturer) override;
    STDMETHOD(get_Model)(BSTR* model) override;
    STDMETHOD(get_Name)(BSTR* name) override;
    STDMETHOD(get_Connected)(VARIANT_BOOL* connected) override;
    STDMETHOD(get_Drives)(ISCDrives** drives) override;
    STDMETHOD(GetStorageItem)(BSTR path, ISCDeviceStorageItem** item) override;

private:
    HRESULT Property(std::wstring DeviceDesc::*field, BSTR* out);

    const std::wstring m_imei;
};

// ---- storage items -----------------------------------------------------------

// What directories and a drive's root have in common.
class DirectoryPart {
protected:
    HRESULT CreateSubdirectoryAt(const ItemLocation& at, BSTR name, ISCDeviceStorageDirectory** directory);
    HRESULT CopyFileFromPcAt(const ItemLocation& at, BSTR pcPath, long* requestId);
    HRESULT SubdirectoriesAt(const ItemLocation& at, ISCDirectories** directories);
    HRESULT FilesAt(const ItemLocation& at, ISCFiles** files);
};

class CSimDrive : public SimObject,
                  public Dispatch<ISCDriveInformation>,
                  public Dispatch<ISCDeviceStorageDirectory>,
                  private DirectoryPart {
public:
    CSimDrive(std::wstring imei, wchar_t letter);

    BEGIN_COM_MAP(CSimDrive)
        COM_INTERFACE_ENTRY(ISCDriveInformation)
        COM_INTERFACE_ENTRY2(ISCDrive, ISCDriveInformation)
        COM_INTERFACE_ENTRY2(ISCDeviceStorageItem, ISCDriveInformation)
        COM_INTERFACE_ENTRY2(IDispatch, ISCDriveInformation)
        COM_INTERFACE_ENTRY(ISCDeviceStorageDirectory)
        SIM_MARSHALER_ENTRY()
    END_COM_MAP()

    // ISCDeviceStorageItem
    STDMETHOD(get_Path)(BSTR* path) override;
    STDMETHOD(get_Type)(long* type) override;
    // ISCDrive
    STDMETHOD(get_Label)(BSTR* label) override;
    STDMETHOD(get_Letter)(BSTR* letter) override;
    STDMETHOD(get_RootDirectory)(ISCDeviceStorageDirectory** root) override;
    STDMETHOD(get_Device)(ISCDevice** device) override;
    STDMETHOD(get_Removable)(VARIANT_BOOL* removable) override;
    STDMETHOD(get_ReadOnly)(VARIANT_BOOL* readOnly) override;
    // ISCDriveInformation
    STDMETHOD(get_Capacity)(unsigned long* bytes) override;
    STDMETHOD(get_UsedSpace)(unsigned long* bytes) override;
    STDMETHOD(get_FreeSpace)(unsigned long* bytes) override;
    STDMETHOD(get_FileSystem)(BSTR* name) override;
    STDMETHOD(get_SerialNumber)(long* serial) override;
    STDMETHOD(get_MediaTypeName)(BSTR* name) override;
    STDMETHOD(get_MediaType)(long* type) override;
    // ISCDeviceStorageDirectory, for the drive's root
    STDMETHOD(CreateSubdirectory)(BSTR name, ISCDeviceStorageDirectory** directory) override;
    STDMETHOD(CopyFileFromPC)(BSTR pcPath, long* requestId) override;
    STDMETHOD(get_Name)(BSTR* name) override;
    STDMETHOD(get_Subdirectories)(ISCDirectories** directories) override;
    STDMETHOD(get_Files)(ISCFiles** files) override;
    STDMETHOD(Delete)() override;
    STDMETHOD(Rename)(BSTR newName) override;
    STDMETHOD(get_Parent)(ISCDeviceStorageDirectory** parent) override;
    STDMETHOD(get_Drive)(ISCDrive** drive) override;

private:
    // Enters the call and reads the drive's description.
    HRESULT Drive(long kind, DriveDesc& drive);

    ItemLocation m_at;
};

class CSimDirectory : public SimObject, public Dispatch<ISCDeviceStorageDirectory>, private DirectoryPart {
public:
    explicit CSimDirectory(ItemLocation at) : m_at(std::move(at)) {}

    BEGIN_COM_MAP(CSimDirectory)
        COM_INTERFACE_ENTRY(ISCDeviceStorageDirectory)
        COM_INTERFACE_ENTRY2(ISCDeviceStorageItem, ISCDeviceStorageDirectory)
        COM_INTERFACE_ENTRY2(IDispatch, ISCDeviceStorageDirectory)
        SIM_MARSHALER_ENTRY()
    END_COM_MAP()

    STDMETHOD(get_Path)(BSTR* path) override;
    STDMETHOD(get_Type)(long* type) override;
    STDMETHOD(CreateSubdirectory)(BSTR name, ISCDeviceStorageDirectory** directory) override;
    STDMETHOD(CopyFileFromPC)(BSTR pcPath, long* requestId) override;
    STDMETHOD(get_Name)(BSTR* name) override;
    STDMETHOD(get_Subdirectories)(ISCDirectories** directories) override;
    STDMETHOD(get_Files)(ISCFiles** files) override;
    STDMETHOD(Delete)() override;
    STDMETHOD(Rename)(BSTR newName) override;
    STDMETHOD(get_Parent)(ISCDeviceStorageDirectory** parent) override;
    STDMETHOD(get_Drive)(ISCDrive** drive) override;

private:
    ItemLocation Location();

    com::CriticalSection m_lock;  // guards m_at, which Rename changes
    ItemLocation m_at;
};

class CSimFile : public SimObject, public Dispatch<ISCDeviceStorageFile> {
public:
    explicit CSimFile(ItemLocation at) : m_at(std::move(at)) {}

    BEGIN_COM_MAP(CSimFile)
        COM_INTERFACE_ENTRY(ISCDeviceStorageFile)
        COM_INTERFACE_ENTRY2(ISCDeviceStorageItem, ISCDeviceStorageFile)
        COM_INTERFACE_ENTRY2(IDispatch, ISCDeviceStorageFile)
        SIM_MARSHALER_ENTRY()
    END_COM_MAP()

    STDMETHOD(get_Path)(BSTR* path) override;
    STDMETHOD(get_Type)(long* type) override;
    STDMETHOD(get_Attributes)(long* attributes) override;
    STDMETHOD(put_Attributes)(long attributes) override;
    STDMETHOD(get_Size)(unsigned long* bytes) override;
    STDMETHOD(get_LastModified)(DATE* modified) override;
    STDMETHOD(get_Name)(BSTR* name) override;
    STDMETHOD(CopyFileToPC)(BSTR pcPath, long* requestId) override;
    STDMETHOD(get_Directory)(ISCDeviceStorageDirectory** directory) override;
    STDMETHOD(Delete)() override;
    STDMETHOD(Rename)(BSTR newName) override;
    STDMETHOD(get_MIMEType)(BSTR* mimeType) override;

private:
    ItemLocation Location();
    // Enters the call and finds the backing file.
    HRESULT Backing(long kind, ItemLocation& at, DriveDesc& drive, std::wstring& pcPath,
                    WIN32_FILE_ATTRIBUTE_DATA* data = nullptr);

    com::CriticalSection m_lock;  // guards m_at, which Rename changes
    ItemLocation m_at;
};

// The directory (or, for no names, the drive root) at a location.
HRESULT MakeDirectory(const ItemLocation& at, ISCDeviceStorageDirectory** out);

} // namespace phonesim
