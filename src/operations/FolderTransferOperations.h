// Copies and moves of whole folder trees between the PC and the device, run
// on the worker thread. Trees are walked depth-first, the files of a folder
// before its subfolders; every transaction ends with one completion event.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "operations/AsynchOperation.h"

class CFile;
class CFolder;
class CFolderListDevice;
class CFolderListPC;

// A PC folder tree into a folder of the object model. An existing folder on
// the device is merged with (same-named files replaced, nobody asked). The
// move removes each PC file once copied and each PC folder once empty.
class CFolderFromPcAsynchOperation : public CAsynchOperation {
public:
    CFolderFromPcAsynchOperation();
    ~CFolderFromPcAsynchOperation() override;

    // sourcePath: the PC folder; name: the new top folder's name, or null or
    // empty for the source folder's own name.
    void Init(LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target, BSTR sourcePath,
              BSTR name, bool move);
    STDMETHOD(Execute)() override;

private:
    // One folder of the walk: the PC folder being read and the device folder
    // written into.
    struct Level {
        std::wstring sourcePath;                // PC path, no trailing backslash
        std::unique_ptr<CFolderListPC> list;
        std::wstring destinationPath;           // virtual path, one trailing backslash
        std::unique_ptr<CFolder> destinationOwned;
        CFolder* destination = nullptr;         // the owned one, or the target's own
    };

    HRESULT run(LONG& result, com::ComPtr<IKVFMFolder>& topFolder);
    // Opens the PC folder's list, makes (or finds) the device folder name in
    // parent and makes both current.
    HRESULT createFolder(const std::wstring& sourcePath, const std::wstring& name, CFolder* parent,
                         const std::wstring& parentPath);
    HRESULT findNextFile();
    LONG copyFile();
    void complete(KVFMOpResult result, IDispatch* folder);

    bool m_bMove = false;
    bool m_bCompleted = false;
    std::wstring m_strSourcePath;        // as given, trailing separators removed
    std::wstring m_strName;              // the top folder's name on the device
    std::wstring m_strTopDestination;    // virtual path of the new top folder
    std::vector<std::unique_ptr<Level>> m_levels;  // back(): the current folder
    std::wstring m_strCurrentFile;       // PC path of the file being copied
    LONG m_lReplaceSetting = 3;
};

// A folder tree of the object model into a PC folder. An existing PC folder
// is a ReplaceFolder question to the client; files are always replaced. The
// move deletes each device file once copied and each device folder once empty.
class CFolderToPcAsynchOperation : public CAsynchOperation {
public:
    CFolderToPcAsynchOperation();
    ~CFolderToPcAsynchOperation() override;

    // pcPath: the full PC path of the new top folder.
    void Init(LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target, BSTR pcPath, bool move);
    STDMETHOD(Execute)() override;

    // Replace answers.
    static constexpr LONG kMergeAll = 2;
    static constexpr LONG kSkipFolder = 3;
    static constexpr LONG kAbort = 4;

private:
    struct Level {
        std::wstring devicePath;             // virtual path, one trailing backslash
        std::unique_ptr<CFolderListDevice> list;
        std::wstring pcPath;                 // no trailing backslash
    };

    HRESULT run(LONG& result);
    // Opens the device folder's list, makes the PC folder (asking when it
    // exists) and makes both current; E_ABORT for a skip or abort answer.
    HRESULT createFolder(const std::wstring& devicePath, const std::wstring& pcPath);
    HRESULT findNextFile();
    LONG copyFile();
    void deleteDeviceFolder(const std::wstring& devicePath);
    void complete(KVFMOpResult result);

    bool m_bMove = false;
    bool m_bCompleted = false;
    std::wstring m_strPcPath;
    std::vector<std::unique_ptr<Level>> m_levels;  // back(): the current folder
    std::unique_ptr<CFile> m_pCurrentFile;
    LONG m_lReplaceSetting = kSkipFolder;
};

class CCopyFolderToPcAsynchOperation : public CFolderToPcAsynchOperation {
public:
    static HRESULT CreateCCopyFolderToPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                        FMObjectImpl* target, BSTR* pcPath,
                                                        IAsynchOperation** operation);
};

class CMoveFolderToPcAsynchOperation : public CFolderToPcAsynchOperation {
public:
    static HRESULT CreateCMoveFolderToPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                        FMObjectImpl* target, BSTR* pcPath,
                                                        IAsynchOperation** operation);
};

class CCopyFolderFromPcAsynchOperation : public CFolderFromPcAsynchOperation {
public:
    static HRESULT CreateCCopyFolderFromPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                          FMObjectImpl* target, BSTR* sourcePath, BSTR* name,
                                                          IAsynchOperation** operation);
};

class CMoveFolderFromPcAsynchOperation : public CFolderFromPcAsynchOperation {
public:
    static HRESULT CreateCMoveFolderFromPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                          FMObjectImpl* target, BSTR* sourcePath, BSTR* name,
                                                          IAsynchOperation** operation);
};
