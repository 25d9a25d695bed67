// Helpers for tests against the registered Capability Manager.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <string>

#include "com/ComUtil.h"

namespace captest {

inline std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

inline void UseConfig(const std::wstring& place) {
    SetEnvironmentVariableW(L"MORVANE_CAPMGR_CONFIG", place.empty() ? nullptr : place.c_str());
}

inline std::wstring Sample(const wchar_t* name) {
    std::string dir = CAPMGR_SAMPLES;
    std::wstring path = L"Z:" + std::wstring(dir.begin(), dir.end()) + L"/" + name;
    for (auto& ch : path) ch = ch == L'/' ? L'\\' : ch;
    return path;
}

// A single-threaded apartment and no configuration.
class CapMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        UseConfig(L"");
    }
    void TearDown() override { CoUninitialize(); }
};

} // namespace captest
