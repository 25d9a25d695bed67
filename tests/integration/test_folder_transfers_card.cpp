// Folder tree copies and moves with the memory card's PC drive: a card-only
// folder (served by the PC file system) as destination and source, and a
// folder present on the phone and on the card walked in one go.
#include "test_pc_fixture.h"

#include "test_folder_transfers_sink.h"
#include "test_symbian_fixture.h"

namespace {

using namespace treetest;
using namespace phonesim::kit;

const ULONG kOk = static_cast<ULONG>(KVFM_OK);

class CardTrees : public pctest::CardTest {
protected:
    void SetUp() override {
        CardTest::SetUp();
        PhoneFill({File(L"phone.txt", "from the phone"), File(L"PhoneDir\\q.txt", "q")});
        Bind();
        if (HasFatalFailure()) return;
        MakeCardDir(L"Inbox");
        ASSERT_EQ(S_OK, m_service->CreateFileMgmt(m_fm.Receive()));
        m_runner.Attach(m_fm.Get(), Virtual(L""));
        m_sink = TreeSink::Create();
    }
    void TearDown() override {
        m_sink.Reset();
        m_runner.Detach();
        m_fm.Reset();
        CardTest::TearDown();
    }
    ComPtr<IKVFMFolder> Watched(const std::wstring& path) {
        ComPtr<IKVFMFolder> folder = m_runner.Folder(path);
        if (folder) Advise(folder.Get(), m_sink.Get());
        return folder;
    }
    Outcome In(IKVFMFolder* folder, bool move, const std::wstring& source, const wchar_t* name = nullptr) {
        return m_runner.Run(m_sink.Get(), move ? kMoveFolderFromPc : kCopyFolderFromPc,
                            [&](LONG* id) { return FromPc(folder, move, source, name, id); });
    }
    Outcome Out(IKVFMFolder* folder, bool move, const std::wstring& pcFolder, const wchar_t* name = nullptr) {
        return m_runner.Run(m_sink.Get(), move ? kMoveToPc : kCopyToPc,
                            [&](LONG* id) { return ToPc(folder, move, pcFolder, name, id); });
    }
    std::wstring Pc(const std::wstring& relative) const { return m_image.PcFolder() + L"\\" + relative; }

    ComPtr<IKVFileMgmt> m_fm;
    TransferRunner m_runner;
    ComPtr<TreeSink> m_sink;
    symtest::LogLines m_log;
};

TEST_F(CardTrees, TreesGoToAndComeFromTheCardDrive) {
    Tree tree = {{L"a.txt", "alpha"},     {L"big.bin", PatternBytes(300000)}, {L"Sub\\", ""},
                 {L"Sub\\b.txt", "beta"}, {L"Sub\\Deep\\", ""},               {L"Sub\\Deep\\c.txt", "gamma"},
                 {L"Void\\", ""}};
    const std::wstring source = Pc(L"Album");
    WriteTree(source, tree);
    auto inbox = Watched(Virtual(L"Inbox\\"));
    ASSERT_TRUE(inbox);

    Outcome in = In(inbox.Get(), false, source);
    EXPECT_EQ(1u, in.completions);
    EXPECT_EQ(kOk, in.result);
    EXPECT_EQ(Virtual(L"Inbox\\Album\\"), PathOf(in.object.Get()));
    EXPECT_EQ(tree, ReadTree(Card(L"Inbox\\Album")));
    EXPECT_EQ(tree, ReadTree(source));
    EXPECT_EQ(FileNames(tree), in.progressNames);

    // Into the existing card folder again: merged, changed files replaced.
    tree[L"a.txt"] = "changed";
    phonesim::kit::WriteFileBytes(source + L"\\a.txt", "changed");
    Outcome again = In(inbox.Get(), false, source);
    EXPECT_EQ(1u, again.completions);
    EXPECT_EQ(kOk, again.result);
    EXPECT_EQ(Virtual(L"Inbox\\Album\\"), PathOf(again.object.Get()));
    EXPECT_EQ(tree, ReadTree(Card(L"Inbox\\Album")));
    EXPECT_EQ(0u, again.fileQuestions);

    // The folder on both the phone and the card: both kinds of files in one walk.
    auto both = Watched(Virtual(L""));
    const std::wstring out = Pc(L"Out");
    ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
    Outcome mixed = Out(both.Get(), false, out, L"Both");
    EXPECT_EQ(1u, mixed.completions);
    EXPECT_EQ(kOk, mixed.result);
    Tree expected = {{L"phone.txt", "from the phone"}, {L"PhoneDir\\", ""}, {L"PhoneDir\\q.txt", "q"},
                     {L"Inbox\\", ""},                 {L"Inbox\\Album\\", ""}};
    for (const auto& entry : tree) expected[L"Inbox\\Album\\" + entry.first] = entry.second;
    EXPECT_EQ(expected, ReadTree(out + L"\\Both"));
    EXPECT_TRUE(mixed.folderQuestions.empty());
    // Each card copy's signal was taken by the operation that waited for it.
    EXPECT_EQ(-1, m_log.Find("An unexpected Wait Object signal was received", 0, "ERROR"));
}

TEST_F(CardTrees, MovesEmptyTheCardOrThePcSource) {
    const Tree tree = {{L"m.txt", "moved"}, {L"In\\", ""}, {L"In\\n.txt", "inner"}, {L"Void\\", ""}};
    WriteTree(Card(L"Inbox\\Going"), tree);
    auto going = Watched(Virtual(L"Inbox\\Going\\"));
    ASSERT_TRUE(going);
    const std::wstring out = Pc(L"Out");
    ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));

    Outcome moved = Out(going.Get(), true, out);
    EXPECT_EQ(1u, moved.completions);
    EXPECT_EQ(kOk, moved.result);
    EXPECT_EQ(tree, ReadTree(out + L"\\Going"));
    EXPECT_FALSE(Exists(Card(L"Inbox\\Going")));
    EXPECT_TRUE(Exists(Card(L"Inbox")));

    auto inbox = Watched(Virtual(L"Inbox\\"));
    Outcome back = In(inbox.Get(), true, out + L"\\Going", L"Back");
    EXPECT_EQ(1u, back.completions);
    EXPECT_EQ(kOk, back.result);
    EXPECT_EQ(Virtual(L"Inbox\\Back\\"), PathOf(back.object.Get()));
    EXPECT_EQ(tree, ReadTree(Card(L"Inbox\\Back")));
    EXPECT_FALSE(Exists(out + L"\\Going"));
    EXPECT_TRUE(Exists(out));
}

} // namespace
