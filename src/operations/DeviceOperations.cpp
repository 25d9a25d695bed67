// Not built yet: creation is refused, so the starting methods report E_NOTIMPL.
#include "operations/DeviceOperations.h"

namespace {

HRESULT notBuilt(const LogSite& site, IAsynchOperation** operation) {
    if (operation) *operation = nullptr;
    KVLOG_AT(LOGLEVEL_ERROR, site) << "Operation not available in this version.";
    return E_NOTIMPL;
}

} // namespace

HRESULT CDeleteDeviceFileAsynchOperation::CreateCDeleteDeviceFileAsynchOperation(LONG, FMObjectImpl*,
                                                                                  IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
HRESULT CDeleteDeviceFolderAsynchOperation::CreateCDeleteDeviceFolderAsynchOperation(LONG, FMObjectImpl*,
                                                                                      IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
HRESULT CRenameDeviceFileAsynchOperation::CreateCRenameDeviceFileAsynchOperation(LONG, FMObjectImpl*, BSTR*,
                                                                                  IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
HRESULT CRenameDeviceFolderAsynchOperation::CreateCRenameDeviceFolderAsynchOperation(LONG, FMObjectImpl*, BSTR*,
                                                                                      IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
HRESULT CNewDeviceFolderAsynchOperation::CreateCNewDeviceFolderAsynchOperation(LONG, FMObjectImpl*, BSTR*,
                                                                                DeviceConnector*,
                                                                                IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
