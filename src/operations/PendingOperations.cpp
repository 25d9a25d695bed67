// The transfers and device operations are not built yet: their creation is
// refused, so the starting methods report E_NOTIMPL after drawing the id.
#include "operations/DeviceOperations.h"
#include "operations/TransferOperations.h"

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
HRESULT CCopyFileToPcAsynchOperation::CreateCCopyFileToPcAsynchOperation(LONG, CAsynchOperationExecutor*,
                                                                          FMObjectImpl*, BSTR*,
                                                                          IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
HRESULT CMoveFileToPcAsynchOperation::CreateCMoveFileToPcAsynchOperation(LONG, CAsynchOperationExecutor*,
                                                                          FMObjectImpl*, BSTR*,
                                                                          IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
HRESULT CCopyFolderToPcAsynchOperation::CreateCCopyFolderToPcAsynchOperation(LONG, CAsynchOperationExecutor*,
                                                                              FMObjectImpl*, BSTR*,
                                                                              IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
HRESULT CMoveFolderToPcAsynchOperation::CreateCMoveFolderToPcAsynchOperation(LONG, CAsynchOperationExecutor*,
                                                                              FMObjectImpl*, BSTR*,
                                                                              IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
HRESULT CCopyFileFromPcAsynchOperation::CreateCCopyFileFromPcAsynchOperation(LONG, CAsynchOperationExecutor*,
                                                                              FMObjectImpl*, BSTR*, BSTR*,
                                                                              IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
HRESULT CMoveFileFromPcAsynchOperation::CreateCMoveFileFromPcAsynchOperation(LONG, CAsynchOperationExecutor*,
                                                                              FMObjectImpl*, BSTR*, BSTR*,
                                                                              IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
HRESULT CCopyFolderFromPcAsynchOperation::CreateCCopyFolderFromPcAsynchOperation(LONG, CAsynchOperationExecutor*,
                                                                                  FMObjectImpl*, BSTR*, BSTR*,
                                                                                  IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
HRESULT CMoveFolderFromPcAsynchOperation::CreateCMoveFolderFromPcAsynchOperation(LONG, CAsynchOperationExecutor*,
                                                                                  FMObjectImpl*, BSTR*, BSTR*,
                                                                                  IAsynchOperation** op) {
    return notBuilt(KV_LOG_SITE, op);
}
