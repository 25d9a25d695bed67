// Copies and moves of single files between the PC and the device, run on the
// worker thread. pcPath: the full PC target path; sourcePath: the PC file.
#pragma once

#include "operations/AsynchOperation.h"

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
