// Copies and moves of whole folder trees between the PC and the device, run
// on the worker thread.
#pragma once

#include "operations/AsynchOperation.h"

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
