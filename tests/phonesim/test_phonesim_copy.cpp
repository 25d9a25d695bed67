// Copies both ways: the events and their order, the answers sinks give, and
// what the control interface does to copies.
#include <algorithm>
#include <atomic>

#include "phonesim_test_util.h"

namespace simtest {
namespace {

using Event = EventRecorder::Event;

class PhoneSimCopy : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        recorder = EventRecorder::Create();
        connection.reset(new SinkConnection(app.Get(), recorder.Get()));
        ASSERT_HRESULT_SUCCEEDED(connection->Result());
    }
    void TearDown() override {
        // No copy may outlive its test.
        long active = -1;
        if (control) {
            control->put_CopiesPaused(VARIANT_FALSE);
            for (auto& e : recorder->All())
                if (e.id != 16) recorder->WaitForCompletion(e.requestId);
            control->get_ActiveCopies(&active);
            EXPECT_EQ(0, active);
        }
        connection.reset();
        recorder = nullptr;
        SimTest::TearDown();
    }

    long CopyIn(const wchar_t* directory, const std::wstring& pcPath) {
        long id = 0;
        EXPECT_HRESULT_SUCCEEDED(Directory(directory)->CopyFileFromPC(UniqueBstr(pcPath.c_str()).Get(), &id));
        return id;
    }
    long CopyOut(const wchar_t* file, const std::wstring& pcPath) {
        long id = 0;
        EXPECT_HRESULT_SUCCEEDED(FileAt(file)->CopyFileToPC(UniqueBstr(pcPath.c_str()).Get(), &id));
        return id;
    }
    static std::vector<DISPID> Ids(const std::vector<Event>& events) {
        std::vector<DISPID> ids;
        for (const auto& e : events) ids.push_back(e.id);
        return ids;
    }
    // Checks the usual shape: progress from 0 rising to 100, then one completion.
    static void ExpectCompleteRun(const std::vector<Event>& events, HRESULT result) {
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(13, events.front().id);
        EXPECT_EQ(0, events.front().percent);
        long last = -1;
        for (size_t i = 0; i + 1 < events.size(); ++i) {
            EXPECT_EQ(13, events[i].id);
            EXPECT_GE(events[i].percent, last);
            last = events[i].percent;
        }
        EXPECT_EQ(100, last);
        EXPECT_EQ(16, events.back().id);
        EXPECT_EQ(result, events.back().result);
    }

    ComPtr<EventRecorder> recorder;
    std::unique_ptr<SinkConnection> connection;
};

TEST_F(PhoneSimCopy, CopyFromPcFiresProgressThenOneCompletion) {
    // The sinks of every application object hear every copy.
    ComPtr<ISCApplication> second;
    ASSERT_HRESULT_SUCCEEDED(CreateApplication(second.Receive()));
    auto other = EventRecorder::Create();
    SinkConnection otherConnection(second.Get(), other.Get());
    ASSERT_HRESULT_SUCCEEDED(otherConnection.Result());

    const std::wstring source = image.WritePcFile(L"song.mp3", 200000);
    const long id = CopyIn(L"C:\\Data\\", source);
    ASSERT_GE(id, 1);
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(id));
    EXPECT_EQ(S_OK, other->WaitForCompletion(id));
    EXPECT_EQ(Ids(recorder->EventsFor(id)), Ids(other->EventsFor(id)));
    const auto events = recorder->EventsFor(id);
    ExpectCompleteRun(events, S_OK);
    EXPECT_EQ(6u, events.size());  // 0%, three chunks of 64 KiB, the rest, completion
    EXPECT_EQ(source, events.front().fileName);
    EXPECT_EQ(200000, events[events.size() - 2].bytes);
    EXPECT_NE(GetCurrentThreadId(), events.front().threadId);
    EXPECT_EQ(PatternBytes(200000), ReadFileBytes(image.PcPath(L"C:\\Data\\song.mp3")));
    // Completion comes once.
    EXPECT_EQ(1, std::count_if(events.begin(), events.end(), [](const Event& e) { return e.id == 16; }));

    // The copy keeps the source's time.
    WIN32_FILE_ATTRIBUTE_DATA from, to;
    ASSERT_TRUE(GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &from));
    ASSERT_TRUE(GetFileAttributesExW(image.PcPath(L"C:\\Data\\song.mp3").c_str(), GetFileExInfoStandard, &to));
    EXPECT_EQ(0, CompareFileTime(&from.ftLastWriteTime, &to.ftLastWriteTime));
}

TEST_F(PhoneSimCopy, CopyToPcIntoFoldersAndFiles) {
    // Into an existing folder, into a folder named with a final backslash, to a file path.
    const long intoFolder = CopyOut(L"C:\\Data\\a.txt", image.PcFolder());
    ASSERT_HRESULT_SUCCEEDED(CreateDirectoryW((image.PcFolder() + L"\\sub").c_str(), nullptr) ? S_OK : E_FAIL);
    const long intoSlash = CopyOut(L"C:\\Data\\big.bin", image.PcFolder() + L"\\sub\\");
    const long toFile = CopyOut(L"C:\\top.txt", image.PcFolder() + L"\\renamed.txt");
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(intoFolder));
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(intoSlash));
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(toFile));
    EXPECT_EQ("hello", ReadFileBytes(image.PcFolder() + L"\\a.txt"));
    EXPECT_EQ(PatternBytes(300000), ReadFileBytes(image.PcFolder() + L"\\sub\\big.bin"));
    EXPECT_EQ("t", ReadFileBytes(image.PcFolder() + L"\\renamed.txt"));
    ExpectCompleteRun(recorder->EventsFor(intoSlash), S_OK);
    EXPECT_EQ(L"C:\\Data\\big.bin", recorder->EventsFor(intoSlash).front().fileName);
    EXPECT_TRUE(intoFolder != intoSlash && intoSlash != toFile && intoFolder != toFile);

    // A folder that does not exist ends with an error event and the path result.
    const long nowhere = CopyOut(L"C:\\top.txt", image.PcFolder() + L"\\none\\x.txt");
    EXPECT_EQ(kPathNotFound, recorder->WaitForCompletion(nowhere));
    const auto events = recorder->EventsFor(nowhere);
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(14, events[0].id);
    EXPECT_EQ(scErrInvalidPcArchivePath, events[0].errorType);
    EXPECT_EQ(kPathNotFound, events[0].errorCode);
    EXPECT_FALSE(events[0].canContinue);
}

TEST_F(PhoneSimCopy, FailuresReportAnErrorThenTheCompletion) {
    struct Case {
        const wchar_t* directory;
        std::wstring source;
        HRESULT result;
        long errorType;
    };
    const std::wstring big = image.WritePcFile(L"big.bin", 1600000);
    const Case cases[] = {
        {L"C:\\Data\\", image.PcFolder() + L"\\missing.txt", kFileNotFound, scErrPathNotFound},
        {L"Z:\\", image.WritePcFile(L"x.txt", "x"), kAccessDenied, scErrUnexpected},
        {L"E:\\", big, kDiskFull, scErrDiskFull},
    };
    for (const auto& c : cases) {
        const long id = CopyIn(c.directory, c.source);
        EXPECT_EQ(c.result, recorder->WaitForCompletion(id));
        EXPECT_EQ((std::vector<DISPID>{14, 16}), Ids(recorder->EventsFor(id)));
        EXPECT_EQ(c.errorType, recorder->EventsFor(id).front().errorType);
    }
    EXPECT_FALSE(FileExists(image.PcPath(L"E:\\big.bin")));
    // Synchronous refusals give no request and no event.
    long id = 7;
    EXPECT_EQ(E_INVALIDARG, Directory(L"C:\\")->CopyFileFromPC(UniqueBstr(L"").Get(), &id));
    EXPECT_EQ(0, id);
}

TEST_F(PhoneSimCopy, CancelLeavesNoPartialTarget) {
    recorder->CancelAtPercent(40);
    const long in = CopyIn(L"C:\\", image.WritePcFile(L"video.mp4", 500000));
    EXPECT_EQ(kCancelled, recorder->WaitForCompletion(in));
    EXPECT_FALSE(FileExists(image.PcPath(L"C:\\video.mp4")));
    auto events = recorder->EventsFor(in);
    ASSERT_GE(events.size(), 2u);
    EXPECT_GE(events[events.size() - 2].percent, 40);
    EXPECT_LT(events[events.size() - 2].percent, 100);
    for (const auto& e : events) EXPECT_NE(14, e.id);  // a cancel is no error

    // Cancelled at the first event: nothing is written, the other way too.
    recorder->CancelAtPercent(0);
    const long out = CopyOut(L"C:\\Data\\big.bin", image.PcFolder());
    EXPECT_EQ(kCancelled, recorder->WaitForCompletion(out));
    EXPECT_EQ(2u, recorder->EventsFor(out).size());
    EXPECT_FALSE(FileExists(image.PcFolder() + L"\\big.bin"));
}

TEST_F(PhoneSimCopy, ExistingTargetIsReplacedOnlyWhenTheSinkSaysOverwrite) {
    const std::wstring source = image.WritePcFile(L"a.txt", "new content");
    recorder->AnswerExisting(scActionKeep);
    const long kept = CopyIn(L"C:\\Data\\", source);
    EXPECT_EQ(kAlreadyExists, recorder->WaitForCompletion(kept));
    EXPECT_EQ((std::vector<DISPID>{15, 14, 16}), Ids(recorder->EventsFor(kept)));
    EXPECT_EQ(scErrFileAlreadyExists, recorder->EventsFor(kept)[1].errorType);
    EXPECT_EQ("hello", ReadFileBytes(image.PcPath(L"C:\\Data\\a.txt")));

    recorder->AnswerExisting(scActionOverwrite, true);
    const long cancelled = CopyIn(L"C:\\Data\\", source);
    EXPECT_EQ(kCancelled, recorder->WaitForCompletion(cancelled));
    EXPECT_EQ("hello", ReadFileBytes(image.PcPath(L"C:\\Data\\a.txt")));

    recorder->AnswerExisting(scActionOverwrite);
    const long replaced = CopyIn(L"C:\\Data\\", source);
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(replaced));
    const auto events = recorder->EventsFor(replaced);
    ASSERT_EQ(15, events.front().id);
    EXPECT_EQ(5, events.front().existingSize);
    EXPECT_EQ(11, events.front().newSize);
    EXPECT_EQ(source, events.front().fileName);
    EXPECT_EQ("new content", ReadFileBytes(image.PcPath(L"C:\\Data\\a.txt")));

    // Overwrite is still refused for a read-only target.
    const long readOnly = CopyIn(L"C:\\Data\\", image.WritePcFile(L"ro.txt", "no"));
    EXPECT_EQ(kAccessDenied, recorder->WaitForCompletion(readOnly));
    EXPECT_EQ("keep", ReadFileBytes(image.PcPath(L"C:\\Data\\ro.txt")));

    // A sink that leaves the question unanswered keeps the target.
    recorder->AnswerExisting(-1);
    const long unanswered = CopyIn(L"C:\\Data\\", source);
    EXPECT_EQ(kAlreadyExists, recorder->WaitForCompletion(unanswered));
}

// A sink that behaves like Morvane's copy wait object: an event that comes
// before its request id is known waits for the id while pumping messages.
class WaitingSink final : public IDispatch {
public:
    WaitingSink() : m_idSet(CreateEventW(nullptr, FALSE, FALSE, nullptr)), m_done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~WaitingSink() {
        CloseHandle(m_idSet);
        CloseHandle(m_done);
    }
    void SetRequestId(long id) {
        m_id = id;
        SetEvent(m_idSet);
    }
    std::atomic<bool> waitedForId{false};
    std::atomic<long> progressAfterId{0};
    std::atomic<long> result{-1};
    HANDLE Done() const { return m_done; }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID_ISCEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return InterlockedIncrement(&m_refs); }
    STDMETHOD_(ULONG, Release)() override {
        LONG r = InterlockedDecrement(&m_refs);
        if (r == 0) delete this;
        return r;
    }
    STDMETHOD(GetTypeInfoCount)(UINT* n) override { *n = 0; return S_OK; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        if (m_id == -1) {
            waitedForId = true;
            for (;;) {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
                if (MsgWaitForMultipleObjects(1, &m_idSet, FALSE, INFINITE, 0) != WAIT_OBJECT_0 + 1) break;
            }
        }
        if (p->rgvarg[p->cArgs - 1].lVal != m_id) return S_OK;
        if (id == 13) ++progressAfterId;
        if (id == 16) {
            result = p->rgvarg[0].lVal;
            SetEvent(m_done);
        }
        return S_OK;
    }

private:
    LONG m_refs = 1;
    std::atomic<long> m_id{-1};
    HANDLE m_idSet;
    HANDLE m_done;
};

TEST_F(PhoneSimCopy, EarlyEventsArriveBeforeTheCopyCallReturns) {
    ASSERT_HRESULT_SUCCEEDED(control->put_EarlyEvents(VARIANT_TRUE));
    // A plain sink has had the first event when the call returns.
    std::atomic<bool> returned{false};
    std::atomic<int> beforeReturn{0};
    recorder->OnEvent([&](const Event&) {
        if (!returned) ++beforeReturn;
    });
    const long first = CopyIn(L"C:\\", image.WritePcFile(L"one.txt", "1"));
    returned = true;
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(first));
    EXPECT_GE(beforeReturn.load(), 1);

    // A sink waiting for its id holds the copy until it has the id, and then
    // sees every event of its request.
    auto sink = ComPtr<WaitingSink>::Adopt(new WaitingSink());
    SinkConnection waiting(app.Get(), sink.Get());
    ASSERT_HRESULT_SUCCEEDED(waiting.Result());
    const long id = CopyIn(L"C:\\", image.WritePcFile(L"two.bin", 150000));
    EXPECT_TRUE(sink->waitedForId);
    sink->SetRequestId(id);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sink->Done(), 60000));
    EXPECT_EQ(S_OK, sink->result.load());
    EXPECT_EQ(4, sink->progressAfterId.load());  // 0%, three chunks
    EXPECT_EQ(PatternBytes(150000), ReadFileBytes(image.PcPath(L"C:\\two.bin")));
}

TEST_F(PhoneSimCopy, DisconnectCompletesPendingCopies) {
    ASSERT_HRESULT_SUCCEEDED(control->put_CopiesPaused(VARIANT_TRUE));
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    recorder->OnEvent([&](const Event& e) {
        if (e.id == 13) SetEvent(started);
    });
    const long id = CopyIn(L"C:\\", image.WritePcFile(L"held.bin", 100000));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started, 60000));
    long active = 0;
    ASSERT_HRESULT_SUCCEEDED(control->get_ActiveCopies(&active));
    EXPECT_EQ(1, active);

    ASSERT_HRESULT_SUCCEEDED(control->Disconnect(UniqueBstr(kImei).Get()));
    EXPECT_EQ(kDisconnected, recorder->WaitForCompletion(id));
    CloseHandle(started);
    EXPECT_EQ((std::vector<DISPID>{13, 14, 16}), Ids(recorder->EventsFor(id)));
    EXPECT_EQ(scErrDeviceDisconnected, recorder->EventsFor(id)[1].errorType);
    EXPECT_FALSE(FileExists(image.PcPath(L"C:\\held.bin")));
    ASSERT_HRESULT_SUCCEEDED(control->get_ActiveCopies(&active));
    EXPECT_EQ(0, active);

    // Later copies are refused at once.
    long refused = 5;
    ComPtr<ISCDeviceStorageItem> item;
    EXPECT_EQ(kDeviceNotReady, device_->GetStorageItem(UniqueBstr(L"C:\\top.txt").Get(), item.Receive()));
    ASSERT_HRESULT_SUCCEEDED(control->Reconnect(UniqueBstr(kImei).Get()));
    ComPtr<ISCDeviceStorageFile> top = FileAt(L"C:\\top.txt");
    ASSERT_HRESULT_SUCCEEDED(control->Disconnect(UniqueBstr(L"").Get()));
    EXPECT_EQ(kDeviceNotReady, top->CopyFileToPC(UniqueBstr(image.PcFolder().c_str()).Get(), &refused));
    EXPECT_EQ(0, refused);
}

TEST_F(PhoneSimCopy, InjectedFailuresAndErrors) {
    // A failure part way leaves no partial target.
    ASSERT_HRESULT_SUCCEEDED(control->FailNextCopy(static_cast<long>(0x8007001FL), 50));
    const long failed = CopyIn(L"C:\\", image.WritePcFile(L"f.bin", 400000));
    EXPECT_EQ(static_cast<HRESULT>(0x8007001FL), recorder->WaitForCompletion(failed));
    auto events = recorder->EventsFor(failed);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(14, events[events.size() - 2].id);
    EXPECT_FALSE(FileExists(image.PcPath(L"C:\\f.bin")));
    // Only the next copy.
    const long next = CopyIn(L"C:\\", image.WritePcFile(L"g.bin", 10));
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(next));

    // An error that may be continued: the sink's answer decides.
    ASSERT_HRESULT_SUCCEEDED(control->InjectCopyError(scErrDiskFull, kDiskFull, VARIANT_TRUE));
    recorder->AnswerContinue(true);
    const long continued = CopyIn(L"C:\\", image.WritePcFile(L"h.bin", 10));
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(continued));
    EXPECT_EQ((std::vector<DISPID>{13, 14, 13, 16}), Ids(recorder->EventsFor(continued)));
    EXPECT_TRUE(recorder->EventsFor(continued)[1].canContinue);

    ASSERT_HRESULT_SUCCEEDED(control->InjectCopyError(scErrDiskFull, kDiskFull, VARIANT_TRUE));
    recorder->AnswerContinue(false);
    const long stopped = CopyOut(L"C:\\top.txt", image.PcFolder());
    EXPECT_EQ(kDiskFull, recorder->WaitForCompletion(stopped));
    EXPECT_FALSE(FileExists(image.PcFolder() + L"\\top.txt"));

    // A copy call made to fail starts nothing.
    ASSERT_HRESULT_SUCCEEDED(control->FailCalls(simCallCopyFromPC, E_OUTOFMEMORY, 1));
    long id = 9;
    EXPECT_EQ(E_OUTOFMEMORY, Directory(L"C:\\")->CopyFileFromPC(UniqueBstr(image.WritePcFile(L"i", "i").c_str()).Get(), &id));
    EXPECT_EQ(0, id);
    EXPECT_EQ(4, Count(simCallCopyFromPC));  // the refused call counts too
    EXPECT_EQ(1, Count(simCallCopyToPC));
}

TEST_F(PhoneSimCopy, ThrottleCutsCopiesIntoSmallerSteps) {
    ASSERT_HRESULT_SUCCEEDED(control->put_Throttle(200000));
    long throttle = 0;
    ASSERT_HRESULT_SUCCEEDED(control->get_Throttle(&throttle));
    EXPECT_EQ(200000, throttle);
    // A tenth of a second's worth per step: 20000 bytes.
    const long id = CopyIn(L"C:\\", image.WritePcFile(L"t.bin", 60000));
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(id));
    const auto events = recorder->EventsFor(id);
    ExpectCompleteRun(events, S_OK);
    EXPECT_EQ(5u, events.size());
    EXPECT_EQ(20000, events[1].bytes);
    EXPECT_EQ(E_INVALIDARG, control->put_Throttle(-1));
}

} // namespace
} // namespace simtest
