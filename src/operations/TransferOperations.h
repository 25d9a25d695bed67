// Copies and moves of files and folder trees between the PC and the device,
// run on the worker thread.
#pragma once

#include "operations/AsynchOperation.h"

// Device to PC; pcPath is the full PC target path.
class CCopyFileToPcAsynchOperation {
public:
    static HRESULT CreateCCopyFileToPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                      FMObjectImpl* target, BSTR* pcPath,
                                                      IAsynchOperation** operation);
};

class CMoveFileToPcAsynchOperation {
public:
    static HRESULT CreateCMoveFileToPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                      FMObjectImpl* target, BSTR* pcPath,
                                                      IAsynchOperation** operation);
};

class CCopyFolderToPcAsynchOperation {
public:
    static HRESULT CreateCCopyFolderToPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                        FMObjectImpl* target, BSTR* pcPath,
                                                        IAsynchOperation** operation);
};

class CMoveFolderToPcAsynchOperation {
public:
    static HRESULT CreateCMoveFolderToPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                        FMObjectImpl* target, BSTR* pcPath,
                                                        IAsynchOperation** operation);
};

// PC to device, into the target folder.
class CCopyFileFromPcAsynchOperation {
public:
    static HRESULT CreateCCopyFileFromPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                        FMObjectImpl* target, BSTR* sourcePath, BSTR* newName,
                                                        IAsynchOperation** operation);
};

class CMoveFileFromPcAsynchOperation {
public:
    static HRESULT CreateCMoveFileFromPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                        FMObjectImpl* target, BSTR* sourcePath, BSTR* newName,
                                                        IAsynchOperation** operation);
};

class CCopyFolderFromPcAsynchOperation {
public:
    static HRESULT CreateCCopyFolderFromPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                          FMObjectImpl* target, BSTR* sourcePath, BSTR* name,
                                                          IAsynchOperation** operation);
};

class CMoveFolderFromPcAsynchOperation {
public:
    static HRESULT CreateCMoveFolderFromPcAsynchOperation(LONG transactionId, CAsynchOperationExecutor* executor,
                                                          FMObjectImpl* target, BSTR* sourcePath, BSTR* name,
                                                          IAsynchOperation** operation);
};
