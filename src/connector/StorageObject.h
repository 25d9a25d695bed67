// Storage objects: plain objects that know where a file, folder or drive really
// lives (on the phone, on the memory card's PC drive, or both) and how to act
// on it. The object model and the operations see them only through these
// interfaces. Whoever receives one owns it and deletes it.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <comdef.h>

#include <list>

#include "operations/AsynchOperationExecutor.h"

class CProgressCallbackFunctionBase;
class CReplaceCallbackFunctionBase;

// Wait object of one copy: signalled through the executor when the copy has
// ended; GetResult is then its KVFMOpResult (0 on success).
class CCopyFileWaitObject : public CWaitObject {
public:
    explicit CCopyFileWaitObject(CAsynchOperationExecutor* executor) : CWaitObject(executor) {}
    ~CCopyFileWaitObject() override = default;
    void Reset() override { CWaitObject::Reset(); }
    virtual LONG GetResult() = 0;
};

class CStorageObject {
public:
    virtual ~CStorageObject() = default;
    virtual HRESULT PutAttributes(DWORD attributes) = 0;
    virtual HRESULT GetAttributes(DWORD* attributes) = 0;
    virtual HRESULT GetCreated(DATE* created) = 0;
    virtual HRESULT GetAccessed(DATE* accessed) = 0;
    virtual HRESULT GetChanged(DATE* changed) = 0;
    // The virtual path shown to clients (PC-side objects: their own rule); a new BSTR.
    virtual HRESULT GetPath(BSTR* path) = 0;
    virtual HRESULT GetForbiddenOps(DWORD* forbiddenOps) { return S_OK; }
    virtual HRESULT Rename(BSTR& newName) { return E_NOTIMPL; }
    virtual HRESULT Delete() { return E_NOTIMPL; }
    virtual HRESULT NewFolder(BSTR& name) { return E_NOTIMPL; }
};

class CFile : public CStorageObject {
public:
    virtual HRESULT GetSize(ULONG* size) = 0;
    virtual HRESULT GetMIMEType(BSTR* mimeType) = 0;
    // Starts the copy; on success *waitObject is a new wait object the caller owns.
    virtual HRESULT CopyFileToPC(CAsynchOperationExecutor* executor, _bstr_t pcPath, CCopyFileWaitObject** waitObject,
                                 CProgressCallbackFunctionBase* progress, CReplaceCallbackFunctionBase* replace) = 0;
};

class CFolder : public CStorageObject {
public:
    // Append new objects; the caller deletes every object it receives.
    virtual HRESULT GetCFiles(std::list<CFile*>& files) = 0;
    virtual HRESULT GetCFolders(std::list<CFolder*>& folders) = 0;
    virtual HRESULT CopyFileFromPC(CAsynchOperationExecutor* executor, _bstr_t pcPath,
                                   CCopyFileWaitObject** waitObject, CProgressCallbackFunctionBase* progress,
                                   CReplaceCallbackFunctionBase* replace) = 0;
};

class CMountPoint : public CFolder {
public:
    virtual HRESULT GetMedia(LONG* media) = 0;
    virtual HRESULT GetMemCapacity(ULONG* capacity) = 0;
    virtual HRESULT GetMemFree(ULONG* freeBytes) = 0;
    virtual HRESULT GetMemUsed(ULONG* usedBytes) = 0;
    virtual HRESULT GetLabel(BSTR* label) = 0;
    virtual HRESULT PutLabel(BSTR label) = 0;
};
