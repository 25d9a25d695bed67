// Delete, rename and new folder through the object model, on the phone and on the card.
#include "test_fixture.h"

namespace {

using namespace itest;

constexpr DISPID kDeleteCompleted = kDispidDeleteCompleted, kRenameCompleted = kDispidRenameCompleted,
                 kNewFolderCompleted = kDispidNewFolderCompleted, kFileProgress = Sink::kFileProgress;
constexpr ULONG kOk = KVFM_OK, kFailed = KVFM_E_FAILED, kDisconnected = KVFM_E_DISCONNECTED,
                kExists = KVFM_E_ALREADY_EXISTS, kDenied = KVFM_E_ACCESS_DENIED, kNoSpace = KVFM_E_NO_SPACE,
                kAborted = KVFM_ABORTED;

// What one transaction gave: its one completion and its progress events.
struct Outcome {
    Sink::Event end;
    std::vector<Sink::Event> progress;
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

class DeviceOperations : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone(true);
        m_image.Fill(L'C', {Dir(L"ops\\Probe\\")});
        m_probePath = L"\\Phone\\ops\\Probe\\";
    }
    // Everything allowed on the phone: the card's fixture configuration.
    void BindOps() { BindCard(); m_probePath = L"\\Phone\\ops\\Probe\\"; }
    std::wstring Phone(const std::wstring& relative) { return m_image.PcPath(L"C:\\ops\\" + relative); }

    // Runs one operation with a sink of its own that answers FileProgress with
    // cancelAnswer; a second completion would fail the outcome.
    Outcome RunOn(IUnknown* object, const std::function<HRESULT(LONG*)>& start, SHORT cancelAnswer = 0) {
        auto sink = Sink::Create();
        sink->AnswerFileProgress(cancelAnswer);
        Advise(object, sink.Get());
        const LONG id = Run(sink.Get(), start);
        return Outcome{OneCompletion(sink.Get(), id), sink->Of(id, kFileProgress)};
    }
};

#define EXPECT_ONE_COMPLETION(outcome, kind, code)                 \
    do {                                                           \
        EXPECT_EQ((kind), (outcome).end.id);                       \
        EXPECT_EQ(static_cast<ULONG>(code), (outcome).end.result); \
    } while (0)

TEST_F(DeviceOperations, DeleteFileRemovesItOrReportsTheConvertedFailure) {
    m_image.Fill(L'C', {File(L"ops\\del.txt", "d"), File(L"ops\\ro.txt", "r", FILE_ATTRIBUTE_READONLY),
                        File(L"ops\\fail.txt", "f")});
    BindOps();
    auto del = FileAt(L"\\Phone\\ops\\del.txt");
    auto ro = FileAt(L"\\Phone\\ops\\ro.txt");
    auto fail = FileAt(L"\\Phone\\ops\\fail.txt");
    ASSERT_TRUE(del && ro && fail);

    Outcome done = RunOn(del.Get(), [&](LONG* id) { return del->Delete(id); });
    EXPECT_ONE_COMPLETION(done, kDeleteCompleted, kOk);
    EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_I4}), done.end.types);
    EXPECT_FALSE(FileExists(Phone(L"del.txt")));

    Outcome denied = RunOn(ro.Get(), [&](LONG* id) { return ro->Delete(id); });
    EXPECT_ONE_COMPLETION(denied, kDeleteCompleted, kDenied);
    EXPECT_TRUE(FileExists(Phone(L"ro.txt")));

    FailNext(simCallDeleteFile, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    Outcome failed = RunOn(fail.Get(), [&](LONG* id) { return fail->Delete(id); });
    EXPECT_ONE_COMPLETION(failed, kDeleteCompleted, kNoSpace);
    EXPECT_TRUE(FileExists(Phone(L"fail.txt")));
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

    Outcome first = RunOn(file.Get(), [&](LONG* id) { return file->Rename(renamed.Get(), id); });
    EXPECT_ONE_COMPLETION(first, kRenameCompleted, kOk);
    EXPECT_EQ(L"renamed.txt", NameOf(file.Get()));
    EXPECT_EQ(L"\\Phone\\ops\\renamed.txt", PathOf(file.Get()));
    EXPECT_FALSE(FileExists(Phone(L"ren.txt")));
    EXPECT_EQ("r", ReadFileBytes(Phone(L"renamed.txt")));
    // The object goes on working under its new name.
    Outcome second = RunOn(file.Get(), [&](LONG* id) { return file->Rename(again.Get(), id); });
    EXPECT_ONE_COMPLETION(second, kRenameCompleted, kOk);
    EXPECT_EQ(L"\\Phone\\ops\\again.txt", PathOf(file.Get()));
    EXPECT_TRUE(FileExists(Phone(L"again.txt")));

    Outcome clash = RunOn(file.Get(), [&](LONG* id) { return file->Rename(taken.Get(), id); });
    EXPECT_ONE_COMPLETION(clash, kRenameCompleted, kExists);
    EXPECT_EQ(L"\\Phone\\ops\\again.txt", PathOf(file.Get()));
    EXPECT_EQ("r", ReadFileBytes(Phone(L"again.txt")));
    EXPECT_EQ("t", ReadFileBytes(Phone(L"taken.txt")));
    // A path that would not fit a path buffer is refused before anything moves.
    auto longName = B(std::wstring(250, L'n'));
    Outcome tooLong = RunOn(file.Get(), [&](LONG* id) { return file->Rename(longName.Get(), id); });
    EXPECT_ONE_COMPLETION(tooLong, kRenameCompleted, kFailed);
    EXPECT_EQ(L"\\Phone\\ops\\again.txt", PathOf(file.Get()));
    EXPECT_TRUE(FileExists(Phone(L"again.txt")));

    Outcome moved = RunOn(folder.Get(), [&](LONG* id) { return folder->Rename(newDir.Get(), id); });
    EXPECT_ONE_COMPLETION(moved, kRenameCompleted, kOk);
    EXPECT_EQ(L"Renamed", NameOf(folder.Get()));
    EXPECT_EQ(L"\\Phone\\ops\\Renamed\\", PathOf(folder.Get()));
    EXPECT_FALSE(Exists(Phone(L"Dir")));
    EXPECT_TRUE(FileExists(Phone(L"Renamed\\inner.txt")));
    ComPtr<IKVFMFolder> parent;
    ASSERT_EQ(S_OK, folder->get_Parent(parent.Receive()));
    EXPECT_EQ(L"\\Phone\\ops\\", PathOf(parent.Get()));

    Outcome folderClash = RunOn(folder.Get(), [&](LONG* id) { return folder->Rename(other.Get(), id); });
    EXPECT_ONE_COMPLETION(folderClash, kRenameCompleted, kExists);
    EXPECT_EQ(L"\\Phone\\ops\\Renamed\\", PathOf(folder.Get()));
    EXPECT_TRUE(FileExists(Phone(L"Renamed\\inner.txt")));
}

TEST_F(DeviceOperations, NewFolderHandsOverTheNewFolderOrFails) {
    m_image.Fill(L'C', {Dir(L"ops\\Parent\\")});
    BindOps();
    auto parent = Folder(L"\\Phone\\ops\\Parent\\");
    ASSERT_TRUE(parent);
    auto name = B(L"Fresh");
    Outcome made = RunOn(parent.Get(), [&](LONG* id) { return parent->NewFolder(name.Get(), id); });
    EXPECT_ONE_COMPLETION(made, kNewFolderCompleted, kOk);
    EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_DISPATCH, VT_I4}), made.end.types);
    EXPECT_TRUE(Exists(Phone(L"Parent\\Fresh")));
    ComPtr<IKVFMFolder> fresh;
    ASSERT_TRUE(made.end.object);
    ASSERT_EQ(S_OK, made.end.object.As(fresh, IID_IKVFMFolder));
    EXPECT_EQ(L"\\Phone\\ops\\Parent\\Fresh\\", PathOf(fresh.Get()));
    EXPECT_EQ(L"Fresh", NameOf(fresh.Get()));

    Outcome twice = RunOn(parent.Get(), [&](LONG* id) { return parent->NewFolder(name.Get(), id); });
    EXPECT_ONE_COMPLETION(twice, kNewFolderCompleted, kExists);
    EXPECT_FALSE(twice.end.object);

    // The tree's root has no storage: nothing to create in, nothing to delete.
    auto root = Folder(L"\\");
    ASSERT_TRUE(root);
    Outcome inRoot = RunOn(root.Get(), [&](LONG* id) { return root->NewFolder(name.Get(), id); });
    EXPECT_ONE_COMPLETION(inRoot, kNewFolderCompleted, kFailed);
    EXPECT_FALSE(inRoot.end.object);
    Outcome rootDelete = RunOn(root.Get(), [&](LONG* id) { return root->Delete(id); });
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

    Outcome full = RunOn(tree.Get(), [&](LONG* id) { return tree->Delete(id); });
    EXPECT_ONE_COMPLETION(full, kDeleteCompleted, kOk);
    EXPECT_EQ((std::vector<SHORT>{33, 66, 100}), full.Percents());
    EXPECT_EQ((std::vector<std::wstring>{L"Tree", L"Sub", L"Deep"}), full.Names());  // the folder being emptied
    for (const auto& e : full.progress) {
        EXPECT_EQ((std::vector<VARTYPE>{VT_BSTR, VT_I2, VT_I4, VT_BYREF | VT_I2}), e.types);
        EXPECT_EQ(0, e.cancelOnArrival);
    }
    EXPECT_FALSE(Exists(Phone(L"Tree")));

    Outcome empty = RunOn(bare.Get(), [&](LONG* id) { return bare->Delete(id); });
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

    Outcome minusOne = RunOn(keep.Get(), [&](LONG* id) { return keep->Delete(id); }, -1);
    EXPECT_ONE_COMPLETION(minusOne, kDeleteCompleted, kOk);
    EXPECT_EQ(3u, minusOne.progress.size());
    EXPECT_FALSE(Exists(Phone(L"Keep")));

    Outcome aborted = RunOn(stop.Get(), [&](LONG* id) { return stop->Delete(id); }, 1);
    EXPECT_ONE_COMPLETION(aborted, kDeleteCompleted, kAborted);
    ASSERT_EQ(1u, aborted.progress.size());
    EXPECT_EQ(33, aborted.progress[0].percent);
    EXPECT_FALSE(FileExists(Phone(L"Stop\\a.txt")));
    EXPECT_TRUE(FileExists(Phone(L"Stop\\Sub\\b.txt")));
    EXPECT_TRUE(FileExists(Phone(L"Stop\\Sub\\c.txt")));

    // A file that cannot go ends the walk at once: what follows stays.
    Outcome failed = RunOn(locked.Get(), [&](LONG* id) { return locked->Delete(id); });
    EXPECT_ONE_COMPLETION(failed, kDeleteCompleted, kDenied);
    EXPECT_EQ((std::vector<SHORT>{33}), failed.Percents());
    EXPECT_FALSE(FileExists(Phone(L"Locked\\a.txt")));
    EXPECT_TRUE(FileExists(Phone(L"Locked\\ro.txt")));
    EXPECT_TRUE(FileExists(Phone(L"Locked\\Sub\\z.txt")));

    // A folder that cannot go is passed over; once the walk has ended the
    // first such failure is reported, not the later one of its parent.
    FailNext(simCallDeleteDirectory, E_ACCESSDENIED);
    Outcome skipped = RunOn(stuck.Get(), [&](LONG* id) { return stuck->Delete(id); });
    EXPECT_ONE_COMPLETION(skipped, kDeleteCompleted, kDenied);
    EXPECT_EQ((std::vector<SHORT>{100}), skipped.Percents());
    EXPECT_FALSE(FileExists(Phone(L"Stuck\\Sub\\s.txt")));
    EXPECT_TRUE(Exists(Phone(L"Stuck\\Sub")));
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
    ASSERT_EQ(S_OK, Rebind(L"pc-card"));
    DrawId();
    for (const auto& e : expected) {
        Outcome out{OneCompletion(e.sink, e.id), e.sink->Of(e.id, kFileProgress)};
        EXPECT_ONE_COMPLETION(out, e.kind, kDisconnected);
        EXPECT_TRUE(out.progress.empty());
        EXPECT_FALSE(out.end.object);
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

// In U\w\ on the card: its files may be renamed.
TEST_F(DeviceOperations, MemoryCardItemsChangeOnThePcDrive) {
    BindOps();
    for (const wchar_t* dir : {L"w", L"w\\Dir", L"w\\Tree", L"w\\Tree\\Sub", L"w\\Tree\\Sub\\Deep"}) MakeCardDir(dir);
    for (const wchar_t* file : {L"del.txt", L"ren.txt", L"taken.txt", L"Dir\\inner.txt", L"Tree\\a.txt",
                                L"Tree\\Sub\\b.txt", L"Tree\\Sub\\Deep\\c.txt"})
        WriteCard(std::wstring(L"w\\") + file, "card bytes");
    auto CardVirtual = [&](const std::wstring& relative) { return Virtual(L"w\\" + relative); };
    auto del = FileAt(CardVirtual(L"del.txt"));
    auto ren = FileAt(CardVirtual(L"ren.txt"));
    auto dir = Folder(CardVirtual(L"Dir\\"));
    auto tree = Folder(CardVirtual(L"Tree\\"));
    auto top = Folder(CardVirtual(L""));
    ASSERT_TRUE(del && ren && dir && tree && top);

    Outcome deleted = RunOn(del.Get(), [&](LONG* id) { return del->Delete(id); });
    EXPECT_ONE_COMPLETION(deleted, kDeleteCompleted, kOk);
    EXPECT_FALSE(Exists(Card(L"w\\del.txt")));

    auto renamed = B(L"renamed.txt"), taken = B(L"taken.txt"), newDir = B(L"Renamed"), fresh = B(L"Fresh");
    Outcome fileRename = RunOn(ren.Get(), [&](LONG* id) { return ren->Rename(renamed.Get(), id); });
    EXPECT_ONE_COMPLETION(fileRename, kRenameCompleted, kOk);
    EXPECT_EQ(CardVirtual(L"renamed.txt"), PathOf(ren.Get()));
    EXPECT_FALSE(Exists(Card(L"w\\ren.txt")));
    EXPECT_TRUE(Exists(Card(L"w\\renamed.txt")));
    // The clash is refused whichever object tries it.
    auto again = FileAt(CardVirtual(L"renamed.txt"));
    Outcome clash = RunOn(again.Get(), [&](LONG* id) { return again->Rename(taken.Get(), id); });
    EXPECT_ONE_COMPLETION(clash, kRenameCompleted, kFailed);
    EXPECT_EQ(CardVirtual(L"renamed.txt"), PathOf(again.Get()));
    EXPECT_TRUE(Exists(Card(L"w\\renamed.txt")));
    EXPECT_TRUE(Exists(Card(L"w\\taken.txt")));

    Outcome folderRename = RunOn(dir.Get(), [&](LONG* id) { return dir->Rename(newDir.Get(), id); });
    EXPECT_ONE_COMPLETION(folderRename, kRenameCompleted, kOk);
    EXPECT_EQ(CardVirtual(L"Renamed\\"), PathOf(dir.Get()));
    EXPECT_TRUE(Exists(Card(L"w\\Renamed\\inner.txt")));
    EXPECT_FALSE(Exists(Card(L"w\\Dir")));

    Outcome made = RunOn(top.Get(), [&](LONG* id) { return top->NewFolder(fresh.Get(), id); });
    EXPECT_ONE_COMPLETION(made, kNewFolderCompleted, kOk);
    EXPECT_TRUE(Exists(Card(L"w\\Fresh")));
    ComPtr<IKVFMFolder> freshFolder;
    ASSERT_TRUE(made.end.object);
    ASSERT_EQ(S_OK, made.end.object.As(freshFolder, IID_IKVFMFolder));
    EXPECT_EQ(CardVirtual(L"Fresh\\"), PathOf(freshFolder.Get()));
    Outcome twice = RunOn(top.Get(), [&](LONG* id) { return top->NewFolder(fresh.Get(), id); });
    EXPECT_ONE_COMPLETION(twice, kNewFolderCompleted, kFailed);
    EXPECT_FALSE(twice.end.object);

    Outcome treeDelete = RunOn(tree.Get(), [&](LONG* id) { return tree->Delete(id); });
    EXPECT_ONE_COMPLETION(treeDelete, kDeleteCompleted, kOk);
    EXPECT_EQ((std::vector<SHORT>{33, 66, 100}), treeDelete.Percents());
    EXPECT_EQ((std::vector<std::wstring>{L"Tree", L"Sub", L"Deep"}), treeDelete.Names());
    EXPECT_FALSE(Exists(Card(L"w\\Tree")));
    EXPECT_TRUE(Exists(Card(L"w\\Renamed")));
}

} // namespace
