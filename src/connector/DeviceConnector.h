// The connector as the object model and the operations see it: virtual paths
// resolved to storage objects or to ready object-model objects, and the
// children of a virtual folder. Storage objects returned or appended belong to
// the caller; COM pointers carry one reference for the caller.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <list>
#include <memory>

#include "module/Interfaces.h"

class CFile;
class CFolder;
class CMountPoint;

// The state a connector shares with everything made under its bindings: the
// generation moves on at every Initialize, Uninitialize and at the
// connector's destruction; users counts the calls that are using a binding's
// connector and mappings right now, which the connector waits for before it
// tears a binding down.
struct BindingState {
    std::atomic<unsigned long> generation{0};
    std::atomic<long> users{0};
};

// Held for the length of a call that uses a binding: while one is held and
// valid, the binding it was taken on is not torn down.
class BindingLease {
public:
    BindingLease() = default;
    // Counts a user of state first, then asks still(): either the binding is
    // seen ended, or the one ending it sees this user and waits.
    template <class Still>
    BindingLease(std::shared_ptr<BindingState> state, Still still) : m_state(std::move(state)) {
        if (!m_state) {
            m_bValid = true;  // nothing to guard
            return;
        }
        ++m_state->users;
        m_bValid = still();
    }
    BindingLease(BindingLease&& o) noexcept : m_state(std::move(o.m_state)), m_bValid(o.m_bValid) {}
    BindingLease& operator=(BindingLease&&) = delete;
    BindingLease(const BindingLease&) = delete;
    ~BindingLease() {
        if (m_state) --m_state->users;
    }
    explicit operator bool() const { return m_bValid; }

    // Ends the current binding: new leases on it fail, and this returns once
    // the calls that hold one have returned.
    static void EndBinding(BindingState& state);

private:
    std::shared_ptr<BindingState> m_state;
    bool m_bValid = false;
};

// What an object keeps of the binding it was made under. Valid() tells,
// without touching the connector, whether the connector and its mappings may
// still be used; Lease() keeps them so for the length of a call. The guard
// also keeps the connector object itself alive (not its binding).
class BindingGuard {
public:
    BindingGuard() = default;
    BindingGuard(std::shared_ptr<BindingState> state, unsigned long generation,
                 std::shared_ptr<const void> keepAlive = nullptr)
        : m_state(std::move(state)), m_generation(generation), m_keepAlive(std::move(keepAlive)) {}
    bool Valid() const { return m_state && m_state->generation.load() == m_generation; }
    BindingLease Lease() const {
        if (!m_state) return BindingLease();
        return BindingLease(m_state, [this] { return Valid(); });
    }

private:
    std::shared_ptr<BindingState> m_state;
    unsigned long m_generation = 0;
    std::shared_ptr<const void> m_keepAlive;
};

class DeviceConnector {
public:
    virtual ~DeviceConnector() = default;
    virtual HRESULT getMountPoints(std::list<CMountPoint*>& mountPoints) = 0;
    virtual HRESULT getCFolder(BSTR& path, CFolder** folder) = 0;
    virtual HRESULT getCFile(BSTR& path, CFile** file) = 0;
    virtual HRESULT getKVFMFolder(BSTR& path, IKVFMFolder** folder) = 0;
    virtual HRESULT getKVFMFile(BSTR& path, IKVFMFile** file) = 0;
    virtual HRESULT getKVFMObjects(BSTR& path, std::list<IKVFMObject*>& objects) = 0;
    virtual HRESULT getKVFMFolders(BSTR& path, std::list<IKVFMFolder*>& folders) = 0;
    virtual HRESULT getKVFMFiles(BSTR& path, std::list<IKVFMFile*>& files) = 0;
    // The binding served now; a connector not tied to a phone binding has none
    // (objects made from it stay usable).
    virtual bool GetBinding(BindingGuard& binding) const { return false; }
};
