// The browser mapping: loading the configured tree, translating paths both
// ways, restricted folders and forbidden operations.
#include "test_mapping_fakes.h"

#include "mapping/FMBrowserMapping.h"

namespace {

using namespace mapping_test;

// Phone drive C:\ shown as \Phone\ with Images (named Pictures) and Music, the
// folder E:\Sounds\ mapped into it as Tunes; drive E:\ shown as \Card\.
void ConfigurePhone(FakeCapMgr& c) {
    c.Set(kP + L"mountpoint/@realpath", {L"C:\\", L"E:\\"});
    c.Set(kP + LR"(mountpoint[@realpath="C:\"]/@virtualpath)", {L"Phone"});
    c.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/subfolder/@realpath)", {L"Images", L"Music"});
    c.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/subfolder[@realpath="Images"]/@virtualname)",
          {L"Pictures"});
    c.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/mappedfolder/@realpath)", {L"E:\\Sounds\\"});
    c.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/mappedfolder[@realpath="E:\Sounds\"]/@virtualname)",
          {L"Tunes"});
    c.Set(kP + LR"(mountpoint[@realpath="E:\"]/@virtualpath)", {L"Card\\"});
}

std::vector<std::pair<std::wstring, std::wstring>> EntryPaths(const CFolderMapping& m) {
    std::vector<std::pair<std::wstring, std::wstring>> out;
    for (const MappingEntry& e : m.GetEntries()) out.emplace_back(e.realPath, e.virtualPath);
    return out;
}

const MappingEntry* EntryByReal(const CFolderMapping& m, const std::wstring& realPath) {
    for (const MappingEntry& e : m.GetEntries())
        if (e.realPath == realPath) return &e;
    return nullptr;
}

using Paths = std::vector<std::pair<std::wstring, std::wstring>>;

class MappingBrowserConfig : public MappingTest {};

TEST_F(MappingBrowserConfig, EveryTemplateCharacterForCharacter) {
    capMgr.Set(LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint/@realpath)", {L"C:\\"});
    capMgr.Set(LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint[@realpath="C:\"]/subfolders/subfolder/@realpath)",
               {L"Images"});
    capMgr.Set(LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint[@realpath="C:\"]/subfolders/mappedfolder/@realpath)",
               {L"E:\\Sounds\\"});
    CFMBrowserMapping mapping(platform);
    ASSERT_EQ(S_OK, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(LR"(//devices/device[@uid="dev1"]/foldermapping/)", mapping.GetConfPrefix());

    std::vector<std::wstring> asked = capMgr.asked;
    std::sort(asked.begin(), asked.end());
    std::vector<std::wstring> expected = {
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint/@realpath)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint[@realpath="C:\"]/@virtualpath)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint[@realpath="C:\"]/subfolders/@restricted)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint[@realpath="C:\"]/fileoperations/forbidden_operation/@name)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint[@realpath="C:\"]/folderoperations/forbidden_operation/@name)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint[@realpath="C:\"]/subfolders/subfolder/@realpath)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint[@realpath="C:\"]/subfolders/subfolder[@realpath="Images"]/@virtualname)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint/subfolders/subfolder[@realpath="Images"]/subfolders/@restricted)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint/subfolders/subfolder[@realpath="Images"]/fileoperations/forbidden_operation/@name)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint/subfolders/subfolder[@realpath="Images"]/folderoperations/forbidden_operation/@name)",
        // The subfolder's own subfolders: found only if a mount point has its real path.
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint[@realpath="C:\Images\"]/subfolders/subfolder/@realpath)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint[@realpath="C:\"]/subfolders/mappedfolder/@realpath)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint[@realpath="C:\"]/subfolders/mappedfolder[@realpath="E:\Sounds\"]/@virtualname)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint/subfolders/mappedfolder[@realpath="E:\Sounds\"]/subfolders/@restricted)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint/subfolders/mappedfolder[@realpath="E:\Sounds\"]/fileoperations/forbidden_operation/@name)",
        LR"(//devices/device[@uid="dev1"]/foldermapping/mountpoint/subfolders/mappedfolder[@realpath="E:\Sounds\"]/folderoperations/forbidden_operation/@name)",
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, asked);
    EXPECT_EQ(L"imei-1", capMgr.imeis.front());
}

TEST_F(MappingBrowserConfig, EntriesInFrontInsertionOrder) {
    ConfigurePhone(capMgr);
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/mappedfolder/@realpath)",
               {L"E:\\Sounds\\", L"E:\\Video\\"});
    CFMBrowserMapping mapping(platform);
    ASSERT_EQ(S_OK, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_TRUE(capMgr.Unasked().empty());

    // Most recently loaded first.
    EXPECT_EQ((Paths{{L"E:\\", L"\\Card\\"},
                     {L"E:\\Video\\", L"\\Phone\\Video\\"},
                     {L"E:\\Sounds\\", L"\\Phone\\Tunes\\"},
                     {L"C:\\Music\\", L"\\Phone\\Music\\"},
                     {L"C:\\Images\\", L"\\Phone\\Pictures\\"},
                     {L"C:\\", L"\\Phone\\"}}),
              EntryPaths(mapping));
    EXPECT_EQ((std::list<MappedFolderPair>{{L"E:\\Video\\", L"\\Phone\\"}, {L"E:\\Sounds\\", L"\\Phone\\"}}),
              mapping.GetMappedFolderPairs());

    // Mount points: configuration order kept, handed out in reverse.
    EXPECT_EQ((StringList{L"C:\\", L"E:\\"}), mapping.GetConfiguredMountpoints());
    StringList mounts{L"kept"};
    EXPECT_EQ(S_OK, mapping.getMountpoints(mounts));
    EXPECT_EQ((StringList{L"E:\\", L"C:\\", L"kept"}), mounts);

    // Mapped folders by the exact virtual path of the folder they appear in.
    com::UniqueBstr phone(L"\\Phone\\"), otherCase(L"\\phone\\");
    BSTR p = phone.Get(), o = otherCase.Get();
    StringList mapped;
    EXPECT_EQ(S_OK, mapping.getMappedFolders(&p, mapped));
    EXPECT_EQ((StringList{L"E:\\Sounds\\", L"E:\\Video\\"}), mapped);
    StringList none;
    EXPECT_EQ(S_FALSE, mapping.getMappedFolders(&o, none));
    EXPECT_TRUE(none.empty());

    // An entry loaded later wins over the mount point that contains it.
    EXPECT_EQ(L"C:\\Images\\a.jpg", Map(mapping, L"\\Phone\\Pictures\\a.jpg").path);
    EXPECT_EQ(L"\\Card\\Sounds\\x.mp3", UnMap(mapping, L"E:\\Sounds\\x.mp3").path);
}

TEST_F(MappingBrowserConfig, VirtualPathsOfMountPoints) {
    capMgr.Set(kP + L"mountpoint/@realpath", {L"A:\\", L"B:\\", L"C:\\", L"D:\\", L"E:\\", L"F:\\"});
    capMgr.Set(kP + LR"(mountpoint[@realpath="A:\"]/@virtualpath)", {L"Phone"});
    capMgr.Set(kP + LR"(mountpoint[@realpath="B:\"]/@virtualpath)", {L"\\"});
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/@virtualpath)", {L"\\Mem"});
    capMgr.Set(kP + LR"(mountpoint[@realpath="D:\"]/@virtualpath)", {L"Disk\\"});
    capMgr.Set(kP + LR"(mountpoint[@realpath="E:\"]/@virtualpath)", {L""});
    CFMBrowserMapping mapping(platform);
    ASSERT_EQ(S_OK, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(L"\\Phone\\", EntryByReal(mapping, L"A:\\")->virtualPath);
    EXPECT_EQ(L"\\", EntryByReal(mapping, L"B:\\")->virtualPath);  // a lone backslash stays
    EXPECT_EQ(L"\\Mem\\", EntryByReal(mapping, L"C:\\")->virtualPath);
    EXPECT_EQ(L"\\Disk\\", EntryByReal(mapping, L"D:\\")->virtualPath);
    // Empty or missing: the real path itself.
    EXPECT_EQ(L"E:\\", EntryByReal(mapping, L"E:\\")->virtualPath);
    EXPECT_EQ(L"F:\\", EntryByReal(mapping, L"F:\\")->virtualPath);
}

TEST_F(MappingBrowserConfig, NamesOfMappedFolders) {
    capMgr.Set(kP + L"mountpoint/@realpath", {L"C:\\"});
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/@virtualpath)", {L"Phone"});
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/mappedfolder/@realpath)",
               {L"E:\\Sounds\\", L"E:\\Docs\\\\", L"E:\\Video"});
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/mappedfolder[@realpath="E:\Docs\\"]/@virtualname)",
               {L""});
    CFMBrowserMapping mapping(platform);
    ASSERT_EQ(S_OK, InitMapping(mapping, L"dev1", L"imei-1"));
    // No name, or an empty one: the last component of the real path, which is kept as configured
    // apart from the one trailing backslash it is given when it has none.
    EXPECT_EQ(L"\\Phone\\Sounds\\", EntryByReal(mapping, L"E:\\Sounds\\")->virtualPath);
    EXPECT_EQ(L"\\Phone\\Docs\\", EntryByReal(mapping, L"E:\\Docs\\\\")->virtualPath);
    ASSERT_TRUE(EntryByReal(mapping, L"E:\\Video\\"));
    EXPECT_EQ(L"\\Phone\\Video\\", EntryByReal(mapping, L"E:\\Video\\")->virtualPath);
    EXPECT_EQ(1, log.Count(qzlog::level_error, "Empty string for virtual name. Not accepted."));

    // A drive root has no last component.
    FakeCapMgr rootMapped;
    rootMapped.Set(kP + L"mountpoint/@realpath", {L"C:\\"});
    rootMapped.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/mappedfolder/@realpath)", {L"E:\\"});
    platform->capMgr = &rootMapped;
    CFMBrowserMapping failing(platform);
    EXPECT_EQ(E_FAIL, InitMapping(failing, L"dev1", L"imei-1"));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "Get real name of folder from real path."));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "Failed to get mapped folders of mountpoint."));
}

TEST_F(MappingBrowserConfig, SubfoldersOfSubfolders) {
    ConfigurePhone(capMgr);
    // A mount point configured with the subfolder's real path lends it subfolders.
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\Images\"]/subfolders/subfolder/@realpath)", {L"Raw"});
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\Images\"]/subfolders/subfolder[@realpath="Raw"]/@virtualname)",
               {L"Negatives"});
    CFMBrowserMapping mapping(platform);
    ASSERT_EQ(S_OK, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(L"\\Phone\\Pictures\\Negatives\\", EntryByReal(mapping, L"C:\\Images\\Raw\\")->virtualPath);
    EXPECT_EQ(L"C:\\Images\\Raw\\x.dng", Map(mapping, L"\\Phone\\Pictures\\Negatives\\x.dng").path);

    // A configuration that lends every folder a subfolder again ends in a failure, not a stack overflow.
    FakeCapMgr endless;
    endless.Set(kP + L"mountpoint/@realpath", {L"C:\\"});
    endless.fallback = [](const std::wstring& q) -> std::optional<Answer> {
        const std::wstring tail = L"/subfolders/subfolder/@realpath";
        if (q.size() > tail.size() && q.compare(q.size() - tail.size(), tail.size(), tail) == 0)
            return Answer::Of({L"x"});
        return std::nullopt;
    };
    platform->capMgr = &endless;
    CFMBrowserMapping runaway(platform);
    EXPECT_EQ(E_FAIL, InitMapping(runaway, L"dev1", L"imei-1"));
    EXPECT_TRUE(runaway.GetEntries().empty());
}

TEST_F(MappingBrowserConfig, InitFailures) {
    CFMBrowserMapping mapping(platform);
    EXPECT_EQ(E_INVALIDARG, InitMapping(mapping, L"dev1", nullptr));
    EXPECT_EQ(E_INVALIDARG, InitMapping(mapping, nullptr, L"imei-1"));
    EXPECT_EQ(2, log.Count(qzlog::level_error, "Invalid arguments!"));
    EXPECT_FALSE(mapping.IsInitialized());
    EXPECT_EQ(0, platform->creations);

    // No mount points: no match at all, or matches without values.
    EXPECT_EQ(E_FAIL, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "The request for mount points failed."));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "Failed to load configured mountpoints."));
    capMgr.Set(kP + L"mountpoint/@realpath", {std::nullopt});
    EXPECT_EQ(E_FAIL, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "No mount points found."));

    // A failing subfolder or mapped folder request fails the load and leaves nothing behind.
    ConfigurePhone(capMgr);
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/subfolder/@realpath)", Answer::WithError(1, {L"x"}));
    EXPECT_EQ(E_FAIL, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "The request for subfolders failed."));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "Failed to get subfolders of mountpoint."));
    EXPECT_TRUE(mapping.GetEntries().empty());
    EXPECT_FALSE(mapping.IsInitialized());

    ConfigurePhone(capMgr);
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/mappedfolder/@realpath)", Answer::Failing(E_FAIL));
    EXPECT_EQ(E_FAIL, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "The request for mapped folders failed."));
    EXPECT_TRUE(mapping.GetMappedFolderPairs().empty());

    // Once the configuration answers, a retry loads it with a clean prefix.
    ConfigurePhone(capMgr);
    EXPECT_EQ(S_OK, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_TRUE(mapping.IsInitialized());
    EXPECT_EQ(LR"(//devices/device[@uid="dev1"]/foldermapping/)", mapping.GetConfPrefix());
    EXPECT_EQ(5u, mapping.GetEntries().size());

    EXPECT_EQ(E_FAIL, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "Already initialized!"));
    EXPECT_EQ(5u, mapping.GetEntries().size());
}

// ---- paths ----

class MappingBrowserPaths : public MappingTest {
protected:
    void SetUp() override {
        MappingTest::SetUp();
        ConfigurePhone(capMgr);
    }
};

TEST_F(MappingBrowserPaths, TranslatesIgnoringCaseKeepingTheClientsCase) {
    CFMBrowserMapping m(platform);
    ASSERT_EQ(S_OK, InitMapping(m, L"dev1", L"imei-1"));
    const PathResult mixedCase = Map(m, L"\\PHONE\\pictures\\a.jpg");
    EXPECT_EQ(S_OK, mixedCase.hr);
    EXPECT_EQ(L"C:\\Images\\a.jpg", mixedCase.path);
    EXPECT_EQ(L"C:\\Images\\Holiday\\A.JPG", Map(m, L"\\Phone\\Pictures\\Holiday\\A.JPG").path);
    EXPECT_EQ(L"C:\\", Map(m, L"\\Phone\\").path);
    EXPECT_EQ(L"E:\\Sounds\\x.mp3", Map(m, L"\\phone\\TUNES\\x.mp3").path);
    EXPECT_EQ(L"\\Phone\\Pictures\\a.jpg", UnMap(m, L"C:\\Images\\a.jpg").path);
    EXPECT_EQ(L"\\Phone\\Pictures\\a.jpg", UnMap(m, L"c:\\IMAGES\\a.jpg").path);
    EXPECT_EQ(L"\\Phone\\Other\\b.txt", UnMap(m, L"C:\\Other\\b.txt").path);

    const PathResult unknown = Map(m, L"\\Elsewhere\\a");
    EXPECT_EQ(kHrPathNotFound, unknown.hr);
    EXPECT_FALSE(unknown.path);
    EXPECT_EQ(kHrPathNotFound, UnMap(m, L"Z:\\a").hr);
    EXPECT_EQ(2, log.Count(qzlog::level_error, "unrecognized path"));
}

TEST_F(MappingBrowserPaths, RestrictedFolderShowsOnlyItsConfiguredSubfolders) {
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/@restricted)", {L"true"});
    CFMBrowserMapping m(platform);
    ASSERT_EQ(S_OK, InitMapping(m, L"dev1", L"imei-1"));

    const PathResult other = Map(m, L"\\Phone\\Other\\");
    EXPECT_EQ(kHrPathNotFound, other.hr);
    EXPECT_FALSE(other.path);
    EXPECT_EQ(1, log.Count(qzlog::level_error, "hidden subfolder"));
    EXPECT_EQ(L"C:\\Images\\", Map(m, L"\\Phone\\Pictures\\").path);
    EXPECT_EQ(L"C:\\", Map(m, L"\\Phone\\").path);
    // Without its trailing backslash only the mount point entry is a prefix.
    EXPECT_EQ(kHrPathNotFound, Map(m, L"\\Phone\\Pictures").hr);
    // The other direction too.
    EXPECT_EQ(kHrPathNotFound, UnMap(m, L"C:\\Other\\a.txt").hr);
    EXPECT_EQ(L"\\Phone\\Pictures\\a.jpg", UnMap(m, L"C:\\Images\\a.jpg").path);

    com::UniqueBstr phone(L"\\Phone\\"), pictures(L"\\Phone\\Pictures\\");
    BSTR p = phone.Get(), q = pictures.Get();
    EXPECT_TRUE(m.IsRestricted(&p));
    EXPECT_FALSE(m.IsRestricted(&q));
    EXPECT_FALSE(m.IsRestricted(nullptr));
}

TEST_F(MappingBrowserPaths, RestrictionOfASubfolderIsKeyedByItsNameAlone) {
    capMgr.Set(kP + LR"(mountpoint/subfolders/subfolder[@realpath="Images"]/subfolders/@restricted)", {L"true"});
    CFMBrowserMapping m(platform);
    ASSERT_EQ(S_OK, InitMapping(m, L"dev1", L"imei-1"));
    EXPECT_EQ(kHrPathNotFound, Map(m, L"\\Phone\\Pictures\\a.jpg").hr);
    EXPECT_EQ(L"C:\\Music\\a.mp3", Map(m, L"\\Phone\\Music\\a.mp3").path);
    EXPECT_EQ(L"C:\\Other\\", Map(m, L"\\Phone\\Other\\").path);
}

TEST_F(MappingBrowserPaths, RootNullsAndUninitialised) {
    CFMBrowserMapping m(platform);
    EXPECT_EQ(E_FAIL, Map(m, L"\\Phone\\").hr);
    EXPECT_EQ(E_FAIL, UnMap(m, L"C:\\").hr);
    EXPECT_EQ(2, log.Count(qzlog::level_error, "BrowserMapping not initialized"));
    ASSERT_EQ(S_OK, InitMapping(m, L"dev1", L"imei-1"));

    const PathResult root = Map(m, L"\\");
    EXPECT_EQ(E_INVALIDARG, root.hr);
    EXPECT_FALSE(root.path);
    EXPECT_EQ(1, log.Count(qzlog::level_error, "No mapping for root folder."));

    com::UniqueBstr path(L"\\Phone\\");
    BSTR p = path.Get();
    EXPECT_EQ(E_INVALIDARG, m.MapPath(&p, nullptr));
    EXPECT_EQ(E_INVALIDARG, m.UnMapPath(&p, nullptr));
    EXPECT_EQ(2, log.Count(qzlog::level_error, "Invalid argument, NULL pointer received."));
}

TEST_F(MappingBrowserPaths, ForbiddenOperationsOfConfiguredFoldersOnly) {
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/folderoperations/forbidden_operation/@name)",
               {L"delete", L"rename"});
    capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/fileoperations/forbidden_operation/@name)", {L"move"});
    capMgr.Set(kP + LR"(mountpoint/subfolders/subfolder[@realpath="Images"]/folderoperations/forbidden_operation/@name)",
               {L"explore"});
    capMgr.Set(kP + LR"(mountpoint/subfolders/subfolder[@realpath="Images"]/fileoperations/forbidden_operation/@name)",
               {L"copy", L"paste"});
    capMgr.Set(kP + LR"(mountpoint/subfolders/mappedfolder[@realpath="E:\Sounds\"]/folderoperations/forbidden_operation/@name)",
               {L"new"});
    CFMBrowserMapping m(platform);
    ASSERT_EQ(S_OK, InitMapping(m, L"dev1", L"imei-1"));

    EXPECT_EQ(0x0Cu, FolderOps(m, L"\\Phone\\"));
    EXPECT_EQ(0x80u, FolderOps(m, L"\\Phone\\Pictures\\"));
    EXPECT_EQ(0x40u, FolderOps(m, L"\\Phone\\Tunes\\"));
    // Exact, case-sensitive, whole path.
    EXPECT_EQ(0u, FolderOps(m, L"\\phone\\"));
    EXPECT_EQ(0u, FolderOps(m, L"\\Phone"));
    EXPECT_EQ(0u, FolderOps(m, L"\\Phone\\Other\\"));

    // File flags come from the file's own folder.
    EXPECT_EQ(0x02u, FileOps(m, L"\\Phone\\a.txt"));
    EXPECT_EQ(0x11u, FileOps(m, L"\\Phone\\Pictures\\a.jpg"));
    EXPECT_EQ(0x11u, FileOps(m, L"\\Phone\\Pictures\\Sub\\"));  // trailing backslashes removed first
    EXPECT_EQ(0u, FileOps(m, L"\\Phone\\Pictures\\Sub\\a.jpg"));
    EXPECT_EQ(0u, FileOps(m, L"\\Phone\\Music\\a.mp3"));

    EXPECT_EQ(0u, FileOps(m, L"\\"));
    EXPECT_EQ(0u, FileOps(m, L"a.txt"));
    EXPECT_EQ(2, log.Count(qzlog::level_error, "Failed to separate filename from parent path."));
    EXPECT_EQ(0u, m.getForbidFolderOps(nullptr));
    EXPECT_EQ(0u, m.getForbidFileOps(nullptr));
}

} // namespace
