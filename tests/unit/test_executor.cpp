#include "unit_fakes.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "operations/AsynchOperationExecutor.h"
#include "../support/log_capture.h"

namespace {

using Executor = CAsynchOperationExecutor;

// Only turns a hang into a failure; nothing here depends on timing.
constexpr DWORD kHangMs = 60000;

struct Event {
    HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event() { CloseHandle(h); }
    void set() { SetEvent(h); }
    bool wait() { return WaitForSingleObject(h, kHangMs) == WAIT_OBJECT_0; }
};

class FakeOperation : public IAsynchOperation {
public:
    explicit FakeOperation(std::function<HRESULT()> body = {}) : m_body(std::move(body)) {}

    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override {
        ++releaseCalls;
        const LONG left = --refs;
        return left == 0 ? released.set(), 0 : left;
    }
    UNIT_NO_TYPEINFO
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP Execute() override { ++executions; return m_body ? m_body() : S_OK; }

    std::atomic<LONG> refs{1};  // the reference that travels with the message
    std::atomic<int> releaseCalls{0}, executions{0};
    Event released;

private:
    std::function<HRESULT()> m_body;
};

void post(const Executor& executor, FakeOperation& op) {
    ASSERT_TRUE(PostThreadMessageW(executor.GetThreadId(), WM_USER, 0,
                                   reinterpret_cast<LPARAM>(static_cast<IAsynchOperation*>(&op))));
}

void expectReleasedOnce(FakeOperation& op) {
    ASSERT_TRUE(op.released.wait());
    EXPECT_EQ(0, op.refs.load());
    EXPECT_EQ(1, op.releaseCalls.load());
}

struct ExecutorTest : ::testing::Test {
    void SetUp() override { ASSERT_EQ(S_OK, executor.Initialize()); }
    Executor executor;
};

TEST_F(ExecutorTest, OperationsRunInOrderNextWaitsForTheWaitingOneAndAFailureIsReleasedOnce) {
    std::mutex mutex;
    std::vector<std::string> journal;
    auto note = [&](const char* s) { std::lock_guard<std::mutex> lock(mutex); journal.push_back(s); };
    CWaitObject waitObject(&executor);
    Event firstWaiting;
    FakeOperation first([&] {
        note("first start");
        firstWaiting.set();
        note(Executor::WaitForMultipleObjects({&waitObject}) == &waitObject ? "first woke" : "first woke wrong");
        return S_OK;
    });
    FakeOperation failing([&] { note("failing start"); return E_FAIL; }), after;
    post(executor, first);
    ASSERT_TRUE(firstWaiting.wait());
    // Queued ahead of the signal: the wait must leave them in the queue.
    post(executor, failing);
    PostThreadMessageW(executor.GetThreadId(), WM_APP, 0, 0);
    waitObject.Signal();
    expectReleasedOnce(first);
    expectReleasedOnce(failing);
    // A quit does not end the loop.
    PostThreadMessageW(executor.GetThreadId(), WM_QUIT, 0, 0);
    post(executor, after);
    expectReleasedOnce(after);
    EXPECT_EQ(1, after.executions.load());
    EXPECT_EQ((std::vector<std::string>{"first start", "first woke", "failing start"}), journal);
}

TEST_F(ExecutorTest, WaitReturnsTheFirstSignalledListedObjectAndPassesOverOthers) {
    testlog::LogCapture capture;
    Event passedOver;
    capture.OnLine([&](const qzlog::captured_line& line) {
        if (line.text.find("No Wait Object that we were waiting on was signalled.") != std::string::npos) passedOver.set();
    });
    // Waits are made on the executor thread.
    FakeOperation waits([&] {
        CWaitObject a(&executor), b(&executor), unlisted(&executor);
        b.Signal();
        EXPECT_EQ(&b, Executor::WaitForMultipleObjects({&a, &b}));
        a.Signal();
        EXPECT_EQ(&a, Executor::WaitForMultipleObjects({&a, &b}));  // list order
        b.Reset();
        b.Signal();
        EXPECT_EQ(&b, Executor::WaitForMultipleObjects({&b, &a}));
        // A signal from another thread is a message the wait passes over; the listed
        // one is signalled only after that.
        a.Reset();
        std::thread signaller([&] {
            EXPECT_TRUE(passedOver.wait());
            a.Signal();
        });
        std::thread([&] { unlisted.Signal(); }).join();
        EXPECT_EQ(&a, Executor::WaitForMultipleObjects({&a}));
        signaller.join();
        return S_OK;
    });
    post(executor, waits);
    expectReleasedOnce(waits);
}

TEST(ExecutorStop, DestructionReleasesQueuedOperationsUnrunAndEndsTheThread) {
    auto executor = std::make_unique<Executor>();
    ASSERT_EQ(S_OK, executor->Initialize());
    CWaitObject never(executor.get());
    Event waiting;
    std::atomic<bool> stopSeen{false};
    CWaitObject* results[2] = {&never, &never};
    FakeOperation running([&] {
        waiting.set();
        results[0] = Executor::WaitForMultipleObjects({&never});
        stopSeen = Executor::StopRequested();
        results[1] = Executor::WaitForMultipleObjects({&never});
        return S_OK;
    });
    FakeOperation queued1, queued2;
    post(*executor, running);
    ASSERT_TRUE(waiting.wait());
    post(*executor, queued1);
    post(*executor, queued2);
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, executor->GetThreadId());
    ASSERT_NE(nullptr, thread);
    executor.reset();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));
    CloseHandle(thread);
    EXPECT_EQ(nullptr, results[0]);
    EXPECT_EQ(nullptr, results[1]);
    EXPECT_TRUE(stopSeen);
    for (FakeOperation* op : {&running, &queued1, &queued2}) expectReleasedOnce(*op);
    EXPECT_EQ(1, running.executions.load());
    EXPECT_EQ(0, queued1.executions.load() + queued2.executions.load());
}

TEST(ExecutorStop, DeletionFromTheWorkerThreadEndsTheThread) {
    auto* executor = new Executor;
    ASSERT_EQ(S_OK, executor->Initialize());
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, executor->GetThreadId());
    ASSERT_NE(nullptr, thread);
    Event queuedPosted;
    FakeOperation deleting([&] {
        queuedPosted.wait();
        delete executor;
        return S_OK;
    });
    FakeOperation queued;
    post(*executor, deleting);
    post(*executor, queued);
    queuedPosted.set();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kHangMs));
    CloseHandle(thread);
    expectReleasedOnce(deleting);
    expectReleasedOnce(queued);
    EXPECT_EQ(0, queued.executions.load());
}

} // namespace
