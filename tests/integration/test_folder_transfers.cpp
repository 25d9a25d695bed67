// Folder tree copies and moves between the PC and the phone or card, through the object model.
#include "test_fixture.h"

#include "module/Utilities.h"

namespace {

using namespace itest;

constexpr DISPID kCopyToPc = kDispidCopyToPCCompleted, kMoveToPc = kDispidMoveToPCCompleted,
                 kCopyFolderFromPc = kDispidCopyFolderFromPCCompleted, kMoveFolderFromPc = kDispidMoveFolderFromPCCompleted,
                 kFileProgress = Sink::kFileProgress, kReplaceFile = Sink::kReplaceFile,
                 kReplaceFolder = Sink::kReplaceFolder;
const wchar_t kPictures[] = L"\\Phone\\Pictures\\";
const ULONG kOk = static_cast<ULONG>(KVFM_OK);
const ULONG kAborted = static_cast<ULONG>(KVFM_ABORTED);
const ULONG kAny = ~0u;  // a result checked by the test itself

// What one tree transfer gave its sink.
struct Outcome {
    ULONG result = ~0u;
    ComPtr<IDispatch> object;
    std::vector<std::wstring> folderQuestions;
    std::vector<LONG> offered;  // the answer each question arrived with
    size_t fileQuestions = 0;
    std::set<std::wstring> progressNames;
};

class TreeTest : public PhoneTest {
protected:
    ComPtr<IKVFMFolder> Watched(const std::wstring& path) { return PhoneTest::Watched(Folder(path)); }
    // Starts a transfer, waits for its completion, then for the probe; one
    // completion only, of that kind and with the expected result.
    Outcome Transfer(DISPID completion, ULONG expected, const std::function<HRESULT(LONG*)>& start) {
        const LONG id = Run(m_sink.Get(), start);
        const auto end = OneCompletion(m_sink.Get(), id);
        EXPECT_EQ(completion, end.id) << id;
        if (expected != kAny) {
            EXPECT_EQ(expected, end.result) << id;
        }
        if (expected != kOk && expected != kAny) {
            EXPECT_FALSE(end.object) << id;
        }
        Outcome out{end.result, end.object};
        for (const auto& e : m_sink->Of(id, kReplaceFolder)) {
            out.folderQuestions.push_back(e.name);
            out.offered.push_back(e.offered);
        }
        out.fileQuestions = m_sink->Of(id, kReplaceFile).size();
        for (const auto& e : m_sink->Of(id, kFileProgress)) out.progressNames.insert(e.name);
        return out;
    }
    Outcome In(IKVFMFolder* folder, bool move, const std::wstring& source, const wchar_t* name = nullptr,
               ULONG expected = kOk) {
        return Transfer(move ? kMoveFolderFromPc : kCopyFolderFromPc, expected, [&](LONG* id) {
            com::UniqueBstr s(source.c_str()), n(name);
            return move ? folder->MoveFolderFromPC(s.Get(), n.Get(), id) : folder->CopyFolderFromPC(s.Get(), n.Get(), id);
        });
    }
    Outcome Out(IKVFMFolder* folder, bool move, const std::wstring& pcFolder, const wchar_t* name = nullptr,
                ULONG expected = kOk) {
        return Transfer(move ? kMoveToPc : kCopyToPc, expected,
                        [&](LONG* id) { return ToPc(folder, move, pcFolder, name, id); });
    }
    // A new PC folder.
    std::wstring PcDir(const std::wstring& name) {
        EXPECT_TRUE(CreateDirectoryW(Pc(name).c_str(), nullptr)) << Narrow(name);
        return Pc(name);
    }
    static HRESULT ToPc(IKVFMFolder* folder, bool move, const std::wstring& pcFolder, const wchar_t* name, LONG* id) {
        com::UniqueBstr f(pcFolder.c_str()), n(name);
        return move ? folder->MoveToPC(f.Get(), n.Get(), id) : folder->CopyToPC(f.Get(), n.Get(), id);
    }
};

class PhoneTrees : public TreeTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone();
        m_image.Fill(L'C', {Dir(L"Images\\Probe\\"), File(L"Images\\Album\\p1.jpg", "one"),
                            File(L"Images\\Album\\Inner\\p2.jpg", "two"),
                            Sized(L"Images\\Album\\Inner\\Deeper\\p3.jpg", 150000),
                            File(L"Images\\Album\\Other\\p4.jpg", "four"), Dir(L"Images\\Album\\Blank\\"),
                            File(L"Images\\Merge\\a.txt", "old"), File(L"Images\\Merge\\keep.txt", "kept"),
                            File(L"Images\\Merge\\Sub1\\old.txt", "x"), File(L"Images\\Clash", "a file"),
                            File(L"Images\\Mv\\m1.txt", "m1"), File(L"Images\\Mv\\In\\m2.txt", "m2"),
                            Sized(L"Images\\Mv\\In\\Deep\\m3.bin", 100000), Dir(L"Images\\Mv\\Void\\"),
                            File(L"Images\\Ro\\a.txt", "a", FILE_ATTRIBUTE_READONLY), File(L"Images\\Ro\\b.txt", "b"),
                            File(L"Images\\Ro\\Sub\\s.txt", "s")});
        Bind(SamplePath(L"browser.xml"), L"phone-browser");
        m_probePath = L"\\Phone\\Pictures\\Probe\\";
        m_pictures = Watched(kPictures);
    }
    std::wstring OnPhone(const std::wstring& relative) const { return m_image.PcPath(L"C:\\Images\\" + relative); }
    Outcome CopyIn(const std::wstring& source, const wchar_t* name = nullptr, bool move = false, ULONG expected = kOk) {
        return In(m_pictures.Get(), move, source, name, expected);
    }

    ComPtr<IKVFMFolder> m_pictures;
};

const Tree kSource = {{L"a.txt", "alpha"},         {L"big.bin", PatternBytes(150000)}, {L"Sub1\\", ""},
                      {L"Sub1\\c.txt", "gamma"},   {L"Sub1\\Deep\\", ""},              {L"Sub1\\Deep\\d.txt", "delta"},
                      {L"Sub2\\", ""},             {L"Sub2\\e.txt", "epsilon"},        {L"Empty\\", ""}};

TEST_F(PhoneTrees, CopyFromPcBuildsOrMergesTheTreeAndReportsFailuresOnce) {
    const std::wstring source = Pc(L"Tree");
    WriteTree(source, kSource);

    Outcome copied = CopyIn(source);
    EXPECT_EQ(L"\\Phone\\Pictures\\Tree\\", PathOf(copied.object.Get()));
    EXPECT_EQ(kSource, ReadTree(OnPhone(L"Tree")));
    EXPECT_EQ(kSource, ReadTree(source));
    EXPECT_EQ(FileNames(kSource), copied.progressNames);
    EXPECT_TRUE(copied.folderQuestions.empty());
    EXPECT_EQ(0u, copied.fileQuestions);

    // A given name is the new top folder's, with or without a final separator on the source.
    Outcome named = CopyIn(source + L"\\", L"Renamed");
    EXPECT_EQ(L"\\Phone\\Pictures\\Renamed\\", PathOf(named.object.Get()));
    EXPECT_EQ(kSource, ReadTree(OnPhone(L"Renamed")));

    // An empty folder gives an empty folder.
    Outcome lonely = CopyIn(PcDir(L"Lonely"));
    EXPECT_EQ(L"\\Phone\\Pictures\\Lonely\\", PathOf(lonely.object.Get()));
    ExpectPaths({OnPhone(L"Lonely")}, {OnPhone(L"Renamed\\Tree")});
    EXPECT_TRUE(ReadTree(OnPhone(L"Lonely")).empty());
    EXPECT_TRUE(lonely.progressNames.empty());

    // Into an existing folder: merged without questions.
    WriteTree(Pc(L"Merge"), {{L"a.txt", "new"}, {L"Sub1\\c.txt", "gamma"}, {L"Sub3\\f.txt", "phi"}});
    Outcome merged = CopyIn(Pc(L"Merge"));
    EXPECT_EQ(L"\\Phone\\Pictures\\Merge\\", PathOf(merged.object.Get()));
    const Tree expected = {{L"a.txt", "new"},       {L"keep.txt", "kept"}, {L"Sub1\\", ""}, {L"Sub1\\old.txt", "x"},
                           {L"Sub1\\c.txt", "gamma"}, {L"Sub3\\", ""},       {L"Sub3\\f.txt", "phi"}};
    EXPECT_EQ(expected, ReadTree(OnPhone(L"Merge")));
    EXPECT_TRUE(merged.folderQuestions.empty());
    EXPECT_EQ(0u, merged.fileQuestions);

    // A file holds the top folder's name: nothing is copied.
    WriteTree(Pc(L"Clash"), {{L"z.txt", "z"}});
    Outcome clash = CopyIn(Pc(L"Clash"), nullptr, false, kAny);
    EXPECT_NE(kOk, clash.result);
    EXPECT_FALSE(clash.object);
    EXPECT_EQ("a file", ReadFileBytes(OnPhone(L"Clash")));

    // No such PC folder: no folder is made on the phone.
    CopyIn(Pc(L"Nowhere"), nullptr, false, KVFM_E_FAILED);

    // A file fails to reach the phone: the walk stops there with its result.
    WriteTree(Pc(L"Failing"), {{L"first.txt", "1"}, {L"Later\\second.txt", "2"}});
    ASSERT_HRESULT_SUCCEEDED(m_control->FailNextCopy(static_cast<HRESULT>(0x80070070), 0));
    CopyIn(Pc(L"Failing"), nullptr, false, kvFmResultFromHresult(static_cast<HRESULT>(0x80070070)));
    ExpectPaths({}, {OnPhone(L"Nowhere"), OnPhone(L"Failing\\Later")});
}

TEST_F(PhoneTrees, MoveFromPcRemovesTheSourceAndStopsAtAFileThatCannotGo) {
    const std::wstring source = Pc(L"Moving");
    WriteTree(source, kSource);
    Outcome moved = CopyIn(source, nullptr, true);
    EXPECT_EQ(L"\\Phone\\Pictures\\Moving\\", PathOf(moved.object.Get()));
    EXPECT_EQ(kSource, ReadTree(OnPhone(L"Moving")));

    // A file held open without delete sharing stops the move after its copy.
    const std::wstring locked = Pc(L"Locked");
    WriteTree(locked, {{L"x.txt", "x"}, {L"Inner\\y.txt", "y"}, {L"Inner\\Below\\w.txt", "w"}});
    com::UniqueHandle holder(CreateFileW((locked + L"\\Inner\\y.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    // The result is the Win32 error of that file's delete, converted.
    ASSERT_FALSE(DeleteFileW((locked + L"\\Inner\\y.txt").c_str()));
    const DWORD error = GetLastError();
    CopyIn(locked, nullptr, true, kvFmResultFromHresult(HRESULT_FROM_WIN32(error)));
    // Files come before subfolders: x.txt had moved; the folders stay.
    EXPECT_EQ("x", ReadFileBytes(OnPhone(L"Locked\\x.txt")));
    EXPECT_EQ("y", ReadFileBytes(OnPhone(L"Locked\\Inner\\y.txt")));
    ExpectPaths({locked + L"\\Inner\\y.txt", locked + L"\\Inner\\Below\\w.txt"},
                {source, locked + L"\\x.txt", OnPhone(L"Locked\\Inner\\Below")});
}

TEST_F(PhoneTrees, CopyToPcBuildsTheTreeAsksOncePerExistingFolderAndSkipsOrAbortsAsAnswered) {
    auto album = Watched(L"\\Phone\\Pictures\\Album\\");
    const Tree phoneAlbum = ReadTree(OnPhone(L"Album"));
    ASSERT_EQ(8u, phoneAlbum.size());
    const std::wstring out = PcDir(L"Out");
    Outcome fresh = Out(album.Get(), false, out);
    EXPECT_EQ(phoneAlbum, ReadTree(out + L"\\Album"));
    EXPECT_EQ(FileNames(phoneAlbum), fresh.progressNames);
    EXPECT_TRUE(fresh.folderQuestions.empty());

    // Merging answer: a question for every existing folder, the last answer offered next.
    WriteFileBytes(out + L"\\Album\\p1.jpg", "changed");
    m_sink->AnswerFolders(1);
    Outcome again = Out(album.Get(), false, out);
    EXPECT_EQ((std::vector<std::wstring>{L"Album", L"Blank", L"Inner", L"Deeper", L"Other"}), again.folderQuestions);
    EXPECT_EQ((std::vector<LONG>{3, 1, 1, 1, 1}), again.offered);
    EXPECT_EQ(0u, again.fileQuestions);
    EXPECT_EQ(phoneAlbum, ReadTree(out + L"\\Album"));

    // Merge all: the first question is the only one.
    WriteFileBytes(out + L"\\Album\\Other\\p4.jpg", "changed");
    m_sink->AnswerFolders(2);
    Outcome all = Out(album.Get(), false, out);
    EXPECT_EQ(std::vector<std::wstring>{L"Album"}, all.folderQuestions);
    EXPECT_EQ(phoneAlbum, ReadTree(out + L"\\Album"));

    // Under another name on the PC.
    Out(album.Get(), false, out, L"Copy");
    EXPECT_EQ(phoneAlbum, ReadTree(out + L"\\Copy"));

    const std::wstring top = out + L"\\Album\\";
    auto scribble = [&](std::initializer_list<const wchar_t*> files) {
        for (const wchar_t* f : files) WriteFileBytes(top + f, "mine");
    };
    auto expect = [&](const Tree& files) {
        for (const auto& [f, bytes] : files) EXPECT_EQ(bytes, ReadFileBytes(top + f)) << Narrow(f);
    };

    // Skipping Inner leaves it and everything below it; the walk goes on.
    scribble({L"p1.jpg", L"Inner\\p2.jpg", L"Inner\\Deeper\\p3.jpg", L"Other\\p4.jpg"});
    m_sink->AnswerFolders(1, {{L"Inner", 3}});
    Outcome skipped = Out(album.Get(), false, out);
    EXPECT_EQ((std::vector<std::wstring>{L"Album", L"Blank", L"Inner", L"Other"}), skipped.folderQuestions);
    expect({{L"p1.jpg", "one"}, {L"Inner\\p2.jpg", "mine"}, {L"Inner\\Deeper\\p3.jpg", "mine"},
            {L"Other\\p4.jpg", "four"}});

    // Aborting at Inner keeps what was copied before it (the top folder's files).
    scribble({L"p1.jpg", L"Other\\p4.jpg"});
    m_sink->AnswerFolders(1, {{L"Inner", 4}});
    Out(album.Get(), false, out, nullptr, kAborted);
    expect({{L"p1.jpg", "one"}, {L"Inner\\p2.jpg", "mine"}, {L"Other\\p4.jpg", "mine"}});

    // Skip or abort for the top folder: nothing is copied.
    for (LONG answer : {3, 4}) {
        scribble({L"p1.jpg"});
        m_sink->AnswerFolders(answer);
        Outcome top = Out(album.Get(), false, out, nullptr, kAborted);
        EXPECT_EQ(std::vector<std::wstring>{L"Album"}, top.folderQuestions) << answer;
        expect({{L"p1.jpg", "mine"}});
    }

    // An answer left untouched is the initial skip: the existing top folder aborts.
    m_sink->AnswerFolders(-1);
    Outcome untouched = Out(album.Get(), false, out, nullptr, kAborted);
    EXPECT_EQ(std::vector<LONG>{3}, untouched.offered);
    expect({{L"p1.jpg", "mine"}});

    // Without any sink the answer stays the initial skip: an existing top
    // folder is left alone, a new one is copied whole.
    auto unwatched = Folder(L"\\Phone\\Pictures\\Album\\");
    ASSERT_TRUE(unwatched);
    for (const std::wstring& pcFolder : {out, PcDir(L"Quiet")})
        Run(nullptr, [&](LONG* id) { return ToPc(unwatched.Get(), false, pcFolder, nullptr, id); });
    expect({{L"p1.jpg", "mine"}});
    EXPECT_EQ(phoneAlbum, ReadTree(Pc(L"Quiet\\Album")));
}

TEST_F(PhoneTrees, MoveToPcEmptiesTheDeviceTreeAndStopsAtAFileThatCannotGo) {
    auto moving = Watched(L"\\Phone\\Pictures\\Mv\\");
    const Tree before = ReadTree(OnPhone(L"Mv"));
    const std::wstring out = PcDir(L"Moved");
    // A device folder that cannot be deleted is left; the move goes on.
    ASSERT_HRESULT_SUCCEEDED(m_control->FailCalls(simCallDeleteDirectory, static_cast<HRESULT>(0x80070005), 1));
    Out(moving.Get(), true, out);
    EXPECT_EQ(before, ReadTree(out + L"\\Mv"));
    // Deepest first: In\Deep was the one refused; In (not empty) and Mv stay with it.
    EXPECT_EQ((Tree{{L"In\\", ""}, {L"In\\Deep\\", ""}}), ReadTree(OnPhone(L"Mv")));
    ASSERT_HRESULT_SUCCEEDED(m_control->FailCalls(simCallDeleteDirectory, S_OK, 0));
    m_sink->AnswerFolders(2);
    Out(Watched(L"\\Phone\\Pictures\\Mv\\").Get(), true, out);
    ExpectPaths({}, {OnPhone(L"Mv")});
    EXPECT_EQ(before, ReadTree(out + L"\\Mv"));

    // The device refuses to delete a read-only file once copied: its PC copy,
    // read-only as well, goes all the same, and the move stops.
    auto readOnly = Watched(L"\\Phone\\Pictures\\Ro\\");
    Out(readOnly.Get(), true, out, nullptr, KVFM_E_ACCESS_DENIED);
    ExpectPaths({}, {out + L"\\Ro\\a.txt", out + L"\\Ro\\Sub"});
    EXPECT_EQ((Tree{{L"a.txt", "a"}, {L"b.txt", "b"}, {L"Sub\\", ""}, {L"Sub\\s.txt", "s"}}), ReadTree(OnPhone(L"Ro")));
}

TEST_F(PhoneTrees, DisconnectWhileAFileWaitsEndsTheTreeAndTooLongPcPathsAreRefused) {
    // A path that fits for the top folder but not for the deepest file.
    const std::wstring out = PcDir(L"Long");
    const size_t room = MAX_PATH - 1 - (out.size() + 1) - std::wstring(L"\\Album\\Inner\\Deeper").size();
    const std::wstring deep = out + L"\\" + std::wstring(room - 4, L'd');
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    auto album = Watched(L"\\Phone\\Pictures\\Album\\");
    Out(album.Get(), false, deep, nullptr, kvFmResultFromHresult(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)));
    EXPECT_EQ("one", ReadFileBytes(deep + L"\\Album\\p1.jpg"));
    EXPECT_EQ("two", ReadFileBytes(deep + L"\\Album\\Inner\\p2.jpg"));
    // Nothing was cut short to fit: the folder whose file did not fit stays empty.
    ExpectPaths({deep + L"\\Album\\Inner\\Deeper"});
    EXPECT_TRUE(ReadTree(deep + L"\\Album\\Inner\\Deeper").empty());

    // The binding ends while a file of the tree waits.
    ASSERT_HRESULT_SUCCEEDED(m_control->put_CopiesPaused(VARIANT_TRUE));
    LONG id = 0;
    const std::wstring waiting = PcDir(L"Waiting");
    ASSERT_EQ(S_OK, ToPc(album.Get(), true, waiting, nullptr, &id));
    ASSERT_TRUE(m_sink->WaitFor(id, kFileProgress));
    EXPECT_TRUE(m_sink->Of(id, kMoveToPc).empty());
    ASSERT_EQ(S_OK, Unbind());
    ASSERT_TRUE(m_sink->WaitFor(id, kMoveToPc));
    ASSERT_HRESULT_SUCCEEDED(m_control->put_CopiesPaused(VARIANT_FALSE));
    EXPECT_EQ(static_cast<ULONG>(KVFM_E_DISCONNECTED), OneCompletion(m_sink.Get(), id).result);
    EXPECT_EQ("one", ReadFileBytes(OnPhone(L"Album\\p1.jpg")));
}

// The card-only folder U\Inbox as destination and source (served by the PC
// file system), and U, on the phone and on the card, walked in one go.
class CardTrees : public TreeTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone(true);
        PhoneFill({File(L"phone.txt", "from the phone"), File(L"PhoneDir\\q.txt", "q")});
        BindCard();
        if (HasFatalFailure()) return;
        MakeCardDir(L"Inbox");
    }
};

TEST_F(CardTrees, TreesGoToAndComeFromTheCardDriveAndMovesEmptyTheirSource) {
    Tree tree = {{L"a.txt", "alpha"},     {L"big.bin", PatternBytes(300000)}, {L"Sub\\", ""},
                 {L"Sub\\b.txt", "beta"}, {L"Sub\\Deep\\", ""},               {L"Sub\\Deep\\c.txt", "gamma"},
                 {L"Void\\", ""}};
    const std::wstring source = Pc(L"Album");
    WriteTree(source, tree);
    auto inbox = Watched(Virtual(L"Inbox\\"));
    ASSERT_TRUE(inbox);

    Outcome in = In(inbox.Get(), false, source);
    EXPECT_EQ(Virtual(L"Inbox\\Album\\"), PathOf(in.object.Get()));
    EXPECT_EQ(tree, ReadTree(Card(L"Inbox\\Album")));
    EXPECT_EQ(tree, ReadTree(source));
    EXPECT_EQ(FileNames(tree), in.progressNames);

    // Into the existing card folder again: merged, changed files replaced.
    tree[L"a.txt"] = "changed";
    WriteFileBytes(source + L"\\a.txt", "changed");
    Outcome again = In(inbox.Get(), false, source);
    EXPECT_EQ(Virtual(L"Inbox\\Album\\"), PathOf(again.object.Get()));
    EXPECT_EQ(tree, ReadTree(Card(L"Inbox\\Album")));
    EXPECT_EQ(0u, again.fileQuestions);

    // The folder on both the phone and the card: both kinds of files in one walk.
    auto both = Watched(Virtual(L""));
    const std::wstring out = PcDir(L"Out");
    Outcome mixed = Out(both.Get(), false, out, L"Both");
    Tree expected = {{L"phone.txt", "from the phone"}, {L"PhoneDir\\", ""}, {L"PhoneDir\\q.txt", "q"},
                     {L"Inbox\\", ""},                 {L"Inbox\\Album\\", ""}};
    for (const auto& entry : tree) expected[L"Inbox\\Album\\" + entry.first] = entry.second;
    EXPECT_EQ(expected, ReadTree(out + L"\\Both"));
    EXPECT_TRUE(mixed.folderQuestions.empty());
    // Each card copy's signal was taken by the operation that waited for it.
    EXPECT_EQ(-1, m_log.Find("An unexpected Wait Object signal was received", 0, "ERROR"));

    // Moves empty the card folder or the PC source.
    const Tree moving = {{L"m.txt", "moved"}, {L"In\\", ""}, {L"In\\n.txt", "inner"}, {L"Void\\", ""}};
    WriteTree(Card(L"Inbox\\Going"), moving);
    auto going = Watched(Virtual(L"Inbox\\Going\\"));
    ASSERT_TRUE(going);
    Out(going.Get(), true, out);
    EXPECT_EQ(moving, ReadTree(out + L"\\Going"));
    ExpectPaths({Card(L"Inbox")}, {Card(L"Inbox\\Going")});
    Outcome back = In(inbox.Get(), true, out + L"\\Going", L"Back");
    EXPECT_EQ(Virtual(L"Inbox\\Back\\"), PathOf(back.object.Get()));
    EXPECT_EQ(moving, ReadTree(Card(L"Inbox\\Back")));
    ExpectPaths({out}, {out + L"\\Going"});
}

} // namespace
