// Path resolution of SymbianConnector: virtual paths to storage objects and
// object-model objects, and the children of the virtual tree's folders.
#include "connector/SymbianConnectorImpl.h"

#include "module/Logging.h"

namespace {

bool NotInitialized(bool initialized) {
    if (initialized) return false;
    LOG_ERROR << "SymbianConnector not initialized.";
    return true;
}

} // namespace

// The storage objects and the object model's factories are being built; until
// they exist every resolution refuses cleanly.
HRESULT SymbianConnector::getMountPoints(std::list<CMountPoint*>&) {
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
HRESULT SymbianConnector::getCFolder(BSTR&, CFolder** folder) {
    if (folder) *folder = nullptr;
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
HRESULT SymbianConnector::getCFile(BSTR&, CFile** file) {
    if (file) *file = nullptr;
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
HRESULT SymbianConnector::getKVFMFolder(BSTR&, IKVFMFolder**) {
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
HRESULT SymbianConnector::getKVFMFile(BSTR&, IKVFMFile**) {
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
HRESULT SymbianConnector::getKVFMObjects(BSTR&, std::list<IKVFMObject*>&) {
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
HRESULT SymbianConnector::getKVFMFolders(BSTR&, std::list<IKVFMFolder*>&) {
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
HRESULT SymbianConnector::getKVFMFiles(BSTR&, std::list<IKVFMFile*>&) {
    return NotInitialized(m_bInitialized) ? E_FAIL : E_NOTIMPL;
}
