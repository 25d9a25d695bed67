// The raw mapping, and the refusals every mapping makes: relative components,
// paths leaving the matched entry, and paths too long for the buffers.
#include "unit_fakes.h"

#include "mapping/FMBrowserMapping.h"
#include "mapping/FMMassStorageMapping.h"
#include "mapping/FMRawMapping.h"

namespace {

using namespace mapping_test;

using MappingRaw = MappingTest;

TEST_F(MappingRaw, RealPathBehindOneBackslash) {
    CFMRawMapping raw(platform);
    EXPECT_EQ(E_FAIL, Map(raw, L"\\C:\\").hr);  // not initialised
    EXPECT_EQ(E_FAIL, UnMap(raw, L"C:\\").hr);
    ASSERT_EQ(S_OK, InitMapping(raw, nullptr, nullptr));  // arguments ignored
    EXPECT_EQ(0, platform->creations);                    // no configuration asked
    ExpectPaths(raw, {{true, L"\\E:\\Images\\a.jpg", L"E:\\Images\\a.jpg", S_OK},
                      {false, L"E:\\Images\\a.jpg", L"\\E:\\Images\\a.jpg", S_OK},
                      {false, L"C:\\", L"\\C:\\", S_OK}, {true, L"E:\\x", std::nullopt, kHrPathNotFound},
                      {true, L"", std::nullopt, kHrPathNotFound}, {true, L"\\", std::nullopt, E_INVALIDARG}});
    // Nothing configured: no mount points, mapped folders or forbidden operations.
    StringList list;
    EXPECT_EQ(E_NOTIMPL, raw.getMountpoints(list));
    com::UniqueBstr folder(L"\\C:\\");
    BSTR f = folder.Get();
    EXPECT_EQ(S_FALSE, raw.getMappedFolders(&f, list));
    EXPECT_EQ(0u, Ops(raw, L"\\C:\\", true));
    EXPECT_EQ(0u, Ops(raw, L"\\C:\\a.txt", false));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(E_INVALIDARG, raw.MapPath(&f, nullptr));
    EXPECT_EQ(E_INVALIDARG, raw.UnMapPath(&f, nullptr));
}

// One mapping, its virtual and real folder that map onto each other.
struct Subject {
    const char* name;
    std::unique_ptr<CFolderMapping> mapping;
    std::wstring virtualFolder;
    std::wstring realFolder;
};

class MappingPathSafety : public MappingTest {
protected:
    void SetUp() override {
        MappingTest::SetUp();
        // Browser: C:\ as \Phone\, restricted, with Images as Pictures and E:\Sounds mapped without a
        // trailing backslash. Mass storage: the card, restricted, on drive G:.
        capMgr.Set(kP + L"mountpoint/@realpath", {L"C:\\"});
        capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/@virtualpath)", {L"Phone"});
        capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/@restricted)", {L"true"});
        capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/subfolder/@realpath)", {L"Images"});
        capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/subfolder[@realpath="Images"]/@virtualname)",
                   {L"Pictures"});
        capMgr.Set(kP + LR"(mountpoint[@realpath="C:\"]/subfolders/mappedfolder/@realpath)", {L"E:\\Sounds"});
        ConfigureCard(capMgr, L"77");
        capMgr.Set(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/@restricted)", {L"true"});
        platform->drives = {{L"G:\\", DRIVE_REMOVABLE, 77}};

        auto browser = std::make_unique<CFMBrowserMapping>(platform);
        auto card = std::make_unique<CFMMassStorageMapping>(platform);
        auto raw = std::make_unique<CFMRawMapping>(platform);
        ASSERT_EQ(S_OK, InitMapping(*browser, L"dev1", L"imei-1"));
        ASSERT_EQ(S_OK, InitMapping(*card, L"dev1", L"imei-1"));
        ASSERT_EQ(S_OK, InitMapping(*raw, L"dev1", L"imei-1"));
        subjects.push_back({"browser", std::move(browser), L"\\Phone\\Pictures\\", L"C:\\Images\\"});
        subjects.push_back({"mass storage", std::move(card), L"\\Card\\Pictures\\", L"G:\\Photos\\"});
        subjects.push_back({"raw", std::move(raw), L"\\C:\\Data\\", L"C:\\Data\\"});
    }

    std::vector<Subject> subjects;
};

TEST_F(MappingPathSafety, RelativeComponentsAreRefusedBothWays) {
    // "..\\Other" would reach the folders a restriction hides.
    const std::vector<std::wstring> climbing = {L"..\\Other\\x", L"a\\..\\..\\x", L".\\a", L"a\\..", L"a/../../x",
                                                L"..", L".. \\x", L"...\\x", L"a\\. \\b", L"a\\..\\b\\"};
    for (Subject& s : subjects) {
        for (const std::wstring& tail : climbing) {
            for (const PathResult& r : {Map(*s.mapping, s.virtualFolder + tail), UnMap(*s.mapping, s.realFolder + tail)}) {
                EXPECT_EQ(kHrPathNotFound, r.hr) << s.name << " " << testing::PrintToString(tail);
                EXPECT_FALSE(r.path) << s.name;
            }
        }
        // Names that merely hold dots are names.
        for (const std::wstring& tail : {std::wstring(L"a..b\\"), std::wstring(L".hidden"), std::wstring(L"x.tar.gz")}) {
            EXPECT_EQ(s.realFolder + tail, Map(*s.mapping, s.virtualFolder + tail).path) << s.name;
            EXPECT_EQ(s.virtualFolder + tail, UnMap(*s.mapping, s.realFolder + tail).path) << s.name;
        }
        // A NUL inside would let the PC read a shorter path than the one checked.
        EXPECT_EQ(kHrPathNotFound, Map(*s.mapping, s.virtualFolder + std::wstring(L"a\0\\..\\..", 8)).hr) << s.name;
    }
}

TEST_F(MappingPathSafety, PathsLeavingTheMatchedEntryAreRefused) {
    CFolderMapping& browser = *subjects[0].mapping;
    // E:\Sounds is configured without a trailing backslash: it is the folder E:\Sounds\,
    // so its children are children and E:\Sounds2 is a sibling it never reaches.
    EXPECT_EQ(L"E:\\Sounds\\", Map(browser, L"\\Phone\\Sounds\\").path);
    EXPECT_EQ(L"E:\\Sounds\\2\\secret.txt", Map(browser, L"\\Phone\\Sounds\\2\\secret.txt").path);
    EXPECT_EQ(L"\\Phone\\Sounds\\a.mp3", UnMap(browser, L"E:\\Sounds\\a.mp3").path);
    const PathResult sibling = UnMap(browser, L"E:\\Sounds2\\secret.txt");
    EXPECT_EQ(kHrPathNotFound, sibling.hr);
    EXPECT_FALSE(sibling.path);
}

TEST_F(MappingPathSafety, LongPathsAreRefusedNeverCut) {
    for (Subject& s : subjects) {
        // 260 characters carried over after the matched part fit, 261 do not; the raw
        // mapping carries over all of the real path.
        const size_t carried = std::string(s.name) == "raw" ? s.realFolder.size() : 0;
        const std::wstring tail(kMaxPathRest - carried, L'n');
        const std::wstring virtualFits = s.virtualFolder + tail;
        const std::wstring realFits = s.realFolder + tail;
        EXPECT_EQ(realFits, Map(*s.mapping, virtualFits).path) << s.name;
        EXPECT_EQ(virtualFits, UnMap(*s.mapping, realFits).path) << s.name;

        for (const PathResult& r : {Map(*s.mapping, virtualFits + L"x"), UnMap(*s.mapping, realFits + L"x")}) {
            EXPECT_EQ(kHrPathTooLong, r.hr) << s.name;
            EXPECT_FALSE(r.path) << s.name;
        }
    }
}

} // namespace
