// The asynchronous counterparts of a folder's Objects, Files and Folders: the
// collection is built on the worker thread and handed over in the event.
#pragma once

#include "operations/AsynchOperation.h"

template <class Kind>
class CGetDeviceListAsynchOperation : public CAsynchOperation {
public:
    static HRESULT Create(LONG transactionId, FMObjectImpl* target, IAsynchOperation** operation);
    void Init(LONG transactionId, FMObjectImpl* target);
    STDMETHOD(Execute)() override;
};

struct DeviceObjectsListing;
struct DeviceFilesListing;
struct DeviceFoldersListing;

class CGetDeviceObjectsAsynchOperation : public CGetDeviceListAsynchOperation<DeviceObjectsListing> {
public:
    static HRESULT CreateCGetDeviceObjectsAsynchOperation(LONG transactionId, FMObjectImpl* target,
                                                          IAsynchOperation** operation);
};

class CGetDeviceFilesAsynchOperation : public CGetDeviceListAsynchOperation<DeviceFilesListing> {
public:
    static HRESULT CreateCGetDeviceFilesAsynchOperation(LONG transactionId, FMObjectImpl* target,
                                                        IAsynchOperation** operation);
};

class CGetDeviceFoldersAsynchOperation : public CGetDeviceListAsynchOperation<DeviceFoldersListing> {
public:
    static HRESULT CreateCGetDeviceFoldersAsynchOperation(LONG transactionId, FMObjectImpl* target,
                                                          IAsynchOperation** operation);
};
