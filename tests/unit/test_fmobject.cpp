#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <mutex>
#include <string>
#include <vector>

#include <vnlog/LogManager.h>
#include "../support/log_capture.h"
#include "fm_outer.h"

#include "com/ComUtil.h"
#include "connector/DeviceConnector.h"
#include "connector/StorageObject.h"
#include "objects/FMObjectImpl.h"

namespace {

using com::ComPtr;
using com::UniqueBstr;

using LogLines = testlog::LogCapture;

using TestOuter = unittest::FMOuter;

class FakeStorage : public CStorageObject {
public:
    HRESULT PutAttributes(DWORD) override { return E_NOTIMPL; }
    HRESULT GetAttributes(DWORD* a) override { *a = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN; return S_OK; }
    HRESULT GetCreated(DATE* d) override { *d = 40000.25; return S_OK; }
    HRESULT GetAccessed(DATE* d) override { *d = 40001.5; return S_OK; }
    HRESULT GetChanged(DATE* d) override { *d = 40002.75; return S_OK; }
    HRESULT GetPath(BSTR* p) override { *p = SysAllocString(L"\\x"); return S_OK; }
    HRESULT GetForbiddenOps(DWORD* f) override { *f = 0x0C; return S_OK; }
};

// Records the paths asked for and answers with a marker folder pointer.
class FakeConnector : public DeviceConnector {
public:
    std::vector<std::wstring> folderRequests;
    IKVFMFolder* answer = reinterpret_cast<IKVFMFolder*>(0x1234);
    HRESULT result = S_OK;

    HRESULT getMountPoints(std::list<CMountPoint*>&) override { return E_NOTIMPL; }
    HRESULT getCFolder(BSTR&, CFolder**) override { return E_NOTIMPL; }
    HRESULT getCFile(BSTR&, CFile**) override { return E_NOTIMPL; }
    HRESULT getKVFMFolder(BSTR& path, IKVFMFolder** folder) override {
        folderRequests.emplace_back(path ? path : L"(null)");
        if (SUCCEEDED(result)) *folder = answer;
        return result;
    }
    HRESULT getKVFMFile(BSTR&, IKVFMFile**) override { return E_NOTIMPL; }
    HRESULT getKVFMObjects(BSTR&, std::list<IKVFMObject*>&) override { return E_NOTIMPL; }
    HRESULT getKVFMFolders(BSTR&, std::list<IKVFMFolder*>&) override { return E_NOTIMPL; }
    HRESULT getKVFMFiles(BSTR&, std::list<IKVFMFile*>&) override { return E_NOTIMPL; }
};

class FMObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_outer = TestOuter::Create();
        ASSERT_NE(m_outer, nullptr);
    }
    void TearDown() override {
        if (m_outer) m_outer->Release();
        CoUninitialize();
    }
    FMObjectImpl& Obj() { return *m_outer->Impl(); }
    HRESULT InitWith(const wchar_t* path, CStorageObject* storage = nullptr) {
        UniqueBstr p(path);
        return Obj().Init(nullptr, &m_connector, p.Get(), storage);
    }
    std::wstring Name() {
        UniqueBstr name;
        EXPECT_EQ(Obj().get_Name(name.Receive()), S_OK);
        return name.c_str();
    }
    std::wstring Path() {
        UniqueBstr path;
        EXPECT_EQ(Obj().get_Path(path.Receive()), S_OK);
        return path.c_str();
    }

    TestOuter* m_outer = nullptr;
    FakeConnector m_connector;
};

} // namespace

TEST_F(FMObjectTest, BeforeInitPathAndAttributesFailAndNameIsUnset) {
    LogLines log;
    BSTR path = nullptr;
    LONG attributes = -1;
    IKVFMFolder* parent = reinterpret_cast<IKVFMFolder*>(0x77);
    EXPECT_EQ(Obj().get_Path(&path), E_FAIL);
    EXPECT_EQ(path, nullptr);
    EXPECT_EQ(Obj().get_FileAttributes(&attributes), E_FAIL);
    EXPECT_EQ(attributes, -1);
    EXPECT_EQ(Obj().get_Parent(&parent), E_FAIL);
    EXPECT_EQ(parent, reinterpret_cast<IKVFMFolder*>(0x77));
    EXPECT_TRUE(log.Contains("FMObject is not initialized"));
    EXPECT_EQ(Name(), L"unset");
    EXPECT_FALSE(Obj().IsInitialized());
}

TEST_F(FMObjectTest, InitDropsOneTrailingBackslashAndReadsTheStorageObject) {
    FakeStorage storage;
    ASSERT_EQ(InitWith(L"\\Phone\\Images\\", &storage), S_OK);
    EXPECT_EQ(Path(), L"\\Phone\\Images");
    EXPECT_EQ(Name(), L"Images");

    LONG attributes = 0;
    DATE created = 0, accessed = 0, changed = 0;
    EXPECT_EQ(Obj().get_FileAttributes(&attributes), S_OK);
    EXPECT_EQ(attributes, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(Obj().get_Created(&created), S_OK);
    EXPECT_EQ(Obj().get_Accessed(&accessed), S_OK);
    EXPECT_EQ(Obj().get_Changed(&changed), S_OK);
    EXPECT_EQ(created, 40000.25);
    EXPECT_EQ(accessed, 40001.5);
    EXPECT_EQ(changed, 40002.75);
    EXPECT_EQ(Obj().GetForbiddenOps(), 0x0Cu);
    EXPECT_EQ(Obj().GetStorageObject(), &storage);
}

TEST_F(FMObjectTest, DriveRootHasAnEmptyNameNoParentAndKeepsItsName) {
    LogLines log;
    ASSERT_EQ(InitWith(L"C:\\"), S_OK);
    EXPECT_EQ(Name(), L"");
    IKVFMFolder* parent = reinterpret_cast<IKVFMFolder*>(0x55);
    EXPECT_EQ(Obj().get_Parent(&parent), E_FAIL);
    EXPECT_EQ(parent, reinterpret_cast<IKVFMFolder*>(0x55));
    EXPECT_TRUE(m_connector.folderRequests.empty());

    UniqueBstr other(L"\\Other");
    EXPECT_EQ(Obj().put_Name(other.Get()), E_FAIL);
    EXPECT_TRUE(log.Contains("Not allowed to set the name of the root folder."));
    EXPECT_EQ(Path(), L"C:");
}

TEST_F(FMObjectTest, TreeRootHasNoParentEither) {
    ASSERT_EQ(InitWith(L"\\"), S_OK);
    EXPECT_EQ(Name(), L"");
    IKVFMFolder* parent = nullptr;
    EXPECT_EQ(Obj().get_Parent(&parent), E_FAIL);
    EXPECT_EQ(parent, nullptr);
    EXPECT_TRUE(m_connector.folderRequests.empty());
}

TEST_F(FMObjectTest, ParentOfAFolderWithTrailingBackslashIsTheFolderAbove) {
    ASSERT_EQ(InitWith(L"\\Phone\\Images\\"), S_OK);
    IKVFMFolder* parent = nullptr;
    EXPECT_EQ(Obj().get_Parent(&parent), S_OK);
    EXPECT_EQ(parent, m_connector.answer);
    ASSERT_EQ(m_connector.folderRequests.size(), 1u);
    EXPECT_EQ(m_connector.folderRequests[0], L"\\Phone\\");

    // A mount point's parent is the tree root; the connector's failure comes back.
    ASSERT_EQ(InitWith(L"\\C:\\"), S_OK);
    m_connector.result = E_ACCESSDENIED;
    parent = nullptr;
    EXPECT_EQ(Obj().get_Parent(&parent), E_ACCESSDENIED);
    EXPECT_EQ(parent, nullptr);
    EXPECT_EQ(m_connector.folderRequests.back(), L"\\");
}

TEST_F(FMObjectTest, PutNameReplacesThePathWithoutItsTrailingBackslash) {
    ASSERT_EQ(InitWith(L"\\Phone\\Old"), S_OK);
    UniqueBstr renamed(L"\\Phone\\New\\");
    EXPECT_EQ(Obj().put_Name(renamed.Get()), S_OK);
    EXPECT_EQ(Path(), L"\\Phone\\New");
    EXPECT_EQ(Name(), L"New");
    EXPECT_EQ(Obj().put_Name(nullptr), E_INVALIDARG);
    EXPECT_EQ(Path(), L"\\Phone\\New");
}

TEST_F(FMObjectTest, ConnectionPointIsReachedThroughTheOuterAndHoldsSinksUntilDestruction) {
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(m_outer->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID__IKVFMFolderEvents, point.Receive()), S_OK);

    // Any IDispatch will do as a sink here: the outer's own inner IKVFMObject of a second object.
    TestOuter* sinkOwner = TestOuter::Create();
    ASSERT_NE(sinkOwner, nullptr);
    const LONG before = sinkOwner->Refs();
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sinkOwner, &cookie), S_OK);
    EXPECT_GT(sinkOwner->Refs(), before);
    EXPECT_EQ(Obj().EventConnectionPoint().ConnectionCount(), 1u);

    point.Reset();
    container.Reset();
    m_outer->Release();
    m_outer = nullptr;
    EXPECT_EQ(sinkOwner->Refs(), before);
    sinkOwner->Release();
}
