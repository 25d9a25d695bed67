// The mass storage mapping: finding the card's PC drive by its serial number
// and mapping the card's configured folders onto it, case-sensitively.
#include "unit_fakes.h"

#include <cstdio>

#include "mapping/FMMassStorageMapping.h"

namespace {

using namespace mapping_test;

const std::wstring kApplicationSerial =
    LR"(/applications/application[@name="Ostrevin"]/device[@uid="dev1"]/massstorage/@serialnumber)";
const std::wstring kCardSerial = LR"(//devices/device[@uid="dev1"]/storage/media[@name="USBDevice"][@present="true"]/@id)";
const std::wstring kCardPath = LR"(//devices/device[@uid="dev1"]//storage/media[@name="USBDevice"]/@mountpoint)";

// The card is E:\ on the phone, shown as \Card\, with Photos named Pictures and
// the phone folder E:\Images\ mapped in as Imgs.
void ConfigureCard(FakeCapMgr& c, const std::wstring& serial = L"1234") {
    c.Set(kApplicationSerial, {serial});
    c.Set(kCardPath, {L"E:\\"});
    c.Set(kP + LR"(mountpoint[@realpath="E:\"]/@virtualpath)", {L"Card"});
    c.Set(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/subfolder/@realpath)", {L"Photos"});
    c.Set(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/subfolder[@realpath="Photos"]/@virtualname)", {L"Pictures"});
    c.Set(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/mappedfolder/@realpath)", {L"E:\\Images\\"});
    c.Set(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/mappedfolder[@realpath="E:\Images\"]/@virtualname)", {L"Imgs"});
}

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
    struct Case {
        const char* name;
        std::function<void(FakeCapMgr&, FakePlatform&)> arrange;
    };
    const Case cases[] = {
        {"no serial at all", [](FakeCapMgr& c, FakePlatform&) { c.answers.erase(kApplicationSerial); }},
        {"card serial failing",
         [](FakeCapMgr& c, FakePlatform&) {
             c.answers.erase(kApplicationSerial);
             c.Set(kCardSerial, Answer::WithError(5, {L"1234"}));
         }},
        {"no phone path", [](FakeCapMgr& c, FakePlatform&) { c.answers.erase(kCardPath); }},
        {"no drive strings", [](FakeCapMgr&, FakePlatform& p) { p.driveStringsFail = true; }},
        {"no matching drive", [](FakeCapMgr& c, FakePlatform&) { c.Set(kApplicationSerial, {L"777"}); }},
        {"mapped folder without name",
         [](FakeCapMgr& c, FakePlatform&) {
             c.answers.erase(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/mappedfolder[@realpath="E:\Images\"]/@virtualname)");
         }},
        {"subfolders failing",
         [](FakeCapMgr& c, FakePlatform&) {
             c.Set(kP + LR"(mountpoint[@realpath="E:\"]/subfolders/subfolder/@realpath)", Answer::Failing(E_FAIL));
         }},
    };
    for (const Case& c : cases) {
        FakeCapMgr config;
        ConfigureCard(config);
        c.arrange(config, *platform);
        platform->capMgr = &config;
        CFMMassStorageMapping mapping(platform);
        EXPECT_EQ(E_FAIL, Load(mapping)) << c.name;
        EXPECT_FALSE(mapping.IsInitialized()) << c.name;
        EXPECT_TRUE(mapping.GetPcDrive().empty()) << c.name;
        EXPECT_TRUE(mapping.GetEntries().empty()) << c.name;
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

    EXPECT_EQ(L"G:\\Photos\\a.jpg", Map(mapping, L"\\Card\\Pictures\\a.jpg").path);
    EXPECT_EQ(L"G:\\Images\\x.png", Map(mapping, L"\\Card\\Imgs\\x.png").path);
    EXPECT_EQ(L"G:\\Other\\", Map(mapping, L"\\Card\\Other\\").path);
    const PathResult upper = Map(mapping, L"\\CARD\\images\\");
    EXPECT_EQ(kHrPathNotFound, upper.hr);
    EXPECT_FALSE(upper.path);
    EXPECT_EQ(kHrPathNotFound, Map(mapping, L"\\card\\Pictures\\").hr);

    EXPECT_EQ(L"\\Card\\Pictures\\a.jpg", UnMap(mapping, L"G:\\Photos\\a.jpg").path);
    EXPECT_EQ(L"\\Card\\Other\\b.txt", UnMap(mapping, L"G:\\Other\\b.txt").path);
    EXPECT_EQ(kHrPathNotFound, UnMap(mapping, L"g:\\Photos\\a.jpg").hr);
    EXPECT_EQ(E_INVALIDARG, Map(mapping, L"\\").hr);
}

} // namespace
