// Unit fakes: a Capability Manager answering from a table, a machine with a
// chosen drive list, an outer object for the aggregated part, an event sink,
// a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "com/ComUtil.h"
#include "Morvane.h"
#include "mapping/FolderMapping.h"
#include "objects/FMObjectImpl.h"

// The IDispatch members a fake without type information answers E_NOTIMPL.
#define UNIT_NO_TYPEINFO                                                                                       \
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }                                         \
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }                            \
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

namespace mapping_test {

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

    static Answer Of(std::vector<std::optional<std::wstring>> cells) { return {Shape::Rows, S_OK, 0, std::move(cells)}; }
    static Answer None() { return {Shape::Empty}; }
    static Answer Failing(HRESULT hr) { return {Shape::Rows, hr}; }
    static Answer WithError(long error, std::vector<std::optional<std::wstring>> cells) {
        return {Shape::Rows, S_OK, error, std::move(cells)};
    }
    static Answer Made(std::function<void(VARIANT*)> make) { return {Shape::Custom, S_OK, 0, {}, 0, 2, std::move(make)}; }
};

// Rows as the real component lays them out: matches plus one unused row at the
// upper bound; column 1 holds the value.
inline SAFEARRAY* BuildRows(const Answer& a) {
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(a.rows.size() + 1), a.lower}, {static_cast<ULONG>(a.columns), 0}};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
    auto put = [array](LONG row, LONG column, const wchar_t* text) {
        LONG index[2] = {row, column};
        com::UniqueVariant v;
        v->vt = VT_BSTR, v->bstrVal = SysAllocString(text);
        SafeArrayPutElement(array, index, v.Get());
    };
    for (size_t i = 0; i < a.rows.size(); ++i) {
        const LONG row = a.lower + static_cast<LONG>(i);
        put(row, 0, L"column0");  // never read
        if (a.rows[i] && a.columns > 1) put(row, 1, a.rows[i]->c_str());
    }
    if (a.columns > 1) put(a.lower + static_cast<LONG>(a.rows.size()), 1, L"upper-bound-row");
    return array;
}

class FakeCapMgr : public ICapMgr, public IRunnableObject {
public:
    LONG refs = 0;
    bool answersCapMgr = true;
    HRESULT runResult = S_OK;
    std::vector<std::string> events;  // "Run", "QI ICapMgr"
    std::vector<std::wstring> imeis;
    std::map<std::wstring, Answer> answers;
    std::function<std::optional<Answer>(const std::wstring&)> fallback;

    void Set(const std::wstring& expression, Answer answer) { answers[expression] = std::move(answer); }
    void Set(const std::wstring& expression, std::vector<std::optional<std::wstring>> cells) { Set(expression, Answer::Of(cells)); }
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
    UNIT_NO_TYPEINFO
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP Query(BSTR imei, BSTR query, VARIANT* result, long* error) override {
        imeis.emplace_back(imei ? imei : L"");
        const std::wstring asked = query ? query : L"";
        VariantInit(result);
        *error = 0;
        std::optional<Answer> found;
        if (answers.count(asked)) found = answers[asked];
        else if (fallback) found = fallback(asked);
        if (!found) return S_OK;  // no match: VT_EMPTY
        *error = found->error;
        if (found->shape == Answer::Shape::Custom) found->custom(result);
        else if (found->shape == Answer::Shape::Rows) result->vt = VT_ARRAY | VT_VARIANT, result->parray = BuildRows(*found);
        return found->hr;
    }
    // OleRun starts the object through Run.
    STDMETHODIMP Run(LPBINDCTX) override { return events.push_back("Run"), runResult; }
    STDMETHODIMP GetRunningClass(LPCLSID) override { return E_NOTIMPL; }
    STDMETHODIMP_(BOOL) IsRunning() override { return TRUE; }
    STDMETHODIMP LockRunning(BOOL, BOOL) override { return S_OK; }
    STDMETHODIMP SetContainedObject(BOOL) override { return S_OK; }
};

struct FakeDrive { std::wstring root; UINT type; DWORD serial; bool volumeFails = false; };

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

    HRESULT CreateObject(REFCLSID clsid, DWORD context, REFIID iid, void** out) override {
        ++creations, createdClsid = clsid, createdContext = context, createdIid = iid, *out = nullptr;
        if (throws == Throw::ComError) throw _com_error(REGDB_E_CLASSNOTREG);
        if (throws == Throw::Other) throw 42;
        if (FAILED(createResult)) return createResult;
        return capMgr ? capMgr->QueryInterface(iid, out) : REGDB_E_CLASSNOTREG;
    }
    DWORD LogicalDriveStrings(DWORD length, wchar_t* buffer) override {
        if (driveStringsFail) return 0;
        std::wstring all;
        for (const FakeDrive& d : drives) all += d.root + L'\0';
        if (all.size() + 1 > length) return static_cast<DWORD>(all.size() + 1);
        std::copy(all.begin(), all.end(), buffer);
        buffer[all.size()] = L'\0';
        return static_cast<DWORD>(all.size());
    }
    UINT DriveType(const wchar_t* root) override {
        const FakeDrive* d = find(root);
        return d ? d->type : DRIVE_NO_ROOT_DIR;
    }
    BOOL VolumeInformation(const wchar_t* root, wchar_t* volumeName, DWORD volumeNameLength, DWORD* serialNumber,
                           DWORD* maxComponentLength, DWORD* fileSystemFlags, wchar_t* fileSystemName,
                           DWORD fileSystemNameLength) override {
        const FakeDrive* d = find(root);
        if (!d || d->volumeFails) return SetLastError(ERROR_NOT_READY), FALSE;
        if (volumeName) wcsncpy(volumeName, L"CARD", volumeNameLength);
        if (fileSystemName) wcsncpy(fileSystemName, L"FAT32", fileSystemNameLength);
        if (serialNumber) *serialNumber = d->serial;
        return TRUE;
    }

private:
    const FakeDrive* find(const wchar_t* root) const {
        for (const FakeDrive& d : drives)
            if (d.root == root) return &d;
        return nullptr;
    }
};

// nullopt when the result was null.
struct PathResult { HRESULT hr; std::optional<std::wstring> path; };

// The out value starts non-null so that a result left unset shows.
inline PathResult Translate(CFolderMapping& mapping, const std::wstring& in, bool toReal) {
    com::UniqueBstr input(in.c_str(), static_cast<UINT>(in.size()));
    BSTR inputBstr = input.Get();
    BSTR out = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x1));
    const HRESULT hr = toReal ? mapping.MapPath(&inputBstr, &out) : mapping.UnMapPath(&inputBstr, &out);
    if (out == reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x1))) return {hr, L"<unset>"};
    PathResult r{hr, out ? std::optional<std::wstring>(std::wstring(out, SysStringLen(out))) : std::nullopt};
    SysFreeString(out);
    return r;
}
inline PathResult Map(CFolderMapping& m, const std::wstring& virtualPath) { return Translate(m, virtualPath, true); }
inline PathResult UnMap(CFolderMapping& m, const std::wstring& realPath) { return Translate(m, realPath, false); }

// A translation and its expected outcome; `out` nullopt when the result is null.
struct PathCase { bool toReal; const wchar_t* in; std::optional<std::wstring> out; HRESULT hr; };
inline void ExpectPaths(CFolderMapping& m, std::initializer_list<PathCase> cases) {
    for (const PathCase& c : cases) {
        const PathResult r = Translate(m, c.in, c.toReal);
        EXPECT_EQ(c.hr, r.hr) << testing::PrintToString(std::wstring(c.in));
        EXPECT_EQ(c.out, r.path) << testing::PrintToString(std::wstring(c.in));
    }
}

inline DWORD Ops(CFolderMapping& m, const wchar_t* path, bool folder) {
    com::UniqueBstr p(path);
    BSTR b = p.Get();
    return folder ? m.getForbidFolderOps(&b) : m.getForbidFileOps(&b);
}
inline HRESULT InitMapping(CFolderMapping& m, const wchar_t* uid, const wchar_t* imei) {
    com::UniqueBstr u(uid), i(imei);
    return m.Init(u.Get(), i.Get());
}

class MappingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        platform = std::make_shared<FakePlatform>();
        platform->capMgr = &capMgr;
    }
    void TearDown() override { CoUninitialize(); }

    FakeCapMgr capMgr;
    std::shared_ptr<FakePlatform> platform;
};

inline const std::wstring kP = L"//devices/device[@uid=\"dev1\"]/foldermapping/";

inline const std::wstring kApplicationSerial =
    LR"(/applications/application[@name="Ostrevin"]/device[@uid="dev1"]/massstorage/@serialnumber)";
inline const std::wstring kCardSerial = LR"(//devices/device[@uid="dev1"]/storage/media[@name="USBDevice"][@present="true"]/@id)";
inline const std::wstring kCardPath = LR"(//devices/device[@uid="dev1"]//storage/media[@name="USBDevice"]/@mountpoint)";

// The card is E:\ on the phone, shown as \Card\, with Photos named Pictures and
// the phone folder E:\Images\ mapped in as Imgs.
inline void ConfigureCard(FakeCapMgr& c, const std::wstring& serial = L"1234") {
    c.Set(kApplicationSerial, {serial});
    c.Set(kCardPath, {L"E:\\"});
    c.Set(kP + LR"(mountpoint[@realpath="E:\"]/@virtualpath)", {L"Card"});
    c.Set(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/subfolder/@realpath)", {L"Photos"});
    c.Set(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/subfolder[@realpath="Photos"]/@virtualname)", {L"Pictures"});
    c.Set(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/mappedfolder/@realpath)", {L"E:\\Images\\"});
    c.Set(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/mappedfolder[@realpath="E:\Images\"]/@virtualname)", {L"Imgs"});
}

} // namespace mapping_test

namespace unittest {

// Its own IUnknown, everything else from the inner.
class FMOuter final : public IUnknown {
public:
    static FMOuter* Create() {
        auto* outer = new FMOuter;
        outer->m_refs = 1;
        if (FAILED(FMObjectImpl::CreateInner(outer, &outer->m_inner, &outer->m_impl))) {
            delete outer;
            return nullptr;
        }
        return outer;
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (!IsEqualIID(iid, IID_IUnknown)) return m_inner->QueryInterface(iid, ppv);
        *ppv = this, AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG r = InterlockedDecrement(&m_refs);
        if (r == 0) {
            m_refs = 1;  // guards against the inner's releases re-entering
            m_inner->Release();
            delete this;
        }
        return r;
    }
    FMObjectImpl* Impl() const { return m_impl; }
    LONG Refs() const { return m_refs; }

private:
    LONG m_refs = 0;
    IUnknown* m_inner = nullptr;
    FMObjectImpl* m_impl = nullptr;
};

// A new folder under the temporary folder, removed with its content.
class ScratchFolder {
public:
    ScratchFolder() {
        static std::atomic<int> counter{0};
        m_path = (std::filesystem::temp_directory_path() / ("fl-" + std::to_string(GetCurrentProcessId()) + "-" +
                                                             std::to_string(counter++))).wstring();
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~ScratchFolder() { std::error_code ignored; std::filesystem::remove_all(std::filesystem::path(m_path), ignored); }
    const std::wstring& Path() const { return m_path; }
    // A folder when the name ends with a backslash, else an empty file.
    std::wstring Make(const std::wstring& relative) const {
        const std::wstring full = m_path + L"\\" + relative;
        if (relative.back() == L'\\') CreateDirectoryW(full.c_str(), nullptr);
        else CloseHandle(CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        return full;
    }

private:
    std::wstring m_path;
};

// A stack-held event sink recording every call with its arguments (last
// first); onInvoke may answer by reference and gives the result.
struct SinkEvent {
    DISPID id;
    WORD flags;
    LCID lcid;
    bool nullIid, noNamed, hasResult;
    std::vector<VARTYPE> types;
    std::vector<std::wstring> texts;
    std::vector<LONGLONG> numbers;  // I2, I4 and UI4
    std::vector<IDispatch*> objects;
    SHORT cancelSeen = -1;  // a by-reference I2 as it was when called
};

class RecordingSink : public IDispatch {
public:
    LONG refs = 0;
    std::vector<SinkEvent> events;
    std::function<HRESULT(DISPID, DISPPARAMS*)> onInvoke;

    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        *ppv = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, DIID__IKVFMFolderEvents))
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs); }
    UNIT_NO_TYPEINFO
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* p, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        SinkEvent e{id, flags, lcid, IsEqualIID(iid, IID_NULL) != 0, p->cNamedArgs == 0 && !p->rgdispidNamedArgs,
                    result != nullptr};
        for (UINT i = 0; i < p->cArgs; ++i) {
            const VARIANT& v = p->rgvarg[i];
            e.types.push_back(V_VT(&v));
            if (V_VT(&v) == VT_BSTR) e.texts.emplace_back(V_BSTR(&v) ? V_BSTR(&v) : L"");
            if (V_VT(&v) == VT_I2) e.numbers.push_back(V_I2(&v));
            if (V_VT(&v) == VT_I4) e.numbers.push_back(V_I4(&v));
            if (V_VT(&v) == VT_UI4) e.numbers.push_back(V_UI4(&v));
            if (V_VT(&v) == VT_DISPATCH) e.objects.push_back(V_DISPATCH(&v));
            if (V_VT(&v) == (VT_BYREF | VT_I2)) e.cancelSeen = *V_I2REF(&v);
        }
        events.push_back(e);
        return onInvoke ? onInvoke(id, p) : S_OK;
    }
};

} // namespace unittest
