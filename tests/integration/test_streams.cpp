// A phone file read as a stream: reads while the local copy grows, seeks, copies, failures, clean-up.
#include "test_fixture.h"

#include <tlhelp32.h>

#include <climits>
#include <set>

#include "module/Utilities.h"

namespace {

using namespace itest;

const wchar_t kMedium[] = L"\\Phone\\Pictures\\medium.bin";
const wchar_t kSmall[] = L"\\Phone\\Pictures\\small.txt";
const wchar_t kBig[] = L"\\Phone\\Pictures\\big.bin";
constexpr int64_t kMediumSize = 300000;
constexpr int64_t kBigSize = 8ll << 20;
const std::string kSmallText = "Streams begin with a first read.";

LARGE_INTEGER Offset(LONGLONG value) { return LARGE_INTEGER{.QuadPart = value}; }
ULARGE_INTEGER Count(ULONGLONG value) { return ULARGE_INTEGER{.QuadPart = value}; }

std::vector<std::wstring> EntriesOf(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

int64_t SizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::set<DWORD> ThreadsOfThisProcess() {
    std::set<DWORD> ids;
    com::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    if (!snapshot || !Thread32First(snapshot.Get(), &entry)) return ids;
    do {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    } while (Thread32Next(snapshot.Get(), &entry));
    return ids;
}

// Points TMP and TEMP of this process somewhere else while it lives.
class TempRedirect {
public:
    explicit TempRedirect(const std::wstring& folder) {
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t old[MAX_PATH] = {};
            const DWORD n = GetEnvironmentVariableW(name, old, MAX_PATH);
            m_old.push_back({name, n && n < MAX_PATH ? std::wstring(old) : std::wstring(), n != 0});
            SetEnvironmentVariableW(name, folder.c_str());
        }
    }
    ~TempRedirect() {
        for (const auto& v : m_old) SetEnvironmentVariableW(v.name, v.present ? v.value.c_str() : nullptr);
    }

private:
    struct Saved {
        const wchar_t* name;
        std::wstring value;
        bool present;
    };
    std::vector<Saved> m_old;
};

class Streams : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone(true);
        m_image.Fill(L'C', {File(L"Images\\small.txt", kSmallText), Sized(L"Images\\medium.bin", kMediumSize)});
    }
    void TearDown() override {
        m_redirect.reset();
        m_temp.reset();
        PhoneTest::TearDown();
    }
    // Binds, then gives the streams' images a temporary folder of their own.
    void Start(bool card = false) {
        if (card) BindCard();
        else Bind(SamplePath(L"browser.xml"), L"phone-browser");
        m_temp.reset(new TempFolder(L"streams"));
        m_redirect.reset(new TempRedirect(m_temp->Path()));
    }
    ComPtr<IStream> StreamOn(IKVFMFile* file) {
        ComPtr<IUnknown> unknown;
        ComPtr<IStream> stream;
        EXPECT_EQ(S_OK, file ? file->get_IStream(unknown.Receive()) : E_POINTER);
        if (unknown) {
            EXPECT_EQ(S_OK, unknown->QueryInterface(IID_IStream, stream.ReceiveVoid()));
        }
        return stream;
    }
    long ActiveCopies() {
        long count = -1;
        EXPECT_HRESULT_SUCCEEDED(m_control->get_ActiveCopies(&count));
        return count;
    }
    std::vector<std::wstring> ImageFolders() { return EntriesOf(m_temp->Path()); }
    // Polls, pumping messages; the cap only turns a hang into a failure.
    template <class Condition>
    bool WaitUntil(Condition done) {
        const ULONGLONG deadline = GetTickCount64() + kHangMs;
        while (!done()) {
            if (GetTickCount64() >= deadline) return false;
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(5);
        }
        return true;
    }
    // Every copy over, every image folder gone, every object of ours released.
    bool AllCleanedUp(LONG lockBaseline) {
        return WaitUntil([&] {
            return ActiveCopies() == 0 && ImageFolders().empty() && com::Module().LockCount() == lockBaseline;
        });
    }
    static std::string Bytes(const char* data, ULONG n) { return std::string(data, n); }

    std::unique_ptr<TempFolder> m_temp;
    std::unique_ptr<TempRedirect> m_redirect;
};

TEST_F(Streams, FirstReadComesBeforeTheCopyEndsAndReleaseCancelsIt) {
    m_image.Fill(L'C', {Sized(L"Images\\big.bin", kBigSize)});
    Start();
    const std::string pattern = PatternBytes(64);
    auto file = FileAt(kBig);
    const LONG baseline = com::Module().LockCount();
    // The whole copy would take far longer than the hang cap.
    ASSERT_HRESULT_SUCCEEDED(m_control->put_Throttle(64 * 1024));

    auto stream = StreamOn(file.Get());
    ASSERT_TRUE(stream);
    EXPECT_TRUE(ImageFolders().empty()) << "nothing is copied before the first read";
    char buffer[16] = {};
    ULONG read = 0;
    const std::set<DWORD> before = ThreadsOfThisProcess();
    ASSERT_EQ(S_OK, stream->Read(buffer, sizeof buffer, &read));
    std::vector<DWORD> started;
    for (DWORD id : ThreadsOfThisProcess())
        if (!before.count(id)) started.push_back(id);
    EXPECT_FALSE(started.empty()) << "the copy runs on a thread of its own";
    EXPECT_EQ(16u, read);
    EXPECT_EQ(pattern.substr(0, 16), Bytes(buffer, read));
    EXPECT_EQ(1, ActiveCopies());
    auto folders = ImageFolders();
    ASSERT_EQ(1u, folders.size());
    const std::wstring image = m_temp->Path() + L"\\" + folders[0] + L"\\big.bin";
    EXPECT_GE(SizeOf(image), 16);
    EXPECT_LT(SizeOf(image), kBigSize);
    EXPECT_EQ(baseline + 2, com::Module().LockCount()) << "the stream and its copy";

    ASSERT_EQ(S_OK, stream->Read(buffer, sizeof buffer, &read));
    EXPECT_EQ(pattern.substr(16, 16), Bytes(buffer, read));

    stream.Reset();
    EXPECT_TRUE(AllCleanedUp(baseline)) << "the copy was not cancelled or left something behind";
    EXPECT_FALSE(FileExists(image));
    // A thread that has ended and that nobody holds a handle to can no longer be opened.
    for (DWORD id : started) {
        EXPECT_TRUE(WaitUntil([&] { return !com::UniqueHandle(OpenThread(SYNCHRONIZE, FALSE, id)); }))
            << "thread " << id << " or a handle to it is left";
    }
    // The file object is untouched by its stream's end.
    EXPECT_EQ(kBig, PathOf(file.Get()));
    // Nothing of the stream keeps the library loaded.
    file.Reset();
    m_fm.Reset();
    m_service.Reset();
    m_object = nullptr;
    EXPECT_TRUE(WaitUntil([] { return com::Module().LockCount() == 0; })) << com::Module().LockCount();
}

TEST_F(Streams, ReadsSeeksCopiesAndTheEndOfTheFile) {
    Start();
    const std::string pattern = PatternBytes(kMediumSize);
    auto file = FileAt(kMedium);
    const LONG baseline = com::Module().LockCount();
    auto stream = StreamOn(file.Get());
    ASSERT_TRUE(stream);
    EXPECT_EQ(E_POINTER, file->get_IStream(nullptr));

    std::vector<char> buffer(4096);
    ULONG read = 0;
    ULARGE_INTEGER at = Count(12345);
    EXPECT_EQ(S_OK, stream->Read(buffer.data(), 0, &read));
    EXPECT_EQ(0u, read);
    ASSERT_EQ(S_OK, stream->Read(buffer.data(), 1000, &read));
    ASSERT_EQ(1000u, read);
    EXPECT_EQ(pattern.substr(0, 1000), Bytes(buffer.data(), read));

    // Beyond what may have arrived: the read waits for it.
    ASSERT_EQ(S_OK, stream->Seek(Offset(kMediumSize - 10), STREAM_SEEK_SET, &at));
    EXPECT_EQ(static_cast<ULONGLONG>(kMediumSize - 10), at.QuadPart);
    // The end of the file: a short count, then 0 bytes, both S_OK.
    EXPECT_EQ(S_OK, stream->Read(buffer.data(), 100, &read));
    ASSERT_EQ(10u, read);
    EXPECT_EQ(pattern.substr(kMediumSize - 10), Bytes(buffer.data(), read));
    EXPECT_EQ(S_OK, stream->Read(buffer.data(), 100, &read));
    EXPECT_EQ(0u, read);
    ASSERT_EQ(S_OK, stream->Seek(Offset(kMediumSize + 5000), STREAM_SEEK_SET, nullptr));
    read = 7;
    EXPECT_EQ(S_OK, stream->Read(buffer.data(), 100, &read));
    EXPECT_EQ(0u, read);

    // From the current position, both ways; never before the start. A
    // refused seek leaves the position where it was.
    const struct {
        LONGLONG move;
        DWORD origin;
        HRESULT hr;
        ULONGLONG at;
    } seeks[] = {{100, STREAM_SEEK_SET, S_OK, 100},
                 {50, STREAM_SEEK_CUR, S_OK, 150},
                 {-20, STREAM_SEEK_CUR, S_OK, 130},
                 {-131, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, 130},
                 {-1, STREAM_SEEK_SET, STG_E_INVALIDFUNCTION, 130},
                 {LLONG_MAX, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, 130},
                 {-5, STREAM_SEEK_END, E_NOTIMPL, 130},
                 {0, 7, E_INVALIDARG, 130}};
    for (const auto& s : seeks) {
        EXPECT_EQ(s.hr, stream->Seek(Offset(s.move), s.origin, &at)) << s.move << " from " << s.origin;
        EXPECT_EQ(s.at, at.QuadPart) << s.move << " from " << s.origin;
    }
    ASSERT_EQ(S_OK, stream->Read(buffer.data(), 20, &read));
    EXPECT_EQ(pattern.substr(130, 20), Bytes(buffer.data(), read));
    ASSERT_EQ(S_OK, stream->Seek(Offset(0), STREAM_SEEK_CUR, &at));
    EXPECT_EQ(150u, at.QuadPart);

    // A read-only stream without the rest of IStream.
    EXPECT_EQ(STG_E_INVALIDPOINTER, stream->Read(nullptr, 10, &read));
    STATSTG stat = {};
    ComPtr<IStream> clone;
    int member = 0;
    for (HRESULT hr : {stream->Write("x", 1, &read), stream->SetSize(Count(10)), stream->Commit(STGC_DEFAULT),
                       stream->Revert(), stream->LockRegion(Count(0), Count(1), LOCK_WRITE),
                       stream->UnlockRegion(Count(0), Count(1), LOCK_WRITE), stream->Stat(&stat, STATFLAG_NONAME),
                       stream->Clone(clone.Receive())})
        EXPECT_EQ(E_NOTIMPL, hr) << member++;
    EXPECT_FALSE(clone);

    // CopyTo, on another stream of the same file.
    auto copied = StreamOn(file.Get());
    ASSERT_TRUE(copied);
    ComPtr<IStream> memory, part;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, memory.Receive()));
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, part.Receive()));
    ULARGE_INTEGER copiedIn = Count(1), written = Count(1);
    EXPECT_EQ(STG_E_INVALIDPOINTER, copied->CopyTo(nullptr, Count(10), &copiedIn, &written));
    EXPECT_EQ(0u, copiedIn.QuadPart);

    // A copy that starts the local image, from the start to the end.
    ASSERT_EQ(S_OK, copied->CopyTo(memory.Get(), Count(ULLONG_MAX), &copiedIn, &written));
    EXPECT_EQ(static_cast<ULONGLONG>(kMediumSize), copiedIn.QuadPart);
    EXPECT_EQ(static_cast<ULONGLONG>(kMediumSize), written.QuadPart);
    HGLOBAL global = nullptr;
    ASSERT_EQ(S_OK, GetHGlobalFromStream(memory.Get(), &global));
    const char* bytes = static_cast<const char*>(GlobalLock(global));
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(Bytes(bytes, static_cast<ULONG>(kMediumSize)) == pattern) << "copied bytes differ";
    GlobalUnlock(global);
    ASSERT_EQ(S_OK, copied->CopyTo(memory.Get(), Count(ULLONG_MAX), &copiedIn, &written));
    EXPECT_EQ(0u, copiedIn.QuadPart);
    EXPECT_EQ(0u, written.QuadPart);

    // A counted piece from a position, which moves on by what was copied.
    ASSERT_EQ(S_OK, copied->Seek(Offset(70000), STREAM_SEEK_SET, nullptr));
    ASSERT_EQ(S_OK, copied->CopyTo(part.Get(), Count(100), &copiedIn, &written));
    EXPECT_EQ(100u, copiedIn.QuadPart);
    EXPECT_EQ(100u, written.QuadPart);
    ASSERT_EQ(S_OK, copied->Seek(Offset(0), STREAM_SEEK_CUR, &at));
    EXPECT_EQ(70100u, at.QuadPart);
    ASSERT_EQ(S_OK, part->Seek(Offset(0), STREAM_SEEK_SET, nullptr));
    ASSERT_EQ(S_OK, part->Read(buffer.data(), 100, &read));
    EXPECT_EQ(pattern.substr(70000, 100), Bytes(buffer.data(), read));

    EXPECT_EQ(2u, ImageFolders().size());

    stream.Reset();
    copied.Reset();
    EXPECT_TRUE(AllCleanedUp(baseline));
}

// A Seek made from another thread while a Read waits for the copy moves that
// read: its bytes come from the new position, and the position ends after them.
TEST_F(Streams, SeekWhileAReadWaitsMovesTheRead) {
    Start();
    const std::string pattern = PatternBytes(kMediumSize);
    auto file = FileAt(kMedium);
    ASSERT_HRESULT_SUCCEEDED(m_control->put_Throttle(128 * 1024));
    auto stream = StreamOn(file.Get());
    ASSERT_TRUE(stream);
    struct Reader {
        IStream* stream;
        std::string bytes;
        ULONG got = 0;
        HRESULT hr = E_FAIL;
    } reader{stream.Get(), std::string(static_cast<size_t>(kMediumSize), '\0')};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            auto* r = static_cast<Reader*>(p);
            r->hr = r->stream->Read(&r->bytes[0], static_cast<ULONG>(r->bytes.size()), &r->got);
            return 0;
        },
        &reader, 0, nullptr);
    ASSERT_TRUE(thread);
    // The read asks for the whole file, so it waits until the throttled copy ends.
    ASSERT_TRUE(WaitUntil([&] { return ActiveCopies() == 1; }));
    ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 0)) << "the read did not wait";
    const LONGLONG half = kMediumSize / 2;
    EXPECT_EQ(S_OK, stream->Seek(Offset(half), STREAM_SEEK_SET, nullptr));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kHangMs));
    CloseHandle(thread);
    EXPECT_TRUE(SUCCEEDED(reader.hr));
    ASSERT_EQ(static_cast<ULONG>(kMediumSize - half), reader.got);
    EXPECT_TRUE(pattern.substr(half) == reader.bytes.substr(0, reader.got)) << "bytes not from the new position";
    ULARGE_INTEGER position = {};
    EXPECT_EQ(S_OK, stream->Seek(Offset(0), STREAM_SEEK_CUR, &position));
    EXPECT_EQ(static_cast<ULONGLONG>(kMediumSize), position.QuadPart);
}

TEST_F(Streams, FailedCopiesAndAMissingTempFolderReportTheirResult) {
    Start();
    auto file = FileAt(kMedium);
    const LONG baseline = com::Module().LockCount();
    std::vector<char> buffer(kMediumSize);
    ULONG read = 7;

    // Fails half-way: a read that needs the whole file gets the copy's result.
    const HRESULT midway = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    const HRESULT midwayExpected = hresultFromKvFmResult(kvFmResultFromHresult(midway));
    ASSERT_NE(E_FAIL, midwayExpected);
    ASSERT_HRESULT_SUCCEEDED(m_control->FailNextCopy(midway, 50));
    auto stream = StreamOn(file.Get());
    ASSERT_TRUE(stream);
    EXPECT_EQ(midwayExpected, stream->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &read));
    EXPECT_EQ(0u, read);
    // Known from now on, without a new copy.
    const long copies = Calls(simCallCopyToPC);
    EXPECT_EQ(midwayExpected, stream->Read(buffer.data(), 10, &read));
    EXPECT_EQ(0u, read);
    EXPECT_EQ(copies, Calls(simCallCopyToPC));

    // Refused at the start by the phone.
    const HRESULT refused = E_ACCESSDENIED;
    const HRESULT refusedExpected = hresultFromKvFmResult(kvFmResultFromHresult(refused));
    ASSERT_NE(E_FAIL, refusedExpected);
    ASSERT_NE(midwayExpected, refusedExpected);
    ASSERT_HRESULT_SUCCEEDED(m_control->FailCalls(simCallCopyToPC, refused, 1));
    auto refusedStream = StreamOn(file.Get());
    ASSERT_TRUE(refusedStream);
    EXPECT_EQ(refusedExpected, refusedStream->Read(buffer.data(), 10, &read));
    EXPECT_EQ(0u, read);

    stream.Reset();
    refusedStream.Reset();
    EXPECT_TRUE(AllCleanedUp(baseline));

    // Every stream has its own folder.
    file = FileAt(kSmall);
    auto first = StreamOn(file.Get());
    auto second = StreamOn(file.Get());
    ASSERT_TRUE(first && second);
    ASSERT_EQ(S_OK, first->Read(buffer.data(), 4, &read));
    ASSERT_EQ(S_OK, second->Read(buffer.data(), 4, &read));
    EXPECT_EQ(kSmallText.substr(0, 4), Bytes(buffer.data(), read));
    auto folders = ImageFolders();
    ASSERT_EQ(2u, folders.size());
    EXPECT_NE(folders[0], folders[1]);
    for (const auto& folder : folders) {
        EXPECT_EQ(std::vector<std::wstring>{L"small.txt"}, EntriesOf(m_temp->Path() + L"\\" + folder));
    }
    first.Reset();
    second.Reset();
    EXPECT_TRUE(AllCleanedUp(baseline));

    // No temporary folder: the first read fails as if out of memory, and
    // leaves nothing; once there is one again, the same stream works.
    const std::wstring missing = m_temp->Path() + L"\\missing";
    stream = StreamOn(file.Get());
    ASSERT_TRUE(stream);
    {
        TempRedirect nowhere(missing);
        EXPECT_EQ(E_OUTOFMEMORY, stream->Read(buffer.data(), 4, &read));
        EXPECT_EQ(0u, read);
        EXPECT_EQ(E_OUTOFMEMORY, stream->Read(buffer.data(), 4, &read));
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(missing.c_str()));
    EXPECT_TRUE(ImageFolders().empty());
    EXPECT_EQ(baseline + 1, com::Module().LockCount()) << "no copy object is left";
    ASSERT_EQ(S_OK, stream->Read(buffer.data(), 4, &read));
    EXPECT_EQ(kSmallText.substr(0, 4), Bytes(buffer.data(), read));
    EXPECT_EQ(1u, ImageFolders().size());
    stream.Reset();
    EXPECT_TRUE(AllCleanedUp(baseline));
}

// A file on the memory card is copied through the PC drive, inside the copy
// thread's storage call; the stream serves it the same way.
TEST_F(Streams, CardFileIsStreamedThroughThePcDrive) {
    Start(true);
    const std::string pattern = PatternBytes(kMediumSize);
    WriteCard(L"card.bin", pattern);
    auto file = FileAt(Virtual(L"card.bin"));
    const LONG baseline = com::Module().LockCount();
    auto stream = StreamOn(file.Get());
    ASSERT_TRUE(stream);
    std::string content;
    std::vector<char> buffer(64 * 1024);
    ULONG read = 0;
    HRESULT hr = S_OK;
    // Callers loop on S_OK until a read delivers nothing.
    while ((hr = stream->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &read)) == S_OK && read) {
        content.append(buffer.data(), read);
    }
    EXPECT_EQ(S_OK, hr);
    EXPECT_TRUE(content == pattern) << "read " << content.size() << " bytes";
    EXPECT_EQ(1u, ImageFolders().size());
    EXPECT_EQ(0, ActiveCopies()) << "the phone copies nothing";
    stream.Reset();
    EXPECT_TRUE(AllCleanedUp(baseline));
}

} // namespace
