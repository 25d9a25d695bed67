// The part every file, folder and mount point shares: path, times, attributes,
// forbidden-operation flags, storage object, and the connection point of the
// object's events. Created as the aggregated inner object of its outer.
#pragma once

#include "com/ComConnectionPoint.h"
#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "com/ComUtil.h"
#include "connector/DeviceConnector.h"
#include "module/Interfaces.h"

class CAsynchOperationExecutor;
class CStorageObject;

class FMObjectImpl : public com::ComObjectRoot<com::MultiThreadModel>,
                     public com::DispatchImpl<IKVFMObject, &LIBID_KVFileMgmtLib>,
                     public com::ConnectionPointContainerImpl {
public:
    FMObjectImpl();
    ~FMObjectImpl();

    BEGIN_COM_MAP(FMObjectImpl)
        COM_INTERFACE_ENTRY(IKVFMObject)
        COM_INTERFACE_ENTRY2(IDispatch, IKVFMObject)
        COM_INTERFACE_ENTRY(IConnectionPointContainer)
    END_COM_MAP()

    void FinalRelease();

    // Creates the inner object for outer: *inner is its non-delegating unknown
    // (one reference, kept by the outer until its FinalRelease), *impl the object.
    static HRESULT CreateInner(IUnknown* outer, IUnknown** inner, FMObjectImpl** impl);

    // Reads attributes, times and flags from the storage object (not owned;
    // may be null) and stores the path without one trailing backslash.
    HRESULT Init(CAsynchOperationExecutor* executor, DeviceConnector* connector, BSTR path,
                 CStorageObject* storageObject);

    // Replaces the path (one trailing backslash removed); refused for a root.
    HRESULT put_Name(BSTR text);

    // IKVFMObject: the slots this part serves.
    STDMETHOD(get_Name)(BSTR* name) override;
    STDMETHOD(get_Path)(BSTR* path) override;
    STDMETHOD(get_Parent)(IKVFMFolder** parent) override;
    STDMETHOD(get_Created)(DATE* time) override;
    STDMETHOD(get_Accessed)(DATE* time) override;
    STDMETHOD(get_Changed)(DATE* time) override;
    STDMETHOD(get_FileAttributes)(LONG* attributes) override;
    // Served by the outer object.
    STDMETHOD(get_Type)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(Delete)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(CopyTo)(IKVFMFolder*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(CopyToPC)(BSTR, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(MoveTo)(IKVFMFolder*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(MoveToPC)(BSTR, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_FileAttributes)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(Rename)(BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(Refresh)(VARIANT) override { return E_NOTIMPL; }

    // For the outer object and the operations (same apartment or worker thread).
    bool IsInitialized() const { return m_bInitialized; }
    CStorageObject* GetStorageObject() const { return m_pStorageObject; }
    DeviceConnector* GetConnector() const { return m_pDeviceConnector; }
    CAsynchOperationExecutor* GetExecutor() const { return m_pExecutor; }
    DWORD GetForbiddenOps() const { return m_dwForbiddenOps; }
    // Whether the connector and executor of the object's binding still exist;
    // logs why not. Objects outlive unbinding and the service itself.
    bool BindingUsable() const;
    // A refreshing outer overwrites what Init read.
    void SetCreated(DATE time) { setState(m_dateCreated, time); }
    void SetAccessed(DATE time) { setState(m_dateAccessed, time); }
    void SetChanged(DATE time) { setState(m_dateChanged, time); }
    void SetAttributes(DWORD attributes) { setState(m_dwAttributes, attributes); }

private:
    template <class T>
    void setState(T& field, T value) {
        com::ScopedLock lock(m_csState);
        field = value;
    }
    template <class T>
    T getState(const T& field) const {
        com::ScopedLock lock(m_csState);
        return field;
    }

    bool m_bInitialized = false;
    // The path, times and attributes: the worker renames (put_Name) while
    // client threads read them.
    mutable com::CriticalSection m_csState;
    com::UniqueBstr m_bstrPath;
    DeviceConnector* m_pDeviceConnector = nullptr;    // not owned
    CAsynchOperationExecutor* m_pExecutor = nullptr;  // not owned
    CStorageObject* m_pStorageObject = nullptr;       // not owned
    DATE m_dateCreated = 0.0;
    DATE m_dateAccessed = 0.0;
    DATE m_dateChanged = 0.0;
    DWORD m_dwAttributes = 0;
    DWORD m_dwForbiddenOps = 0;
    BindingGuard m_binding;
    bool m_bBound = false;  // made under a phone binding (m_binding applies)
    // Guards the sink list; constructed before use by the base, which only stores it.
    com::CriticalSection m_csObject;
};
