// Copies between the card's removable drive and the PC: progress per chunk
// through the callback, overwrite, cancel with no target left, failures
// reported through the wait object, refusals, and the chunked copy's contract.
#include "test_pc_fixture.h"

#include "operations/Callbacks.h"

namespace pctest {
namespace {

constexpr LONG kOk = 0;
constexpr LONG kFailed = static_cast<LONG>(0x80000000);
constexpr LONG kAborted = static_cast<LONG>(0xC0000000);

class RecordingProgress : public CProgressCallbackFunctionBase {
public:
    HRESULT Invoke(const wchar_t* path, short percent, short* cancel) override {
        paths.push_back(path ? path : L"");
        percents.push_back(percent);
        if (cancelAt >= 0 && percent >= cancelAt) *cancel = cancelValue;
        return S_OK;
    }
    std::vector<std::wstring> paths;
    std::vector<short> percents;
    short cancelAt = -1;
    short cancelValue = 1;
};

class CountingReplace : public CReplaceCallbackFunctionBase {
public:
    HRESULT Invoke(const wchar_t*, DATE, ULONG, DATE, ULONG, long* answer) override {
        ++calls;
        *answer = 3;
        return S_OK;
    }
    int calls = 0;
};

class PcCopy : public CardTest {
protected:
    void SetUp() override {
        CardTest::SetUp();
        m_pc.reset(new TempFolder(L"pccopy"));
    }
    void TearDown() override {
        m_pc.reset();
        CardTest::TearDown();
    }
    std::wstring Pc(const std::wstring& name) const { return m_pc->Path() + L"\\" + name; }

    // The copy has ended inside the call; returns the wait object's result.
    // raw is read only after the call that fills it.
    LONG Ended(HRESULT hr, CCopyFileWaitObject** raw) {
        std::unique_ptr<CCopyFileWaitObject> wait(*raw);
        *raw = nullptr;
        EXPECT_EQ(S_OK, hr);
        if (!wait) return 1;
        EXPECT_TRUE(wait->IsSignalled());
        return wait->GetResult();
    }

    std::unique_ptr<TempFolder> m_pc;
    RecordingProgress m_progress;
    CountingReplace m_replace;
};

TEST_F(PcCopy, CopiesBothWaysOverwritingWithProgressPerChunk) {
    Bind();
    const int64_t size = 3 * kPcCopyChunkSize + 1000;
    const std::string bytes = PatternBytes(size);
    WriteCard(L"out.bin", bytes);
    WriteFileBytes(Pc(L"in.bin"), bytes);
    WriteCard(L"in.bin", std::string(5 * kPcCopyChunkSize, 'x'));  // longer: no tail may remain
    CCopyFileWaitObject* raw = nullptr;

    EXPECT_EQ(kOk, Ended(PcFile(L"out.bin")->CopyFileToPC(Executor(), Pc(L"out.bin").c_str(), &raw, &m_progress,
                                                          &m_replace), &raw));
    EXPECT_TRUE(ReadFileBytes(Pc(L"out.bin")) == bytes);
    EXPECT_EQ(kOk, Ended(PcFolder(L"")->CopyFileFromPC(Executor(), Pc(L"in.bin").c_str(), &raw, &m_progress,
                                                       &m_replace), &raw));
    EXPECT_TRUE(ReadFileBytes(Card(L"in.bin")) == bytes);

    // Per copy: one report before the data, one per chunk, naming the source.
    EXPECT_EQ((std::vector<short>{0, 33, 66, 99, 100, 0, 33, 66, 99, 100}), m_progress.percents);  // truncated
    EXPECT_EQ(std::vector<std::wstring>(5, Card(L"out.bin")),
              std::vector<std::wstring>(m_progress.paths.begin(), m_progress.paths.begin() + 5));
    EXPECT_EQ(Pc(L"in.bin"), m_progress.paths.back());
    EXPECT_EQ(0, m_replace.calls);

    m_progress.percents.clear();
    WriteCard(L"empty.txt", "");
    EXPECT_EQ(kOk, Ended(PcFile(L"empty.txt")->CopyFileToPC(Executor(), Pc(L"empty.txt").c_str(), &raw, &m_progress,
                                                            &m_replace), &raw));
    EXPECT_TRUE(Exists(Pc(L"empty.txt")));
    EXPECT_EQ(std::vector<short>{0}, m_progress.percents);
}

TEST_F(PcCopy, CancelInEitherDirectionAbortsAndLeavesNoTarget) {
    Bind();
    WriteCard(L"out.bin", PatternBytes(4 * kPcCopyChunkSize));
    WriteFileBytes(Pc(L"in.bin"), PatternBytes(4 * kPcCopyChunkSize));
    CCopyFileWaitObject* raw = nullptr;
    // Any non-zero cancel value counts.
    m_progress.cancelAt = 50;
    m_progress.cancelValue = -1;
    EXPECT_EQ(kAborted, Ended(PcFile(L"out.bin")->CopyFileToPC(Executor(), Pc(L"out.bin").c_str(), &raw,
                                                               &m_progress, &m_replace), &raw));
    EXPECT_FALSE(Exists(Pc(L"out.bin")));
    EXPECT_EQ((std::vector<short>{0, 25, 50}), m_progress.percents);  // nothing after the cancel

    m_progress.cancelAt = 0;
    m_progress.cancelValue = 1;
    EXPECT_EQ(kAborted, Ended(PcFolder(L"")->CopyFileFromPC(Executor(), Pc(L"in.bin").c_str(), &raw, &m_progress,
                                                            &m_replace), &raw));
    EXPECT_FALSE(Exists(Card(L"in.bin")));
}

TEST_F(PcCopy, FailuresReachTheWaitObjectAndRefusalsStartNothing) {
    Bind();
    WriteCard(L"a.bin", "keep me");
    WriteFileBytes(Pc(L"in.bin"), "x");
    auto file = PcFile(L"a.bin");
    auto folder = PcFolder(L"");
    CCopyFileWaitObject* raw = nullptr;
    // Unwritable targets, the source itself, a missing source: the call succeeds, the copy fails.
    for (const std::wstring& target : {Pc(L"no such folder\\a.bin"), Card(L"a.bin"), m_pc->Path()}) {
        EXPECT_EQ(kFailed, Ended(file->CopyFileToPC(Executor(), target.c_str(), &raw, &m_progress, &m_replace), &raw))
            << Narrow(target);
    }
    EXPECT_EQ("keep me", ReadFileBytes(Card(L"a.bin")));
    EXPECT_EQ(kFailed, Ended(folder->CopyFileFromPC(Executor(), Pc(L"ghost.bin").c_str(), &raw, &m_progress,
                                                    &m_replace), &raw));
    EXPECT_FALSE(Exists(Card(L"ghost.bin")));

    m_progress.percents.clear();
    CCopyFileWaitObject* wait = nullptr;
    const _bstr_t source(Pc(L"in.bin").c_str());
    EXPECT_EQ(E_INVALIDARG, folder->CopyFileFromPC(nullptr, source, &wait, &m_progress, &m_replace));
    EXPECT_EQ(E_INVALIDARG, folder->CopyFileFromPC(Executor(), source, nullptr, &m_progress, &m_replace));
    EXPECT_EQ(E_INVALIDARG, folder->CopyFileFromPC(Executor(), source, &wait, nullptr, &m_replace));
    EXPECT_EQ(E_INVALIDARG, folder->CopyFileFromPC(Executor(), source, &wait, &m_progress, nullptr));
    // The source's name becomes the target's: it must be a plain name.
    EXPECT_EQ(E_INVALIDARG, folder->CopyFileFromPC(Executor(), (m_pc->Path() + L"\\..").c_str(), &wait, &m_progress,
                                                   &m_replace));
    EXPECT_EQ(E_FAIL, folder->CopyFileFromPC(Executor(), L"in.bin", &wait, &m_progress, &m_replace));
    const std::wstring longName(259 - Card(L"").size(), L'n');  // card path of 260 characters
    EXPECT_EQ(kPathTooLong, folder->CopyFileFromPC(Executor(), (L"C:\\" + longName + L"x").c_str(), &wait,
                                                   &m_progress, &m_replace));
    EXPECT_EQ(E_INVALIDARG, file->CopyFileToPC(Executor(), source, nullptr, &m_progress, &m_replace));
    EXPECT_EQ(E_INVALIDARG, file->CopyFileToPC(Executor(), L"", &wait, &m_progress, &m_replace));
    EXPECT_EQ(kPathTooLong,
              file->CopyFileToPC(Executor(), std::wstring(300, L'd').c_str(), &wait, &m_progress, &m_replace));
    EXPECT_EQ(nullptr, wait);
    EXPECT_TRUE(m_progress.percents.empty());
}

struct RoutineLog {
    std::vector<LONGLONG> transferred;
    size_t answerAt = ~size_t(0);
    DWORD answer = PROGRESS_CONTINUE;
};

DWORD CALLBACK LoggingRoutine(LARGE_INTEGER, LARGE_INTEGER transferred, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD,
                              HANDLE, HANDLE, LPVOID data) {
    auto* log = static_cast<RoutineLog*>(data);
    log->transferred.push_back(transferred.QuadPart);
    return log->transferred.size() - 1 == log->answerAt ? log->answer : PROGRESS_CONTINUE;
}

TEST_F(PcCopy, ChunkedCopyKeepsTheCopyFileExContract) {
    Bind();
    const int64_t size = 2 * kPcCopyChunkSize + 5;
    const std::string bytes = PatternBytes(size);
    WriteCard(L"src.bin", bytes);
    const std::wstring source = Card(L"src.bin");

    RoutineLog log;
    ASSERT_TRUE(PcCopyFileChunked(source.c_str(), Pc(L"a.bin").c_str(), LoggingRoutine, &log, nullptr, 0));
    EXPECT_EQ((std::vector<LONGLONG>{0, kPcCopyChunkSize, 2 * kPcCopyChunkSize, size}), log.transferred);
    WIN32_FILE_ATTRIBUTE_DATA in = {}, out = {};
    GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &in);
    GetFileAttributesExW(Pc(L"a.bin").c_str(), GetFileExInfoStandard, &out);
    EXPECT_EQ(0, CompareFileTime(&in.ftLastWriteTime, &out.ftLastWriteTime));

    WriteFileBytes(Pc(L"b.bin"), "old");
    EXPECT_FALSE(PcCopyFileChunked(source.c_str(), Pc(L"b.bin").c_str(), nullptr, nullptr, nullptr,
                                   COPY_FILE_FAIL_IF_EXISTS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
    EXPECT_EQ("old", ReadFileBytes(Pc(L"b.bin")));

    // Stop and cancel answers, and the cancel flag, abort with nothing left.
    for (DWORD answer : {static_cast<DWORD>(PROGRESS_STOP), static_cast<DWORD>(PROGRESS_CANCEL)}) {
        RoutineLog stop;
        stop.answerAt = 1;
        stop.answer = answer;
        EXPECT_FALSE(PcCopyFileChunked(source.c_str(), Pc(L"c.bin").c_str(), LoggingRoutine, &stop, nullptr, 0));
        EXPECT_EQ(static_cast<DWORD>(ERROR_REQUEST_ABORTED), GetLastError());
        EXPECT_EQ(2u, stop.transferred.size());
        EXPECT_FALSE(Exists(Pc(L"c.bin")));
    }
    BOOL cancel = TRUE;
    EXPECT_FALSE(PcCopyFileChunked(source.c_str(), Pc(L"d.bin").c_str(), nullptr, nullptr, &cancel, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_REQUEST_ABORTED), GetLastError());
    EXPECT_FALSE(Exists(Pc(L"d.bin")));
    EXPECT_FALSE(PcCopyFileChunked(Card(L"missing.bin").c_str(), Pc(L"e.bin").c_str(), nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(Exists(Pc(L"e.bin")));
}

} // namespace
} // namespace pctest
