// The mass storage mapping: finding the card's PC drive by its serial number
// and mapping the card's configured folders onto it, case-sensitively.
#include "unit_fakes.h"

#include "mapping/FMMassStorageMapping.h"

namespace {

using namespace mapping_test;

using Paths = std::vector<std::pair<std::wstring, std::wstring>>;

Paths EntryPaths(const CFolderMapping& m) {
    Paths out;
    for (const MappingEntry& e : m.GetEntries()) out.emplace_back(e.realPath, e.virtualPath);
    return out;
}

class MappingMassStorage : public MappingTest {
protected:
    void SetUp() override {
        MappingTest::SetUp();
        // A fixed drive with the wanted serial and a removable one that cannot be read come first.
        platform->drives = {{L"C:\\", DRIVE_FIXED, 1234},
                            {L"D:\\", DRIVE_REMOVABLE, 1234, true},
                            {L"Z:\\", DRIVE_REMOTE, 1234},
                            {L"G:\\", DRIVE_REMOVABLE, 0x4D2},
                            {L"H:\\", DRIVE_REMOVABLE, 99}};
    }
    HRESULT Load(CFMMassStorageMapping& m) { return InitMapping(m, L"dev1", L"imei-1"); }
};

TEST_F(MappingMassStorage, FindsTheRemovableDriveBySerialAndMapsOntoIt) {
    ConfigureCard(capMgr);
    CFMMassStorageMapping mapping(platform);
    StringList before;
    EXPECT_EQ(S_FALSE, mapping.getMountpoints(before));
    ASSERT_EQ(S_OK, Load(mapping));
    // 1234 is 0x4D2; the fixed and network drives with that serial are never considered.
    EXPECT_EQ(L"G:\\", mapping.GetPcDrive());
    EXPECT_EQ(L"E:\\", mapping.GetPhonePath());
    // Phone-side paths take the card's drive letter.
    EXPECT_EQ((Paths{{L"G:\\Images\\", L"\\Card\\Imgs\\"},
                     {L"G:\\Photos\\", L"\\Card\\Pictures\\"},
                     {L"G:\\", L"\\Card\\"}}),
              EntryPaths(mapping));
    EXPECT_EQ((std::list<MappedFolderPair>{{L"G:\\Images\\", L"\\Card\\"}}), mapping.GetMappedFolderPairs());
    StringList mounts{L"kept"};
    EXPECT_EQ(S_OK, mapping.getMountpoints(mounts));
    EXPECT_EQ((StringList{L"G:\\", L"kept"}), mounts);
    com::UniqueBstr card(L"\\Card\\");
    BSTR c = card.Get();
    StringList mapped;
    EXPECT_EQ(S_OK, mapping.getMappedFolders(&c, mapped));
    EXPECT_EQ((StringList{L"G:\\Images\\"}), mapped);
}

TEST_F(MappingMassStorage, SerialNumbersAsThirtyTwoBitValues) {
    platform->drives = {{L"F:\\", DRIVE_REMOVABLE, 0}, {L"G:\\", DRIVE_REMOVABLE, 3000000000u}};
    FakeCapMgr large;
    ConfigureCard(large, L"3000000000");
    platform->capMgr = &large;
    CFMMassStorageMapping mapping(platform);
    ASSERT_EQ(S_OK, Load(mapping));
    EXPECT_EQ(L"G:\\", mapping.GetPcDrive());
    // A serial without digits names no drive, not the one whose serial is 0.
    FakeCapMgr text;
    ConfigureCard(text, L"card");
    platform->capMgr = &text;
    CFMMassStorageMapping none(platform);
    EXPECT_EQ(E_FAIL, Load(none));
    EXPECT_TRUE(none.GetPcDrive().empty());
}

TEST_F(MappingMassStorage, InitFailsWithoutSerialPathOrDrive) {
    using Arrange = std::function<void(FakeCapMgr&, FakePlatform&)>;
    const std::pair<const char*, Arrange> cases[] = {
        {"no serial at all", [](FakeCapMgr& c, FakePlatform&) { c.answers.erase(kApplicationSerial); }},
        {"card serial failing", [](FakeCapMgr& c, FakePlatform&) {
             c.answers.erase(kApplicationSerial), c.Set(kCardSerial, Answer::WithError(5, {L"1234"})); }},
        {"no phone path", [](FakeCapMgr& c, FakePlatform&) { c.answers.erase(kCardPath); }},
        {"no drive strings", [](FakeCapMgr&, FakePlatform& p) { p.driveStringsFail = true; }},
        {"no matching drive", [](FakeCapMgr& c, FakePlatform&) { c.Set(kApplicationSerial, {L"777"}); }},
        {"mapped folder without name", [](FakeCapMgr& c, FakePlatform&) {
             c.answers.erase(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/mappedfolder[@realpath="E:\Images\"]/@virtualname)"); }},
        {"subfolders failing", [](FakeCapMgr& c, FakePlatform&) {
             c.Set(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/subfolder/@realpath)", Answer::Failing(E_FAIL)); }},
    };
    for (const auto& [name, arrange] : cases) {
        FakeCapMgr config;
        ConfigureCard(config);
        arrange(config, *platform);
        platform->capMgr = &config;
        CFMMassStorageMapping mapping(platform);
        EXPECT_EQ(E_FAIL, Load(mapping)) << name;
        EXPECT_FALSE(mapping.IsInitialized()) << name;
        EXPECT_TRUE(mapping.GetPcDrive().empty() && mapping.GetEntries().empty()) << name;
        platform->driveStringsFail = false;
    }
}

TEST_F(MappingMassStorage, MountPointWithoutVirtualPathShowsTheDrive) {
    ConfigureCard(capMgr);
    capMgr.answers.erase(kP + LR"(mountpoint[@realpath="E:\"]/@virtualpath)");
    CFMMassStorageMapping mapping(platform);
    ASSERT_EQ(S_OK, Load(mapping));
    EXPECT_EQ((Paths{{L"G:\\Images\\", L"G:\\Imgs\\"}, {L"G:\\Photos\\", L"G:\\Pictures\\"}, {L"G:\\", L"G:\\"}}),
              EntryPaths(mapping));
}

TEST_F(MappingMassStorage, PathsAreCaseSensitive) {
    ConfigureCard(capMgr);
    CFMMassStorageMapping mapping(platform);
    EXPECT_EQ(E_FAIL, Map(mapping, L"\\Card\\").hr);
    ASSERT_EQ(S_OK, Load(mapping));
    const auto nf = std::nullopt;
    ExpectPaths(mapping, {{true, L"\\Card\\Pictures\\a.jpg", L"G:\\Photos\\a.jpg", S_OK},
                          {true, L"\\Card\\Imgs\\x.png", L"G:\\Images\\x.png", S_OK},
                          {true, L"\\Card\\Other\\", L"G:\\Other\\", S_OK},
                          {true, L"\\CARD\\images\\", nf, kHrPathNotFound}, {true, L"\\card\\Pictures\\", nf, kHrPathNotFound},
                          {false, L"G:\\Photos\\a.jpg", L"\\Card\\Pictures\\a.jpg", S_OK},
                          {false, L"G:\\Other\\b.txt", L"\\Card\\Other\\b.txt", S_OK},
                          {false, L"g:\\Photos\\a.jpg", nf, kHrPathNotFound}, {true, L"\\", nf, E_INVALIDARG}});
}

} // namespace
