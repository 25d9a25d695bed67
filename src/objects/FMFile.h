// A file on the phone or on the memory card: properties, operations that run
// on the worker thread, and a stream on its content.
#pragma once

#include <memory>

#include "com/ComUtil.h"
#include "objects/FMObjectOuter.h"

#include "connector/StorageObject.h"

class CFMFile : public CFMObjectOuter<IKVFMFile> {
public:
    CFMFile() = default;
    ~CFMFile();

    BEGIN_COM_MAP(CFMFile)
        COM_INTERFACE_ENTRY(IKVFMFile)
        COM_INTERFACE_ENTRY_FUNC(IID_IConnectionPointContainer, &CFMFile::ForwardToInner, 0)
        COM_INTERFACE_ENTRY2(IKVFMObject, IKVFMFile)
        COM_INTERFACE_ENTRY2(IDispatch, IKVFMFile)
    END_COM_MAP()

    HRESULT FinalConstruct() { return CreateInnerObject(); }
    void FinalRelease() { ReleaseInnerObject(); }

    // Makes an initialised file object; takes ownership of storageFile in every case.
    static HRESULT CreateCFMFileInstance(CAsynchOperationExecutor* executor, DeviceConnector* connector, BSTR path,
                                         CFile* storageFile, IKVFMFile** file);

    // Takes ownership of storageFile.
    void Init(CAsynchOperationExecutor* executor, DeviceConnector* connector, BSTR path, CFile* storageFile);

    // IKVFMObject
    STDMETHOD(get_Path)(BSTR* path) override { return m_pImpl->get_Path(path); }
    STDMETHOD(get_Type)(LONG* kind) override;
    STDMETHOD(Delete)(LONG* transactionId) override;
    STDMETHOD(CopyToPC)(BSTR pcFolder, BSTR pcName, LONG* transactionId) override;
    STDMETHOD(MoveToPC)(BSTR pcFolder, BSTR pcName, LONG* transactionId) override;
    STDMETHOD(put_FileAttributes)(LONG attributes) override;
    STDMETHOD(Rename)(BSTR newName, LONG* transactionId) override;
    STDMETHOD(Refresh)(VARIANT reserved) override;
    // IKVFMFile
    STDMETHOD(get_Size)(LONG* size) override;
    STDMETHOD(get_MIMEType)(BSTR* mimeType) override;
    STDMETHOD(get_IStream)(IUnknown** stream) override;

private:

    ULONG m_ulSize = 0;
    com::UniqueBstr m_bstrMimeType;
    std::unique_ptr<CFile> m_pStorageFile;
};
