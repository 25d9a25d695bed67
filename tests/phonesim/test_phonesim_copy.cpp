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
    // Into a folder named with a final backslash, and to a file path.
    ASSERT_TRUE(CreateDirectoryW((image.PcFolder() + L"\\sub").c_str(), nullptr));
    const long intoSlash = CopyOut(L"C:\\Data\\big.bin", image.PcFolder() + L"\\sub\\");
    const long toFile = CopyOut(L"C:\\top.txt", image.PcFolder() + L"\\renamed.txt");
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(intoSlash));
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(toFile));
    EXPECT_EQ(PatternBytes(300000), ReadFileBytes(image.PcFolder() + L"\\sub\\big.bin"));
    EXPECT_EQ("t", ReadFileBytes(image.PcFolder() + L"\\renamed.txt"));
    ExpectCompleteRun(recorder->EventsFor(intoSlash), S_OK);
    EXPECT_EQ(L"C:\\Data\\big.bin", recorder->EventsFor(intoSlash).front().fileName);

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
    struct Case { const wchar_t* directory; std::wstring source; HRESULT result; long errorType; };
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
    // An injected failure part way leaves no partial target, and hits only the next copy.
    ASSERT_HRESULT_SUCCEEDED(control->FailNextCopy(static_cast<long>(0x8007001FL), 50));
    const long failed = CopyIn(L"C:\\", image.WritePcFile(L"f.bin", 400000));
    EXPECT_EQ(Hr(0x8007001F), recorder->WaitForCompletion(failed));
    EXPECT_EQ(14, recorder->EventsFor(failed).rbegin()[1].id);
    EXPECT_FALSE(FileExists(image.PcPath(L"C:\\f.bin")));
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(CopyIn(L"C:\\", image.WritePcFile(L"g.bin", 10))));
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
}

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
}

} // namespace
} // namespace simtest
