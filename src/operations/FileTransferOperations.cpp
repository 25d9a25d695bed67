// Not built yet: creation is refused, so the starting methods report E_NOTIMPL.
#include "operations/FileTransferOperations.h"

namespace {

HRESULT notBuilt(const LogSite& site, IAsynchOperation** operation) {
    if (operation) *operation = nullptr;
    KVLOG_AT(LOGLEVEL_ERROR, site) << "Operation not available in this version.";
    return E_NOTIMPL;
}

} // namespace

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
