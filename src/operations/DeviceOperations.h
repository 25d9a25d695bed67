// Delete, rename and new folder on the device, run on the worker thread.
// "Device" is any object of the tree: phone items and memory card items alike
// are reached through the target's storage object and the connector.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "operations/AsynchOperation.h"

class CFile;
class CFolder;
class CFolderListDevice;

// What the five operations share: the disconnected check, exactly one
// completion event per transaction, and the target's path.
class CDeviceAsynchOperation : public CAsynchOperation {
public:
    STDMETHOD(Execute)() override;

protected:
    // The work after the disconnected check; it completes through complete().
    virtual HRESULT run() = 0;
    // Fires the class's own completion event; object only for NewFolderCompleted.
    virtual void fireCompletion(KVFMOpResult result, IDispatch* object) = 0;

    // Fires the completion once; later calls do nothing.
    void complete(KVFMOpResult result, IDispatch* object = nullptr);
    // The result of a failed step; a binding that ended meanwhile wins.
    KVFMOpResult failureResult(HRESULT hr) const;
    // Queries the target for iid and reads its path through that interface;
    // on failure logs the text given and completes with KVFM_E_FAILED.
    HRESULT readTargetPath(REFIID iid, const char* interfaceFailure, const char* pathFailure, std::wstring& path);

private:
    bool m_bCompleted = false;
};

class CDeleteDeviceFileAsynchOperation : public CDeviceAsynchOperation {
public:
    static HRESULT CreateCDeleteDeviceFileAsynchOperation(LONG transactionId, FMObjectImpl* target,
                                                          IAsynchOperation** operation);
    void Init(LONG transactionId, FMObjectImpl* target);

protected:
    HRESULT run() override;
    void fireCompletion(KVFMOpResult result, IDispatch* object) override;
};

// A whole tree, depth-first: a folder's files, then each subfolder fully,
// then the folder itself; the top folder last. FileProgress after each file.
class CDeleteDeviceFolderAsynchOperation : public CDeviceAsynchOperation {
public:
    CDeleteDeviceFolderAsynchOperation();
    ~CDeleteDeviceFolderAsynchOperation() override;

    static HRESULT CreateCDeleteDeviceFolderAsynchOperation(LONG transactionId, FMObjectImpl* target,
                                                            IAsynchOperation** operation);
    void Init(LONG transactionId, FMObjectImpl* target);

protected:
    HRESULT run() override;
    void fireCompletion(KVFMOpResult result, IDispatch* object) override;

private:
    // One folder of the walk; each keeps its own path, so climbing back never
    // depends on how a child's path was spelled.
    struct Level {
        std::wstring path;  // virtual, one trailing backslash
        std::unique_ptr<CFolderListDevice> list;
    };

    // Files in the whole tree below top, counted before anything is deleted.
    HRESULT getFilesCount(const std::wstring& top);
    HRESULT getFolderList(const std::wstring& path, std::unique_ptr<Level>& level);
    // The virtual path of a subfolder handed out by a list, checked against
    // the folders already open (a listing that leads back would never end).
    HRESULT subfolderPath(CFolder* subfolder, const std::vector<std::unique_ptr<Level>>& open, std::wstring& path);
    // S_OK with a current file, S_FALSE when the tree is done, else failure.
    HRESULT findNextFile();
    HRESULT getNextFolder();
    void deleteFolder(const std::wstring& path);
    // S_OK, S_FALSE when the client aborted, else the failure.
    HRESULT deleteFile();

    std::vector<std::unique_ptr<Level>> m_levels;  // back(): the current folder
    std::unique_ptr<CFile> m_pCurrentFile;
    bool m_bAborted = false;
    // The first folder that stayed; the walk goes on, the completion reports it.
    HRESULT m_hrFolderFailure = S_OK;
    LONG m_lTotalFiles = 0;
    LONG m_lDeletedFiles = 0;
};

// Renames on the storage, then gives the client's object its new path.
class CRenameDeviceObjectAsynchOperation : public CDeviceAsynchOperation {
protected:
    void InitRename(LONG transactionId, FMObjectImpl* target, BSTR newName, bool folder);
    HRESULT run() override;
    void fireCompletion(KVFMOpResult result, IDispatch* object) override;

private:
    com::UniqueBstr m_bstrNewName;
    bool m_bFolder = false;
};

class CRenameDeviceFileAsynchOperation : public CRenameDeviceObjectAsynchOperation {
public:
    static HRESULT CreateCRenameDeviceFileAsynchOperation(LONG transactionId, FMObjectImpl* target, BSTR* newName,
                                                          IAsynchOperation** operation);
    void Init(LONG transactionId, FMObjectImpl* target, BSTR newName);
};

class CRenameDeviceFolderAsynchOperation : public CRenameDeviceObjectAsynchOperation {
public:
    static HRESULT CreateCRenameDeviceFolderAsynchOperation(LONG transactionId, FMObjectImpl* target, BSTR* newName,
                                                            IAsynchOperation** operation);
    void Init(LONG transactionId, FMObjectImpl* target, BSTR newName);
};

class CNewDeviceFolderAsynchOperation : public CDeviceAsynchOperation {
public:
    static HRESULT CreateCNewDeviceFolderAsynchOperation(LONG transactionId, FMObjectImpl* target, BSTR* name,
                                                         DeviceConnector* connector, IAsynchOperation** operation);
    void Init(LONG transactionId, FMObjectImpl* target, BSTR name, DeviceConnector* connector);

protected:
    HRESULT run() override;
    void fireCompletion(KVFMOpResult result, IDispatch* object) override;

private:
    com::UniqueBstr m_bstrName;
};
