// Helpers for tests that use Morvane.dll through COM.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <map>
#include <string>

#include "com/ComUtil.h"

#define EXPECT_FAILED(expr) EXPECT_TRUE(FAILED(expr)) << std::hex << (expr)

namespace comtest {

// Each test runs in a single-threaded apartment, as a client application would.
class ComTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { CoUninitialize(); }
};

std::wstring DllWindowsPath();
bool SamePath(const std::wstring& a, const std::wstring& b);
std::string Narrow(const std::wstring& s);

// regsvr32 /s [/u] on Morvane.dll; returns its exit code.
DWORD RunRegsvr32(bool unregister);

bool KeyExists(HKEY root, const std::wstring& subKey);
// Adds "key" for every key and "key|name" = text for every value below subKey.
void DumpKey(HKEY root, const std::wstring& subKey, std::map<std::wstring, std::wstring>& out);

// Morvane.dll loaded by LoadLibrary, its entry points called directly.
class DirectDll {
public:
    DirectDll();
    ~DirectDll();
    bool Loaded() const { return m_getClassObject && m_canUnloadNow; }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) { return m_getClassObject(clsid, iid, ppv); }
    HRESULT CanUnloadNow() { return m_canUnloadNow(); }

private:
    HMODULE m_module = nullptr;
    HRESULT(WINAPI* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* m_canUnloadNow)() = nullptr;
};

// A controlling unknown for aggregation tests; lives on the stack.
struct Outer : IUnknown {
    LONG refs = 1;
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
};

} // namespace comtest
