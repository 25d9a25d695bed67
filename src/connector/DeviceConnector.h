// The connector as the object model and the operations see it: virtual paths
// resolved to storage objects or to ready object-model objects, and the
// children of a virtual folder. Storage objects returned or appended belong to
// the caller; COM pointers carry one reference for the caller.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <list>
#include <memory>

#include "module/Interfaces.h"

class CFile;
class CFolder;
class CMountPoint;

// What an object keeps of the binding it was made under. The counter is
// shared with the connector and moves on at every Initialize, Uninitialize
// and at the connector's destruction, so Valid() tells, without touching the
// connector, whether the connector and its mappings may still be used.
class BindingGuard {
public:
    BindingGuard() = default;
    BindingGuard(std::shared_ptr<const std::atomic<unsigned long>> counter, unsigned long generation)
        : m_counter(std::move(counter)), m_generation(generation) {}
    bool Valid() const { return m_counter && m_counter->load() == m_generation; }

private:
    std::shared_ptr<const std::atomic<unsigned long>> m_counter;
    unsigned long m_generation = 0;
};

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
    // The binding served now; a connector not tied to a phone binding has none
    // (objects made from it stay usable).
    virtual bool GetBinding(BindingGuard& binding) const { return false; }
};
