// The connector as the object model and the operations see it: virtual paths
// resolved to storage objects or to ready object-model objects, and the
// children of a virtual folder. Storage objects returned or appended belong to
// the caller; COM pointers carry one reference for the caller.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <list>

#include "module/Interfaces.h"

class CFile;
class CFolder;
class CMountPoint;

class DeviceConnector {
public:
    virtual ~DeviceConnector() = default;
    virtual HRESULT getMountPoints(std::list<CMountPoint*>& mountPoints) = 0;
    virtual HRESULT getCFolder(BSTR& path, CFolder** folder) = 0;
    virtual HRESULT getCFile(BSTR& path, CFile** file) = 0;
    virtual HRESULT getKVFMFolder(BSTR& path, IKVFMFolder** folder) = 0;
    virtual HRESULT getKVFMFile(BSTR& path, IKVFMFile** file) = 0;
    virtual HRESULT getKVFMObjects(BSTR& path, std::list<IKVFMObject*>& objects) = 0;
    virtual HRESULT getKVFMFolders(BSTR& path, std::list<IKVFMFolder*>& folders) = 0;
    virtual HRESULT getKVFMFiles(BSTR& path, std::list<IKVFMFile*>& files) = 0;
};
