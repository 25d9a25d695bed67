// The phone connectivity component's interfaces as Morvane calls them: the raw
// interfaces come from its type library; the wrappers below raise _com_error
// (with the callee's error information) for a failing HRESULT, and each call
// site catches it.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <comdef.h>

#include "PhoneSim.h"
#include "com/ComUtil.h"

namespace scom {

inline void Check(HRESULT hr, IUnknown* object, REFIID iid) {
    if (FAILED(hr)) _com_issue_errorex(hr, object, iid);
}

inline com::ComPtr<ISCDevices> Devices(ISCApplication* app) {
    com::ComPtr<ISCDevices> out;
    Check(app->get_Devices(out.Receive()), app, IID_ISCApplication);
    return out;
}

inline long Count(ISCDevices* devices) {
    long count = 0;
    Check(devices->get_Count(&count), devices, IID_ISCDevices);
    return count;
}

// Collections are 1-based and indexed by a VT_I4 VARIANT.
inline com::ComPtr<ISCDevice> Item(ISCDevices* devices, long index) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = index;
    com::ComPtr<ISCDevice> out;
    Check(devices->get_Item(v, out.Receive()), devices, IID_ISCDevices);
    return out;
}

inline _bstr_t Imei(ISCDevice* device) {
    BSTR imei = nullptr;
    Check(device->get_IMEI(&imei), device, IID_ISCDevice);
    return _bstr_t(imei, false);
}

// Storage items, files, directories and drives.

template <class Item>
inline _bstr_t Path(Item* item, REFIID iid) {
    BSTR path = nullptr;
    Check(item->get_Path(&path), item, iid);
    return _bstr_t(path, false);
}

inline com::ComPtr<ISCDeviceStorageItem> StorageItem(ISCDevice* device, BSTR path) {
    com::ComPtr<ISCDeviceStorageItem> out;
    Check(device->GetStorageItem(path, out.Receive()), device, IID_ISCDevice);
    return out;
}

inline com::ComPtr<ISCFiles> Files(ISCDeviceStorageDirectory* directory) {
    com::ComPtr<ISCFiles> out;
    Check(directory->get_Files(out.Receive()), directory, IID_ISCDeviceStorageDirectory);
    return out;
}

inline com::ComPtr<ISCDirectories> Subdirectories(ISCDeviceStorageDirectory* directory) {
    com::ComPtr<ISCDirectories> out;
    Check(directory->get_Subdirectories(out.Receive()), directory, IID_ISCDeviceStorageDirectory);
    return out;
}

inline long Count(ISCFiles* files) {
    long count = 0;
    Check(files->get_Count(&count), files, IID_ISCFiles);
    return count;
}

inline long Count(ISCDirectories* directories) {
    long count = 0;
    Check(directories->get_Count(&count), directories, IID_ISCDirectories);
    return count;
}

inline com::ComPtr<ISCDeviceStorageFile> Item(ISCFiles* files, long index) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = index;
    com::ComPtr<ISCDeviceStorageFile> out;
    Check(files->get_Item(v, out.Receive()), files, IID_ISCFiles);
    return out;
}

inline com::ComPtr<ISCDeviceStorageDirectory> Item(ISCDirectories* directories, long index) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = index;
    com::ComPtr<ISCDeviceStorageDirectory> out;
    Check(directories->get_Item(v, out.Receive()), directories, IID_ISCDirectories);
    return out;
}

inline com::ComPtr<ISCDeviceStorageDirectory> CreateSubdirectory(ISCDeviceStorageDirectory* directory, BSTR name) {
    com::ComPtr<ISCDeviceStorageDirectory> out;
    Check(directory->CreateSubdirectory(name, out.Receive()), directory, IID_ISCDeviceStorageDirectory);
    return out;
}

inline long CopyFileFromPC(ISCDeviceStorageDirectory* directory, BSTR pcPath) {
    long requestId = 0;
    Check(directory->CopyFileFromPC(pcPath, &requestId), directory, IID_ISCDeviceStorageDirectory);
    return requestId;
}

inline void Delete(ISCDeviceStorageDirectory* directory) {
    Check(directory->Delete(), directory, IID_ISCDeviceStorageDirectory);
}

inline void Rename(ISCDeviceStorageDirectory* directory, BSTR newName) {
    Check(directory->Rename(newName), directory, IID_ISCDeviceStorageDirectory);
}

// The getters of a file write straight into the caller's variable and return
// the component's own success code.
inline HRESULT GetAttributes(ISCDeviceStorageFile* file, long* attributes) {
    HRESULT hr = file->get_Attributes(attributes);
    Check(hr, file, IID_ISCDeviceStorageFile);
    return hr;
}

inline void PutAttributes(ISCDeviceStorageFile* file, long attributes) {
    Check(file->put_Attributes(attributes), file, IID_ISCDeviceStorageFile);
}

inline HRESULT GetSize(ISCDeviceStorageFile* file, ULONG* size) {
    HRESULT hr = file->get_Size(size);
    Check(hr, file, IID_ISCDeviceStorageFile);
    return hr;
}

inline HRESULT GetLastModified(ISCDeviceStorageFile* file, DATE* modified) {
    HRESULT hr = file->get_LastModified(modified);
    Check(hr, file, IID_ISCDeviceStorageFile);
    return hr;
}

inline HRESULT GetMIMEType(ISCDeviceStorageFile* file, BSTR* mimeType) {
    HRESULT hr = file->get_MIMEType(mimeType);
    Check(hr, file, IID_ISCDeviceStorageFile);
    return hr;
}

inline long CopyFileToPC(ISCDeviceStorageFile* file, BSTR pcPath) {
    long requestId = 0;
    Check(file->CopyFileToPC(pcPath, &requestId), file, IID_ISCDeviceStorageFile);
    return requestId;
}

inline void Delete(ISCDeviceStorageFile* file) {
    Check(file->Delete(), file, IID_ISCDeviceStorageFile);
}

inline void Rename(ISCDeviceStorageFile* file, BSTR newName) {
    Check(file->Rename(newName), file, IID_ISCDeviceStorageFile);
}

// The drive's information interface. A refusal with E_NOINTERFACE is not
// raised here: the caller's null check raises E_POINTER instead.
inline com::ComPtr<ISCDriveInformation> DriveInformation(ISCDrive* drive) {
    com::ComPtr<ISCDriveInformation> out;
    HRESULT hr = drive->QueryInterface(IID_ISCDriveInformation, out.ReceiveVoid());
    if (hr != E_NOINTERFACE) Check(hr, drive, IID_ISCDrive);
    return out;
}

inline unsigned long Capacity(ISCDriveInformation* info) {
    unsigned long bytes = 0;
    Check(info->get_Capacity(&bytes), info, IID_ISCDriveInformation);
    return bytes;
}

inline unsigned long FreeSpace(ISCDriveInformation* info) {
    unsigned long bytes = 0;
    Check(info->get_FreeSpace(&bytes), info, IID_ISCDriveInformation);
    return bytes;
}

inline long MediaType(ISCDriveInformation* info) {
    long type = 0;
    Check(info->get_MediaType(&type), info, IID_ISCDriveInformation);
    return type;
}

inline _bstr_t Label(ISCDriveInformation* info) {
    BSTR label = nullptr;
    Check(info->get_Label(&label), info, IID_ISCDriveInformation);
    return _bstr_t(label, false);
}

} // namespace scom
