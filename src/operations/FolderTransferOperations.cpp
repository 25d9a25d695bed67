// Not built yet: creation is refused, so the starting methods report E_NOTIMPL.
#include "operations/FolderTransferOperations.h"

namespace {

HRESULT notBuilt(const LogSite& site, IAsynchOperation** operation) {
    if (operation) *operation = nullptr;
    KVLOG_AT(LOGLEVEL_ERROR, site) << "Operation not available in this version.";
    return E_NOTIMPL;
}

} // namespace

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
