// The browser mapping: loading the configured tree, translating paths both
// ways, restricted folders and forbidden operations.
#include "unit_fakes.h"

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

const MappingEntry* EntryByReal(const CFolderMapping& m, const std::wstring& realPath) {
    for (const MappingEntry& e : m.GetEntries())
        if (e.realPath == realPath) return &e;
    return nullptr;
}

class MappingBrowserConfig : public MappingTest {};

TEST_F(MappingBrowserConfig, ConfiguredNamesBecomeVirtualPaths) {
    capMgr.Set(kP + L"mountpoint/@realpath", {L"A:\\", L"B:\\", L"C:\\", L"D:\\", L"E:\\", L"F:\\"});
    const std::pair<std::wstring, const wchar_t*> names[] = {{L"A", L"Phone"}, {L"B", L"\\"}, {L"C", L"\\Mem"},
                                                             {L"D", L"Disk\\"}, {L"E", L""}};
    for (const auto& n : names) capMgr.Set(kP + L"mountpoint[@realpath=\"" + n.first + L":\\\"]/@virtualpath", {n.second});
    capMgr.Set(kP + LR"(mountpoint[@realpath="A:\"]/subfolders/mappedfolder/@realpath)",
               {L"G:\\Sounds\\", L"G:\\Docs\\\\", L"G:\\Video"});
    capMgr.Set(kP + LR"(mountpoint[@realpath="A:\"]/subfolders/mappedfolder[@realpath="G:\Docs\\"]/@virtualname)", {L""});
    CFMBrowserMapping mapping(platform);
    ASSERT_EQ(S_OK, InitMapping(mapping, L"dev1", L"imei-1"));
    const std::pair<const wchar_t*, const wchar_t*> expected[] = {
        {L"A:\\", L"\\Phone\\"}, {L"B:\\", L"\\"}, {L"C:\\", L"\\Mem\\"}, {L"D:\\", L"\\Disk\\"},
        {L"E:\\", L"E:\\"}, {L"F:\\", L"F:\\"},  // empty or missing: the real path itself
        // Mapped folders without a name, or with an empty one: the last component of the real
        // path, which is kept as configured but for the trailing backslash given when it has none.
        {L"G:\\Sounds\\", L"\\Phone\\Sounds\\"}, {L"G:\\Docs\\\\", L"\\Phone\\Docs\\"}, {L"G:\\Video\\", L"\\Phone\\Video\\"},
    };
    for (const auto& e : expected) {
        const MappingEntry* entry = EntryByReal(mapping, e.first);
        ASSERT_TRUE(entry) << testing::PrintToString(std::wstring(e.first));
        EXPECT_EQ(e.second, entry->virtualPath);
    }

    // A drive root has no last component.
    FakeCapMgr rootMapped;
    rootMapped.Set(kP + L"mountpoint/@realpath", {L"C:\\"});
    rootMapped.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/mappedfolder/@realpath)", {L"E:\\"});
    platform->capMgr = &rootMapped;
    CFMBrowserMapping failing(platform);
    EXPECT_EQ(E_FAIL, InitMapping(failing, L"dev1", L"imei-1"));
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

TEST_F(MappingBrowserConfig, InitFailuresLeaveNothingAndARetryLoadsAfresh) {
    CFMBrowserMapping mapping(platform);
    EXPECT_EQ(E_INVALIDARG, InitMapping(mapping, L"dev1", nullptr));
    EXPECT_EQ(E_INVALIDARG, InitMapping(mapping, nullptr, L"imei-1"));
    EXPECT_EQ(0, platform->creations);
    const std::pair<const char*, std::function<void()>> failures[] = {
        {"no mount points", [] {}},
        {"mount points without values", [&] { capMgr.Set(kP + L"mountpoint/@realpath", {std::nullopt}); }},
        {"failing subfolders", [&] {
             ConfigurePhone(capMgr);
             capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/subfolder/@realpath)", Answer::WithError(1, {L"x"}));
         }},
        {"failing mapped folders", [&] {
             ConfigurePhone(capMgr);
             capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/mappedfolder/@realpath)", Answer::Failing(E_FAIL));
         }},
    };
    for (const auto& f : failures) {
        f.second();
        EXPECT_EQ(E_FAIL, InitMapping(mapping, L"dev1", L"imei-1")) << f.first;
        EXPECT_FALSE(mapping.IsInitialized()) << f.first;
        EXPECT_TRUE(mapping.GetEntries().empty()) << f.first;
        EXPECT_TRUE(mapping.GetMappedFolderPairs().empty()) << f.first;
    }
    // Once the configuration answers, a retry loads it with a clean prefix; a second Init is refused.
    ConfigurePhone(capMgr);
    EXPECT_EQ(S_OK, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(LR"(//devices/device[@uid="dev1"]/foldermapping/)", mapping.GetConfPrefix());
    EXPECT_EQ(5u, mapping.GetEntries().size());
    EXPECT_EQ(E_FAIL, InitMapping(mapping, L"dev1", L"imei-1"));
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

TEST_F(MappingBrowserPaths, TranslateBothWaysIgnoringCaseWithinRestrictions) {
    const std::wstring mountRestricted = kP + LR"(mountpoint[@realpath="C:\"]/subfolders/@restricted)";
    const std::wstring imagesRestricted =
        kP + LR"(mountpoint/subfolders/subfolder[@realpath="Images"]/subfolders/@restricted)";
    CFMBrowserMapping plain(platform), restricted(platform), byName(platform), uninitialised(platform);
    ASSERT_EQ(S_OK, InitMapping(plain, L"dev1", L"imei-1"));
    capMgr.Set(mountRestricted, {L"true"});
    ASSERT_EQ(S_OK, InitMapping(restricted, L"dev1", L"imei-1"));
    capMgr.answers.erase(mountRestricted);
    capMgr.Set(imagesRestricted, {L"true"});
    ASSERT_EQ(S_OK, InitMapping(byName, L"dev1", L"imei-1"));

    struct Case { CFolderMapping* m; bool toReal; const wchar_t* in; std::optional<std::wstring> out; HRESULT hr; };
    const Case cases[] = {
        // Case is ignored; the client's case is kept.
        {&plain, true, L"\\PHONE\\pictures\\a.jpg", L"C:\\Images\\a.jpg", S_OK},
        {&plain, true, L"\\Phone\\Pictures\\Holiday\\A.JPG", L"C:\\Images\\Holiday\\A.JPG", S_OK},
        {&plain, true, L"\\Phone\\", L"C:\\", S_OK},
        {&plain, true, L"\\phone\\TUNES\\x.mp3", L"E:\\Sounds\\x.mp3", S_OK},
        {&plain, false, L"c:\\IMAGES\\a.jpg", L"\\Phone\\Pictures\\a.jpg", S_OK},
        {&plain, false, L"C:\\Other\\b.txt", L"\\Phone\\Other\\b.txt", S_OK},
        {&plain, true, L"\\Elsewhere\\a", std::nullopt, kHrPathNotFound},
        {&plain, false, L"Z:\\a", std::nullopt, kHrPathNotFound},
        {&plain, true, L"\\", std::nullopt, E_INVALIDARG},
        // A restricted folder shows only its configured subfolders, both ways.
        {&restricted, true, L"\\Phone\\Other\\", std::nullopt, kHrPathNotFound},
        {&restricted, true, L"\\Phone\\Pictures\\", L"C:\\Images\\", S_OK},
        {&restricted, true, L"\\Phone\\", L"C:\\", S_OK},
        {&restricted, true, L"\\Phone\\Pictures", std::nullopt, kHrPathNotFound},  // only the mount point is a prefix
        {&restricted, false, L"C:\\Other\\a.txt", std::nullopt, kHrPathNotFound},
        {&restricted, false, L"C:\\Images\\a.jpg", L"\\Phone\\Pictures\\a.jpg", S_OK},
        // A subfolder's restriction is keyed by its name alone.
        {&byName, true, L"\\Phone\\Pictures\\a.jpg", std::nullopt, kHrPathNotFound},
        {&byName, true, L"\\Phone\\Music\\a.mp3", L"C:\\Music\\a.mp3", S_OK},
        {&byName, true, L"\\Phone\\Other\\", L"C:\\Other\\", S_OK},
        {&uninitialised, true, L"\\Phone\\", std::nullopt, E_FAIL},
        {&uninitialised, false, L"C:\\", std::nullopt, E_FAIL},
    };
    for (const Case& c : cases) {
        const PathResult r = Translate(*c.m, c.in, c.toReal);
        EXPECT_EQ(c.hr, r.hr) << testing::PrintToString(std::wstring(c.in));
        EXPECT_EQ(c.out, r.path) << testing::PrintToString(std::wstring(c.in));
    }

    com::UniqueBstr phone(L"\\Phone\\"), pictures(L"\\Phone\\Pictures\\");
    BSTR p = phone.Get(), q = pictures.Get();
    EXPECT_TRUE(restricted.IsRestricted(&p));
    EXPECT_FALSE(restricted.IsRestricted(&q));
    EXPECT_FALSE(restricted.IsRestricted(nullptr));
    EXPECT_EQ(E_INVALIDARG, plain.MapPath(&p, nullptr));
    EXPECT_EQ(E_INVALIDARG, plain.UnMapPath(&p, nullptr));
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

    struct Case { const wchar_t* path; bool folder; DWORD ops; };
    const Case cases[] = {
        {L"\\Phone\\", true, 0x0C}, {L"\\Phone\\Pictures\\", true, 0x80}, {L"\\Phone\\Tunes\\", true, 0x40},
        // Folders: exact, case-sensitive, whole path.
        {L"\\phone\\", true, 0}, {L"\\Phone", true, 0}, {L"\\Phone\\Other\\", true, 0},
        // Files: from the file's own folder, trailing backslashes removed first.
        {L"\\Phone\\a.txt", false, 0x02}, {L"\\Phone\\Pictures\\a.jpg", false, 0x11},
        {L"\\Phone\\Pictures\\Sub\\", false, 0x11}, {L"\\Phone\\Pictures\\Sub\\a.jpg", false, 0},
        {L"\\Phone\\Music\\a.mp3", false, 0}, {L"\\", false, 0}, {L"a.txt", false, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.ops, Ops(m, c.path, c.folder)) << testing::PrintToString(std::wstring(c.path));
    EXPECT_EQ(0u, m.getForbidFolderOps(nullptr));
    EXPECT_EQ(0u, m.getForbidFileOps(nullptr));
}

} // namespace
