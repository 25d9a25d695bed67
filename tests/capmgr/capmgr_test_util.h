// Helpers for tests of the registered Capability Manager.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "CapMgr.h"
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

// As the system creates it: context 0x17 asking IUnknown, OleRun, then ICapMgr.
inline HRESULT CreateAsTheSystemDoes(com::ComPtr<ICapMgr>& out) {
    com::ComPtr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(CLSID_CapMgr, nullptr, 0x17, IID_IUnknown, unknown.ReceiveVoid());
    if (SUCCEEDED(hr)) hr = OleRun(unknown.Get());
    if (SUCCEEDED(hr)) hr = unknown.As(out, IID_ICapMgr);
    return hr;
}

// A single-threaded apartment, no configuration and a Capability Manager.
class CapMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        UseConfig(L"");
        ASSERT_HRESULT_SUCCEEDED(CreateAsTheSystemDoes(capMgr));
    }
    void TearDown() override {
        capMgr = nullptr;
        CoUninitialize();
    }
    com::ComPtr<ICapMgr> capMgr;
};

// A uniquely named temporary file, or a folder with files, removed at the end.
class TempPlace {
public:
    explicit TempPlace(bool folder = false) : m_folder(folder) {
        wchar_t dir[MAX_PATH], file[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        GetTempFileNameW(dir, L"cap", 0, file);
        m_path = file;
        if (folder) {
            DeleteFileW(file);
            CreateDirectoryW(file, nullptr);
        }
    }
    ~TempPlace() {
        for (const auto& name : m_names) DeleteFileW((m_path + L"\\" + name).c_str());
        if (m_folder) RemoveDirectoryW(m_path.c_str());
        else DeleteFileW(m_path.c_str());
    }
    const std::wstring& Path() const { return m_path; }
    // Writes text to the file, or to name inside the folder.
    void Write(const std::string& text, const wchar_t* name = nullptr) {
        if (name) m_names.push_back(name);
        HANDLE file = CreateFileW(name ? (m_path + L"\\" + name).c_str() : m_path.c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
        ASSERT_EQ(text.size(), written);
    }

private:
    std::wstring m_path;
    bool m_folder;
    std::vector<std::wstring> m_names;
};

// A Query answer, read in both index orders a caller may use.
struct Answer {
    HRESULT hr;
    long error;
    VARTYPE vt;
    UINT dims = 0;
    LONG lower = -1, upper = -1;
    std::vector<std::wstring> byRow;    // indices {i, 1}
    std::vector<std::wstring> literal;  // indices {1, i}
    std::wstring unreadRow;             // indices {upper, 1}
};

inline std::wstring Cell(SAFEARRAY* array, LONG first, LONG second) {
    LONG indices[2] = {first, second};
    com::UniqueVariant v;
    if (FAILED(SafeArrayGetElement(array, indices, v.Get()))) return L"<bad index>";
    if (v->vt != VT_BSTR) return L"<vt " + std::to_wstring(v->vt) + L">";
    return std::wstring(v->bstrVal, SysStringLen(v->bstrVal));
}

inline Answer ReadAnswer(HRESULT hr, long error, VARIANT& result) {
    Answer a{hr, error, result.vt};
    if (result.vt == (VT_ARRAY | VT_VARIANT) && result.parray) {
        a.dims = SafeArrayGetDim(result.parray);
        SafeArrayGetLBound(result.parray, 1, &a.lower);
        SafeArrayGetUBound(result.parray, 1, &a.upper);
        for (LONG i = a.lower; i < a.upper; ++i) {
            a.byRow.push_back(Cell(result.parray, i, 1));
            a.literal.push_back(Cell(result.parray, 1, i));
        }
        a.unreadRow = Cell(result.parray, a.upper, 1);
    }
    VariantClear(&result);
    return a;
}

inline Answer Ask(ICapMgr* capMgr, const std::wstring& query, const wchar_t* imei = L"") {
    com::UniqueBstr q(query.c_str()), i(imei);
    VARIANT result;
    VariantInit(&result);
    long error = -1;
    HRESULT hr = capMgr->Query(i.Get(), q.Get(), &result, &error);
    return ReadAnswer(hr, error, result);
}

// S_OK and no error; VT_EMPTY for no rows, else two dimensions with the rows
// from lower bound 0 and an empty row at upper bound N.
inline void ExpectRows(const Answer& a, const std::vector<std::wstring>& rows) {
    EXPECT_EQ(S_OK, a.hr);
    EXPECT_EQ(0, a.error);
    if (rows.empty()) {
        EXPECT_EQ(VT_EMPTY, a.vt);
        return;
    }
    ASSERT_EQ(VT_ARRAY | VT_VARIANT, a.vt);
    EXPECT_EQ(2u, a.dims);
    EXPECT_EQ(0, a.lower);
    EXPECT_EQ(a.lower + static_cast<LONG>(rows.size()), a.upper);
    EXPECT_EQ(rows, a.byRow);
    EXPECT_EQ(rows, a.literal);
    EXPECT_EQ(L"<vt 0>", a.unreadRow);
}

inline void ExpectError(const Answer& a, long error) {
    EXPECT_EQ(error, a.error);
    EXPECT_EQ(static_cast<HRESULT>(0x80040200L + error), a.hr);
    EXPECT_EQ(VT_EMPTY, a.vt);
}

} // namespace captest
