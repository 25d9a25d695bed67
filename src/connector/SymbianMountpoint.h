// A drive of the phone as a mount point: media type, capacity, free and used
// space, label, and copies of PC files into its root. It does not list its own
// children (path resolution lists them through the drive's root folder).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "com/ComUtil.h"
#include "connector/Scom.h"
#include "connector/StorageObject.h"
#include "connector/SymbianConnectorImpl.h"

class CSymbianMountPoint : public CMountPoint {
public:
    // virtualPath is copied; the drive gets a reference of its own.
    CSymbianMountPoint(SymbianConnector* connector, BSTR virtualPath, ISCDrive* drive, BindingGuard binding);
    ~CSymbianMountPoint() override;
    CSymbianMountPoint(const CSymbianMountPoint&) = delete;
    CSymbianMountPoint& operator=(const CSymbianMountPoint&) = delete;

    // Every operation of its own fails with E_FAIL once the binding the object
    // was made under has ended, before it touches the connector or the phone.
    HRESULT PutAttributes(DWORD attributes) override;
    HRESULT GetAttributes(DWORD* attributes) override;
    HRESULT GetCreated(DATE* created) override;
    HRESULT GetAccessed(DATE* accessed) override;
    HRESULT GetChanged(DATE* changed) override;
    HRESULT GetPath(BSTR* path) override;
    HRESULT GetForbiddenOps(DWORD* forbiddenOps) override;
    HRESULT NewFolder(BSTR& name) override;

    HRESULT GetCFiles(std::list<CFile*>& files) override;
    HRESULT GetCFolders(std::list<CFolder*>& folders) override;
    HRESULT CopyFileFromPC(CAsynchOperationExecutor* executor, _bstr_t pcPath, CCopyFileWaitObject** waitObject,
                           CProgressCallbackFunctionBase* progress, CReplaceCallbackFunctionBase* replace) override;

    // 1 not present or unknown, 2 removable (floppy, CD, remote), 3 fixed
    // (hard disk, RAM, flash, ROM).
    HRESULT GetMedia(LONG* media) override;
    HRESULT GetMemCapacity(ULONG* capacity) override;
    HRESULT GetMemFree(ULONG* freeBytes) override;
    // Capacity minus free bytes, in 32-bit unsigned arithmetic.
    HRESULT GetMemUsed(ULONG* usedBytes) override;
    HRESULT GetLabel(BSTR* label) override;
    HRESULT PutLabel(BSTR label) override;

private:
    bool bindingEnded() const;
    // The drive's information interface; throws _com_error (E_POINTER when
    // the drive does not offer it).
    com::ComPtr<ISCDriveInformation> driveInformation();

    com::ComPtr<ISCDrive> m_pDrive;
    SymbianConnector* m_pSymbianConnector;  // not owned
    com::UniqueBstr m_bstrPath;             // virtual path
    BindingGuard m_binding;
};
