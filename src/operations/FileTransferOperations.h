// Copies and moves of single files between the PC and the device, run on the
// worker thread. pcPath: the full PC target path; sourcePath: the PC file.
// Each transfer is started through the target's storage object (phone or
// memory card alike), waited for on the worker thread, and ends with exactly
// one completion event of its own kind.
#pragma once

#include <memory>

#include "operations/AsynchOperation.h"

class CFile;
class CFolder;

// Removes the PC copy of a move whose device file could not be deleted, read-only
// or not: the copy keeps the source's attributes, yet it is ours to remove.
bool DeletePcCopy(const wchar_t* path);

// ---- PC to device ----

// What the copy and the move from the PC share: the fields, the device-side
// copy and the look-up of the new file.
class CFileFromPcAsynchOperationBase : public CAsynchOperation {
protected:
    explicit CFileFromPcAsynchOperationBase(bool move) : m_bMove(move) {}

    void InitFromPc(LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target, BSTR sourcePath,
                    BSTR newName);

    // The completion event of this operation's kind.
    void fireCompleted(KVFMOpResult result, IDispatch* file);
    bool completionFired() const { return m_bCompletionFired; }

    // Copies the PC file into the target folder and waits for the end.
    // S_OK: the file is on the device. S_FALSE or a failure: the completion
    // event has been fired and *executeResult is what Execute returns.
    HRESULT copyFile(HRESULT* executeResult);

    // m_pFolder: the target as IKVFMFolder.
    HRESULT queryFolder();
    // m_bstrDestinationPath: the target folder's path (which ends with its
    // separator) and the name.
    HRESULT formDestinationPath();

    // The object-model file at the destination path, looked up again.
    HRESULT lookUpNewFile(com::ComPtr<IKVFMFile>& file);

    const bool m_bMove;
    com::UniqueBstr m_bstrSourcePath;
    com::UniqueBstr m_bstrName;
    com::UniqueBstr m_bstrDestinationPath;
    com::ComPtr<IKVFMFolder> m_pFolder;  // kept while the operation runs

private:
    bool m_bCompletionFired = false;
};

class CCopyFileFromPcAsynchOperation : public CFileFromPcAsynchOperationBase {
public:
    CCopyFileFromPcAsynchOperation() : CFileFromPcAsynchOperationBase(false) {}

    static HRESULT CreateCCopyFileFromPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                        FMObjectImpl* target, BSTR* sourcePath, BSTR* newName,
                                                        IAsynchOperation** operation);
    void Init(LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target, BSTR sourcePath,
              BSTR newName);
    STDMETHOD(Execute)() override;

private:
    HRESULT run();
};

class CMoveFileFromPcAsynchOperation : public CFileFromPcAsynchOperationBase {
public:
    CMoveFileFromPcAsynchOperation() : CFileFromPcAsynchOperationBase(true) {}

    static HRESULT CreateCMoveFileFromPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                        FMObjectImpl* target, BSTR* sourcePath, BSTR* newName,
                                                        IAsynchOperation** operation);
    // Reads the target's path on the creating thread.
    void Init(LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target, BSTR sourcePath,
              BSTR newName);
    STDMETHOD(Execute)() override;

private:
    HRESULT run();
};

// ---- device to PC ----

class CFileToPcAsynchOperationBase : public CAsynchOperation {
protected:
    explicit CFileToPcAsynchOperationBase(bool move) : m_bMove(move) {}

    void InitToPc(LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target, BSTR pcPath);

    void fireCompleted(KVFMOpResult result);
    bool completionFired() const { return m_bCompletionFired; }

    // Copies the target's file to the PC path and waits for the end. S_OK:
    // *result is the wait object's result and *storageFile the file copied;
    // otherwise the completion event has been fired and the HRESULT is what
    // Execute returns.
    HRESULT copyFile(LONG* result, CFile** storageFile);

    // Removes what the copy wrote at the PC path (a move that cannot finish).
    void removePcCopy();

    const bool m_bMove;
    com::UniqueBstr m_bstrPcPath;
    com::ComPtr<IKVFMFile> m_pFile;  // kept while the operation runs

private:
    bool m_bCompletionFired = false;
};

class CCopyFileToPcAsynchOperation : public CFileToPcAsynchOperationBase {
public:
    CCopyFileToPcAsynchOperation() : CFileToPcAsynchOperationBase(false) {}

    static HRESULT CreateCCopyFileToPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                      FMObjectImpl* target, BSTR* pcPath,
                                                      IAsynchOperation** operation);
    void Init(LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target, BSTR pcPath);
    STDMETHOD(Execute)() override;

private:
    HRESULT run();
};

class CMoveFileToPcAsynchOperation : public CFileToPcAsynchOperationBase {
public:
    CMoveFileToPcAsynchOperation() : CFileToPcAsynchOperationBase(true) {}

    static HRESULT CreateCMoveFileToPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                      FMObjectImpl* target, BSTR* pcPath,
                                                      IAsynchOperation** operation);
    void Init(LONG transactionId, CAsynchOperationExecutor* executor, FMObjectImpl* target, BSTR pcPath);
    STDMETHOD(Execute)() override;

private:
    HRESULT run();
};
