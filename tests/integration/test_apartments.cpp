// Clients in several apartments and threads: events across apartments, races with the worker and unbinding.
#include "test_fixture.h"

namespace {

using namespace itest;

const wchar_t kPictures[] = L"\\Phone\\Pictures\\";

// Waits for handle while serving calls into this thread's apartment.
DWORD PumpUntil(HANDLE handle) {
    const ULONGLONG deadline = GetTickCount64() + kHangMs;
    DWORD wait;
    MSG msg;
    while ((wait = MsgWaitForMultipleObjects(1, &handle, FALSE, kHangMs, QS_ALLINPUT)) == WAIT_OBJECT_0 + 1 &&
           GetTickCount64() < deadline)
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return wait;
}

// A body to run on a new thread in the given apartment.
struct ThreadWork {
    DWORD apartment;
    std::function<void()> body;
};
HANDLE Start(ThreadWork& work) {
    return CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            auto* w = static_cast<ThreadWork*>(p);
            CoInitializeEx(nullptr, w->apartment);
            w->body();
            CoUninitialize();
            return 0;
        },
        &work, 0, nullptr);
}

// Runs body on a new thread while this thread pumps its messages, so calls
// from the body into this thread's objects are served.
void RunOnThread(DWORD apartment, std::function<void()> body) {
    ThreadWork work{apartment, std::move(body)};
    HANDLE thread = Start(work);
    ASSERT_TRUE(thread);
    const DWORD wait = PumpUntil(thread);
    EXPECT_EQ(WAIT_OBJECT_0, wait) << "the thread did not end";
    if (wait == WAIT_OBJECT_0) CloseHandle(thread);  // else left running: its frame is still in use
}

class Apartments : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone();
        m_image.Fill(L'C', {File(L"Images\\a.jpg", "jpeg!"), Dir(L"Images\\Empty\\"),
                            File(L"Data\\Documents\\report.txt", "report")});
        m_probePath = L"\\Phone\\Pictures\\Empty\\";
        Bind(SamplePath(L"browser.xml"), L"phone-browser");
    }
};

// What one client thread saw of its three operations on the shared folder:
// a file copy, a tree copy and a listing.
struct ClientRun {
    LONG ids[3] = {};
    size_t completions[3] = {}, completedWithObject[3] = {};
    size_t progress = 0, elsewhere = 0;  // elsewhere: events that arrived on another thread than this one

    // Reads the calls on the client's own thread: the objects they hold are
    // proxies of this apartment.
    void Take(const std::vector<Sink::Event>& calls) {
        const DISPID kinds[3] = {kDispidCopyFileFromPCCompleted, kDispidCopyFolderFromPCCompleted,
                                 kDispidGetObjectsCompleted};
        for (const Sink::Event& c : calls) {
            progress += c.id == kDispidProgress;
            elsewhere += c.threadId != GetCurrentThreadId();
            for (int op = 0; op < 3; ++op) {
                if (c.id != kinds[op] || c.transactionId != ids[op]) continue;
                ++completions[op];
                completedWithObject[op] += c.result == static_cast<ULONG>(KVFM_OK) && c.object;
            }
        }
    }
};

TEST_F(Apartments, EventsReachSinksAdvisedFromOtherApartments) {
    auto pictures = Folder(kPictures);
    ASSERT_TRUE(pictures);
    const std::wstring tree = m_image.PcFolder() + L"\\Tree";
    WriteTree(tree, {{L"one.txt", "one"}, {L"two.txt", "two"}});
    ComPtr<IGlobalInterfaceTable> table;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IGlobalInterfaceTable, table.ReceiveVoid()));
    DWORD entry = 0;
    ASSERT_EQ(S_OK, table->RegisterInterfaceInGlobal(pictures.Get(), IID_IKVFMFolder, &entry));

    // This thread, the folder's own, pumps while each client works on it
    // through a proxy; each client's sink reaches the folder as a proxy too.
    auto client = [&](ClientRun& run, const wchar_t* copyName) {
        ComPtr<IKVFMFolder> folder;
        if (FAILED(table->GetInterfaceFromGlobal(entry, IID_IKVFMFolder, folder.ReceiveVoid()))) return;
        auto sink = Sink::Create();
        Advise(folder.Get(), sink.Get());
        const std::wstring file = m_image.WritePcFile(std::wstring(copyName) + L".bin", 300000);
        com::UniqueBstr source(file.c_str()), name(copyName), folderSource(tree.c_str());
        // Each wait ends with a completion or at the hang guard; the count tells which.
        if (folder->CopyFileFromPC(source.Get(), nullptr, &run.ids[0]) == S_OK) sink->WaitFor(run.ids[0]);
        if (folder->CopyFolderFromPC(folderSource.Get(), name.Get(), &run.ids[1]) == S_OK) sink->WaitFor(run.ids[1]);
        if (folder->GetObjectsAsynch(&run.ids[2]) == S_OK) sink->WaitFor(run.ids[2]);
        run.Take(sink->All());
    };
    ClientRun mta, sta;
    RunOnThread(COINIT_MULTITHREADED, [&] { client(mta, L"mta"); });
    RunOnThread(COINIT_APARTMENTTHREADED, [&] { client(sta, L"sta"); });
    table->RevokeInterfaceFromGlobal(entry);

    for (ClientRun* run : {&mta, &sta}) {
        SCOPED_TRACE(run == &mta ? "multithreaded client" : "single-threaded client");
        for (int op = 0; op < 3; ++op) {
            EXPECT_EQ(1u, run->completions[op]) << "operation " << op;
            EXPECT_EQ(1u, run->completedWithObject[op]) << "operation " << op;
        }
        EXPECT_GE(run->progress, 3u);  // the file, then each file of the tree
    }
    // A single-threaded apartment gets its events on its own thread.
    EXPECT_EQ(0u, sta.elsewhere);
    EXPECT_EQ(PatternBytes(300000), ReadFileBytes(m_image.PcPath(L"C:\\Images\\sta.bin")));
    EXPECT_EQ("two", ReadFileBytes(m_image.PcPath(L"C:\\Images\\mta\\two.txt")));
}

// The worker renames an object back and forth while this thread reads its
// name, path and parent: every read gives one of the two names.
TEST_F(Apartments, RenamesOnTheWorkerRaceWithReadsOfTheSameObject) {
    auto file = FileAt(L"\\Phone\\Documents\\report.txt");
    ASSERT_TRUE(file);
    auto sink = Sink::Create();
    Advise(file.Get(), sink.Get());
    const std::wstring names[] = {L"report.txt", L"other.txt"};
    size_t reads = 0;
    for (int i = 1; i <= 300; ++i) {
        com::UniqueBstr next(names[i % 2].c_str());
        LONG id = 0;
        ASSERT_EQ(S_OK, file->Rename(next.Get(), &id));
        while (sink->Completions(id).empty()) {
            com::UniqueBstr name, path;
            ComPtr<IKVFMFolder> parent;
            ASSERT_EQ(S_OK, file->get_Name(name.Receive()));
            ASSERT_EQ(S_OK, file->get_Path(path.Receive()));
            ASSERT_EQ(S_OK, file->get_Parent(parent.Receive()));
            const std::wstring n = name.c_str(), p = path.c_str();
            ASSERT_TRUE(n == names[0] || n == names[1]) << Narrow(n);
            ASSERT_TRUE(p == L"\\Phone\\Documents\\" + names[0] || p == L"\\Phone\\Documents\\" + names[1])
                << Narrow(p);
            ++reads;
        }
        ASSERT_EQ(static_cast<ULONG>(KVFM_OK), sink->Completions(id)[0].result);
    }
    EXPECT_EQ(names[0], NameOf(file.Get()));
    EXPECT_GT(reads, 0u);
}

// The phone is unbound and bound again while another thread opens and lists
// objects: each call either works or fails cleanly.
TEST_F(Apartments, UnbindingRacesWithPathResolutionOnOtherThreads) {
    auto documents = Folder(L"\\Phone\\Documents\\");
    ASSERT_TRUE(documents);
    std::atomic<bool> stop{false};
    std::atomic<long> worked{0}, refused{0}, unexpected{0};
    // The service object is registered for any apartment, and the folder is
    // called directly from another thread on purpose.
    ThreadWork resolve{COINIT_MULTITHREADED, [&] {
        auto count = [&](HRESULT hr) { ++(hr == S_OK ? worked : FAILED(hr) ? refused : unexpected); };
        while (!stop.load()) {
            ComPtr<IKVFMFolder> folder, parent;
            ComPtr<IKVFMFile> file;
            ComPtr<IKVFMObjects> objects;
            count(m_fm->CreateFMFolder(B(L"\\Phone\\Documents\\").Get(), folder.Receive()));
            count(m_fm->CreateFMFile(B(L"\\Phone\\Documents\\report.txt").Get(), file.Receive()));
            count(documents->get_Objects(objects.Receive()));
            if (file) count(file->get_Parent(parent.Receive()));
        }
    }};
    HANDLE resolver = Start(resolve);
    ASSERT_TRUE(resolver);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(S_OK, Unbind());
        Sleep(1);
        ASSERT_EQ(S_OK, Rebind(L"phone-browser"));
        Sleep(1);
    }
    stop.store(true);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(resolver, kHangMs));
    CloseHandle(resolver);
    EXPECT_EQ(0, unexpected.load());
    EXPECT_GT(worked.load(), 0);
    EXPECT_GT(refused.load(), 0);
    // The binding is whole afterwards.
    ComPtr<IKVFMFile> report;
    EXPECT_EQ(S_OK, m_fm->CreateFMFile(B(L"\\Phone\\Documents\\report.txt").Get(), report.Receive()));
}

}  // namespace
