// What files and folders share as outer objects of an FMObjectImpl: creating
// and releasing the inner object, forwarding the common slots to it, and the
// checks and posting every operation-starting method makes.
#pragma once

#include <cstddef>
#include <type_traits>

#include "com/ComDispatch.h"
#include "com/ComObject.h"
#include "module/Interfaces.h"
#include "module/Logging.h"
#include "objects/FMObjectImpl.h"
#include "operations/AsynchOperation.h"

// Name on the PC for CopyToPC/MoveToPC: pcName, or the object's own name when
// none is given; refused unless it is one valid name (it never leaves pcFolder).
HRESULT PcTargetName(FMObjectImpl* object, BSTR pcFolder, BSTR pcName, com::UniqueBstr& name);

// PC target of CopyToPC/MoveToPC: the PC folder with one backslash appended,
// normalised, then the PC name unchanged.
HRESULT MakePcTargetPath(BSTR pcFolder, BSTR pcName, com::UniqueBstr& target);

// Interlocked counting: the operations hold the object from the worker thread.
template <class Iface>
class CFMObjectOuter : public com::ComObjectRoot<com::MultiThreadModel>,
                       public com::DispatchImpl<Iface, &LIBID_KVFileMgmtLib> {
public:
    // Common slots the inner object serves for every kind.
    STDMETHOD(get_Name)(BSTR* name) override { return m_pImpl->get_Name(name); }
    STDMETHOD(get_Parent)(IKVFMFolder** parent) override { return m_pImpl->get_Parent(parent); }
    STDMETHOD(get_Created)(DATE* time) override { return m_pImpl->get_Created(time); }
    STDMETHOD(get_Accessed)(DATE* time) override { return m_pImpl->get_Accessed(time); }
    STDMETHOD(get_Changed)(DATE* time) override { return m_pImpl->get_Changed(time); }
    STDMETHOD(get_FileAttributes)(LONG* attributes) override { return m_pImpl->get_FileAttributes(attributes); }
    STDMETHOD(CopyTo)(IKVFMFolder*, BSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(MoveTo)(IKVFMFolder*, BSTR, LONG*) override { return E_NOTIMPL; }

    FMObjectImpl* Impl() const { return m_pImpl; }

protected:
    CFMObjectOuter() = default;
    ~CFMObjectOuter() = default;

    // FinalConstruct: the inner object, aggregated under the controlling unknown.
    HRESULT CreateInnerObject() {
        HRESULT hr = FMObjectImpl::CreateInner(this->ControllingUnknown(), &m_pInnerUnknown, &m_pImpl);
        if (FAILED(hr)) {
            LOG_ERROR << "Failed to create inner object FMObjectImpl";
            return hr;
        }
        if (!m_pInnerUnknown) {
            LOG_ERROR << "Failed to get inner unknown";
            return E_FAIL;
        }
        return S_OK;
    }

    void ReleaseInnerObject() {
        if (IUnknown* inner = m_pInnerUnknown) {
            m_pInnerUnknown = nullptr;
            m_pImpl = nullptr;
            inner->Release();
        }
    }

    // IConnectionPointContainer is the inner object's.
    static HRESULT ForwardToInner(void* object, REFIID iid, void** ppv, uintptr_t) {
        IUnknown* inner = static_cast<CFMObjectOuter*>(object)->m_pInnerUnknown;
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        return inner ? inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
    }

    // Steps shared by every operation-starting method once its own argument
    // checks are done: transaction-id argument, forbidden flag (0: none),
    // transaction id, creation and posting. create gets the id; beforeId (may
    // be empty) runs once the checks have passed, before the id is drawn; when
    // it returns an HRESULT, a failure ends the call without spending an id.
    template <class Create, class BeforeId = std::nullptr_t>
    HRESULT BeginOperation(const LogSite& site, LONG* transactionId, DWORD forbiddenFlag, Create create,
                           BeforeId beforeId = nullptr) noexcept {
        if (!transactionId) {
            KVLOG_AT(LOGLEVEL_ERROR, site) << "Invalid argument. Received NULL pointer for transaction ID.";
            return E_INVALIDARG;
        }
        if (forbiddenFlag && (m_pImpl->GetForbiddenOps() & forbiddenFlag)) {
            KVLOG_AT(LOGLEVEL_ERROR, site) << "Operation not allowed for this folder, configuration.";
            return E_ACCESSDENIED;
        }
        // An object a client created itself has no phone to work on; no id is spent on it.
        if (!m_pImpl->IsInitialized()) {
            KVLOG_AT(LOGLEVEL_ERROR, site) << "FMObject is not initialized";
            return E_FAIL;
        }
        if (!m_pImpl->BindingUsable()) return E_FAIL;
        HRESULT hr;
        try {
            if constexpr (std::is_same<BeforeId, std::nullptr_t>::value) {
                hr = S_OK;
            } else if constexpr (std::is_same<decltype(beforeId()), HRESULT>::value) {
                hr = beforeId();
            } else {
                beforeId();
                hr = S_OK;
            }
            if (SUCCEEDED(hr)) hr = StartAsynchOperation(site, m_pImpl->GetExecutor(), transactionId, create);
        } catch (...) {
            KVLOG_AT(LOGLEVEL_ERROR, site) << "Unhandled exception caught";
            return E_FAIL;
        }
        if (FAILED(hr)) return hr;
        KVLOG_AT(LOGLEVEL_TRACE, site) << "Exit";
        return S_OK;
    }

    // CopyToPC/MoveToPC: the name on the PC is checked after the transaction-id
    // argument and the forbidden flag, the PC target path formed once the id is
    // drawn, and the operation made by create.
    using ToPcCreate = HRESULT (*)(LONG, CAsynchOperationExecutor*, FMObjectImpl*, BSTR*, IAsynchOperation**);
    HRESULT BeginToPcOperation(const LogSite& site, BSTR pcFolder, BSTR pcName, LONG* transactionId,
                               DWORD forbiddenFlag, ToPcCreate create) noexcept {
        com::UniqueBstr name;
        FMObjectImpl* target = m_pImpl;
        CAsynchOperationExecutor* executor = m_pImpl->GetExecutor();
        return BeginOperation(
            site, transactionId, forbiddenFlag,
            [&](LONG id, IAsynchOperation** op) -> HRESULT {
                com::UniqueBstr pcPath;
                HRESULT made = MakePcTargetPath(pcFolder, name.Get(), pcPath);
                if (FAILED(made)) return made;
                BSTR path = pcPath.Get();
                return create(id, executor, target, &path, op);
            },
            [&]() -> HRESULT { return PcTargetName(target, pcFolder, pcName, name); });
    }

    IUnknown* m_pInnerUnknown = nullptr;  // non-delegating unknown of the inner object
    FMObjectImpl* m_pImpl = nullptr;
};
