#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <vnlog/LogManager.h>
#include "../support/log_capture.h"
#include "fm_outer.h"

#include "com/ComUtil.h"
#include "objects/FMObjectImpl.h"
#include "operations/AsynchOperation.h"
#include "operations/AsynchOperationExecutor.h"
#include "operations/CallbackFunctions.h"

namespace {

using com::ComPtr;
using com::UniqueBstr;

using LogLines = testlog::LogCapture;

// An outer object whose events come from its aggregated common part.
using TargetObject = unittest::FMOuter;

// One recorded event: dispid, flags, and the arguments as received (last first).
struct Event {
    DISPID id;
    WORD flags;
    LCID lcid;
    std::vector<VARTYPE> types;
    std::vector<std::wstring> texts;  // VT_BSTR arguments, in the order received
    std::vector<LONGLONG> numbers;    // VT_I2, VT_I4 and VT_UI4 arguments, in the order received
    std::vector<IDispatch*> objects;  // VT_DISPATCH arguments
    SHORT cancelSeen = -1;            // value of a by-reference I2 when called
};

class RecordingSink : public IDispatch {
public:
    std::vector<Event> events;
    SHORT setCancelOn42 = 0;
    LONG answerFor44 = 0;
    HRESULT resultFor42 = S_OK, resultFor43 = S_OK;

    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, DIID__IKVFMFolderEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_refs); }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        Event e{id, flags, lcid, {}, {}};
        for (UINT i = 0; i < p->cArgs; ++i) {
            VARIANT& v = p->rgvarg[i];
            e.types.push_back(V_VT(&v));
            if (V_VT(&v) == VT_BSTR) e.texts.emplace_back(V_BSTR(&v) ? V_BSTR(&v) : L"");
            if (V_VT(&v) == VT_I2) e.numbers.push_back(V_I2(&v));
            if (V_VT(&v) == VT_I4) e.numbers.push_back(V_I4(&v));
            if (V_VT(&v) == VT_UI4) e.numbers.push_back(V_UI4(&v));
            if (V_VT(&v) == VT_DISPATCH) e.objects.push_back(V_DISPATCH(&v));
            if (V_VT(&v) == (VT_BYREF | VT_I2)) {
                e.cancelSeen = *V_I2REF(&v);
                if (id == kDispidProgress) *V_I2REF(&v) = setCancelOn42;
            }
            if (V_VT(&v) == (VT_BYREF | VT_I4) && id == kDispidReplaceFile) *V_I4REF(&v) = answerFor44;
        }
        events.push_back(e);
        if (id == kDispidProgress) return resultFor42;
        if (id == kDispidFileProgress) return resultFor43;
        return S_OK;
    }
    LONG Refs() const { return m_refs; }

private:
    LONG m_refs = 0;
};

// An operation of the tests: counts its runs and destructions.
std::atomic<int> g_executed{0};
std::atomic<int> g_destroyed{0};
std::atomic<int> g_constructed{0};
HANDLE g_hDestroyed = nullptr;

class CTestAsynchOperation : public CAsynchOperation {
public:
    CTestAsynchOperation() { ++g_constructed; }
    ~CTestAsynchOperation() override {
        ++g_destroyed;
        if (g_hDestroyed) SetEvent(g_hDestroyed);
    }
    void Init(LONG id, FMObjectImpl* target, DeviceConnector* connector, CAsynchOperationExecutor* executor,
              BSTR* name) {
        InitCommon(id, target, connector, executor);
        m_bstrName = UniqueBstr(*name);
    }
    STDMETHOD(Execute)() override {
        ++g_executed;
        FireDeleteCompleted(m_pTarget, KVFM_OK, m_lTransactionId);
        return S_OK;
    }
    static HRESULT CreateCTestAsynchOperation(LONG id, FMObjectImpl* target, DeviceConnector* connector,
                                              CAsynchOperationExecutor* executor, BSTR* name,
                                              IAsynchOperation** operation) {
        return CreateAsynchOperation<CTestAsynchOperation>(
            KV_LOG_SITE, "Could not create instance of CTestAsynchOperation.",
            AllArgumentsPresent({target, executor, name}, {name}), operation,
            [&](CTestAsynchOperation& op) { op.Init(id, target, connector, executor, name); });
    }
    const wchar_t* Name() const { return m_bstrName.c_str(); }

private:
    UniqueBstr m_bstrName;
};

class OperationFramework : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        g_executed = 0;
        g_destroyed = 0;
        g_constructed = 0;
        m_target = TargetObject::Create();
        ASSERT_NE(m_target, nullptr);
    }
    void TearDown() override {
        if (m_target) m_target->Release();
        CoUninitialize();
    }
    void Connect(RecordingSink& sink, TargetObject* target = nullptr) {
        target = target ? target : m_target;
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(target->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid()), S_OK);
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(container->FindConnectionPoint(DIID__IKVFMFolderEvents, point.Receive()), S_OK);
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    }
    FMObjectImpl* Target() { return m_target->Impl(); }

    RecordingSink m_sink;
    TargetObject* m_target = nullptr;
};

const VARTYPE kByRefI2 = VT_BYREF | VT_I2;
const VARTYPE kByRefI4 = VT_BYREF | VT_I4;

} // namespace

// ---- transaction ids ----

TEST(OperationTransactionIds, StartAtOneAndStayDistinctAcrossThreads) {
    // Each test case runs in a process of its own, so this is the first id drawn.
    EXPECT_EQ(NextTransactionId(), 1);
    EXPECT_EQ(NextTransactionId(), 2);

    constexpr int kThreads = 4, kPerThread = 2000;
    std::vector<std::vector<LONG>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&drawn, t] {
            for (int i = 0; i < kPerThread; ++i) drawn[t].push_back(NextTransactionId());
        });
    for (auto& th : threads) th.join();
    std::vector<LONG> all;
    for (auto& d : drawn) all.insert(all.end(), d.begin(), d.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kPerThread));
    for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], static_cast<LONG>(i + 3));
}

// ---- creation ----

TEST_F(OperationFramework, CreateRefusesMissingArgumentsAndMakesNothing) {
    LogLines log;
    CAsynchOperationExecutor executor;
    UniqueBstr valid(L"x");
    BSTR name = valid.Get();
    BSTR nullName = nullptr;
    IAsynchOperation* op = reinterpret_cast<IAsynchOperation*>(0x1);

    EXPECT_EQ(CTestAsynchOperation::CreateCTestAsynchOperation(1, nullptr, nullptr, &executor, &name, &op),
              E_INVALIDARG);
    EXPECT_EQ(CTestAsynchOperation::CreateCTestAsynchOperation(1, Target(), nullptr, nullptr, &name, &op),
              E_INVALIDARG);
    EXPECT_EQ(CTestAsynchOperation::CreateCTestAsynchOperation(1, Target(), nullptr, &executor, nullptr, &op),
              E_INVALIDARG);
    EXPECT_EQ(CTestAsynchOperation::CreateCTestAsynchOperation(1, Target(), nullptr, &executor, &nullName, &op),
              E_INVALIDARG);
    EXPECT_EQ(op, reinterpret_cast<IAsynchOperation*>(0x1));
    EXPECT_EQ(CTestAsynchOperation::CreateCTestAsynchOperation(1, Target(), nullptr, &executor, &name, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(g_constructed.load(), 0);
    EXPECT_TRUE(log.Contains("Invalid parameter received."));
}

TEST_F(OperationFramework, CreatedOperationHoldsItsTargetAndAnswersItsInterfaces) {
    CAsynchOperationExecutor executor;
    UniqueBstr name(L"photo.jpg");
    BSTR bstr = name.Get();
    const LONG before = m_target->Refs();
    IAsynchOperation* op = nullptr;
    ASSERT_EQ(CTestAsynchOperation::CreateCTestAsynchOperation(7, Target(), nullptr, &executor, &bstr, &op), S_OK);
    ASSERT_NE(op, nullptr);
    EXPECT_GT(m_target->Refs(), before);

    auto* test = static_cast<CTestAsynchOperation*>(op);
    EXPECT_EQ(test->TransactionId(), 7);
    EXPECT_EQ(test->Target(), Target());
    EXPECT_STREQ(test->Name(), L"photo.jpg");
    EXPECT_NE(test->Name(), bstr);  // an owned copy

    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(op->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid()), S_OK);
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    dispatch.Reset();
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(op->QueryInterface(IID_IConnectionPointContainer, unknown.ReceiveVoid()), E_NOINTERFACE);

    EXPECT_EQ(op->Release(), 0u);
    EXPECT_EQ(g_destroyed.load(), 1);
    EXPECT_EQ(m_target->Refs(), before);
}

// ---- posting ----

TEST_F(OperationFramework, PostedOperationRunsOnTheExecutorAndIsReleasedOnce) {
    g_hDestroyed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    RecordingSink& sink = m_sink;  // outlives the target, which releases it
    Connect(sink);
    {
        CAsynchOperationExecutor executor;
        ASSERT_EQ(executor.Initialize(), S_OK);
        UniqueBstr name(L"n");
        BSTR bstr = name.Get();
        LONG id = 0;
        HRESULT hr = StartAsynchOperation(KV_LOG_SITE, &executor, &id, [&](LONG tid, IAsynchOperation** op) {
            return CTestAsynchOperation::CreateCTestAsynchOperation(tid, Target(), nullptr, &executor, &bstr, op);
        });
        ASSERT_EQ(hr, S_OK);
        EXPECT_GE(id, 1);
        // A bound on a hang, not a timing expectation.
        ASSERT_EQ(WaitForSingleObject(g_hDestroyed, 30000), WAIT_OBJECT_0);
        EXPECT_EQ(g_executed.load(), 1);
        EXPECT_EQ(g_destroyed.load(), 1);
        ASSERT_EQ(sink.events.size(), 1u);
        EXPECT_EQ(sink.events[0].id, kDispidDeleteCompleted);
    }
    EXPECT_EQ(g_destroyed.load(), 1);
    CloseHandle(g_hDestroyed);
    g_hDestroyed = nullptr;
}

TEST_F(OperationFramework, FailedPostGivesEFailAndReleasesTheOperation) {
    LogLines log;
    CAsynchOperationExecutor executor;  // never started: no thread to post to
    UniqueBstr name(L"n");
    BSTR bstr = name.Get();
    LONG id = 0;
    HRESULT hr = StartAsynchOperation(KV_LOG_SITE, &executor, &id, [&](LONG tid, IAsynchOperation** op) {
        return CTestAsynchOperation::CreateCTestAsynchOperation(tid, Target(), nullptr, &executor, &bstr, op);
    });
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_GE(id, 1);
    EXPECT_TRUE(log.Contains("Could not post threadmessage"));
    EXPECT_EQ(g_constructed.load(), 1);
    EXPECT_EQ(g_destroyed.load(), 1);
    EXPECT_EQ(g_executed.load(), 0);

    // A failing Create… still hands out an id but posts nothing.
    hr = StartAsynchOperation(KV_LOG_SITE, &executor, &id, [&](LONG tid, IAsynchOperation** op) {
        return CTestAsynchOperation::CreateCTestAsynchOperation(tid, nullptr, nullptr, &executor, &bstr, op);
    });
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_TRUE(log.Contains("Unable to get IAsynchOperation interface"));
    EXPECT_EQ(g_constructed.load(), 1);
}

// ---- events ----

TEST_F(OperationFramework, CompletionEventsCarryTheirDispidsAndTypesLastArgumentFirst) {
    RecordingSink& sink = m_sink;  // outlives the target, which releases it
    Connect(sink);
    TargetObject* other = TargetObject::Create();
    ASSERT_NE(other, nullptr);

    EXPECT_EQ(FireRenameCompleted(Target(), KVFM_E_FAILED, 9), S_OK);
    EXPECT_EQ(FireNewFolderCompleted(Target(), KVFM_OK, nullptr, 10), S_OK);
    EXPECT_EQ(FireGetFilesCompleted(Target(), KVFM_OK, other->Impl(), 11), S_OK);
    ASSERT_EQ(sink.events.size(), 3u);

    EXPECT_EQ(sink.events[0].id, 32);
    EXPECT_EQ(sink.events[0].flags, DISPATCH_METHOD);
    EXPECT_EQ(sink.events[0].lcid, static_cast<LCID>(LOCALE_USER_DEFAULT));
    EXPECT_EQ(sink.events[0].types, (std::vector<VARTYPE>{VT_I4, VT_UI4}));
    EXPECT_EQ(sink.events[0].numbers, (std::vector<LONGLONG>{9, 0x80000000LL}));
    EXPECT_EQ(sink.events[1].id, 34);
    EXPECT_EQ(sink.events[1].types, (std::vector<VARTYPE>{VT_I4, VT_DISPATCH, VT_UI4}));
    EXPECT_EQ(sink.events[1].objects, (std::vector<IDispatch*>{nullptr}));
    EXPECT_EQ(sink.events[2].id, 36);
    EXPECT_EQ(sink.events[2].numbers, (std::vector<LONGLONG>{11, 0}));
    ASSERT_EQ(sink.events[2].objects.size(), 1u);
    EXPECT_NE(sink.events[2].objects[0], nullptr);

    // The object argument holds a reference only for the call.
    const LONG otherRefs = other->Refs();
    FireCopyFileFromPCCompleted(Target(), KVFM_OK, other->Impl(), 12);
    EXPECT_EQ(other->Refs(), otherRefs);
    other->Release();
}

TEST_F(OperationFramework, ProgressAndReplaceEventsCarryTheirTypes) {
    RecordingSink& sink = m_sink;  // outlives the target, which releases it
    Connect(sink);
    SHORT cancel = 0;
    LONG answer = 0;
    FireProgress(Target(), 50, 3, &cancel);
    FireFileProgress(Target(), L"a.txt", 50, 3, &cancel);
    FireReplaceFile(Target(), 3, L"a.txt", 40000.0, 10, 40001.0, 20, &answer);
    FireReplaceFolder(Target(), 3, L"dir", &answer);
    ASSERT_EQ(sink.events.size(), 4u);
    EXPECT_EQ(sink.events[0].id, 42);
    EXPECT_EQ(sink.events[0].types, (std::vector<VARTYPE>{kByRefI2, VT_I4, VT_I2}));
    EXPECT_EQ(sink.events[0].numbers, (std::vector<LONGLONG>{3, 50}));
    EXPECT_EQ(sink.events[1].id, 43);
    EXPECT_EQ(sink.events[1].types, (std::vector<VARTYPE>{kByRefI2, VT_I4, VT_I2, VT_BSTR}));
    EXPECT_EQ(sink.events[2].id, 44);
    EXPECT_EQ(sink.events[2].types,
              (std::vector<VARTYPE>{kByRefI4, VT_I4, VT_DATE, VT_I4, VT_DATE, VT_BSTR, VT_I4}));
    EXPECT_EQ(sink.events[2].numbers, (std::vector<LONGLONG>{20, 10, 3}));
    EXPECT_EQ(sink.events[3].id, 45);
    EXPECT_EQ(sink.events[3].types, (std::vector<VARTYPE>{kByRefI4, VT_BSTR, VT_I4}));
}

TEST_F(OperationFramework, TargetWithoutSinksFiresNothing) {
    RecordingSink& sink = m_sink;  // outlives the target, which releases it
    TargetObject* other = TargetObject::Create();
    ASSERT_NE(other, nullptr);
    Connect(sink, other);

    SHORT cancel = 0;
    CProgressCallbackFunction progress(Target(), 5);
    EXPECT_EQ(progress.Invoke(L"C:\\a.txt", 10, &cancel), S_OK);
    EXPECT_EQ(FireDeleteCompleted(Target(), KVFM_OK, 5), S_OK);
    EXPECT_EQ(FireDeleteCompleted(nullptr, KVFM_OK, 5), S_OK);
    EXPECT_TRUE(sink.events.empty());
    EXPECT_EQ(cancel, 0);
    other->Release();
    EXPECT_EQ(sink.Refs(), 0);
}

// ---- callbacks ----

TEST_F(OperationFramework, CancelSetInProgressIsSeenByFileProgressAndByTheCaller) {
    LogLines log;
    qzlog::set_max_level(qzlog::level_debug);
    RecordingSink& sink = m_sink;  // outlives the target, which releases it
    sink.setCancelOn42 = 1;
    sink.resultFor42 = E_UNEXPECTED;
    sink.resultFor43 = S_FALSE;
    Connect(sink);

    CProgressCallbackFunction progress(Target(), 21);
    SHORT cancel = 0;
    EXPECT_EQ(progress.Invoke(L"C:\\Data\\Images\\photo.jpg", 64, &cancel), S_FALSE);  // the second firing's
    EXPECT_EQ(cancel, 1);
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_EQ(sink.events[0].id, 42);
    EXPECT_EQ(sink.events[0].cancelSeen, 0);
    EXPECT_EQ(sink.events[1].id, 43);
    EXPECT_EQ(sink.events[1].cancelSeen, 1);
    EXPECT_EQ(sink.events[1].numbers, (std::vector<LONGLONG>{21, 64}));
    ASSERT_EQ(sink.events[1].texts.size(), 1u);
    EXPECT_EQ(sink.events[1].texts[0], L"photo.jpg");
    EXPECT_TRUE(log.Contains("Progress: 64"));
}

TEST_F(OperationFramework, ReplaceCallbackAsksWithTheFileNameAndReturnsTheAnswer) {
    RecordingSink& sink = m_sink;  // outlives the target, which releases it
    sink.answerFor44 = 3;
    Connect(sink);
    CReplaceCallbackFunction replace(Target(), 8);
    long answer = 0;
    EXPECT_EQ(replace.Invoke(L"\\\\pc\\share\\dir\\report.doc", 40000.0, 1, 40001.0, 2, &answer), S_OK);
    EXPECT_EQ(answer, 3);
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].id, 44);
    ASSERT_EQ(sink.events[0].texts.size(), 1u);
    EXPECT_EQ(sink.events[0].texts[0], L"report.doc");
}

TEST_F(OperationFramework, ReplaceAlwaysAnswersReplaceWithoutAsking) {
    RecordingSink& sink = m_sink;  // outlives the target, which releases it
    Connect(sink);
    CReplaceAlwaysCallbackFunction always;
    long answer = 0;
    EXPECT_EQ(always.Invoke(L"C:\\x.txt", 0, 0, 0, 0, &answer), S_OK);
    EXPECT_EQ(answer, 1);
    EXPECT_TRUE(sink.events.empty());
}
