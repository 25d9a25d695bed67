#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Morvane.h"
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
        LONG left = --refs;
        if (left == 0) released.set();
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP Execute() override { ++executions; return m_body ? m_body() : S_OK; }

    std::atomic<LONG> refs{1}; // the reference that travels with the message
    std::atomic<int> releaseCalls{0};
    std::atomic<int> executions{0};
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

// Runs the body on the executor thread and waits until it has returned.
void runOnWorker(const Executor& executor, std::function<void()> body) {
    FakeOperation op([&] { body(); return S_OK; });
    post(executor, op);
    expectReleasedOnce(op);
}

using testlog::LogCapture;

bool contains(const qzlog::captured_line& line, const char* text) { return line.text.find(text) != std::string::npos; }

struct ExecutorTest : ::testing::Test {
    void SetUp() override { ASSERT_EQ(S_OK, executor.Initialize()); }
    Executor executor;
};

TEST_F(ExecutorTest, OperationsRunInOrderAndNextWaitsForTheWaitingOne) {
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
    FakeOperation second([&] { note("second start"); return S_OK; });

    post(executor, first);
    ASSERT_TRUE(firstWaiting.wait());
    // Queued ahead of the signal: the wait must leave both in the queue.
    post(executor, second);
    PostThreadMessageW(executor.GetThreadId(), WM_APP, 0, 0);
    waitObject.Signal();

    expectReleasedOnce(second);
    expectReleasedOnce(first);
    EXPECT_EQ((std::vector<std::string>{"first start", "first woke", "second start"}), journal);
}

TEST_F(ExecutorTest, FailingOperationIsReleasedOnceAndQuitDoesNotEndTheLoop) {
    FakeOperation failing([] { return E_FAIL; });
    post(executor, failing);
    PostThreadMessageW(executor.GetThreadId(), WM_QUIT, 0, 0);
    FakeOperation after;
    post(executor, after);

    expectReleasedOnce(failing);
    expectReleasedOnce(after);
    EXPECT_EQ(1, failing.executions.load());
    EXPECT_EQ(1, after.executions.load());
}

TEST_F(ExecutorTest, WaitReturnsFirstSignalledObjectInListOrder) {
    CWaitObject* results[3] = {};
    runOnWorker(executor, [&] {
        CWaitObject a(&executor), b(&executor);
        b.Signal();
        results[0] = Executor::WaitForMultipleObjects({&a, &b});
        a.Signal();
        results[1] = Executor::WaitForMultipleObjects({&a, &b});
        b.Reset();
        b.Signal();
        results[2] = Executor::WaitForMultipleObjects({&b, &a});
        EXPECT_EQ(&b, results[0]);
        EXPECT_EQ(&a, results[1]);
        EXPECT_EQ(&b, results[2]);
    });
}

TEST_F(ExecutorTest, SignalOfUnlistedObjectDoesNotEndTheWait) {
    LogCapture capture;
    Event passedOver;
    capture.OnLine([&](const qzlog::captured_line& line) {
        if (contains(line, "No Wait Object that we were waiting on was signalled.")) passedOver.set();
    });
    runOnWorker(executor, [&] {
        CWaitObject listed(&executor), unlisted(&executor);
        // Signals the listed one only after the wait has passed over the other.
        std::thread signaller([&] {
            EXPECT_TRUE(passedOver.wait());
            listed.Signal();
        });
        // From another thread, so its signal is a message the wait must pass over.
        std::thread([&] { unlisted.Signal(); }).join();
        EXPECT_EQ(&listed, Executor::WaitForMultipleObjects({&listed}));
        signaller.join();
    });
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
