// The one sink of the folder events: records every event with its arguments
// in arrival order, answers the cancel and replace questions as told, and
// waits while pumping messages (the cap only turns a hang into a failure).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "KVFileMgmt.h"
#include "com/ComUtil.h"

namespace evtest {

using com::ComPtr;

// The completions' dispatch ids, as the event interface declares them.
enum : DISPID {
    kDeleted = 1, kCopiedToPc = 3, kMovedToPc = 6, kFileCopiedIn = 11, kFolderCopiedIn = 12, kFileMovedIn = 13,
    kFolderMovedIn = 14, kRenamed = 32, kFolderMade = 34, kObjectsListed = 35, kFilesListed = 36, kFoldersListed = 37
};

template <class C>
LONG CountOf(IUnknown* collection, REFIID iid) {
    ComPtr<C> typed;
    LONG count = -1;
    if (collection && SUCCEEDED(collection->QueryInterface(iid, typed.ReceiveVoid()))) typed->get_Count(&count);
    return count;
}

class FolderSink final : public IDispatch {
public:
    static constexpr DISPID kProgress = 42, kFileProgress = 43, kReplaceFile = 44, kReplaceFolder = 45;
    struct Event {
        DISPID id = 0;
        std::vector<VARTYPE> types;  // in declaration order
        LONG transactionId = 0;
        ULONG result = 0;
        ComPtr<IDispatch> object;
        LONG count = -1;            // of the collection a listing hands over
        std::wstring name;          // FileProgress, ReplaceFile, ReplaceFolder
        SHORT percent = -1;         // Progress, FileProgress
        SHORT cancelOnArrival = 0;  // Progress, FileProgress
        LONG offered = 0;           // ReplaceFolder: the answer as it arrived
        DWORD threadId = 0;         // where the call arrived
    };
    // Returns the answer to write, or false to leave it untouched.
    using FolderAnswer = std::function<bool(const std::wstring& folder, LONG& answer)>;

    static ComPtr<FolderSink> Create() { return ComPtr<FolderSink>::Adopt(new FolderSink()); }
    static bool IsCompletion(DISPID id) { return id < kProgress; }

    // Runs on the firing thread inside each call, before it is recorded.
    void OnEvent(std::function<void(const Event&)> hook) { m_hook = std::move(hook); }
    // Written into every FileProgress.
    void AnswerCancel(SHORT value) { Locked([&] { m_fileProgressAnswer = value; }); }
    void CancelFromProgress(LONG id) { Locked([&] { m_cancelInProgress.push_back(id); }); }
    void CancelFromFileProgress(LONG id) { Locked([&] { m_cancelInFileProgress.push_back(id); }); }
    void AnswerFolders(FolderAnswer answer) { Locked([&] { m_answer = std::move(answer); }); }

    std::vector<Event> All() {
        com::ScopedLock lock(m_lock);
        return m_events;
    }
    size_t Count() { return All().size(); }
    std::vector<Event> For(LONG id) { return Where([&](const Event& e) { return e.transactionId == id; }); }
    std::vector<Event> Of(LONG id, DISPID kind) {
        return Where([&](const Event& e) { return e.transactionId == id && e.id == kind; });
    }
    std::vector<Event> Completions(LONG id) {
        return Where([&](const Event& e) { return e.transactionId == id && IsCompletion(e.id); });
    }
    // The one completion of id (a failure is recorded when none or several came).
    Event Completion(LONG id) {
        EXPECT_TRUE(WaitFor(id)) << "no completion for " << id;
        auto events = Completions(id);
        EXPECT_EQ(1u, events.size()) << "completions of " << id;
        return events.empty() ? Event() : events[0];
    }
    template <class Condition>
    bool WaitUntil(Condition done) {
        const ULONGLONG deadline = GetTickCount64() + 60000;
        while (!done()) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) return false;
            if (MsgWaitForMultipleObjects(1, &m_event, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT) ==
                WAIT_OBJECT_0 + 1) {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
            }
        }
        return true;
    }
    bool WaitFor(LONG id) { return WaitUntil([&] { return !Completions(id).empty(); }); }
    bool WaitFor(LONG id, DISPID kind) { return WaitUntil([&] { return !Of(id, kind).empty(); }); }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, DIID__IKVFMFolderEvents))
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return InterlockedIncrement(&m_refs); }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG n = InterlockedDecrement(&m_refs);
        if (!n) delete this;
        return n;
    }
    STDMETHOD(GetTypeInfoCount)(UINT* count) override { return count ? (*count = 0, S_OK) : E_POINTER; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        Event e;
        e.id = id;
        e.threadId = GetCurrentThreadId();
        const UINT n = params ? params->cArgs : 0;
        // rgvarg holds the last argument first.
        auto arg = [&](UINT position) -> VARIANT& { return params->rgvarg[n - 1 - position]; };
        auto text = [](const VARIANT& v) { return v.vt == VT_BSTR && v.bstrVal ? std::wstring(v.bstrVal) : L""; };
        for (UINT i = 0; i < n; ++i) e.types.push_back(arg(i).vt);
        Locked([&] { Read(id, n, arg, text, e); });
        // Outside the lock: a proxy's call may bring further events in.
        if (id == 35) e.count = CountOf<IKVFMObjects>(e.object.Get(), IID_IKVFMObjects);
        if (id == 36) e.count = CountOf<IKVFMFiles>(e.object.Get(), IID_IKVFMFiles);
        if (id == 37) e.count = CountOf<IKVFMFolders>(e.object.Get(), IID_IKVFMFolders);
        if (m_hook) m_hook(e);
        Locked([&] { m_events.push_back(e); });
        SetEvent(m_event);
        return S_OK;
    }

private:
    template <class Keep>
    std::vector<Event> Where(Keep keep) {
        std::vector<Event> out;
        for (const Event& e : All())
            if (keep(e)) out.push_back(e);
        return out;
    }
    template <class Arg, class Text>
    void Read(DISPID id, UINT n, Arg& arg, Text& text, Event& e) {
        if ((id == kProgress && n == 3) || (id == kFileProgress && n == 4)) {
            const UINT first = n - 3;
            if (id == kFileProgress) e.name = text(arg(0));
            e.percent = arg(first).iVal;
            e.transactionId = arg(first + 1).lVal;
            SHORT* cancel = arg(first + 2).vt == (VT_BYREF | VT_I2) ? arg(first + 2).piVal : nullptr;
            if (cancel) {
                e.cancelOnArrival = *cancel;
                const auto& list = id == kProgress ? m_cancelInProgress : m_cancelInFileProgress;
                if (std::find(list.begin(), list.end(), e.transactionId) != list.end()) *cancel = -1;
                else if (id == kFileProgress && m_fileProgressAnswer) *cancel = *m_fileProgressAnswer;
            }
        } else if (id == kReplaceFolder && n == 3) {
            e.transactionId = arg(0).lVal;
            e.name = text(arg(1));
            if (LONG* answer = arg(2).vt == (VT_BYREF | VT_I4) ? arg(2).plVal : nullptr) {
                e.offered = *answer;
                LONG given = *answer;
                if (m_answer && m_answer(e.name, given)) *answer = given;
            }
        } else if (id == kReplaceFile && n == 7) {
            e.transactionId = arg(0).lVal;
            e.name = text(arg(1));
        } else if (n >= 2) {
            e.result = arg(0).ulVal;
            e.transactionId = arg(n - 1).lVal;
            if (n == 3 && arg(1).vt == VT_DISPATCH) e.object = ComPtr<IDispatch>(arg(1).pdispVal);
        }
    }
    FolderSink() : m_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~FolderSink() { CloseHandle(m_event); }
    template <class F>
    void Locked(F f) {
        com::ScopedLock lock(m_lock);
        f();
    }

    LONG m_refs = 1;
    HANDLE m_event;
    com::CriticalSection m_lock;
    std::vector<Event> m_events;
    std::function<void(const Event&)> m_hook;
    std::optional<SHORT> m_fileProgressAnswer;
    std::vector<LONG> m_cancelInProgress, m_cancelInFileProgress;
    FolderAnswer m_answer;
};

inline ComPtr<IConnectionPoint> EventPoint(IUnknown* object) {
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (object && SUCCEEDED(object->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid())))
        container->FindConnectionPoint(DIID__IKVFMFolderEvents, point.Receive());
    return point;
}
inline DWORD Advise(IUnknown* object, IDispatch* sink) {
    DWORD cookie = 0;
    ComPtr<IConnectionPoint> point = EventPoint(object);
    EXPECT_TRUE(point);
    if (point) {
        EXPECT_EQ(S_OK, point->Advise(sink, &cookie));
    }
    return cookie;
}

} // namespace evtest
