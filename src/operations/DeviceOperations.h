// Delete, rename and new folder on the device, run on the worker thread.
#pragma once

#include "operations/AsynchOperation.h"

class CDeleteDeviceFileAsynchOperation {
public:
    static HRESULT CreateCDeleteDeviceFileAsynchOperation(LONG transactionId, FMObjectImpl* target,
                                                          IAsynchOperation** operation);
};

class CDeleteDeviceFolderAsynchOperation {
public:
    static HRESULT CreateCDeleteDeviceFolderAsynchOperation(LONG transactionId, FMObjectImpl* target,
                                                            IAsynchOperation** operation);
};

class CRenameDeviceFileAsynchOperation {
public:
    static HRESULT CreateCRenameDeviceFileAsynchOperation(LONG transactionId, FMObjectImpl* target, BSTR* newName,
                                                          IAsynchOperation** operation);
};

class CRenameDeviceFolderAsynchOperation {
public:
    static HRESULT CreateCRenameDeviceFolderAsynchOperation(LONG transactionId, FMObjectImpl* target, BSTR* newName,
                                                            IAsynchOperation** operation);
};

class CNewDeviceFolderAsynchOperation {
public:
    static HRESULT CreateCNewDeviceFolderAsynchOperation(LONG transactionId, FMObjectImpl* target, BSTR* name,
                                                         DeviceConnector* connector, IAsynchOperation** operation);
};
