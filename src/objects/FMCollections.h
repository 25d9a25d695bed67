// The three collections a folder lists into: objects, files and folders. Each
// is a snapshot taken once at creation; clients count it, enumerate it and
// look items up by position (from 1) or by name (case-sensitive).
#pragma once

#include <vector>

#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "com/ComUtil.h"
#include "module/Interfaces.h"

class DeviceConnector;

// Words and connector listing of one collection kind.
struct FMObjectsTraits;
struct FMFilesTraits;
struct FMFoldersTraits;

// Derived: the concrete class, so the objects made are of the registered class.
template <class Derived, class Iface, class Item, class Traits>
class CFMCollection : public com::ComObjectRoot<com::MultiThreadModel>,
                      public com::DispatchImpl<Iface, &LIBID_KVFileMgmtLib> {
public:
    ~CFMCollection();

    BEGIN_COM_MAP(CFMCollection)
        COM_INTERFACE_ENTRY(Iface)
        COM_INTERFACE_ENTRY2(IDispatch, Iface)
    END_COM_MAP()

    // Lists path's children through connector into a new collection.
    static HRESULT CreateInstance(DeviceConnector* connector, BSTR path, Iface** collection);

    HRESULT Init(DeviceConnector* connector, BSTR path);

    STDMETHOD(get__NewEnum)(IUnknown** enumerator) override;
    STDMETHOD(get_Item)(VARIANT key, Item** item) override;
    STDMETHOD(get_Count)(LONG* count) override;

private:
    std::vector<com::ComPtr<Item>> m_items;
    LONG m_lCount = 0;
    com::UniqueBstr m_bstrPath;
    DeviceConnector* m_pDeviceConnector = nullptr;  // not owned
    bool m_bInitialized = false;
};

class CFMObjects : public CFMCollection<CFMObjects, IKVFMObjects, IKVFMObject, FMObjectsTraits> {
public:
    static HRESULT CreateCFMObjectsInstance(DeviceConnector* connector, BSTR path, IKVFMObjects** objects) {
        return CreateInstance(connector, path, objects);
    }
};

class CFMFiles : public CFMCollection<CFMFiles, IKVFMFiles, IKVFMFile, FMFilesTraits> {
public:
    static HRESULT CreateCFMFilesInstance(DeviceConnector* connector, BSTR path, IKVFMFiles** files) {
        return CreateInstance(connector, path, files);
    }
};

class CFMFolders : public CFMCollection<CFMFolders, IKVFMFolders, IKVFMFolder, FMFoldersTraits> {
public:
    static HRESULT CreateCFMFoldersInstance(DeviceConnector* connector, BSTR path, IKVFMFolders** folders) {
        return CreateInstance(connector, path, folders);
    }
};
