#include <ocidl.h>

#include <atomic>
#include <thread>

#include "unit_fakes.h"

#include "operations/AsynchOperation.h"
#include "operations/AsynchOperationExecutor.h"
#include "operations/CallbackFunctions.h"

namespace {

using com::ComPtr;
using com::UniqueBstr;

using TargetObject = unittest::FMOuter;  // events come from its aggregated common part
using unittest::RecordingSink;

std::atomic<int> g_executed{0}, g_destroyed{0}, g_constructed{0};
HANDLE g_hDestroyed = nullptr;

class CTestAsynchOperation : public CAsynchOperation {
public:
    CTestAsynchOperation() { ++g_constructed; }
    ~CTestAsynchOperation() override {
        ++g_destroyed;
        if (g_hDestroyed) SetEvent(g_hDestroyed);
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
            [&](CTestAsynchOperation& op) { op.InitCommon(id, target, connector, executor); });
    }
};

class OperationFramework : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        g_executed = g_destroyed = g_constructed = 0;
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

    RecordingSink sink;  // a member: outlives the target, which releases it
    TargetObject* m_target = nullptr;
};

const VARTYPE kByRefI4 = VT_BYREF | VT_I4;

} // namespace

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

TEST_F(OperationFramework, CreateRefusesMissingArgumentsAndAnOperationHoldsItsTarget) {
    CAsynchOperationExecutor executor;
    UniqueBstr valid(L"photo.jpg");
    BSTR name = valid.Get(), nullName = nullptr;
    IAsynchOperation* op = reinterpret_cast<IAsynchOperation*>(0x1);
    auto create = [&](FMObjectImpl* target, CAsynchOperationExecutor* e, BSTR* n, IAsynchOperation** out) {
        return CTestAsynchOperation::CreateCTestAsynchOperation(7, target, nullptr, e, n, out);
    };
    EXPECT_EQ(E_INVALIDARG, create(nullptr, &executor, &name, &op));
    EXPECT_EQ(E_INVALIDARG, create(Target(), nullptr, &name, &op));
    EXPECT_EQ(E_INVALIDARG, create(Target(), &executor, nullptr, &op));
    EXPECT_EQ(E_INVALIDARG, create(Target(), &executor, &nullName, &op));
    EXPECT_EQ(E_INVALIDARG, create(Target(), &executor, &name, nullptr));
    EXPECT_EQ(op, reinterpret_cast<IAsynchOperation*>(0x1));
    EXPECT_EQ(g_constructed.load(), 0);
    const LONG before = m_target->Refs();
    ASSERT_EQ(S_OK, create(Target(), &executor, &name, &op));
    EXPECT_GT(m_target->Refs(), before);
    auto* test = static_cast<CTestAsynchOperation*>(op);
    EXPECT_EQ(test->TransactionId(), 7);
    EXPECT_EQ(op->Release(), 0u);
    EXPECT_EQ(g_destroyed.load(), 1);
    EXPECT_EQ(m_target->Refs(), before);
}

TEST_F(OperationFramework, StartedOperationRunsOnceOnTheExecutorOrIsReleasedAtOnce) {
    g_hDestroyed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Connect(sink);
    UniqueBstr name(L"n");
    BSTR bstr = name.Get();
    LONG id = 0;
    auto start = [&](CAsynchOperationExecutor& executor, FMObjectImpl* target) {
        return StartAsynchOperation(KV_LOG_SITE, &executor, &id, [&](LONG tid, IAsynchOperation** op) {
            return CTestAsynchOperation::CreateCTestAsynchOperation(tid, target, nullptr, &executor, &bstr, op);
        });
    };
    {
        CAsynchOperationExecutor executor;
        ASSERT_EQ(executor.Initialize(), S_OK);
        ASSERT_EQ(S_OK, start(executor, Target()));
        EXPECT_GE(id, 1);
        ASSERT_EQ(WaitForSingleObject(g_hDestroyed, 30000), WAIT_OBJECT_0);  // a bound on a hang
        EXPECT_EQ(g_executed.load(), 1);
        ASSERT_EQ(sink.events.size(), 1u);
        EXPECT_EQ(sink.events[0].id, kDispidDeleteCompleted);
    }
    EXPECT_EQ(g_destroyed.load(), 1);
    CloseHandle(g_hDestroyed);
    g_hDestroyed = nullptr;
    // Never started: no thread to post to, so E_FAIL and the operation is released unrun.
    CAsynchOperationExecutor idle;
    const LONG before = id;
    EXPECT_EQ(E_FAIL, start(idle, Target()));
    EXPECT_GT(id, before);
    EXPECT_EQ(g_constructed.load(), 2);
    EXPECT_EQ(g_destroyed.load(), 2);
    EXPECT_EQ(g_executed.load(), 1);
    // A failing creation posts nothing.
    EXPECT_EQ(E_INVALIDARG, start(idle, nullptr));
    EXPECT_EQ(g_constructed.load(), 2);
}

// Result, listing and progress arguments are checked as they reach a client's sink in the
// integration tests, and references to object arguments with the connection point.
TEST_F(OperationFramework, EventsReachOnlyTheSinksOfTheirTargetWithTheReplaceFolderQuestionLastArgumentFirst) {
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
    LONG answer = 0;
    FireReplaceFolder(other->Impl(), 3, L"dir", &answer);
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].id, 45);
    EXPECT_EQ(sink.events[0].types, (std::vector<VARTYPE>{kByRefI4, VT_BSTR, VT_I4}));
    EXPECT_EQ(sink.events[0].numbers, (std::vector<LONGLONG>{3}));
    other->Release();
    EXPECT_EQ(sink.refs, 0);
}

TEST_F(OperationFramework, CancelSetInProgressIsSeenByFileProgressAndByTheCaller) {
    sink.onInvoke = [](DISPID id, DISPPARAMS* p) {
        if (id == kDispidProgress) *V_I2REF(&p->rgvarg[0]) = 1;
        return id == kDispidProgress ? E_UNEXPECTED : S_FALSE;
    };
    Connect(sink);
    CProgressCallbackFunction progress(Target(), 21);
    SHORT cancel = 0;
    EXPECT_EQ(progress.Invoke(L"C:\\Data\\Images\\photo.jpg", 64, &cancel), S_FALSE);  // the second firing's
    EXPECT_EQ(cancel, 1);
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_EQ(sink.events[0].id, 42);
    EXPECT_EQ(sink.events[0].cancelSeen, 0);
    EXPECT_EQ(sink.events[1].id, 43);
    EXPECT_EQ(sink.events[1].cancelSeen, 1);  // ids, percents and file names are checked by the integration sinks
}

TEST_F(OperationFramework, ReplaceCallbackAsksWithTheFileNameAndReplaceAlwaysDoesNotAsk) {
    sink.onInvoke = [](DISPID, DISPPARAMS* p) {
        *V_I4REF(&p->rgvarg[0]) = 3;
        return S_OK;
    };
    Connect(sink);
    CReplaceAlwaysCallbackFunction always;
    long answer = 0;
    EXPECT_EQ(always.Invoke(L"C:\\x.txt", 0, 0, 0, 0, &answer), S_OK);
    EXPECT_EQ(answer, 1);
    EXPECT_TRUE(sink.events.empty());
    CReplaceCallbackFunction replace(Target(), 8);
    EXPECT_EQ(replace.Invoke(L"\\\\pc\\share\\dir\\report.doc", 40000.0, 1, 40001.0, 2, &answer), S_OK);
    EXPECT_EQ(answer, 3);
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].id, 44);
    EXPECT_EQ(sink.events[0].types, (std::vector<VARTYPE>{kByRefI4, VT_I4, VT_DATE, VT_I4, VT_DATE, VT_BSTR, VT_I4}));
    EXPECT_EQ(sink.events[0].numbers, (std::vector<LONGLONG>{2, 1, 8}));
    EXPECT_EQ(sink.events[0].texts, (std::vector<std::wstring>{L"report.doc"}));
}
