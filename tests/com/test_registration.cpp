// Registration, class objects and unloading of Morvane.dll in the private prefix.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <map>
#include <string>
#include <vector>

#include "Morvane.h"
#include "com_test_util.h"

namespace {

struct ClassInfo {
    const CLSID* clsid;
    const wchar_t *clsidText, *progId, *threading;
    const IID* defaultIid;
    std::wstring Description() const { return std::wstring(progId).substr(8) + L" Class"; }
};

// The description is the ProgID's last part and " Class".
const ClassInfo kClasses[] = {
    {&CLSID_KVFileMgmtService, L"{8EE63AE3-2C61-4FA8-B1AF-DE9F7BAD49A9}", L"Morvane.KVFileMgmtService", L"Both", &IID_IKVFileMgmtService},
    {&CLSID_KVFileMgmt, L"{531D8228-9C6D-4541-BB8C-F80C821B45AD}", L"Morvane.KVFileMgmt", L"Both", &IID_IKVFileMgmt},
    {&CLSID_KVFile, L"{09C8B65D-67DF-4960-A857-A76A476E62C4}", L"Morvane.FMFile", L"Apartment", &IID_IKVFMFile},
    {&CLSID_KVFolder, L"{84513B5B-55ED-4619-BFCB-CFE4FA208A10}", L"Morvane.FMFolder", L"Apartment", &IID_IKVFMFolder},
    {&CLSID_KVMountPoint, L"{AB1D9277-25FD-450D-8B25-3C2F4D3B9468}", L"Morvane.FMMountPoint", L"Apartment", &IID_IKVFMMountPoint},
    {&CLSID_KVFMObjects, L"{A3FFB5EC-7B82-4B8F-B84C-1F55F4B303C8}", L"Morvane.FMObjects", L"Apartment", &IID_IKVFMObjects},
    {&CLSID_FMFiles, L"{A0020108-F5BF-4698-AD0D-71D34DE7E43B}", L"Morvane.FMFiles", L"Apartment", &IID_IKVFMFiles},
    {&CLSID_FMFolders, L"{6E7583C0-66FB-4CCE-806E-1C3CD41D1A0A}", L"Morvane.FMFolders", L"Apartment", &IID_IKVFMFolders},
};

const wchar_t kAppId[] = L"{91ABE3C0-545A-48C6-96EB-4C4AF193C179}";
const wchar_t kLibId[] = L"{BF1BBB01-820D-459D-B637-2F2DB2647006}";

// Every key and value the server owns, flattened to "key|name=value" lines.
std::map<std::wstring, std::wstring> SnapshotServerKeys() {
    std::map<std::wstring, std::wstring> out;
    std::vector<std::wstring> roots = {std::wstring(L"AppID\\") + kAppId, L"AppID\\Tessal.DLL",
                                       std::wstring(L"TypeLib\\") + kLibId};
    for (const auto& c : kClasses) {
        roots.push_back(c.progId);
        roots.push_back(std::wstring(c.progId) + L".1");
        roots.push_back(std::wstring(L"CLSID\\") + c.clsidText);
    }
    for (const auto& r : roots) comtest::DumpKey(HKEY_CLASSES_ROOT, r, out);
    return out;
}

class Registration : public ::testing::Test {
protected:
    void TearDown() override {
        // Leave the prefix registered for the other tests.
        EXPECT_EQ(0u, comtest::RunRegsvr32(false));
    }
};

TEST_F(Registration, WritesExactlyTheServerKeysAndIsRepeatable) {
    ASSERT_EQ(0u, comtest::RunRegsvr32(false));
    const std::wstring dll = comtest::DllWindowsPath();
    auto keys = SnapshotServerKeys();
    EXPECT_EQ(L"Morvane", keys[std::wstring(L"AppID\\") + kAppId + L"|"]);
    EXPECT_EQ(kAppId, keys[L"AppID\\Tessal.DLL|AppID"]);
    for (const auto& c : kClasses) {
        const std::wstring p = c.progId, k = std::wstring(L"CLSID\\") + c.clsidText, description = c.Description();
        SCOPED_TRACE(comtest::Narrow(p));
        EXPECT_EQ(description, keys[p + L".1|"]);
        EXPECT_EQ(c.clsidText, keys[p + L".1\\CLSID|"]);
        EXPECT_EQ(description, keys[p + L"|"]);
        EXPECT_EQ(c.clsidText, keys[p + L"\\CLSID|"]);
        EXPECT_EQ(p + L".1", keys[p + L"\\CurVer|"]);
        EXPECT_EQ(description, keys[k + L"|"]);
        EXPECT_EQ(kAppId, keys[k + L"|AppID"]);
        EXPECT_EQ(p + L".1", keys[k + L"\\ProgID|"]);
        EXPECT_EQ(p, keys[k + L"\\VersionIndependentProgID|"]);
        EXPECT_EQ(0, _wcsicmp(dll.c_str(), keys[k + L"\\InprocServer32|"].c_str()));
        EXPECT_EQ(c.threading, keys[k + L"\\InprocServer32|ThreadingModel"]);
        EXPECT_EQ(kLibId, keys[k + L"\\TypeLib|"]);
        // Nothing beyond the listed keys and values under the class key, and the key Programmable without a value.
        size_t under = 0;
        for (const auto& kv : keys) under += kv.first.compare(0, k.size(), k) == 0;
        EXPECT_EQ(13u, under);
    }
    EXPECT_EQ(L"Morvane 1.0 Type Library", keys[std::wstring(L"TypeLib\\") + kLibId + L"\\1.0|"]);
    ASSERT_EQ(0u, comtest::RunRegsvr32(false));
    EXPECT_EQ(keys, SnapshotServerKeys());
}

TEST_F(Registration, UnregisterRemovesServerKeysButKeepsSharedRoots) {
    ASSERT_EQ(0u, comtest::RunRegsvr32(false));
    ASSERT_EQ(0u, comtest::RunRegsvr32(true));
    EXPECT_TRUE(SnapshotServerKeys().empty());
    EXPECT_TRUE(comtest::KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
    EXPECT_TRUE(comtest::KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    // The framework's interface registrations are not ours to remove.
    EXPECT_TRUE(comtest::KeyExists(HKEY_CLASSES_ROOT, L"Interface\\{D5A00001-2A48-11D8-82E6-00065BC36845}"));
    EXPECT_TRUE(comtest::KeyExists(HKEY_CLASSES_ROOT, L"Interface\\{D5A00521-2A48-11D8-82E6-00065BC36845}"));
    // Unregistering what is gone already still succeeds.
    EXPECT_EQ(0u, comtest::RunRegsvr32(true));
}

class ClassObjects : public comtest::ComTest {};

// What the ProgIDs name is in the registration test.
TEST_F(ClassObjects, EveryClassIsCreatableWithItsDefaultInterfaceAsDispatch) {
    for (const auto& c : kClasses) {
        SCOPED_TRACE(comtest::Narrow(c.progId));
        com::ComPtr<IUnknown> unk;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                  unk.ReceiveVoid()));
        com::ComPtr<IUnknown> iface;
        EXPECT_HRESULT_SUCCEEDED(unk->QueryInterface(*c.defaultIid, iface.ReceiveVoid()));
        com::ComPtr<IDispatch> dispatch;
        ASSERT_HRESULT_SUCCEEDED(unk->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid()));
        // IDispatch is the default interface's own pointer.
        EXPECT_EQ(static_cast<void*>(iface.Get()), static_cast<void*>(dispatch.Get()));
    }
}

TEST_F(ClassObjects, UnknownClassAndAggregationRules) {
    comtest::DirectDll dll;
    ASSERT_TRUE(dll.Loaded());
    com::ComPtr<IClassFactory> factory;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, dll.GetClassObject(IID_IClassFactory, IID_IClassFactory, factory.ReceiveVoid()));
    ASSERT_HRESULT_SUCCEEDED(dll.GetClassObject(CLSID_KVFileMgmtService, IID_IClassFactory, factory.ReceiveVoid()));
    comtest::Outer outer;
    com::ComPtr<IUnknown> inner;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IKVFileMgmtService, inner.ReceiveVoid()));
    ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(&outer, IID_IUnknown, inner.ReceiveVoid()));
    com::ComPtr<IKVFileMgmtService> service;
    ASSERT_HRESULT_SUCCEEDED(inner->QueryInterface(IID_IKVFileMgmtService, service.ReceiveVoid()));
    // The aggregated object's interfaces count on the outer object.
    LONG before = outer.refs;
    service->AddRef();
    EXPECT_EQ(before + 1, outer.refs);
    service->Release();
    com::ComPtr<IUnknown> identity;
    ASSERT_HRESULT_SUCCEEDED(service->QueryInterface(IID_IUnknown, identity.ReceiveVoid()));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.Get());
}

TEST_F(ClassObjects, CanUnloadOnlyWithoutObjectsAndLocks) {
    comtest::DirectDll dll;
    ASSERT_TRUE(dll.Loaded());
    EXPECT_EQ(S_OK, dll.CanUnloadNow());
    {
        com::ComPtr<IClassFactory> factory;
        ASSERT_HRESULT_SUCCEEDED(dll.GetClassObject(CLSID_FMFiles, IID_IClassFactory, factory.ReceiveVoid()));
        EXPECT_EQ(S_FALSE, dll.CanUnloadNow());  // a client's factory reference
        factory.Reset();
        EXPECT_EQ(S_OK, dll.CanUnloadNow());

        ASSERT_HRESULT_SUCCEEDED(dll.GetClassObject(CLSID_FMFiles, IID_IClassFactory, factory.ReceiveVoid()));
        com::ComPtr<IUnknown> object;
        ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_IUnknown, object.ReceiveVoid()));
        ASSERT_HRESULT_SUCCEEDED(factory->LockServer(TRUE));
        factory.Reset();
        EXPECT_EQ(S_FALSE, dll.CanUnloadNow());
        object.Reset();
        EXPECT_EQ(S_FALSE, dll.CanUnloadNow());  // the lock alone
        ASSERT_HRESULT_SUCCEEDED(dll.GetClassObject(CLSID_FMFiles, IID_IClassFactory, factory.ReceiveVoid()));
        ASSERT_HRESULT_SUCCEEDED(factory->LockServer(FALSE));
    }
    EXPECT_EQ(S_OK, dll.CanUnloadNow());
    // A service owns a worker thread; releasing it must also bring the count to 0.
    {
        com::ComPtr<IClassFactory> factory;
        ASSERT_HRESULT_SUCCEEDED(dll.GetClassObject(CLSID_KVFileMgmtService, IID_IClassFactory, factory.ReceiveVoid()));
        com::ComPtr<IKVFileMgmtService> service;
        ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_IKVFileMgmtService, service.ReceiveVoid()));
        com::ComPtr<IKVFileMgmt> fileMgmt;
        ASSERT_HRESULT_SUCCEEDED(service->CreateFileMgmt(fileMgmt.Receive()));
        factory.Reset();
        service.Reset();
        EXPECT_EQ(S_FALSE, dll.CanUnloadNow());  // the file management object keeps the service
        fileMgmt.Reset();
    }
    EXPECT_EQ(S_OK, dll.CanUnloadNow());
}

} // namespace
