// RAII owners for COM references, BSTRs, VARIANTs, SAFEARRAYs and handles.
// Out-parameters are filled through Receive(), which frees what was held first.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <string>
#include <utility>

namespace com {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    explicit ComPtr(T* p) : m_p(p) { if (m_p) m_p->AddRef(); }
    ComPtr(const ComPtr& o) : m_p(o.m_p) { if (m_p) m_p->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& o) { ComPtr(o).Swap(*this); return *this; }
    ComPtr& operator=(ComPtr&& o) noexcept { ComPtr(std::move(o)).Swap(*this); return *this; }
    ComPtr& operator=(std::nullptr_t) { Reset(); return *this; }

    // Takes over a reference the caller already owns.
    static ComPtr Adopt(T* p) { ComPtr r; r.m_p = p; return r; }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    T** Receive() { Reset(); return &m_p; }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    T* Detach() { T* p = m_p; m_p = nullptr; return p; }
    void Reset() { if (T* p = m_p) { m_p = nullptr; p->Release(); } }
    void Swap(ComPtr& o) noexcept { std::swap(m_p, o.m_p); }

    // Hands out a new reference; E_POINTER for a null out-parameter.
    HRESULT CopyTo(T** out) const {
        if (!out) return E_POINTER;
        *out = m_p;
        if (m_p) m_p->AddRef();
        return S_OK;
    }

    template <class U>
    HRESULT As(ComPtr<U>& out, REFIID iid) const {
        if (!m_p) return E_POINTER;
        return m_p->QueryInterface(iid, out.ReceiveVoid());
    }

private:
    T* m_p = nullptr;
};

class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(const wchar_t* s) : m_s(s ? SysAllocString(s) : nullptr) {}
    UniqueBstr(const wchar_t* s, UINT len) : m_s(SysAllocStringLen(s, len)) {}
    UniqueBstr(UniqueBstr&& o) noexcept : m_s(o.m_s) { o.m_s = nullptr; }
    UniqueBstr& operator=(UniqueBstr&& o) noexcept { if (this != &o) { Reset(); m_s = o.m_s; o.m_s = nullptr; } return *this; }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    ~UniqueBstr() { Reset(); }

    static UniqueBstr Adopt(BSTR s) { UniqueBstr r; r.m_s = s; return r; }

    BSTR Get() const { return m_s; }
    // Text for APIs that do not accept null: a null BSTR is the empty string.
    const wchar_t* c_str() const { return m_s ? m_s : L""; }
    UINT Length() const { return SysStringLen(m_s); }
    bool IsNull() const { return m_s == nullptr; }
    BSTR* Receive() { Reset(); return &m_s; }
    BSTR Detach() { BSTR s = m_s; m_s = nullptr; return s; }
    void Reset() { if (m_s) { SysFreeString(m_s); m_s = nullptr; } }
    // A new BSTR owned by the receiver (a null stays null).
    HRESULT CopyTo(BSTR* out) const {
        if (!out) return E_POINTER;
        if (!m_s) { *out = nullptr; return S_OK; }
        *out = SysAllocStringLen(m_s, SysStringLen(m_s));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    BSTR m_s = nullptr;
};

class UniqueVariant {
public:
    UniqueVariant() { VariantInit(&m_v); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { VariantClear(&m_v); }

    VARIANT* Get() { return &m_v; }
    const VARIANT* Get() const { return &m_v; }
    VARIANT* operator->() { return &m_v; }
    VARIANT* Receive() { VariantClear(&m_v); return &m_v; }
    void Reset() { VariantClear(&m_v); }
    // Moves the value out; the caller owns it.
    VARIANT Detach() { VARIANT v = m_v; VariantInit(&m_v); return v; }

private:
    VARIANT m_v;
};

class UniqueSafeArray {
public:
    UniqueSafeArray() = default;
    explicit UniqueSafeArray(SAFEARRAY* p) : m_p(p) {}
    UniqueSafeArray(UniqueSafeArray&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    UniqueSafeArray& operator=(UniqueSafeArray&& o) noexcept { if (this != &o) { Reset(); m_p = o.m_p; o.m_p = nullptr; } return *this; }
    UniqueSafeArray(const UniqueSafeArray&) = delete;
    UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;
    ~UniqueSafeArray() { Reset(); }

    SAFEARRAY* Get() const { return m_p; }
    SAFEARRAY** Receive() { Reset(); return &m_p; }
    SAFEARRAY* Detach() { SAFEARRAY* p = m_p; m_p = nullptr; return p; }
    void Reset() { if (m_p) { SafeArrayDestroy(m_p); m_p = nullptr; } }

private:
    SAFEARRAY* m_p = nullptr;
};

// Owns a kernel handle; null and INVALID_HANDLE_VALUE both mean "none".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : m_h(h) {}
    UniqueHandle(UniqueHandle&& o) noexcept : m_h(o.m_h) { o.m_h = nullptr; }
    UniqueHandle& operator=(UniqueHandle&& o) noexcept { if (this != &o) { Reset(); m_h = o.m_h; o.m_h = nullptr; } return *this; }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const { return m_h; }
    bool Valid() const { return m_h && m_h != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return Valid(); }
    HANDLE* Receive() { Reset(); return &m_h; }
    HANDLE Detach() { HANDLE h = m_h; m_h = nullptr; return h; }
    void Reset(HANDLE h = nullptr) { if (Valid()) CloseHandle(m_h); m_h = h; }

private:
    HANDLE m_h = nullptr;
};

// A critical section and its scoped holder.
class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CriticalSection() { DeleteCriticalSection(&m_cs); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Lock() { EnterCriticalSection(&m_cs); }
    void Unlock() { LeaveCriticalSection(&m_cs); }
    // For condition variables, which sleep on the section itself.
    CRITICAL_SECTION* Native() { return &m_cs; }

private:
    CRITICAL_SECTION m_cs;
};

class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& cs) : m_cs(cs) { m_cs.Lock(); }
    ~ScopedLock() { m_cs.Unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection& m_cs;
};

// Wide text in the ANSI code page, for log lines.
std::string ToAnsi(const wchar_t* s);
std::string GuidToString(REFGUID guid);

} // namespace com
