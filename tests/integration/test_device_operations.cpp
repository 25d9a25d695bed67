// Delete, rename and new folder through the object model, on the phone and on the card.
#include "test_fixture.h"

namespace {

using namespace itest;

constexpr DISPID kDeleteCompleted = kDispidDeleteCompleted, kRenameCompleted = kDispidRenameCompleted,
                 kNewFolderCompleted = kDispidNewFolderCompleted, kFileProgress = Sink::kFileProgress;
constexpr ULONG kOk = KVFM_OK, kFailed = KVFM_E_FAILED, kDisconnected = KVFM_E_DISCONNECTED,
                kExists = KVFM_E_ALREADY_EXISTS, kDenied = KVFM_E_ACCESS_DENIED, kNoSpace = KVFM_E_NO_SPACE,
                kAborted = static_cast<ULONG>(KVFM_ABORTED);

// What one transaction gave: its one completion and its progress events.
struct Outcome {
    Sink::Event end;
    std::vector<Sink::Event> progress;
    std::vector<SHORT> percents;
    std::vector<std::wstring> names;
};
Outcome OutcomeOf(Sink* sink, LONG id) {
    Outcome out{OneCompletion(sink, id), sink->Of(id, kFileProgress)};
    for (const auto& e : out.progress) {
        out.percents.push_back(e.percent);
        out.names.push_back(e.name);
    }
    return out;
}

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
    // cancelAnswer, and expects its one completion of kind with result.
    Outcome Expect(DISPID kind, ULONG result, IUnknown* object, const std::function<HRESULT(LONG*)>& start,
                   SHORT cancelAnswer = 0) {
        auto sink = Sink::Create();
        sink->AnswerFileProgress(cancelAnswer);
        Advise(object, sink.Get());
        const LONG id = Run(sink.Get(), start);
        Outcome out = OutcomeOf(sink.Get(), id);
        EXPECT_EQ(kind, out.end.id) << id;
        EXPECT_EQ(result, out.end.result) << id;
        if (result != kOk) {
            EXPECT_FALSE(out.end.object) << id;
        }
        return out;
    }
    template <class I>
    Outcome Delete(const ComPtr<I>& object, ULONG result, SHORT cancelAnswer = 0) {
        return Expect(kDeleteCompleted, result, object.Get(), [&](LONG* id) { return object->Delete(id); },
                      cancelAnswer);
    }
    template <class I>
    Outcome Rename(const ComPtr<I>& object, const std::wstring& name, ULONG result) {
        return Expect(kRenameCompleted, result, object.Get(), [&](LONG* id) { return object->Rename(B(name).Get(), id); });
    }
    // The new folder's path, or "" when the completion carried none.
    std::wstring NewFolder(const ComPtr<IKVFMFolder>& parent, const wchar_t* name, ULONG result) {
        Outcome made = Expect(kNewFolderCompleted, result, parent.Get(),
                              [&](LONG* id) { return parent->NewFolder(B(name).Get(), id); });
        EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_DISPATCH, VT_I4}), made.end.types);
        ComPtr<IKVFMFolder> fresh;
        if (!made.end.object || FAILED(made.end.object.As(fresh, IID_IKVFMFolder))) return L"";
        EXPECT_EQ(name, NameOf(fresh.Get()));
        return PathOf(fresh.Get());
    }
};

TEST_F(DeviceOperations, DeleteFileRemovesItOrReportsTheConvertedFailure) {
    m_image.Fill(L'C', {File(L"ops\\del.txt", "d"), File(L"ops\\ro.txt", "r", FILE_ATTRIBUTE_READONLY),
                        File(L"ops\\fail.txt", "f")});
    BindOps();
    auto del = FileAt(L"\\Phone\\ops\\del.txt"), ro = FileAt(L"\\Phone\\ops\\ro.txt"),
         fail = FileAt(L"\\Phone\\ops\\fail.txt");
    ASSERT_TRUE(del && ro && fail);
    EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_I4}), Delete(del, kOk).end.types);
    Delete(ro, kDenied);
    FailNext(simCallDeleteFile, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    Delete(fail, kNoSpace);
    ExpectPaths({Phone(L"ro.txt"), Phone(L"fail.txt")}, {Phone(L"del.txt")});
}

TEST_F(DeviceOperations, RenameGivesTheObjectItsNewPathOrLeavesEverythingAsItWas) {
    m_image.Fill(L'C', {File(L"ops\\ren.txt", "r"), File(L"ops\\taken.txt", "t"), File(L"ops\\Dir\\inner.txt", "i"),
                        Dir(L"ops\\Other\\")});
    BindOps();
    auto file = FileAt(L"\\Phone\\ops\\ren.txt");
    auto folder = Folder(L"\\Phone\\ops\\Dir\\");
    ASSERT_TRUE(file && folder);
    Rename(file, L"renamed.txt", kOk);
    EXPECT_EQ(L"renamed.txt", NameOf(file.Get()));
    EXPECT_EQ(L"\\Phone\\ops\\renamed.txt", PathOf(file.Get()));
    // The object goes on working under its new name; a clash or a path that
    // would not fit a path buffer leaves everything as it was.
    Rename(file, L"again.txt", kOk);
    Rename(file, L"taken.txt", kExists);
    Rename(file, std::wstring(250, L'n'), kFailed);
    EXPECT_EQ(L"\\Phone\\ops\\again.txt", PathOf(file.Get()));
    EXPECT_EQ("r", ReadFileBytes(Phone(L"again.txt")));
    EXPECT_EQ("t", ReadFileBytes(Phone(L"taken.txt")));
    ExpectPaths({}, {Phone(L"ren.txt"), Phone(L"renamed.txt")});

    Rename(folder, L"Renamed", kOk);
    EXPECT_EQ(L"Renamed", NameOf(folder.Get()));
    ComPtr<IKVFMFolder> parent;
    ASSERT_EQ(S_OK, folder->get_Parent(parent.Receive()));
    EXPECT_EQ(L"\\Phone\\ops\\", PathOf(parent.Get()));
    Rename(folder, L"Other", kExists);
    EXPECT_EQ(L"\\Phone\\ops\\Renamed\\", PathOf(folder.Get()));
    ExpectPaths({Phone(L"Renamed\\inner.txt")}, {Phone(L"Dir")});
}

TEST_F(DeviceOperations, NewFolderHandsOverTheNewFolderOrFails) {
    m_image.Fill(L'C', {Dir(L"ops\\Parent\\")});
    BindOps();
    auto parent = Folder(L"\\Phone\\ops\\Parent\\");
    ASSERT_TRUE(parent);
    EXPECT_EQ(L"\\Phone\\ops\\Parent\\Fresh\\", NewFolder(parent, L"Fresh", kOk));
    NewFolder(parent, L"Fresh", kExists);
    // The tree's root has no storage: nothing to create in, nothing to delete.
    auto root = Folder(L"\\");
    ASSERT_TRUE(root);
    NewFolder(root, L"Fresh", kFailed);
    Delete(root, kFailed);
    ExpectPaths({Phone(L"Parent\\Fresh")});
}

TEST_F(DeviceOperations, FolderDeleteReportsEachFileAndRemovesTheTreeBottomUp) {
    m_image.Fill(L'C', {File(L"ops\\Tree\\a.txt", "a"), File(L"ops\\Tree\\Sub\\b.txt", "b"),
                        File(L"ops\\Tree\\Sub\\Deep\\c.txt", "c"), Dir(L"ops\\Bare\\A\\"), Dir(L"ops\\Bare\\B\\C\\")});
    BindOps();
    auto tree = Folder(L"\\Phone\\ops\\Tree\\"), bare = Folder(L"\\Phone\\ops\\Bare\\");
    ASSERT_TRUE(tree && bare);
    Outcome full = Delete(tree, kOk);
    EXPECT_EQ((std::vector<SHORT>{33, 66, 100}), full.percents);
    EXPECT_EQ((std::vector<std::wstring>{L"Tree", L"Sub", L"Deep"}), full.names);  // the folder being emptied
    for (const auto& e : full.progress) {
        EXPECT_EQ((std::vector<VARTYPE>{VT_BSTR, VT_I2, VT_I4, VT_BYREF | VT_I2}), e.types);
        EXPECT_EQ(0, e.cancelOnArrival);
    }
    EXPECT_TRUE(Delete(bare, kOk).progress.empty());
    // The walk stays inside the tree.
    ExpectPaths({Phone(L"Probe")}, {Phone(L"Tree"), Phone(L"Bare")});
}

TEST_F(DeviceOperations, FolderDeleteAbortsOnlyOnOneAndStopsAtAFailingFile) {
    m_image.Fill(L'C', {File(L"ops\\Keep\\a.txt", "a"), File(L"ops\\Keep\\Sub\\b.txt", "b"),
                        File(L"ops\\Keep\\Sub\\c.txt", "c"), File(L"ops\\Stop\\a.txt", "a"),
                        File(L"ops\\Stop\\Sub\\b.txt", "b"), File(L"ops\\Stop\\Sub\\c.txt", "c"),
                        File(L"ops\\Locked\\a.txt", "a"), File(L"ops\\Locked\\ro.txt", "r", FILE_ATTRIBUTE_READONLY),
                        File(L"ops\\Locked\\Sub\\z.txt", "z"), File(L"ops\\Stuck\\Sub\\s.txt", "s")});
    BindOps();
    auto keep = Folder(L"\\Phone\\ops\\Keep\\"), stop = Folder(L"\\Phone\\ops\\Stop\\"),
         locked = Folder(L"\\Phone\\ops\\Locked\\"), stuck = Folder(L"\\Phone\\ops\\Stuck\\");
    ASSERT_TRUE(keep && stop && locked && stuck);
    EXPECT_EQ(3u, Delete(keep, kOk, -1).progress.size());
    EXPECT_EQ((std::vector<SHORT>{33}), Delete(stop, kAborted, 1).percents);
    // A file that cannot go ends the walk at once: what follows stays.
    EXPECT_EQ((std::vector<SHORT>{33}), Delete(locked, kDenied).percents);
    // A folder that cannot go is passed over; once the walk has ended the
    // first such failure is reported, not the later one of its parent.
    FailNext(simCallDeleteDirectory, E_ACCESSDENIED);
    EXPECT_EQ((std::vector<SHORT>{100}), Delete(stuck, kDenied).percents);
    ExpectPaths({Phone(L"Stop\\Sub\\b.txt"), Phone(L"Stop\\Sub\\c.txt"), Phone(L"Locked\\ro.txt"),
                 Phone(L"Locked\\Sub\\z.txt"), Phone(L"Stuck\\Sub")},
                {Phone(L"Keep"), Phone(L"Stop\\a.txt"), Phone(L"Locked\\a.txt"), Phone(L"Stuck\\Sub\\s.txt")});
}

TEST_F(DeviceOperations, OperationsOfAnUnboundServiceReportDisconnected) {
    m_image.Fill(L'C', {File(L"ops\\del.txt", "d"), File(L"ops\\ren.txt", "r"), File(L"ops\\Tree\\a.txt", "a"),
                        Dir(L"ops\\Dir\\")});
    BindOps();
    auto del = FileAt(L"\\Phone\\ops\\del.txt"), ren = FileAt(L"\\Phone\\ops\\ren.txt");
    auto tree = Folder(L"\\Phone\\ops\\Tree\\"), dir = Folder(L"\\Phone\\ops\\Dir\\"), ops = Folder(L"\\Phone\\ops\\");
    ASSERT_TRUE(del && ren && tree && dir && ops);

    // The worker is held inside a listing's event while the operations queue behind it.
    com::UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr)), held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto blocker = Sink::Create();
    blocker->OnEvent([&](const Sink::Event&) {
        SetEvent(held.Get());
        WaitForSingleObject(release.Get(), kHangMs);
    });
    const DWORD blockerCookie = Advise(ops.Get(), blocker.Get());
    LONG blockId = 0;
    ASSERT_EQ(S_OK, ops->GetObjectsAsynch(&blockId));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held.Get(), kHangMs));

    struct Queued {
        IUnknown* object;
        DISPID kind;
        std::function<HRESULT(LONG*)> start;
        ComPtr<Sink> sink = Sink::Create();
        LONG id = 0;
    } queued[] = {{del.Get(), kDeleteCompleted, [&](LONG* id) { return del->Delete(id); }},
                  {ren.Get(), kRenameCompleted, [&](LONG* id) { return ren->Rename(B(L"other").Get(), id); }},
                  {tree.Get(), kDeleteCompleted, [&](LONG* id) { return tree->Delete(id); }},
                  {dir.Get(), kRenameCompleted, [&](LONG* id) { return dir->Rename(B(L"other").Get(), id); }},
                  {ops.Get(), kNewFolderCompleted, [&](LONG* id) { return ops->NewFolder(B(L"New").Get(), id); }}};
    for (Queued& q : queued) {
        Advise(q.object, q.sink.Get());
        ASSERT_EQ(S_OK, q.start(&q.id));
    }
    ASSERT_EQ(S_OK, Unbind());
    SetEvent(release.Get());
    for (const Queued& q : queued) ASSERT_TRUE(q.sink->WaitFor(q.id)) << q.id;
    // Bound again, the probe proves the worker has passed them all.
    ASSERT_EQ(S_OK, Rebind(L"pc-card"));
    DrawId();
    for (const Queued& q : queued) {
        Outcome out = OutcomeOf(q.sink.Get(), q.id);
        EXPECT_EQ(q.kind, out.end.id) << q.id;
        EXPECT_EQ(kDisconnected, out.end.result) << q.id;
        EXPECT_TRUE(out.progress.empty());
        EXPECT_FALSE(out.end.object);
    }
    ExpectPaths({Phone(L"del.txt"), Phone(L"ren.txt"), Phone(L"Tree\\a.txt"), Phone(L"Dir")}, {Phone(L"New")});
    EXPECT_EQ(L"\\Phone\\ops\\ren.txt", PathOf(ren.Get()));
    blocker->Unadvise(ops.Get(), blockerCookie);
}

// In U\w\ on the card: its files may be renamed.
TEST_F(DeviceOperations, MemoryCardItemsChangeOnThePcDrive) {
    BindOps();
    WriteTree(Card(L"w"), {{L"del.txt", "d"}, {L"ren.txt", "r"}, {L"taken.txt", "t"}, {L"Dir\\inner.txt", "i"},
                           {L"Tree\\a.txt", "a"}, {L"Tree\\Sub\\b.txt", "b"}, {L"Tree\\Sub\\Deep\\c.txt", "c"}});
    auto W = [&](const std::wstring& relative) { return Virtual(L"w\\" + relative); };
    auto del = FileAt(W(L"del.txt")), ren = FileAt(W(L"ren.txt"));
    auto dir = Folder(W(L"Dir\\")), tree = Folder(W(L"Tree\\")), top = Folder(W(L""));
    ASSERT_TRUE(del && ren && dir && tree && top);

    Delete(del, kOk);
    Rename(ren, L"renamed.txt", kOk);
    EXPECT_EQ(W(L"renamed.txt"), PathOf(ren.Get()));
    // The clash is refused whichever object tries it.
    auto again = FileAt(W(L"renamed.txt"));
    Rename(again, L"taken.txt", kFailed);
    EXPECT_EQ(W(L"renamed.txt"), PathOf(again.Get()));
    Rename(dir, L"Renamed", kOk);
    EXPECT_EQ(W(L"Renamed\\"), PathOf(dir.Get()));
    EXPECT_EQ(W(L"Fresh\\"), NewFolder(top, L"Fresh", kOk));
    NewFolder(top, L"Fresh", kFailed);
    Outcome treeDelete = Delete(tree, kOk);
    EXPECT_EQ((std::vector<SHORT>{33, 66, 100}), treeDelete.percents);
    EXPECT_EQ((std::vector<std::wstring>{L"Tree", L"Sub", L"Deep"}), treeDelete.names);
    ExpectPaths({Card(L"w\\renamed.txt"), Card(L"w\\taken.txt"), Card(L"w\\Renamed\\inner.txt"), Card(L"w\\Fresh")},
                {Card(L"w\\del.txt"), Card(L"w\\ren.txt"), Card(L"w\\Dir"), Card(L"w\\Tree")});
}

} // namespace
