// Single-file copies and moves between the PC and the phone or card, through the object model.
#include "test_fixture.h"

namespace {

using namespace itest;

constexpr DISPID kCopyToPc = kDispidCopyToPCCompleted, kMoveToPc = kDispidMoveToPCCompleted,
                 kCopyFromPc = kDispidCopyFileFromPCCompleted, kMoveFromPc = kDispidMoveFileFromPCCompleted,
                 kProgress = Sink::kProgress, kFileProgress = Sink::kFileProgress;
constexpr ULONG kAborted = static_cast<ULONG>(KVFM_ABORTED);

using PathAndSize = std::pair<std::wstring, LONG>;
// The path and size of the file object a from-PC completion carries.
PathAndSize NewFile(const Sink::Event& e) {
    ComPtr<IKVFMFile> file;
    LONG size = -1;
    EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_DISPATCH, VT_I4}), e.types);
    if (e.object && SUCCEEDED(e.object->QueryInterface(IID_IKVFMFile, file.ReceiveVoid()))) file->get_Size(&size);
    return {PathOf(file.Get()), size};
}

class TransferTest : public PhoneTest {
protected:
    void TearDown() override {
        // Nothing the test paused or cut off may outlive it.
        if (m_control) {
            m_control->Reconnect(nullptr);
            m_control->put_CopiesPaused(VARIANT_FALSE);
            m_sink->WaitUntil([&] {
                long active = 0;
                return FAILED(m_control->get_ActiveCopies(&active)) || active == 0;
            });
        }
        PhoneTest::TearDown();
    }
    // A missing object is a failure, not a crash of the test process.
    LONG FromPc(IKVFMFolder* folder, bool move, const std::wstring& source) {
        LONG id = -1;
        EXPECT_TRUE(folder) << "no folder";
        if (folder) {
            EXPECT_EQ(S_OK, move ? folder->MoveFileFromPC(B(source).Get(), nullptr, &id)
                                 : folder->CopyFileFromPC(B(source).Get(), nullptr, &id));
        }
        return id;
    }
    LONG ToPc(IKVFMFile* file, bool move, const wchar_t* name = nullptr) {
        com::UniqueBstr folder(m_image.PcFolder().c_str()), pcName(name);
        LONG id = -1;
        EXPECT_TRUE(file) << "no file";
        if (file) {
            EXPECT_EQ(S_OK, move ? file->MoveToPC(folder.Get(), pcName.Get(), &id)
                                 : file->CopyToPC(folder.Get(), pcName.Get(), &id));
        }
        return id;
    }
    // The transaction ended with exactly one completion, of this kind and result.
    void ExpectOneCompletion(LONG id, DISPID kind, long result) {
        auto e = OneCompletion(m_sink.Get(), id);
        EXPECT_EQ(kind, e.id) << id;
        EXPECT_EQ(static_cast<ULONG>(result), e.result) << id;
        if (result != 0) {
            EXPECT_FALSE(e.object) << id;
        }
    }
};

// ---- the phone ----

class PhoneTransfers : public TransferTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone();
        m_image.Fill(L'C', {Sized(L"Images\\big.bin", 300000), File(L"Images\\small.txt", "small"),
                            File(L"Images\\out.txt", "going out"), File(L"Images\\stays.txt", "staying"),
                            File(L"Images\\late.txt", "late"), Dir(L"Images\\Empty\\")});
        m_probePath = L"\\Phone\\Pictures\\Empty\\";
        Bind(SamplePath(L"browser.xml"), L"phone-browser");
        m_pictures = Watched(Folder(kPictures));
    }
    std::wstring OnPhone(const std::wstring& name) const { return m_image.PcPath(L"C:\\Images\\" + name); }
    ComPtr<IKVFMFile> PhoneFile(const std::wstring& name) { return Watched(FileAt(kPictures + name)); }

    const std::wstring kPictures = L"\\Phone\\Pictures\\";
    ComPtr<IKVFMFolder> m_pictures;
};

TEST_F(PhoneTransfers, CopiesAndMovesBothWaysCarryContentObjectsAndProgress) {
    // Events that come before the copy call returns are held until its request id is known.
    ASSERT_HRESULT_SUCCEEDED(m_control->put_EarlyEvents(VARIANT_TRUE));
    const std::wstring up = m_image.WritePcFile(L"up.bin", 300000), moving = m_image.WritePcFile(L"moving.txt", "mv");
    const LONG copyIn = FromPc(m_pictures.Get(), false, up), moveIn = FromPc(m_pictures.Get(), true, moving);
    const LONG copyOut = ToPc(PhoneFile(L"big.bin").Get(), false),
               renamed = ToPc(PhoneFile(L"small.txt").Get(), false, L"renamed.txt"),
               moveOut = ToPc(PhoneFile(L"out.txt").Get(), true);

    // An existing phone file is overwritten without asking.
    const LONG over = FromPc(m_pictures.Get(), false, m_image.WritePcFile(L"stays.txt", "new"));
    DrawId();  // a second completion would have come by now
    const std::pair<LONG, DISPID> ends[] = {{copyIn, kCopyFromPc}, {moveIn, kMoveFromPc}, {copyOut, kCopyToPc},
                                            {renamed, kCopyToPc},    {moveOut, kMoveToPc},  {over, kCopyFromPc}};
    for (const auto& [id, kind] : ends) ExpectOneCompletion(id, kind, 0);
    EXPECT_TRUE(m_sink->Of(over, Sink::kReplaceFile).empty());
    EXPECT_EQ("new", ReadFileBytes(OnPhone(L"stays.txt")));
    EXPECT_EQ(PathAndSize(kPictures + L"up.bin", 300000), NewFile(OneCompletion(m_sink.Get(), copyIn)));
    EXPECT_EQ(PathAndSize(kPictures + L"moving.txt", 2), NewFile(OneCompletion(m_sink.Get(), moveIn)));
    EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_I4}), OneCompletion(m_sink.Get(), moveOut).types);

    EXPECT_EQ(PatternBytes(300000), ReadFileBytes(OnPhone(L"up.bin")));
    EXPECT_EQ("mv", ReadFileBytes(OnPhone(L"moving.txt")));
    EXPECT_EQ(PatternBytes(300000), ReadFileBytes(Pc(L"big.bin")));
    EXPECT_EQ("small", ReadFileBytes(Pc(L"renamed.txt")));
    EXPECT_EQ("going out", ReadFileBytes(Pc(L"out.txt")));
    ExpectPaths({up, OnPhone(L"small.txt")}, {moving, OnPhone(L"out.txt")});

    // Progress names the transfer by id and the file by its name alone.
    for (LONG id : {copyIn, copyOut}) {
        auto progress = m_sink->Of(id, kProgress), files = m_sink->Of(id, kFileProgress);
        ASSERT_GE(progress.size(), 2u) << id;
        EXPECT_EQ(progress.size(), files.size());
        EXPECT_EQ((std::vector<VARTYPE>{VT_I2, VT_I4, VT_BYREF | VT_I2}), progress[0].types);
        EXPECT_EQ((std::vector<VARTYPE>{VT_BSTR, VT_I2, VT_I4, VT_BYREF | VT_I2}), files[0].types);
        EXPECT_EQ(100, progress.back().percent);
        for (const auto& f : files) EXPECT_EQ(id == copyIn ? L"up.bin" : L"big.bin", f.name);
    }
}

TEST_F(PhoneTransfers, CancelFailuresAndFolderWithoutStorageEndInOneFailureEvent) {
    const std::wstring big = m_image.WritePcFile(L"big-up.bin", 300000);
    const LONG before = DrawId();
    // Both progress events share one flag: set in the first, seen in the second.
    m_sink->CancelTransaction(before + 1, kProgress);
    m_sink->CancelTransaction(before + 2, kFileProgress);
    m_sink->CancelTransaction(before + 3, kProgress);
    const LONG copyOut = ToPc(PhoneFile(L"big.bin").Get(), false), moveIn = FromPc(m_pictures.Get(), true, big);
    const LONG moveOut = ToPc(PhoneFile(L"big.bin").Get(), true);
    ASSERT_EQ(before + 3, moveOut);
    for (LONG id : {copyOut, moveIn, moveOut}) EXPECT_EQ(kAborted, OneCompletion(m_sink.Get(), id).result) << id;
    EXPECT_NE(0, m_sink->Of(copyOut, kFileProgress).at(0).cancelOnArrival);
    ExpectPaths({big, OnPhone(L"big.bin")}, {Pc(L"big.bin"), OnPhone(L"big-up.bin")});

    // A transfer the phone fails: its result as the wait reports it; moves keep their source.
    ASSERT_HRESULT_SUCCEEDED(m_control->FailNextCopy(static_cast<long>(0x80070070), 50));
    ExpectOneCompletion(ToPc(PhoneFile(L"big.bin").Get(), true), kMoveToPc, KVFM_E_NO_SPACE);
    ASSERT_HRESULT_SUCCEEDED(m_control->FailNextCopy(static_cast<long>(0x80070070), 50));
    ExpectOneCompletion(FromPc(m_pictures.Get(), true, big), kMoveFromPc, KVFM_E_NO_SPACE);
    ExpectPaths({big, OnPhone(L"big.bin")}, {Pc(L"big.bin"), OnPhone(L"big-up.bin")});

    // A transfer that cannot start: the call's HRESULT converted.
    FailNext(simCallCopyFromPC, static_cast<HRESULT>(0x80070005));
    ExpectOneCompletion(FromPc(m_pictures.Get(), false, big), kCopyFromPc, KVFM_E_ACCESS_DENIED);
    FailNext(simCallCopyToPC, static_cast<HRESULT>(0x80070003));
    ExpectOneCompletion(ToPc(PhoneFile(L"small.txt").Get(), false), kCopyToPc, KVFM_E_NOT_FOUND);

    // An error event the copy cannot go on from ends it with its code; one it can go on from does not.
    ASSERT_HRESULT_SUCCEEDED(m_control->InjectCopyError(8, static_cast<long>(0x80070003), VARIANT_FALSE));
    ExpectOneCompletion(ToPc(PhoneFile(L"big.bin").Get(), false, L"a.bin"), kCopyToPc, KVFM_E_NOT_FOUND);
    ASSERT_HRESULT_SUCCEEDED(m_control->InjectCopyError(1, E_FAIL, VARIANT_TRUE));
    ExpectOneCompletion(ToPc(PhoneFile(L"big.bin").Get(), false, L"b.bin"), kCopyToPc, 0);
    EXPECT_EQ(PatternBytes(300000), ReadFileBytes(Pc(L"b.bin")));

    // The tree's root has no storage folder to copy into.
    auto root = Watched(Folder(L"\\"));
    const LONG intoRoot = FromPc(root.Get(), false, big);
    ExpectOneCompletion(intoRoot, kCopyFromPc, KVFM_E_FAILED);
    const LONG last = DrawId();
    EXPECT_TRUE(m_sink->Of(intoRoot, kProgress).empty());
    for (LONG id = before + 1; id < last; ++id) EXPECT_EQ(1u, m_sink->Completions(id).size()) << id;
}

TEST_F(PhoneTransfers, StepsAfterASuccessfulCopyThatFailAreReported) {
    // The PC source cannot go: the device keeps the copy.
    const std::wstring locked = m_image.WritePcFile(L"locked.txt", "locked");
    ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    ExpectOneCompletion(FromPc(m_pictures.Get(), true, locked), kMoveFromPc, KVFM_E_ACCESS_DENIED);
    ExpectPaths({locked});
    EXPECT_EQ("locked", ReadFileBytes(OnPhone(L"locked.txt")));

    // The phone file cannot go: the PC copy is removed again.
    FailNext(simCallDeleteFile, static_cast<HRESULT>(0x80070005));
    ExpectOneCompletion(ToPc(PhoneFile(L"stays.txt").Get(), true), kMoveToPc, KVFM_E_ACCESS_DENIED);
    ExpectPaths({}, {Pc(L"stays.txt")});
    EXPECT_EQ("staying", ReadFileBytes(OnPhone(L"stays.txt")));

    // The new file cannot be looked up: the copy is there all the same.
    ASSERT_HRESULT_SUCCEEDED(m_control->put_CopiesPaused(VARIANT_TRUE));
    const std::wstring lost = m_image.WritePcFile(L"lost.bin", 200000);
    const LONG id = FromPc(m_pictures.Get(), false, lost);
    ASSERT_TRUE(m_sink->WaitFor(id, kProgress));
    FailNext(simCallStorageItem, static_cast<HRESULT>(0x80070002));
    ASSERT_HRESULT_SUCCEEDED(m_control->put_CopiesPaused(VARIANT_FALSE));
    ExpectOneCompletion(id, kCopyFromPc, KVFM_E_FAILED);
    EXPECT_EQ(PatternBytes(200000), ReadFileBytes(OnPhone(L"lost.bin")));
}

TEST_F(PhoneTransfers, DisconnectWhileWaitingFreesTheWorkerWhichThenRunsQueuedTransfersInOrder) {
    const std::wstring source = m_image.WritePcFile(L"waiting.bin", 200000);
    ASSERT_HRESULT_SUCCEEDED(m_control->put_CopiesPaused(VARIANT_TRUE));
    const LONG waiting = FromPc(m_pictures.Get(), true, source), queued = ToPc(PhoneFile(L"out.txt").Get(), true);
    ASSERT_TRUE(m_sink->WaitFor(waiting, kProgress));
    EXPECT_TRUE(m_sink->Completions(waiting).empty());
    ASSERT_EQ(S_OK, Unbind());
    ExpectOneCompletion(waiting, kMoveFromPc, KVFM_E_DISCONNECTED);
    ExpectOneCompletion(queued, kMoveToPc, KVFM_E_DISCONNECTED);
    ExpectPaths({source, OnPhone(L"out.txt")}, {Pc(L"out.txt")});

    // Bound again, the worker takes the next transfers, queued behind a waiting copy, in order.
    ASSERT_EQ(S_OK, Rebind(L"phone-browser"));
    m_pictures = Watched(Folder(kPictures));
    const LONG next = ToPc(PhoneFile(L"late.txt").Get(), false);
    const LONG second = FromPc(m_pictures.Get(), false, m_image.WritePcFile(L"second.txt", "2nd"));
    const LONG third = ToPc(PhoneFile(L"small.txt").Get(), true);
    ASSERT_TRUE(m_sink->WaitFor(next, kProgress));
    EXPECT_TRUE(m_sink->Completions(next).empty() && m_sink->Completions(second).empty());
    ASSERT_HRESULT_SUCCEEDED(m_control->put_CopiesPaused(VARIANT_FALSE));
    ExpectOneCompletion(third, kMoveToPc, 0);
    std::vector<LONG> order;
    for (const auto& e : m_sink->All())
        if (Sink::IsCompletion(e.id) && e.transactionId >= next) order.push_back(e.transactionId);
    EXPECT_EQ((std::vector<LONG>{next, second, third}), order);
    EXPECT_EQ("late", ReadFileBytes(Pc(L"late.txt")));
    EXPECT_EQ("2nd", ReadFileBytes(OnPhone(L"second.txt")));
    EXPECT_EQ("small", ReadFileBytes(Pc(L"small.txt")));

    // The phone itself goes while the copy waits: the copy's own result says so.
    ASSERT_HRESULT_SUCCEEDED(m_control->put_CopiesPaused(VARIANT_TRUE));
    const LONG cut = ToPc(PhoneFile(L"big.bin").Get(), true);
    ASSERT_TRUE(m_sink->WaitFor(cut, kProgress));
    ASSERT_HRESULT_SUCCEEDED(m_control->Disconnect(nullptr));
    ExpectOneCompletion(cut, kMoveToPc, KVFM_E_DISCONNECTED);
    ExpectPaths({OnPhone(L"big.bin")}, {Pc(L"big.bin")});
}

// ---- the memory card on the PC drive ----

class CardTransfers : public TransferTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone(true, 3);
        m_image.Fill(L'C', {Dir(L"Images\\")});
        PhoneFill({Dir(L"m\\")});  // also on the card: merged
        BindCard();
        MakeCardDir(L"m");
        MakeCardDir(L"c");  // only on the card
        for (const wchar_t* name : {L"a.bin", L"b.bin", L"ro.txt", L"gone.bin"}) WriteCard(std::wstring(L"c\\") + name, PatternBytes(300000));
        SetFileAttributesW(Card(L"c\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        m_folder = Watched(Folder(Virtual(L"c\\")));
    }
    ComPtr<IKVFMFile> CardFile(const std::wstring& name) { return Watched(FileAt(Virtual(L"c\\" + name))); }

    ComPtr<IKVFMFolder> m_folder;
};

TEST_F(CardTransfers, CopiesAndMovesGoThroughThePcDrive) {
    const std::wstring up = m_image.WritePcFile(L"up.bin", 300000), mv = m_image.WritePcFile(L"mv.txt", "mv");
    const LONG copyIn = FromPc(m_folder.Get(), false, up), moveIn = FromPc(m_folder.Get(), true, mv);
    auto merged = Watched(Folder(Virtual(L"m\\")));
    const LONG intoMerged = FromPc(merged.Get(), false, up);
    const LONG copyOut = ToPc(CardFile(L"a.bin").Get(), false), moveOut = ToPc(CardFile(L"b.bin").Get(), true);

    EXPECT_EQ(PathAndSize(Virtual(L"c\\up.bin"), 300000), NewFile(OneCompletion(m_sink.Get(), copyIn)));
    EXPECT_EQ(PathAndSize(Virtual(L"c\\mv.txt"), 2), NewFile(OneCompletion(m_sink.Get(), moveIn)));
    EXPECT_EQ(PathAndSize(Virtual(L"m\\up.bin"), 300000), NewFile(OneCompletion(m_sink.Get(), intoMerged)));
    ExpectOneCompletion(copyOut, kCopyToPc, 0);
    ExpectOneCompletion(moveOut, kMoveToPc, 0);

    // A folder on both sides takes the file on the phone.
    for (const std::wstring& copy : {Card(L"c\\up.bin"), m_image.PcPath(L"E:\\" + m_unique + L"\\m\\up.bin"),
                                     Pc(L"a.bin"), Pc(L"b.bin")})
        EXPECT_EQ(PatternBytes(300000), ReadFileBytes(copy)) << Narrow(copy);
    EXPECT_EQ("mv", ReadFileBytes(Card(L"c\\mv.txt")));
    ExpectPaths({Card(L"c\\a.bin")}, {mv, Card(L"m\\up.bin"), Card(L"c\\b.bin")});
    auto files = m_sink->Of(copyOut, kFileProgress);
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(L"a.bin", files.back().name);
    EXPECT_EQ(100, files.back().percent);
}

TEST_F(CardTransfers, CancelsAndFailedStepsLeaveEachFileInOnePlace) {
    const std::wstring up = m_image.WritePcFile(L"up.bin", 300000), held = m_image.WritePcFile(L"held.txt", "held");
    const LONG before = DrawId();
    m_sink->CancelTransaction(before + 1, kFileProgress);
    m_sink->CancelTransaction(before + 2, kProgress);
    ExpectOneCompletion(ToPc(CardFile(L"a.bin").Get(), true), kMoveToPc, kAborted);
    ExpectOneCompletion(FromPc(m_folder.Get(), true, up), kMoveFromPc, kAborted);
    ExpectPaths({Card(L"c\\a.bin"), up}, {Pc(L"a.bin"), Card(L"c\\up.bin")});

    // The card file cannot go: its read-only PC copy is removed again.
    ExpectOneCompletion(ToPc(CardFile(L"ro.txt").Get(), true), kMoveToPc, KVFM_E_FAILED);
    ExpectPaths({Card(L"c\\ro.txt")}, {Pc(L"ro.txt")});

    // The PC file is held open without delete sharing: the card keeps the copy.
    com::UniqueHandle handle(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(handle);
    ExpectOneCompletion(FromPc(m_folder.Get(), true, held), kMoveFromPc, KVFM_E_FAILED);
    handle.Reset();
    EXPECT_EQ("held", ReadFileBytes(Card(L"c\\held.txt")));
    ExpectPaths({held});

    // A PC folder that does not exist: the copy's own failure.
    LONG id = -1;
    auto gone = CardFile(L"gone.bin");
    ASSERT_TRUE(gone);
    ASSERT_EQ(S_OK, gone->CopyToPC(B(Pc(L"none")).Get(), nullptr, &id));
    ExpectOneCompletion(id, kCopyToPc, KVFM_E_FAILED);
    const LONG last = DrawId();
    for (LONG i = before + 1; i < last; ++i) EXPECT_EQ(1u, m_sink->Completions(i).size()) << i;
}

} // namespace
