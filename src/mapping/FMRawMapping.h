// The fallback mapping without configuration: a virtual path is the phone's
// real path with one backslash in front (C:\Data\ is shown as \C:\Data\).
#pragma once

#include "mapping/FolderMapping.h"

class CFMRawMapping : public CFolderMapping {
public:
    explicit CFMRawMapping(std::shared_ptr<MappingPlatform> platform = nullptr);
    ~CFMRawMapping() override;

    // Contacts no Capability Manager and ignores its arguments.
    HRESULT Init(BSTR deviceUid, BSTR imei) override;
    HRESULT MapPath(BSTR* virtualPath, BSTR* realPath) override;
    HRESULT UnMapPath(BSTR* realPath, BSTR* virtualPath) override;

    bool IsInitialized() const override { return m_bRawInitialized; }

private:
    bool m_bRawInitialized = false;
};
