// Copies as the system relies on them: progress from 0, one completion, events before the call returns.
// (Cancel, overwrite answers and disconnects are exercised through the system.)
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
    ComPtr<EventRecorder> recorder;
    std::unique_ptr<SinkConnection> connection;
};

TEST_F(PhoneSimCopy, CopyFromPcFiresProgressThenOneCompletion) {
    const std::wstring source = image.WritePcFile(L"song.mp3", 200000);
    const long id = CopyIn(L"C:\\Data\\", source);
    ASSERT_GE(id, 1);
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(id));
    // Progress from 0 rising to 100, then one completion.
    const auto events = recorder->EventsFor(id);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(0, events.front().percent);
    long last = -1;
    for (size_t i = 0; i + 1 < events.size(); ++i) {
        EXPECT_EQ(13, events[i].id);
        EXPECT_GE(events[i].percent, last);
        last = events[i].percent;
    }
    EXPECT_EQ(100, last);
    EXPECT_EQ(16, events.back().id);
    EXPECT_EQ(S_OK, events.back().result);
    EXPECT_EQ(6u, events.size());  // 0%, three chunks of 64 KiB, the rest, completion
    EXPECT_EQ(source, events.front().fileName);
    EXPECT_EQ(200000, events[events.size() - 2].bytes);
    EXPECT_NE(GetCurrentThreadId(), events.front().threadId);
    EXPECT_EQ(PatternBytes(200000), ReadFileBytes(image.PcPath(L"C:\\Data\\song.mp3")));
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

} // namespace
} // namespace simtest
