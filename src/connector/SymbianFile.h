// A file on the phone, reached through the connectivity component's storage
// file object.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>

#include "com/ComUtil.h"
#include "connector/Scom.h"
#include "connector/StorageObject.h"
#include "connector/SymbianConnectorImpl.h"

class CFolderMapping;

class CSymbianFile : public CFile {
public:
    // virtualPath is copied; the file gets a reference of its own.
    CSymbianFile(SymbianConnector* connector, BSTR virtualPath, ISCDeviceStorageFile* file,
                 std::shared_ptr<CFolderMapping> mapping, BindingGuard binding);
    ~CSymbianFile() override;
    CSymbianFile(const CSymbianFile&) = delete;
    CSymbianFile& operator=(const CSymbianFile&) = delete;

    // Every operation fails with E_FAIL once the binding the object was made
    // under has ended, before it touches the connector, the mapping or the phone.
    HRESULT PutAttributes(DWORD attributes) override;
    HRESULT GetAttributes(DWORD* attributes) override;
    HRESULT GetCreated(DATE* created) override;
    HRESULT GetAccessed(DATE* accessed) override;
    HRESULT GetChanged(DATE* changed) override;
    HRESULT GetPath(BSTR* path) override;
    HRESULT GetForbiddenOps(DWORD* forbiddenOps) override;
    // Names that are not plain names (symbian_storage::IsPlainName) are
    // refused with E_INVALIDARG before the phone is asked.
    HRESULT Rename(BSTR& newName) override;
    HRESULT Delete() override;

    HRESULT GetSize(ULONG* size) override;
    HRESULT GetMIMEType(BSTR* mimeType) override;
    HRESULT CopyFileToPC(CAsynchOperationExecutor* executor, _bstr_t pcPath, CCopyFileWaitObject** waitObject,
                         CProgressCallbackFunctionBase* progress, CReplaceCallbackFunctionBase* replace) override;

private:
    bool bindingEnded() const;

    SymbianConnector* m_pSymbianConnector;  // not owned
    com::ComPtr<ISCDeviceStorageFile> m_pFile;
    com::UniqueBstr m_bstrPath;             // virtual path
    std::shared_ptr<CFolderMapping> m_pMapping;
    BindingGuard m_binding;
};

namespace symbian_storage {
// A single name for Rename or NewFolder: not empty, no separator, not only
// dots and blanks (".", "..").
bool IsPlainName(BSTR name);
} // namespace symbian_storage
