// Fakes shared by the mapping tests: a Capability Manager answering from a
// table of expressions, a machine with a chosen drive list, and a log capture.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "com/ComUtil.h"
#include "mapping/FolderMapping.h"
#include "vnlog/LogManager.h"
#include "../support/log_capture.h"

namespace mapping_test {

using testlog::LogCapture;

// One answer of the fake Capability Manager.
struct Answer {
    enum class Shape { Rows, Empty, Custom };
    Shape shape = Shape::Rows;
    HRESULT hr = S_OK;
    long error = 0;
    // Cells of column 1, one per match; nullopt leaves the cell VT_EMPTY.
    std::vector<std::optional<std::wstring>> rows;
    LONG lower = 0;
    LONG columns = 2;
    // Shape::Custom: builds the result variant itself.
    std::function<void(VARIANT*)> custom;

    static Answer Of(std::vector<std::optional<std::wstring>> cells) {
        Answer a;
        a.rows = std::move(cells);
        return a;
    }
    static Answer None() {
        Answer a;
        a.shape = Shape::Empty;
        return a;
    }
    static Answer Failing(HRESULT hr) {
        Answer a;
        a.hr = hr;
        return a;
    }
    static Answer WithError(long error, std::vector<std::optional<std::wstring>> cells) {
        Answer a = Of(std::move(cells));
        a.error = error;
        return a;
    }
};

// The rows as the replacement component lays them out: the first dimension
// (index 0 of SafeArrayPutElement's index array) counts the matches plus one
// unused row at the upper bound; column 1 holds the value.
inline SAFEARRAY* BuildRows(const Answer& a) {
    SAFEARRAYBOUND bounds[2];
    bounds[0].cElements = static_cast<ULONG>(a.rows.size() + 1);
    bounds[0].lLbound = a.lower;
    bounds[1].cElements = static_cast<ULONG>(a.columns);
    bounds[1].lLbound = 0;
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
    auto put = [array](LONG row, LONG column, const wchar_t* text) {
        LONG index[2] = {row, column};
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
        SafeArrayPutElement(array, index, &v);
        VariantClear(&v);
    };
    for (size_t i = 0; i < a.rows.size(); ++i) {
        const LONG row = a.lower + static_cast<LONG>(i);
        put(row, 0, L"column0");  // never read
        if (a.rows[i] && a.columns > 1) put(row, 1, a.rows[i]->c_str());
    }
    // The unused row at the upper bound.
    if (a.columns > 1) put(a.lower + static_cast<LONG>(a.rows.size()), 1, L"upper-bound-row");
    return array;
}

class FakeCapMgr : public ICapMgr, public IRunnableObject {
public:
    LONG refs = 0;
    bool answersCapMgr = true;
    HRESULT runResult = S_OK;
    std::vector<std::string> events;  // "Run", "QI ICapMgr"
    std::vector<std::wstring> asked;
    std::vector<std::wstring> imeis;
    std::map<std::wstring, Answer> answers;
    // Consulted for expressions without an answer of their own.
    std::function<std::optional<Answer>(const std::wstring&)> fallback;

    void Set(const std::wstring& expression, Answer answer) { answers[expression] = std::move(answer); }
    void Set(const std::wstring& expression, std::vector<std::optional<std::wstring>> cells) {
        answers[expression] = Answer::Of(std::move(cells));
    }
    // Answered expressions that nobody asked: a misspelt template leaves one.
    std::vector<std::wstring> Unasked() const {
        std::vector<std::wstring> out;
        for (const auto& a : answers)
            if (std::find(asked.begin(), asked.end(), a.first) == asked.end()) out.push_back(a.first);
        return out;
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *ppv = static_cast<ICapMgr*>(this);
        } else if (IsEqualIID(iid, IID_ICapMgr)) {
            events.push_back("QI ICapMgr");
            if (answersCapMgr) *ppv = static_cast<ICapMgr*>(this);
        } else if (IsEqualIID(iid, IID_IRunnableObject)) {
            *ppv = static_cast<IRunnableObject*>(this);
        }
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    // IDispatch: not used by the mappings.
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    // ICapMgr
    STDMETHODIMP Query(BSTR imei, BSTR query, VARIANT* result, long* error) override {
        imeis.emplace_back(imei ? imei : L"");
        asked.emplace_back(query ? query : L"");
        VariantInit(result);
        *error = 0;
        std::optional<Answer> found;
        auto it = answers.find(asked.back());
        if (it != answers.end()) found = it->second;
        else if (fallback) found = fallback(asked.back());
        if (!found) return S_OK;  // no match: VT_EMPTY
        *error = found->error;
        if (found->shape == Answer::Shape::Custom) found->custom(result);
        else if (found->shape == Answer::Shape::Rows) {
            result->vt = VT_ARRAY | VT_VARIANT;
            result->parray = BuildRows(*found);
        }
        return found->hr;
    }
    // IRunnableObject: OleRun starts the object through Run.
    STDMETHODIMP GetRunningClass(LPCLSID) override { return E_NOTIMPL; }
    STDMETHODIMP Run(LPBINDCTX) override {
        events.push_back("Run");
        return runResult;
    }
    STDMETHODIMP_(BOOL) IsRunning() override { return TRUE; }
    STDMETHODIMP LockRunning(BOOL, BOOL) override { return S_OK; }
    STDMETHODIMP SetContainedObject(BOOL) override { return S_OK; }
};

struct FakeDrive {
    std::wstring root;  // "F:\"
    UINT type = DRIVE_REMOVABLE;
    DWORD serial = 0;
    bool volumeFails = false;
};

// The machine: creation of the Capability Manager and the drive list.
class FakePlatform : public MappingPlatform {
public:
    FakeCapMgr* capMgr = nullptr;
    HRESULT createResult = S_OK;
    enum class Throw { No, ComError, Other } throws = Throw::No;
    int creations = 0;
    CLSID createdClsid = GUID_NULL;
    DWORD createdContext = 0;
    IID createdIid = GUID_NULL;
    std::vector<FakeDrive> drives;
    bool driveStringsFail = false;
    bool realDrives = false;  // the machine's own drives instead of the list

    HRESULT CreateObject(REFCLSID clsid, DWORD context, REFIID iid, void** out) override {
        ++creations;
        createdClsid = clsid;
        createdContext = context;
        createdIid = iid;
        *out = nullptr;
        if (throws == Throw::ComError) throw _com_error(REGDB_E_CLASSNOTREG);
        if (throws == Throw::Other) throw 42;
        if (FAILED(createResult)) return createResult;
        return capMgr ? capMgr->QueryInterface(iid, out) : REGDB_E_CLASSNOTREG;
    }
    DWORD LogicalDriveStrings(DWORD length, wchar_t* buffer) override {
        if (realDrives) return MappingPlatform::LogicalDriveStrings(length, buffer);
        if (driveStringsFail) return 0;
        std::wstring all;
        for (const FakeDrive& d : drives) {
            all += d.root;
            all += L'\0';
        }
        if (all.size() + 1 > length) return static_cast<DWORD>(all.size() + 1);
        std::copy(all.begin(), all.end(), buffer);
        buffer[all.size()] = L'\0';
        return static_cast<DWORD>(all.size());
    }
    UINT DriveType(const wchar_t* root) override {
        if (realDrives) return MappingPlatform::DriveType(root);
        const FakeDrive* d = find(root);
        return d ? d->type : DRIVE_NO_ROOT_DIR;
    }
    BOOL VolumeInformation(const wchar_t* root, wchar_t* volumeName, DWORD volumeNameLength, DWORD* serialNumber,
                           DWORD* maxComponentLength, DWORD* fileSystemFlags, wchar_t* fileSystemName,
                           DWORD fileSystemNameLength) override {
        if (realDrives)
            return MappingPlatform::VolumeInformation(root, volumeName, volumeNameLength, serialNumber,
                                                      maxComponentLength, fileSystemFlags, fileSystemName,
                                                      fileSystemNameLength);
        const FakeDrive* d = find(root);
        if (!d || d->volumeFails) {
            SetLastError(ERROR_NOT_READY);
            return FALSE;
        }
        wcsncpy(volumeName, L"CARD", volumeNameLength);
        wcsncpy(fileSystemName, L"FAT32", fileSystemNameLength);
        *serialNumber = d->serial;
        *maxComponentLength = 255;
        *fileSystemFlags = 0;
        return TRUE;
    }

private:
    const FakeDrive* find(const wchar_t* root) const {
        for (const FakeDrive& d : drives)
            if (d.root == root) return &d;
        return nullptr;
    }
};

// A path result: the HRESULT and the text (nullopt when the result was null).
struct PathResult {
    HRESULT hr;
    std::optional<std::wstring> path;
};

// Calls MapPath or UnMapPath; the out value starts non-null so that a result
// left unset shows.
inline PathResult Translate(CFolderMapping& mapping, const std::wstring& in, bool toReal) {
    com::UniqueBstr input(in.c_str(), static_cast<UINT>(in.size()));
    BSTR inputBstr = input.Get();
    BSTR out = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x1));
    const HRESULT hr = toReal ? mapping.MapPath(&inputBstr, &out) : mapping.UnMapPath(&inputBstr, &out);
    PathResult r{hr, std::nullopt};
    if (out == reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x1))) {
        r.path = L"<unset>";
        return r;
    }
    if (out) {
        r.path = std::wstring(out, SysStringLen(out));
        SysFreeString(out);
    }
    return r;
}
inline PathResult Map(CFolderMapping& m, const std::wstring& virtualPath) { return Translate(m, virtualPath, true); }
inline PathResult UnMap(CFolderMapping& m, const std::wstring& realPath) { return Translate(m, realPath, false); }

inline DWORD FolderOps(CFolderMapping& m, const wchar_t* path) {
    com::UniqueBstr p(path);
    BSTR b = p.Get();
    return m.getForbidFolderOps(&b);
}
inline DWORD FileOps(CFolderMapping& m, const wchar_t* path) {
    com::UniqueBstr p(path);
    BSTR b = p.Get();
    return m.getForbidFileOps(&b);
}

// Runs Init with BSTR copies of the arguments (null stays null).
inline HRESULT InitMapping(CFolderMapping& m, const wchar_t* uid, const wchar_t* imei) {
    com::UniqueBstr u(uid), i(imei);
    return m.Init(u.Get(), i.Get());
}

// A test fixture with COM, a log capture and the fakes wired together.
class MappingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        platform = std::make_shared<FakePlatform>();
        platform->capMgr = &capMgr;
    }
    void TearDown() override { CoUninitialize(); }

    LogCapture log;
    FakeCapMgr capMgr;
    std::shared_ptr<FakePlatform> platform;
};

// Prefix of the folder mapping queries for device "dev1".
inline const std::wstring kP = L"//devices/device[@uid=\"dev1\"]/foldermapping/";

} // namespace mapping_test
