#include "operations/ListingOperations.h"

#include <string>
#include <type_traits>

#include "module/Utilities.h"
#include "objects/FMCollections.h"
#include "objects/FMObjectImpl.h"

struct DeviceObjectsListing {
    using Op = CGetDeviceObjectsAsynchOperation;
    using Collection = IKVFMObjects;
    static constexpr const char* kClass = "CGetDeviceObjectsAsynchOperation";
    static constexpr const char* kFailure = "Unable to create objects object";
    static HRESULT Build(DeviceConnector* c, BSTR path, Collection** out) {
        return CFMObjects::CreateCFMObjectsInstance(c, path, out);
    }
    static HRESULT Fire(FMObjectImpl* t, KVFMOpResult r, IDispatch* o, LONG id) {
        return FireGetObjectsCompleted(t, r, o, id);
    }
};

struct DeviceFilesListing {
    using Op = CGetDeviceFilesAsynchOperation;
    using Collection = IKVFMFiles;
    static constexpr const char* kClass = "CGetDeviceFilesAsynchOperation";
    static constexpr const char* kFailure = "Unable to create files object";
    static HRESULT Build(DeviceConnector* c, BSTR path, Collection** out) {
        return CFMFiles::CreateCFMFilesInstance(c, path, out);
    }
    static HRESULT Fire(FMObjectImpl* t, KVFMOpResult r, IDispatch* o, LONG id) {
        return FireGetFilesCompleted(t, r, o, id);
    }
};

struct DeviceFoldersListing {
    using Op = CGetDeviceFoldersAsynchOperation;
    using Collection = IKVFMFolders;
    static constexpr const char* kClass = "CGetDeviceFoldersAsynchOperation";
    static constexpr const char* kFailure = "Unable to create folders object";
    static HRESULT Build(DeviceConnector* c, BSTR path, Collection** out) {
        return CFMFolders::CreateCFMFoldersInstance(c, path, out);
    }
    static HRESULT Fire(FMObjectImpl* t, KVFMOpResult r, IDispatch* o, LONG id) {
        return FireGetFoldersCompleted(t, r, o, id);
    }
};

template <class Kind>
HRESULT CGetDeviceListAsynchOperation<Kind>::Create(LONG transactionId, FMObjectImpl* target,
                                                    IAsynchOperation** operation) {
    std::string failure = std::string("Unable to create ") + Kind::kClass;
    return CreateAsynchOperation<typename Kind::Op>(
        KV_LOG_SITE, failure.c_str(), AllArgumentsPresent({target}, {}), operation,
        [&](typename Kind::Op& op) { op.Init(transactionId, target); });
}

template <class Kind>
void CGetDeviceListAsynchOperation<Kind>::Init(LONG transactionId, FMObjectImpl* target) {
    LOG_TRACE << "Init of " << Kind::kClass;
    InitCommon(transactionId, target, target ? target->GetConnector() : nullptr, nullptr);
}

template <class Kind>
STDMETHODIMP CGetDeviceListAsynchOperation<Kind>::Execute() {
    LOG_TRACE << "Enter";
    bool fired = false;
    auto fire = [&](KVFMOpResult result, IDispatch* collection) {
        fired = true;
        Kind::Fire(m_pTarget, result, collection, m_lTransactionId);
    };
    try {
        if (TargetDisconnected()) {
            fire(KVFM_E_DISCONNECTED, nullptr);
            return E_FAIL;
        }
        com::ComPtr<IKVFMObject> object;
        HRESULT hr = m_pTarget->ControllingUnknown()->QueryInterface(IID_IKVFMObject,
                                                                     reinterpret_cast<void**>(object.Receive()));
        if (FAILED(hr) || !object) {
            LOG_ERROR << "Unable to get IKVFMObject from raw object";
            fire(KVFM_E_FAILED, nullptr);
            return FAILED(hr) ? hr : E_FAIL;
        }
        com::UniqueBstr path;
        hr = object->get_Path(path.Receive());
        com::ComPtr<typename Kind::Collection> collection;
        if (SUCCEEDED(hr)) {
            hr = Kind::Build(m_pTarget->GetConnector(), path.Get(), collection.Receive());
        }
        if (FAILED(hr)) {
            LOG_ERROR << Kind::kFailure;
            fire(kvFmResultFromHresult(hr), nullptr);
            return hr;
        }
        if (std::is_same<Kind, DeviceObjectsListing>::value) {
            LOG_DEBUG << "Firing GetObjectsCompleted for transactionId " << m_lTransactionId;
        }
        fire(KVFM_OK, collection.Get());
    } catch (...) {
        LOG_ERROR << "Unhandled exception caught";
        // Every operation ends in exactly one completion event.
        if (!fired) Kind::Fire(m_pTarget, KVFM_E_FAILED, nullptr, m_lTransactionId);
        return E_FAIL;
    }
    LOG_TRACE << "Exit";
    return S_OK;
}

template class CGetDeviceListAsynchOperation<DeviceObjectsListing>;
template class CGetDeviceListAsynchOperation<DeviceFilesListing>;
template class CGetDeviceListAsynchOperation<DeviceFoldersListing>;

HRESULT CGetDeviceObjectsAsynchOperation::CreateCGetDeviceObjectsAsynchOperation(LONG id, FMObjectImpl* target,
                                                                                  IAsynchOperation** op) {
    return Create(id, target, op);
}
HRESULT CGetDeviceFilesAsynchOperation::CreateCGetDeviceFilesAsynchOperation(LONG id, FMObjectImpl* target,
                                                                              IAsynchOperation** op) {
    return Create(id, target, op);
}
HRESULT CGetDeviceFoldersAsynchOperation::CreateCGetDeviceFoldersAsynchOperation(LONG id, FMObjectImpl* target,
                                                                                  IAsynchOperation** op) {
    return Create(id, target, op);
}
