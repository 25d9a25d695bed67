// Merged folders: a simulated phone folder whose virtual path also lies on the
// memory card's drive lists the phone's children, then the card's, with
// duplicates kept and card items served from the PC.
#include "test_pc_fixture.h"

#include "connector/SymbianFile.h"
#include "connector/SymbianFolder.h"

namespace pctest {
namespace {

// The card mapping refusing virtual paths that hold a marker: a card that
// does not hold everything the phone shows.
class PartialCardMapping : public CFolderMapping {
public:
    PartialCardMapping(std::shared_ptr<CFolderMapping> card, std::wstring marker)
        : CFolderMapping(nullptr), m_card(std::move(card)), m_marker(std::move(marker)) {}
    HRESULT MapPath(BSTR* virtualPath, BSTR* realPath) override {
        if (std::wstring(*virtualPath).find(m_marker) == std::wstring::npos) return m_card->MapPath(virtualPath, realPath);
        *realPath = nullptr;
        return kHrPathNotFound;
    }
    HRESULT UnMapPath(BSTR* realPath, BSTR* virtualPath) override { return m_card->UnMapPath(realPath, virtualPath); }

private:
    std::shared_ptr<CFolderMapping> m_card;
    std::wstring m_marker;
};

using MergeFolder = CardTest;

TEST_F(MergeFolder, ListsPhoneChildrenThenCardChildrenKeepingDuplicates) {
    PhoneFill({File(L"a.jpg", "phone a"), File(L"both.jpg", "phone"), Dir(L"P1"), Dir(L"Both"),
               File(L"Both\\x.txt", "x"), File(L"P1\\p.txt", "p")});
    Bind();
    WriteCard(L"both.jpg", "card copy, longer");
    WriteCard(L"c.jpg", "c");
    MakeCardDir(L"C1");
    MakeCardDir(L"Both");
    WriteCard(L"Both\\y.txt", "yy");
    auto merge = Merge(L"");
    for (int round = 0; round < 2; ++round) {  // the card list starts over
        Owned<CFile> files;
        ASSERT_EQ(S_OK, merge->GetCFiles(files.items));
        ASSERT_EQ(4u, files.items.size());
        EXPECT_EQ((std::vector<std::wstring>{Virtual(L"a.jpg"), Virtual(L"both.jpg")}),
                  SortedPaths<CSymbianFile>(files.items, 0, 2));
        EXPECT_EQ((std::vector<std::wstring>{Virtual(L"both.jpg"), Virtual(L"c.jpg")}),
                  SortedPaths<CPcFile>(files.items, 2, 4));
        // The card's both.jpg is read from the PC.
        for (CFile* f : files.items) {
            auto* pc = dynamic_cast<CPcFile*>(f);
            ULONG size = 0;
            if (!pc || pc->GetRealPath() != Card(L"both.jpg")) continue;
            EXPECT_EQ(S_OK, f->GetSize(&size));
            EXPECT_EQ(17u, size);
        }
        Owned<CFolder> folders;
        ASSERT_EQ(S_OK, merge->GetCFolders(folders.items));
        ASSERT_EQ(4u, folders.items.size());
        EXPECT_EQ((std::vector<std::wstring>{Virtual(L"Both\\"), Virtual(L"P1\\")}),
                  SortedPaths<CMergeFolder>(folders.items, 0, 2));
        EXPECT_EQ((std::vector<std::wstring>{Virtual(L"Both\\"), Virtual(L"C1\\")}),
                  SortedPaths<CPcFolder>(folders.items, 2, 4));

        // Merged children list their own card folder, or the phone alone without one.
        for (CFolder* child : folders.items) {
            auto* merged = dynamic_cast<CMergeFolder*>(child);
            if (!merged) continue;
            Owned<CFile> inner;
            ASSERT_EQ(S_OK, merged->GetCFiles(inner.items));
            const bool both = PathOf(child) == Virtual(L"Both\\");
            EXPECT_EQ(Card(both ? L"Both\\" : L"P1\\"), merged->GetPcPath());
            if (both) {
                EXPECT_EQ(std::vector<std::wstring>{Virtual(L"Both\\x.txt")}, SortedPaths<CSymbianFile>(inner.items, 0, 1));
                EXPECT_EQ(std::vector<std::wstring>{Virtual(L"Both\\y.txt")}, SortedPaths<CPcFile>(inner.items, 1));
            } else {
                EXPECT_EQ(std::vector<std::wstring>{Virtual(L"P1\\p.txt")}, SortedPaths<CSymbianFile>(inner.items));
            }
        }
    }
}

TEST_F(MergeFolder, SubfolderTheCardDoesNotMapStaysAPhoneFolder) {
    PhoneFill({Dir(L"Images"), Dir(L"phone-only")});
    Bind();
    auto merge = Merge(L"", std::make_shared<PartialCardMapping>(m_mass, L"phone-only"));
    Owned<CFolder> folders;
    ASSERT_EQ(S_OK, merge->GetCFolders(folders.items));
    ASSERT_EQ(2u, folders.items.size());
    for (CFolder* child : folders.items) {
        EXPECT_NE(nullptr, dynamic_cast<CSymbianFolder*>(child));
        EXPECT_EQ(PathOf(child) == Virtual(L"Images\\"), dynamic_cast<CMergeFolder*>(child) != nullptr)
            << Narrow(PathOf(child));
    }
}

TEST_F(MergeFolder, CardChildrenTheMappingCannotNameAreLeftOut) {
    PhoneFill({});
    Bind();
    // Other folders and files of the shared card, which this configuration does not show.
    ASSERT_TRUE(CreateDirectoryW((m_drive + m_unique + L"-mapped").c_str(), nullptr));
    ComPtr<ISCDrive> drive;
    ASSERT_HRESULT_SUCCEEDED(GetItem(m_device.Get(), L"E:", IID_ISCDrive, drive.ReceiveVoid()));
    ComPtr<ISCDeviceStorageDirectory> root;
    ASSERT_HRESULT_SUCCEEDED(drive->get_RootDirectory(root.Receive()));
    com::UniqueBstr virtualPath(L"\\Memory card\\"), pcPath(m_drive.c_str());
    CMergeFolder merge(Connector(), virtualPath.Get(), pcPath.Get(), root.Get(), Connector()->GetMapping(), m_mass,
                       Connector()->CurrentBinding());
    Owned<CFolder> folders;
    ASSERT_EQ(S_OK, merge.GetCFolders(folders.items));
    EXPECT_EQ(std::vector<std::wstring>{Virtual(L"")}, SortedPaths<CMergeFolder>(folders.items, 0, 1));
    EXPECT_EQ(std::vector<std::wstring>{Virtual(L"")}, SortedPaths<CPcFolder>(folders.items, 1));
    Owned<CFile> files;
    ASSERT_EQ(S_OK, merge.GetCFiles(files.items));
    EXPECT_TRUE(files.items.empty());
}

TEST_F(MergeFolder, PhoneErrorOrEndedBindingFailsTheListing) {
    PhoneFill({File(L"a.jpg", "a"), Dir(L"Sub")});
    Bind();
    WriteCard(L"c.jpg", "c");
    MakeCardDir(L"Card");
    auto merge = Merge(L"");
    ComPtr<IPhoneSimControl> control;
    ASSERT_HRESULT_SUCCEEDED(GetControl(m_app.Get(), control.Receive()));
    ASSERT_HRESULT_SUCCEEDED(control->FailCalls(simCallFiles, E_ACCESSDENIED, 1));
    Owned<CFile> files;
    EXPECT_EQ(E_FAIL, merge->GetCFiles(files.items));
    EXPECT_TRUE(files.items.empty());  // no card files after a phone error
    ASSERT_HRESULT_SUCCEEDED(control->FailCalls(simCallSubdirectories, E_ACCESSDENIED, 1));
    Owned<CFolder> folders;
    EXPECT_EQ(E_FAIL, merge->GetCFolders(folders.items));
    EXPECT_TRUE(folders.items.empty());
    control->FailCalls(0, S_OK, 0);
    ASSERT_EQ(S_OK, merge->GetCFiles(files.items));
    EXPECT_EQ(2u, files.items.size());

    files.Clear();
    ASSERT_EQ(S_OK, Unbind());
    EXPECT_EQ(E_FAIL, merge->GetCFiles(files.items));
    EXPECT_EQ(E_FAIL, merge->GetCFolders(folders.items));
    EXPECT_TRUE(files.items.empty() && folders.items.empty());
}

} // namespace
} // namespace pctest
