// The worker thread that runs asynchronous operations one at a time, and the
// wait objects an operation blocks on while a transfer finishes elsewhere.
//
// Thread messages of the executor thread:
//   0x400  wParam 0, lParam IAsynchOperation* (one reference handed over): run it.
//   0x401  wParam 0, lParam the CWaitObject* that was signalled (only compared).
//
// Orderly stop: Stop() (also run by the destructor) sets a stop flag and wakes
// the thread with 0x401 / kStopWakeup. A waiting operation gets null from
// WaitForMultipleObjects, and so does every later wait; once the running
// operation returns, the loop releases every queued operation without running
// it and the thread ends. From any other thread Stop() then waits for the
// thread's end (bounded); on the worker thread itself it only asks. The thread
// holds its own reference on the module that contains this code and drops it
// with FreeLibraryAndExitThread, so the library cannot be unloaded under it,
// even when an operation never returns and the thread is left behind.
#pragma once

#include <windows.h>

#include <atomic>
#include <list>
#include <memory>

struct IAsynchOperation;
class CWaitObject;

class CAsynchOperationExecutor {
public:
    static constexpr UINT kRunOperationMessage = WM_USER;        // 0x400
    static constexpr UINT kWaitObjectSignalMessage = WM_USER + 1; // 0x401
    // wParam of the 0x401 that wakes the thread for a stop; real signals carry 0.
    static constexpr WPARAM kStopWakeup = 0x53544F50;
    // wParam of the 0x401 that wakes a waiting operation because its phone's
    // binding ended; the wait returns null and the operation gives up.
    static constexpr WPARAM kUnbindWakeup = 0x554E4244;
    // How long Stop() waits for a running operation to return.
    static constexpr DWORD kStopTimeoutMs = 30000;

    CAsynchOperationExecutor();
    virtual ~CAsynchOperationExecutor();

    CAsynchOperationExecutor(const CAsynchOperationExecutor&) = delete;
    CAsynchOperationExecutor& operator=(const CAsynchOperationExecutor&) = delete;

    // Starts the thread; returns once its message queue exists, so operations
    // may be posted at once. Not to be called from DllMain.
    HRESULT Initialize();

    // Target of every PostThreadMessageW for this executor; 0 before Initialize.
    unsigned GetThreadId() const { return m_uiThreadId; }

    // Idempotent. S_OK when the thread has ended (or never ran), S_FALSE when
    // called on the worker thread (the stop is only requested), or
    // HRESULT_FROM_WIN32(ERROR_TIMEOUT) when the thread was left running.
    // A derived class whose ThreadMethod uses its own members calls this
    // first thing in its destructor.
    HRESULT Stop();

    // Wakes the waiting operation, if any, after the phone binding ended, so
    // a transfer that will never complete does not hold the thread.
    void WakeForUnbind();

    // True on an executor thread whose stop has been requested: an operation
    // that gets null from WaitForMultipleObjects checks this and gives up
    // instead of waiting again.
    static bool StopRequested();

    // Nested wait of the running operation; executor thread only. Returns the
    // first listed object that is signalled, once its message is taken, or
    // null when retrieving a message fails or a stop is requested.
    static CWaitObject* WaitForMultipleObjects(std::list<CWaitObject*> waitObjects);

protected:
    // The operation loop. A derived loop must return (never ExitThread) so the
    // thread drops its module reference, and should return once
    // StopRequested() is true after a message.
    virtual void ThreadMethod();

private:
    struct ThreadShared;

    static unsigned __stdcall threadStart(void* executor);
    static void runOperationLoop();
    // The state of the executor whose thread is the calling one, if any.
    static ThreadShared*& currentShared();

    HANDLE m_hMyThread = nullptr;
    unsigned m_uiThreadId = 0;
    // Shared with the thread, which may outlive this object (see above).
    std::shared_ptr<ThreadShared> m_pShared;
    bool m_bThreadAbandoned = false;
};

// Base of everything an operation can wait for on the executor thread.
class CWaitObject {
public:
    explicit CWaitObject(CAsynchOperationExecutor* pExecutor);
    virtual ~CWaitObject();

    CWaitObject(const CWaitObject&) = delete;
    CWaitObject& operator=(const CWaitObject&) = delete;

    virtual void Reset();

    // Any thread. The flag is published before the message is posted, so the
    // waiter that takes the message sees it set. The message (lParam: this
    // object) is posted only from another thread: a signal given on the
    // executor's own thread, inside the call its operation is about to wait
    // on, is seen through the flag and leaves nothing queued.
    void Signal();

    bool IsSignalled() const { return m_bSignalled.load(std::memory_order_acquire); }
    // Signalled, and its message, if one was posted, taken by the waiter.
    bool SignalConsumed() const { return IsSignalled() && !m_bMessagePending.load(std::memory_order_acquire); }
    void MessageTaken() { m_bMessagePending.store(false, std::memory_order_release); }

protected:
    std::atomic<bool> m_bSignalled{false};
    std::atomic<bool> m_bMessagePending{false};
    CAsynchOperationExecutor* m_pExecutor; // not owned
};
