#include "connector/SymbianFile.h"

#include <cwchar>

#include "connector/CopyFileWaitObject.h"
#include "mapping/FolderMapping.h"
#include "module/Logging.h"

namespace symbian_storage {

bool IsPlainName(BSTR name) {
    if (!name) return false;
    const UINT length = SysStringLen(name);
    if (length == 0 || wcslen(name) != length) return false;
    // Only dots and blanks: "." and "..", and what Windows trims to them.
    if (wcsspn(name, L". ") == length) return false;
    return wcspbrk(name, L"\\/") == nullptr;
}

} // namespace symbian_storage

namespace {

BSTR CopyOf(BSTR s) { return s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr; }

} // namespace

CSymbianFile::CSymbianFile(SymbianConnector* connector, BSTR virtualPath, ISCDeviceStorageFile* file,
                           std::shared_ptr<CFolderMapping> mapping, BindingGuard binding)
    : m_pSymbianConnector(connector),
      m_pFile(file),
      m_bstrPath(com::UniqueBstr::Adopt(CopyOf(virtualPath))),
      m_pMapping(std::move(mapping)),
      m_binding(std::move(binding)) {}

CSymbianFile::~CSymbianFile() = default;

bool CSymbianFile::bindingEnded() const {
    if (m_binding.Valid()) return false;
    LOG_ERROR << "The device binding this object was made under has ended.";
    return true;
}

HRESULT CSymbianFile::GetAttributes(DWORD* attributes) {
    LOG_TRACE << "GetAttributes";
    if (!attributes) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        return scom::GetAttributes(m_pFile.Get(), reinterpret_cast<long*>(attributes));
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed to get_Attributes. COM Exception caught from SCOM.";
        LOG_DEBUG << "ErrorMessage = " << e.ErrorMessage();
    } catch (...) {
        LOG_ERROR << "Failed to get_Attributes. Unknown Exception caught from SCOM.";
    }
    return E_FAIL;
}

HRESULT CSymbianFile::PutAttributes(DWORD attributes) {
    LOG_TRACE << "PutAttributes";
    if (bindingEnded()) return E_FAIL;
    try {
        scom::PutAttributes(m_pFile.Get(), static_cast<long>(attributes));
        return S_OK;
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed to put_Attributes. COM Exception caught from SCOM.";
        LOG_DEBUG << "ErrorMessage = " << e.ErrorMessage();
    } catch (...) {
        LOG_ERROR << "Failed to put_Attributes. Unknown Exception caught from SCOM.";
    }
    return E_FAIL;
}

// The phone reports no creation or access time.
HRESULT CSymbianFile::GetCreated(DATE* created) {
    LOG_TRACE << "GetCreated";
    if (!created) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *created = 0.0;
    return S_OK;
}

HRESULT CSymbianFile::GetAccessed(DATE* accessed) {
    LOG_TRACE << "GetAccessed";
    if (!accessed) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *accessed = 0.0;
    return S_OK;
}

HRESULT CSymbianFile::GetChanged(DATE* changed) {
    LOG_TRACE << "GetChanged";
    if (!changed) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        return scom::GetLastModified(m_pFile.Get(), changed);
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed to get_LastModified. COM Exception caught from SCOM.";
        LOG_DEBUG << "ErrorMessage = " << e.ErrorMessage();
    } catch (...) {
        LOG_ERROR << "Failed to get_LastModified. Unknown Exception caught from SCOM.";
    }
    return E_FAIL;
}

HRESULT CSymbianFile::GetPath(BSTR* path) {
    LOG_TRACE << "GetPath";
    if (!path) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    *path = nullptr;
    if (m_bstrPath.Length() == 0) return S_OK;
    return m_bstrPath.CopyTo(path);
}

HRESULT CSymbianFile::GetForbiddenOps(DWORD* forbiddenOps) {
    LOG_TRACE << "GetForbiddenOps";
    if (!forbiddenOps) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    BSTR path = m_bstrPath.Get();
    *forbiddenOps = m_pMapping ? m_pMapping->getForbidFileOps(&path) : 0;
    return S_OK;
}

HRESULT CSymbianFile::Rename(BSTR& newName) {
    LOG_TRACE << "Rename";
    if (!symbian_storage::IsPlainName(newName)) {
        LOG_ERROR << "Invalid argument. Not a plain file name: " << newName;
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        scom::Rename(m_pFile.Get(), newName);
        return S_OK;
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed to rename file. COM Exception caught from SCOM.";
        LOG_DEBUG << "ErrorMessage = " << e.ErrorMessage();
        return e.Error();
    } catch (...) {
        LOG_ERROR << "Failed to rename file. Unknown Exception caught from SCOM.";
    }
    return E_FAIL;
}

HRESULT CSymbianFile::Delete() {
    LOG_TRACE << "Delete";
    if (bindingEnded()) return E_FAIL;
    try {
        scom::Delete(m_pFile.Get());
        return S_OK;
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed to delete file. COM Exception caught from SCOM.";
        LOG_DEBUG << "ErrorMessage = " << e.ErrorMessage();
        return e.Error();
    } catch (...) {
        LOG_ERROR << "Failed to delete file. Unknown Exception caught from SCOM.";
    }
    return E_FAIL;
}

HRESULT CSymbianFile::GetSize(ULONG* size) {
    LOG_TRACE << "GetSize";
    if (!size) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        return scom::GetSize(m_pFile.Get(), size);
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed to get_Size. COM Exception caught from SCOM.";
        LOG_DEBUG << "ErrorMessage = " << e.ErrorMessage();
    } catch (...) {
        LOG_ERROR << "Failed to get_Size. Unknown Exception caught from SCOM.";
    }
    return E_FAIL;
}

HRESULT CSymbianFile::GetMIMEType(BSTR* mimeType) {
    LOG_TRACE << "GetMIMEType";
    if (!mimeType) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    if (bindingEnded()) return E_FAIL;
    try {
        return scom::GetMIMEType(m_pFile.Get(), mimeType);
    } catch (const _com_error& e) {
        LOG_ERROR << "Failed to get_MIMEType. COM Exception caught from SCOM.";
        LOG_DEBUG << "ErrorMessage = " << e.ErrorMessage();
    } catch (...) {
        LOG_ERROR << "Failed to get_MIMEType. Unknown Exception caught from SCOM.";
    }
    return E_FAIL;
}

HRESULT CSymbianFile::CopyFileToPC(CAsynchOperationExecutor* executor, _bstr_t pcPath,
                                   CCopyFileWaitObject** waitObject, CProgressCallbackFunctionBase* progress,
                                   CReplaceCallbackFunctionBase* replace) {
    LOG_TRACE << "Enter";
    // The wait object signals through the executor, so it cannot do without one.
    if (!executor || !waitObject) {
        LOG_ERROR << "Invalid argument. NULL pointer received.";
        return E_INVALIDARG;
    }
    *waitObject = nullptr;
    if (bindingEnded()) return E_FAIL;

    LOG_DEBUG << "Copying file to " << static_cast<const wchar_t*>(pcPath);
    const HRESULT started = StartScomCopy(
        KV_LOG_SITE, "to PC", executor, m_pSymbianConnector, progress, replace,
        [&]() { return scom::CopyFileToPC(m_pFile.Get(), static_cast<wchar_t*>(pcPath)); }, waitObject);
    if (FAILED(started)) return started;
    LOG_TRACE << "Exit";
    return S_OK;
}
