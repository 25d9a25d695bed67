// Delete, rename and new folder through the object model, on the simulated
// phone and on the memory card's PC drive: the change on storage, the
// client's object afterwards, FileProgress of folder deletes, aborts, and
// exactly one completion event per transaction.
#include "test_object_model_fixture.h"
#include "test_pc_fixture.h"

#include "connector/SymbianConnectorImpl.h"
#include "mapping/FolderMapping.h"

namespace {

using namespace omtest;

constexpr DISPID kDeleteCompleted = 1, kRenameCompleted = 32, kNewFolderCompleted = 34, kFileProgress = 43;
constexpr ULONG kOk = KVFM_OK, kFailed = KVFM_E_FAILED, kDisconnected = KVFM_E_DISCONNECTED,
                kExists = KVFM_E_ALREADY_EXISTS, kDenied = KVFM_E_ACCESS_DENIED, kNoSpace = KVFM_E_NO_SPACE,
                kAborted = KVFM_ABORTED;

// What one transaction gave: its completion events and its progress events.
struct Outcome {
    HRESULT started = E_PENDING;
    LONG id = 0;
    std::vector<Sink::Event> completions;
    std::vector<Sink::Event> progress;
    bool progressBeforeCompletion = true;
    ULONG Result() const { return completions.empty() ? 0xDEADBEEF : completions[0].result; }
    DISPID Kind() const { return completions.empty() ? 0 : completions[0].id; }
    std::vector<SHORT> Percents() const {
        std::vector<SHORT> out;
        for (const auto& e : progress) out.push_back(e.percent);
        return out;
    }
    std::vector<std::wstring> Names() const {
        std::vector<std::wstring> out;
        for (const auto& e : progress) out.push_back(e.name);
        return out;
    }
};

using pctest::Exists;
using pctest::RemoveTree;

class DeviceOperations : public ObjectModelTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        m_unique = L"devops" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64() % 100000);
        AddPhoneWithCard(4, L"Memory card", true);
        m_image.Fill(L'C', {Dir(L"ops\\Probe\\")});
        m_probePath = L"\\Phone\\ops\\Probe\\";
    }
    void TearDown() override {
        if (!m_cardRoot.empty()) RemoveTree(m_cardRoot);
        ObjectModelTest::TearDown();
    }
    // Everything allowed; the card (the build's removable drive) is \Memory card\.
    void BindOps() {
        BindXml("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<applications><devices><device uid=\"devops\"><foldermapping>"
                "<mountpoint realpath=\"C:\\\" virtualpath=\"Phone\"/>"
                "<mountpoint realpath=\"E:\\\" virtualpath=\"Memory card\"/>"
                "</foldermapping><storage>"
                "<media name=\"USBDevice\" present=\"true\" id=\"439041101\" mountpoint=\"E:\\\"/>"
                "</storage></device></devices></applications>\n",
                L"devops");
        ASSERT_EQ(S_OK, m_service->CreateFileMgmt(m_fm.Receive()));
    }
    // After BindOps: the folder U on the card, only there (not on the phone's E:).
    void MakeCardFolder() {
        auto mass = Connector()->GetMassStorageMapping();
        ASSERT_TRUE(mass) << "the card drive was not found";
        m_cardRoot = mass->GetPcDrive() + m_unique;
        ASSERT_TRUE(CreateDirectoryW(m_cardRoot.c_str(), nullptr));
    }
    std::wstring Card(const std::wstring& relative) const { return m_cardRoot + L"\\" + relative; }
    std::wstring CardVirtual(const std::wstring& relative) const { return L"\\Memory card\\" + m_unique + L"\\" + relative; }
    void CardFill(std::initializer_list<std::wstring> items) {
        for (const std::wstring& item : items) {
            if (item.back() == L'\\')
                ASSERT_TRUE(CreateDirectoryW(Card(item).c_str(), nullptr));
            else
                WriteFileBytes(Card(item), "card bytes");
        }
    }
    std::wstring Phone(const std::wstring& relative) { return m_image.PcPath(L"C:\\ops\\" + relative); }

    // Starts one operation on object with a sink of its own, waits for its
    // completion, then lets the worker pass the probe so a second completion
    // would have been seen.
    Outcome Run(IUnknown* object, const std::function<HRESULT(LONG*)>& start, SHORT cancelAnswer = 0) {
        Outcome out;
        auto sink = Sink::Create();
        sink->AnswerCancel(cancelAnswer);
        DWORD cookie = Advise(object, sink.Get());
        out.started = start(&out.id);
        if (out.started == S_OK) {
            EXPECT_TRUE(sink->WaitFor(out.id)) << "no completion for transaction " << out.id;
            DrawId();
        }
        Collect(sink->For(out.id), out);
        if (ComPtr<IConnectionPoint> point = EventPoint(object)) point->Unadvise(cookie);
        return out;
    }
    static void Collect(const std::vector<Sink::Event>& events, Outcome& out) {
        for (const auto& e : events) {
            if (e.id == kFileProgress) {
                if (!out.completions.empty()) out.progressBeforeCompletion = false;
                out.progress.push_back(e);
            } else if (Sink::IsCompletion(e.id)) {
                out.completions.push_back(e);
            }
        }
    }
    static com::UniqueBstr B(const std::wstring& s) { return com::UniqueBstr(s.c_str()); }

    std::wstring m_unique;
    std::wstring m_cardRoot;
};

#define EXPECT_ONE_COMPLETION(outcome, kind, result)                 \
    do {                                                             \
        EXPECT_EQ(S_OK, (outcome).started);                          \
        ASSERT_EQ(1u, (outcome).completions.size());                 \
        EXPECT_EQ((kind), (outcome).Kind());                         \
        EXPECT_EQ(static_cast<ULONG>(result), (outcome).Result());   \
    } while (0)

TEST_F(DeviceOperations, DeleteFileRemovesItOrReportsTheConvertedFailure) {
    m_image.Fill(L'C', {File(L"ops\\del.txt", "d"), File(L"ops\\ro.txt", "r", FILE_ATTRIBUTE_READONLY),
                        File(L"ops\\fail.txt", "f")});
    BindOps();
    auto del = FileAt(L"\\Phone\\ops\\del.txt");
    auto ro = FileAt(L"\\Phone\\ops\\ro.txt");
    auto fail = FileAt(L"\\Phone\\ops\\fail.txt");
    ASSERT_TRUE(del && ro && fail);

    Outcome done = Run(del.Get(), [&](LONG* id) { return del->Delete(id); });
    EXPECT_ONE_COMPLETION(done, kDeleteCompleted, kOk);
    EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_I4}), done.completions[0].types);
    EXPECT_FALSE(FileExists(Phone(L"del.txt")));

    Outcome denied = Run(ro.Get(), [&](LONG* id) { return ro->Delete(id); });
    EXPECT_ONE_COMPLETION(denied, kDeleteCompleted, kDenied);
    EXPECT_TRUE(FileExists(Phone(L"ro.txt")));

    FailNext(simCallDeleteFile, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    Outcome failed = Run(fail.Get(), [&](LONG* id) { return fail->Delete(id); });
    EXPECT_ONE_COMPLETION(failed, kDeleteCompleted, kNoSpace);
    EXPECT_TRUE(FileExists(Phone(L"fail.txt")));
    EXPECT_GE(m_log.Find("Unable to delete file", 0, "ERROR"), 0);
}

TEST_F(DeviceOperations, RenameGivesTheObjectItsNewPathOrLeavesEverythingAsItWas) {
    m_image.Fill(L'C', {File(L"ops\\ren.txt", "r"), File(L"ops\\taken.txt", "t"), File(L"ops\\Dir\\inner.txt", "i"),
                        Dir(L"ops\\Other\\")});
    BindOps();
    auto file = FileAt(L"\\Phone\\ops\\ren.txt");
    auto folder = Folder(L"\\Phone\\ops\\Dir\\");
    ASSERT_TRUE(file && folder);
    auto renamed = B(L"renamed.txt"), again = B(L"again.txt"), taken = B(L"taken.txt"), newDir = B(L"Renamed"),
         other = B(L"Other");

    Outcome first = Run(file.Get(), [&](LONG* id) { return file->Rename(renamed.Get(), id); });
    EXPECT_ONE_COMPLETION(first, kRenameCompleted, kOk);
    EXPECT_EQ(L"renamed.txt", NameOf(file.Get()));
    EXPECT_EQ(L"\\Phone\\ops\\renamed.txt", PathOf(file.Get()));
    EXPECT_FALSE(FileExists(Phone(L"ren.txt")));
    EXPECT_EQ("r", ReadFileBytes(Phone(L"renamed.txt")));
    // The object goes on working under its new name.
    Outcome second = Run(file.Get(), [&](LONG* id) { return file->Rename(again.Get(), id); });
    EXPECT_ONE_COMPLETION(second, kRenameCompleted, kOk);
    EXPECT_EQ(L"\\Phone\\ops\\again.txt", PathOf(file.Get()));
    EXPECT_TRUE(FileExists(Phone(L"again.txt")));

    Outcome clash = Run(file.Get(), [&](LONG* id) { return file->Rename(taken.Get(), id); });
    EXPECT_ONE_COMPLETION(clash, kRenameCompleted, kExists);
    EXPECT_EQ(L"\\Phone\\ops\\again.txt", PathOf(file.Get()));
    EXPECT_EQ("r", ReadFileBytes(Phone(L"again.txt")));
    EXPECT_EQ("t", ReadFileBytes(Phone(L"taken.txt")));
    // A path that would not fit a path buffer is refused before anything moves.
    auto longName = B(std::wstring(250, L'n'));
    Outcome tooLong = Run(file.Get(), [&](LONG* id) { return file->Rename(longName.Get(), id); });
    EXPECT_ONE_COMPLETION(tooLong, kRenameCompleted, kFailed);
    EXPECT_EQ(L"\\Phone\\ops\\again.txt", PathOf(file.Get()));
    EXPECT_TRUE(FileExists(Phone(L"again.txt")));

    Outcome moved = Run(folder.Get(), [&](LONG* id) { return folder->Rename(newDir.Get(), id); });
    EXPECT_ONE_COMPLETION(moved, kRenameCompleted, kOk);
    EXPECT_EQ(L"Renamed", NameOf(folder.Get()));
    EXPECT_EQ(L"\\Phone\\ops\\Renamed\\", PathOf(folder.Get()));
    EXPECT_FALSE(Exists(Phone(L"Dir")));
    EXPECT_TRUE(FileExists(Phone(L"Renamed\\inner.txt")));
    ComPtr<IKVFMFolder> parent;
    ASSERT_EQ(S_OK, folder->get_Parent(parent.Receive()));
    EXPECT_EQ(L"\\Phone\\ops\\", PathOf(parent.Get()));

    Outcome folderClash = Run(folder.Get(), [&](LONG* id) { return folder->Rename(other.Get(), id); });
    EXPECT_ONE_COMPLETION(folderClash, kRenameCompleted, kExists);
    EXPECT_EQ(L"\\Phone\\ops\\Renamed\\", PathOf(folder.Get()));
    EXPECT_TRUE(FileExists(Phone(L"Renamed\\inner.txt")));
    EXPECT_GE(m_log.Find("Unable to rename file", 0, "ERROR"), 0);
}

TEST_F(DeviceOperations, NewFolderHandsOverTheNewFolderOrFails) {
    m_image.Fill(L'C', {Dir(L"ops\\Parent\\")});
    BindOps();
    auto parent = Folder(L"\\Phone\\ops\\Parent\\");
    ASSERT_TRUE(parent);
    auto name = B(L"Fresh");
    Outcome made = Run(parent.Get(), [&](LONG* id) { return parent->NewFolder(name.Get(), id); });
    EXPECT_ONE_COMPLETION(made, kNewFolderCompleted, kOk);
    EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_DISPATCH, VT_I4}), made.completions[0].types);
    EXPECT_TRUE(Exists(Phone(L"Parent\\Fresh")));
    ComPtr<IKVFMFolder> fresh;
    ASSERT_TRUE(made.completions[0].object);
    ASSERT_EQ(S_OK, made.completions[0].object.As(fresh, IID_IKVFMFolder));
    EXPECT_EQ(L"\\Phone\\ops\\Parent\\Fresh\\", PathOf(fresh.Get()));
    EXPECT_EQ(L"Fresh", NameOf(fresh.Get()));

    Outcome twice = Run(parent.Get(), [&](LONG* id) { return parent->NewFolder(name.Get(), id); });
    EXPECT_ONE_COMPLETION(twice, kNewFolderCompleted, kExists);
    EXPECT_FALSE(twice.completions[0].object);
    EXPECT_GE(m_log.Find("Unable to create folder \\Phone\\ops\\Parent\\Fresh\\", 0, "ERROR"), 0);

    // The tree's root has no storage: nothing to create in, nothing to delete.
    auto root = Folder(L"\\");
    ASSERT_TRUE(root);
    Outcome inRoot = Run(root.Get(), [&](LONG* id) { return root->NewFolder(name.Get(), id); });
    EXPECT_ONE_COMPLETION(inRoot, kNewFolderCompleted, kFailed);
    EXPECT_FALSE(inRoot.completions[0].object);
    Outcome rootDelete = Run(root.Get(), [&](LONG* id) { return root->Delete(id); });
    EXPECT_ONE_COMPLETION(rootDelete, kDeleteCompleted, kFailed);
    EXPECT_TRUE(Exists(Phone(L"Parent\\Fresh")));
}

TEST_F(DeviceOperations, FolderDeleteReportsEachFileAndRemovesTheTreeBottomUp) {
    m_image.Fill(L'C', {File(L"ops\\Tree\\a.txt", "a"), File(L"ops\\Tree\\Sub\\b.txt", "b"),
                        File(L"ops\\Tree\\Sub\\Deep\\c.txt", "c"), Dir(L"ops\\Bare\\A\\"), Dir(L"ops\\Bare\\B\\C\\")});
    BindOps();
    auto tree = Folder(L"\\Phone\\ops\\Tree\\");
    auto bare = Folder(L"\\Phone\\ops\\Bare\\");
    ASSERT_TRUE(tree && bare);

    Outcome full = Run(tree.Get(), [&](LONG* id) { return tree->Delete(id); });
    EXPECT_ONE_COMPLETION(full, kDeleteCompleted, kOk);
    EXPECT_EQ((std::vector<SHORT>{33, 66, 100}), full.Percents());
    EXPECT_EQ((std::vector<std::wstring>{L"Tree", L"Sub", L"Deep"}), full.Names());  // the folder being emptied
    EXPECT_TRUE(full.progressBeforeCompletion);
    for (const auto& e : full.progress) {
        EXPECT_EQ((std::vector<VARTYPE>{VT_BSTR, VT_I2, VT_I4, VT_BYREF | VT_I2}), e.types);
        EXPECT_EQ(0, e.cancelOnArrival);
    }
    EXPECT_FALSE(Exists(Phone(L"Tree")));

    Outcome empty = Run(bare.Get(), [&](LONG* id) { return bare->Delete(id); });
    EXPECT_ONE_COMPLETION(empty, kDeleteCompleted, kOk);
    EXPECT_TRUE(empty.progress.empty());
    EXPECT_FALSE(Exists(Phone(L"Bare")));
    EXPECT_TRUE(Exists(Phone(L"Probe")));  // the walk stays inside the tree
}

TEST_F(DeviceOperations, FolderDeleteAbortsOnlyOnOneAndStopsAtAFailingFile) {
    m_image.Fill(L'C', {File(L"ops\\Keep\\a.txt", "a"), File(L"ops\\Keep\\Sub\\b.txt", "b"),
                        File(L"ops\\Keep\\Sub\\c.txt", "c"), File(L"ops\\Stop\\a.txt", "a"),
                        File(L"ops\\Stop\\Sub\\b.txt", "b"), File(L"ops\\Stop\\Sub\\c.txt", "c"),
                        File(L"ops\\Locked\\a.txt", "a"), File(L"ops\\Locked\\ro.txt", "r", FILE_ATTRIBUTE_READONLY),
                        File(L"ops\\Locked\\Sub\\z.txt", "z"), File(L"ops\\Stuck\\Sub\\s.txt", "s")});
    BindOps();
    auto keep = Folder(L"\\Phone\\ops\\Keep\\");
    auto stop = Folder(L"\\Phone\\ops\\Stop\\");
    auto locked = Folder(L"\\Phone\\ops\\Locked\\");
    auto stuck = Folder(L"\\Phone\\ops\\Stuck\\");
    ASSERT_TRUE(keep && stop && locked && stuck);

    Outcome minusOne = Run(keep.Get(), [&](LONG* id) { return keep->Delete(id); }, -1);
    EXPECT_ONE_COMPLETION(minusOne, kDeleteCompleted, kOk);
    EXPECT_EQ(3u, minusOne.progress.size());
    EXPECT_FALSE(Exists(Phone(L"Keep")));

    Outcome aborted = Run(stop.Get(), [&](LONG* id) { return stop->Delete(id); }, 1);
    EXPECT_ONE_COMPLETION(aborted, kDeleteCompleted, kAborted);
    ASSERT_EQ(1u, aborted.progress.size());
    EXPECT_EQ(33, aborted.progress[0].percent);
    EXPECT_FALSE(FileExists(Phone(L"Stop\\a.txt")));
    EXPECT_TRUE(FileExists(Phone(L"Stop\\Sub\\b.txt")));
    EXPECT_TRUE(FileExists(Phone(L"Stop\\Sub\\c.txt")));
    EXPECT_GE(m_log.Find("Delete folder operation aborted by client.", 0, "DEBUG"), 0);

    // A file that cannot go ends the walk at once: what follows stays.
    Outcome failed = Run(locked.Get(), [&](LONG* id) { return locked->Delete(id); });
    EXPECT_ONE_COMPLETION(failed, kDeleteCompleted, kDenied);
    EXPECT_EQ((std::vector<SHORT>{33}), failed.Percents());
    EXPECT_FALSE(FileExists(Phone(L"Locked\\a.txt")));
    EXPECT_TRUE(FileExists(Phone(L"Locked\\ro.txt")));
    EXPECT_TRUE(FileExists(Phone(L"Locked\\Sub\\z.txt")));

    // A folder that cannot go is passed over; once the walk has ended the
    // first such failure is reported, not the later one of its parent.
    FailNext(simCallDeleteDirectory, E_ACCESSDENIED);
    Outcome skipped = Run(stuck.Get(), [&](LONG* id) { return stuck->Delete(id); });
    EXPECT_ONE_COMPLETION(skipped, kDeleteCompleted, kDenied);
    EXPECT_EQ((std::vector<SHORT>{100}), skipped.Percents());
    EXPECT_FALSE(FileExists(Phone(L"Stuck\\Sub\\s.txt")));
    EXPECT_TRUE(Exists(Phone(L"Stuck\\Sub")));
    EXPECT_GE(m_log.Find("Failed to delete folder at device.", 0, "DEBUG"), 0);
}

TEST_F(DeviceOperations, OperationsOfAnUnboundServiceReportDisconnected) {
    m_image.Fill(L'C', {File(L"ops\\del.txt", "d"), File(L"ops\\ren.txt", "r"), File(L"ops\\Tree\\a.txt", "a"),
                        Dir(L"ops\\Dir\\")});
    BindOps();
    auto del = FileAt(L"\\Phone\\ops\\del.txt");
    auto ren = FileAt(L"\\Phone\\ops\\ren.txt");
    auto tree = Folder(L"\\Phone\\ops\\Tree\\");
    auto dir = Folder(L"\\Phone\\ops\\Dir\\");
    auto ops = Folder(L"\\Phone\\ops\\");
    ASSERT_TRUE(del && ren && tree && dir && ops);

    // The worker is held inside a listing's event while the operations queue behind it.
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto blocker = Sink::Create();
    blocker->OnEvent([&](const Sink::Event&) {
        SetEvent(held);
        WaitForSingleObject(release, kHangMs);
    });
    const DWORD blockerCookie = Advise(ops.Get(), blocker.Get());
    LONG blockId = 0;
    ASSERT_EQ(S_OK, ops->GetObjectsAsynch(&blockId));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, kHangMs));

    std::vector<ComPtr<Sink>> sinks;
    auto watch = [&](IUnknown* object) {
        sinks.push_back(Sink::Create());
        Advise(object, sinks.back().Get());
        return sinks.back().Get();
    };
    Sink* delSink = watch(del.Get());
    Sink* renSink = watch(ren.Get());
    Sink* treeSink = watch(tree.Get());
    Sink* dirSink = watch(dir.Get());
    Sink* opsSink = watch(ops.Get());
    auto newName = B(L"other"), folderName = B(L"New");
    LONG delId = 0, renId = 0, treeId = 0, dirId = 0, newId = 0;
    ASSERT_EQ(S_OK, del->Delete(&delId));
    ASSERT_EQ(S_OK, ren->Rename(newName.Get(), &renId));
    ASSERT_EQ(S_OK, tree->Delete(&treeId));
    ASSERT_EQ(S_OK, dir->Rename(newName.Get(), &dirId));
    ASSERT_EQ(S_OK, ops->NewFolder(folderName.Get(), &newId));
    ASSERT_EQ(S_OK, Unbind());
    SetEvent(release);

    const struct {
        Sink* sink;
        LONG id;
        DISPID kind;
    } expected[] = {{delSink, delId, kDeleteCompleted}, {renSink, renId, kRenameCompleted},
                    {treeSink, treeId, kDeleteCompleted}, {dirSink, dirId, kRenameCompleted},
                    {opsSink, newId, kNewFolderCompleted}};
    for (const auto& e : expected) ASSERT_TRUE(e.sink->WaitFor(e.id)) << e.id;
    // Bound again, the probe proves the worker has passed them all.
    m_probe.Reset();
    ASSERT_EQ(S_OK, BindService(m_service.Get(), m_device.Get(), L"devops"));
    DrawId();
    for (const auto& e : expected) {
        Outcome out;
        out.started = S_OK;
        Collect(e.sink->For(e.id), out);
        EXPECT_ONE_COMPLETION(out, e.kind, kDisconnected);
        EXPECT_TRUE(out.progress.empty());
        if (e.kind == kNewFolderCompleted) {
            EXPECT_FALSE(out.completions[0].object);
        }
    }
    EXPECT_TRUE(FileExists(Phone(L"del.txt")));
    EXPECT_TRUE(FileExists(Phone(L"ren.txt")));
    EXPECT_TRUE(FileExists(Phone(L"Tree\\a.txt")));
    EXPECT_TRUE(Exists(Phone(L"Dir")));
    EXPECT_FALSE(Exists(Phone(L"New")));
    EXPECT_EQ(L"\\Phone\\ops\\ren.txt", PathOf(ren.Get()));
    if (ComPtr<IConnectionPoint> point = EventPoint(ops.Get())) point->Unadvise(blockerCookie);
    CloseHandle(release);
    CloseHandle(held);
}

TEST_F(DeviceOperations, MemoryCardItemsChangeOnThePcDrive) {
    BindOps();
    MakeCardFolder();
    CardFill({L"del.txt", L"ren.txt", L"taken.txt", L"Dir\\", L"Dir\\inner.txt", L"Tree\\", L"Tree\\a.txt",
              L"Tree\\Sub\\", L"Tree\\Sub\\b.txt", L"Tree\\Sub\\Deep\\", L"Tree\\Sub\\Deep\\c.txt"});
    auto del = FileAt(CardVirtual(L"del.txt"));
    auto ren = FileAt(CardVirtual(L"ren.txt"));
    auto dir = Folder(CardVirtual(L"Dir\\"));
    auto tree = Folder(CardVirtual(L"Tree\\"));
    auto top = Folder(CardVirtual(L""));
    ASSERT_TRUE(del && ren && dir && tree && top);

    Outcome deleted = Run(del.Get(), [&](LONG* id) { return del->Delete(id); });
    EXPECT_ONE_COMPLETION(deleted, kDeleteCompleted, kOk);
    EXPECT_FALSE(Exists(Card(L"del.txt")));

    auto renamed = B(L"renamed.txt"), taken = B(L"taken.txt"), newDir = B(L"Renamed"), fresh = B(L"Fresh");
    Outcome fileRename = Run(ren.Get(), [&](LONG* id) { return ren->Rename(renamed.Get(), id); });
    EXPECT_ONE_COMPLETION(fileRename, kRenameCompleted, kOk);
    EXPECT_EQ(CardVirtual(L"renamed.txt"), PathOf(ren.Get()));
    EXPECT_FALSE(Exists(Card(L"ren.txt")));
    EXPECT_TRUE(Exists(Card(L"renamed.txt")));
    // The clash is refused whichever object tries it.
    auto again = FileAt(CardVirtual(L"renamed.txt"));
    Outcome clash = Run(again.Get(), [&](LONG* id) { return again->Rename(taken.Get(), id); });
    EXPECT_ONE_COMPLETION(clash, kRenameCompleted, kFailed);
    EXPECT_EQ(CardVirtual(L"renamed.txt"), PathOf(again.Get()));
    EXPECT_TRUE(Exists(Card(L"renamed.txt")));
    EXPECT_TRUE(Exists(Card(L"taken.txt")));

    Outcome folderRename = Run(dir.Get(), [&](LONG* id) { return dir->Rename(newDir.Get(), id); });
    EXPECT_ONE_COMPLETION(folderRename, kRenameCompleted, kOk);
    EXPECT_EQ(CardVirtual(L"Renamed\\"), PathOf(dir.Get()));
    EXPECT_TRUE(Exists(Card(L"Renamed\\inner.txt")));
    EXPECT_FALSE(Exists(Card(L"Dir")));

    Outcome made = Run(top.Get(), [&](LONG* id) { return top->NewFolder(fresh.Get(), id); });
    EXPECT_ONE_COMPLETION(made, kNewFolderCompleted, kOk);
    EXPECT_TRUE(Exists(Card(L"Fresh")));
    ComPtr<IKVFMFolder> freshFolder;
    ASSERT_TRUE(made.completions[0].object);
    ASSERT_EQ(S_OK, made.completions[0].object.As(freshFolder, IID_IKVFMFolder));
    EXPECT_EQ(CardVirtual(L"Fresh\\"), PathOf(freshFolder.Get()));
    Outcome twice = Run(top.Get(), [&](LONG* id) { return top->NewFolder(fresh.Get(), id); });
    EXPECT_ONE_COMPLETION(twice, kNewFolderCompleted, kFailed);
    EXPECT_FALSE(twice.completions[0].object);

    Outcome treeDelete = Run(tree.Get(), [&](LONG* id) { return tree->Delete(id); });
    EXPECT_ONE_COMPLETION(treeDelete, kDeleteCompleted, kOk);
    EXPECT_EQ((std::vector<SHORT>{33, 66, 100}), treeDelete.Percents());
    EXPECT_EQ((std::vector<std::wstring>{L"Tree", L"Sub", L"Deep"}), treeDelete.Names());
    EXPECT_FALSE(Exists(Card(L"Tree")));
    EXPECT_TRUE(Exists(Card(L"Renamed")));
}

} // namespace
