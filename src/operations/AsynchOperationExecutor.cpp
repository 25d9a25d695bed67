#include "operations/AsynchOperationExecutor.h"

#include <objbase.h>
#include <process.h>

#include "Morvane.h"
#include "module/Logging.h"

namespace {

struct HandleCloser {
    void operator()(HANDLE h) const { if (h) CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

} // namespace

// Lives as long as the executor or its thread, whichever is longer: an
// operation may delete the executor while the loop still runs on this.
struct CAsynchOperationExecutor::ThreadShared {
    std::atomic<bool> stopRequested{false};
    UniqueHandle queueReady;
    HMODULE moduleRef = nullptr; // handed to the thread, which frees it
};

namespace {

void releaseUnexecuted(IAsynchOperation* pOperation)
{
    LOG_WARNING << "Executor is stopping: Asynch Operation released without execution.";
    pOperation->Release();
}

void executeOperation(IAsynchOperation* pOperation)
{
    LOG_DEBUG << "Begin execution of Asynch Operation.";
    HRESULT hr = E_UNEXPECTED;
    try {
        hr = pOperation->Execute();
    } catch (...) {
        LOG_ERROR << "Exception raised by an Asynch Operation.";
    }
    if (FAILED(hr)) {
        LOG_ERROR << "Failed to start executing operation.";
    }
    LOG_DEBUG << "Finished executing Asynch Operation";
    pOperation->Release();
}

// After a stop: nothing queued runs any more, but each operation's reference
// is still dropped exactly once.
void releaseQueuedOperations()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == CAsynchOperationExecutor::kRunOperationMessage && msg.lParam) {
            releaseUnexecuted(reinterpret_cast<IAsynchOperation*>(msg.lParam));
        }
    }
}

} // namespace

CAsynchOperationExecutor::CAsynchOperationExecutor()
    : m_pShared(std::make_shared<ThreadShared>())
{
    LOG_TRACE << "Creating CAsynchOperationExecutor";
}

CAsynchOperationExecutor::~CAsynchOperationExecutor()
{
    LOG_TRACE << "Deleting CAsynchOperationExecutor";
    Stop();
    if (m_hMyThread) {
        CloseHandle(m_hMyThread);
        m_hMyThread = nullptr;
    }
}

HRESULT CAsynchOperationExecutor::Initialize()
{
    if (m_hMyThread) {
        LOG_ERROR << "Executor thread already started";
        return E_FAIL;
    }
    LOG_DEBUG << "Spawning CAsynchOperationExecutor thread";

    m_pShared->queueReady.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HMODULE hModule = nullptr;
    if (!m_pShared->queueReady ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&CAsynchOperationExecutor::threadStart), &hModule)) {
        LOG_ERROR << "Could not create executor thread";
        return E_FAIL;
    }
    m_pShared->moduleRef = hModule;

    unsigned threadId = 0;
    uintptr_t thread = _beginthreadex(nullptr, 0, &CAsynchOperationExecutor::threadStart, this, 0, &threadId);
    if (!thread) {
        m_pShared->moduleRef = nullptr;
        FreeLibrary(hModule);
        LOG_ERROR << "Could not create executor thread";
        return E_FAIL;
    }
    m_hMyThread = reinterpret_cast<HANDLE>(thread);
    m_uiThreadId = threadId;
    LOG_DEBUG << "m_hMyThread=0x" << LogHex(thread);

    // A post made before the thread has a queue would fail.
    HANDLE handles[] = {m_pShared->queueReady.get(), m_hMyThread};
    ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    return S_OK;
}

HRESULT CAsynchOperationExecutor::Stop()
{
    if (!m_hMyThread) {
        return S_OK;
    }
    if (!m_pShared->stopRequested.exchange(true, std::memory_order_acq_rel)) {
        LOG_DEBUG << "Stopping CAsynchOperationExecutor thread";
        if (!PostThreadMessageW(m_uiThreadId, kWaitObjectSignalMessage, kStopWakeup, 0)) {
            // The loop still sees the flag after its next message.
            LOG_DEBUG << "Could not post the stop message, error " << GetLastError();
        }
    }
    if (GetCurrentThreadId() == m_uiThreadId) {
        return S_FALSE;
    }
    if (m_bThreadAbandoned) {
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    DWORD wait = WaitForSingleObject(m_hMyThread, kStopTimeoutMs);
    if (wait == WAIT_OBJECT_0) {
        return S_OK;
    }
    // It keeps its own module reference, so leaving it is safe.
    m_bThreadAbandoned = true;
    if (wait == WAIT_TIMEOUT) {
        LOG_ERROR << "Executor thread did not end in time; it is left running";
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    DWORD error = GetLastError();
    LOG_ERROR << "Waiting for the executor thread failed, error " << error;
    return HRESULT_FROM_WIN32(error);
}

CAsynchOperationExecutor::ThreadShared*& CAsynchOperationExecutor::currentShared()
{
    static thread_local ThreadShared* s_pShared = nullptr;
    return s_pShared;
}

bool CAsynchOperationExecutor::StopRequested()
{
    ThreadShared* pShared = currentShared();
    return pShared && pShared->stopRequested.load(std::memory_order_acquire);
}

unsigned __stdcall CAsynchOperationExecutor::threadStart(void* executor)
{
    auto* pExecutor = static_cast<CAsynchOperationExecutor*>(executor);
    HMODULE hModule = nullptr;
    {
        // Initialize waits for queueReady, so the executor is alive up to here.
        std::shared_ptr<ThreadShared> shared = pExecutor->m_pShared;
        hModule = shared->moduleRef;
        currentShared() = shared.get();
        // The thread joins the multithreaded apartment so that events reach
        // sinks of other apartments through their proxies, and objects handed
        // to them in events can be marshalled.
        const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (FAILED(apartment)) {
            LOG_ERROR << "Executor thread could not join the multithreaded apartment, hr=0x" << LogHex(apartment);
        }
        MSG msg;
        PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        SetEvent(shared->queueReady.get());
        try {
            pExecutor->ThreadMethod();
        } catch (...) {
            LOG_ERROR << "Exception left the executor thread method";
        }
        if (SUCCEEDED(apartment)) CoUninitialize();
        currentShared() = nullptr;
    }
    if (hModule) {
        FreeLibraryAndExitThread(hModule, 0);
    }
    return 0;
}

void CAsynchOperationExecutor::ThreadMethod()
{
    // Touches no member: an operation may delete this executor.
    runOperationLoop();
}

void CAsynchOperationExecutor::runOperationLoop()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) != -1) {
        if (msg.message == kRunOperationMessage) {
            auto* pOperation = reinterpret_cast<IAsynchOperation*>(msg.lParam);
            if (!pOperation) {
                LOG_ERROR << "Null Asynch Operation received.";
            } else if (StopRequested()) {
                releaseUnexecuted(pOperation);
            } else {
                executeOperation(pOperation);
            }
        } else if (msg.message == kWaitObjectSignalMessage) {
            if (msg.wParam == kUnbindWakeup) {
                LOG_DEBUG << "Binding ended while no operation was waiting.";
            } else if (msg.wParam != kStopWakeup) {
                LOG_ERROR << "An unexpected Wait Object signal was received";
            }
        } else {
            // A quit message lands here too and does not end the loop.
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (StopRequested()) {
            releaseQueuedOperations();
            LOG_DEBUG << "Stop requested, exiting thread message loop.";
            return;
        }
    }
    LOG_DEBUG << "Exiting thread message loop.";
}

CWaitObject* CAsynchOperationExecutor::WaitForMultipleObjects(std::list<CWaitObject*> waitObjects)
{
    if (StopRequested()) {
        LOG_DEBUG << "Stop requested, not waiting.";
        return nullptr;
    }
    // A signal given on this thread posted nothing: its flag is all there is.
    for (CWaitObject* pObject : waitObjects) {
        if (pObject && pObject->SignalConsumed()) return pObject;
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, kWaitObjectSignalMessage, kWaitObjectSignalMessage) != -1) {
        if (msg.message != kWaitObjectSignalMessage) {
            LOG_ERROR << "Unexpected message received";
            continue;
        }
        if (msg.wParam == kStopWakeup) {
            LOG_DEBUG << "Stop requested, exiting WaitForMultipleObjects message loop.";
            return nullptr;
        }
        if (msg.wParam == kUnbindWakeup) {
            LOG_DEBUG << "Binding ended, exiting WaitForMultipleObjects message loop.";
            return nullptr;
        }
        LOG_DEBUG << "A Wait Object was signalled";
        for (CWaitObject* pObject : waitObjects) {
            if (pObject && msg.lParam == reinterpret_cast<LPARAM>(pObject)) pObject->MessageTaken();
        }
        for (CWaitObject* pObject : waitObjects) {
            if (pObject && pObject->SignalConsumed()) {
                LOG_DEBUG << "A Wait Object we were waiting on was signalled, Exiting message loop.";
                return pObject;
            }
        }
        LOG_DEBUG << "No Wait Object that we were waiting on was signalled. Continue message loop.";
    }
    LOG_DEBUG << "Exiting WaitForMultipleObjects message loop.";
    return nullptr;
}

void CAsynchOperationExecutor::WakeForUnbind()
{
    if (m_uiThreadId) PostThreadMessageW(m_uiThreadId, kWaitObjectSignalMessage, kUnbindWakeup, 0);
}

CWaitObject::CWaitObject(CAsynchOperationExecutor* pExecutor)
    : m_pExecutor(pExecutor)
{
}

CWaitObject::~CWaitObject() = default;

void CWaitObject::Reset()
{
    m_bSignalled.store(false, std::memory_order_release);
    m_bMessagePending.store(false, std::memory_order_release);
}

void CWaitObject::Signal()
{
    const unsigned thread = m_pExecutor ? m_pExecutor->GetThreadId() : 0;
    if (thread == 0 || thread == GetCurrentThreadId()) {
        m_bSignalled.store(true, std::memory_order_release);
        return;
    }
    m_bMessagePending.store(true, std::memory_order_release);
    m_bSignalled.store(true, std::memory_order_release);
    if (!PostThreadMessageW(thread, CAsynchOperationExecutor::kWaitObjectSignalMessage, 0,
                            reinterpret_cast<LPARAM>(this))) {
        m_bMessagePending.store(false, std::memory_order_release);
    }
}
