// The files and subfolders of one folder of the virtual tree, taken at once
// from its storage folder and handed out one by one. GetNextFile and
// GetNextFolder return 0 with an item (which the caller then owns), 1 when
// none is left and a failing HRESULT on error.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <list>

#include "connector/StorageObject.h"

class DeviceConnector;

class CFolderListDevice {
public:
    explicit CFolderListDevice(DeviceConnector* pDeviceConnector);
    ~CFolderListDevice();
    CFolderListDevice(const CFolderListDevice&) = delete;
    CFolderListDevice& operator=(const CFolderListDevice&) = delete;

    // Resolves the virtual folder path and takes its children: 0 on success,
    // E_INVALIDARG for a null error code, E_FAIL otherwise. Items of an
    // earlier call that were never handed out are deleted first.
    HRESULT GetFolderList(BSTR path, DWORD* errorCode);

    HRESULT GetNextFile(CFile** file, DWORD* errorCode);
    HRESULT GetNextFolder(CFolder** folder, DWORD* errorCode);

    // Files not yet handed out.
    ULONG GetFileCount() const { return static_cast<ULONG>(m_files.size()); }
    ULONG GetFolderCount() const { return static_cast<ULONG>(m_folders.size()); }

private:
    void clear();

    DeviceConnector* m_pDeviceConnector; // not owned
    std::list<CFile*> m_files;
    std::list<CFolder*> m_folders;
};
