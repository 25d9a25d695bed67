// The mappings' own path expressions answered by the registered Capability
// Manager from the shipped sample configurations: a misspelt expression or a
// sample that drifted from them changes a path, a flag or the card drive.
#include "capmgr_test_util.h"

#include "mapping/FMBrowserMapping.h"
#include "mapping/FMMassStorageMapping.h"

namespace {

std::wstring Map(CFolderMapping& m, const wchar_t* virtualPath) {
    com::UniqueBstr in(virtualPath);
    BSTR b = in.Get(), out = nullptr;
    const HRESULT hr = m.MapPath(&b, &out);
    com::UniqueBstr owned;
    *owned.Receive() = out;
    return SUCCEEDED(hr) && out ? std::wstring(out) : L"<" + std::to_wstring(static_cast<unsigned long>(hr)) + L">";
}
const std::wstring kNotFound = L"<" + std::to_wstring(static_cast<unsigned long>(kHrPathNotFound)) + L">";

DWORD Ops(CFolderMapping& m, const wchar_t* path, bool folder) {
    com::UniqueBstr p(path);
    BSTR b = p.Get();
    return folder ? m.getForbidFolderOps(&b) : m.getForbidFileOps(&b);
}

HRESULT Init(CFolderMapping& m, const wchar_t* uid) {
    com::UniqueBstr u(uid), imei(L"356938035643809");
    return m.Init(u.Get(), imei.Get());
}

using CapMgrSamples = captest::CapMgrTest;

TEST(CapMgrCardDrive, IsARemovableDriveWithTheChosenSerialAndLabel) {
    EXPECT_EQ(static_cast<UINT>(DRIVE_REMOVABLE), GetDriveTypeW(CARD_ROOT));
    wchar_t label[MAX_PATH + 1] = {};
    DWORD serial = 0;
    ASSERT_TRUE(GetVolumeInformationW(CARD_ROOT, label, MAX_PATH + 1, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(CARD_SERIAL), serial);
    EXPECT_STREQ(CARD_LABEL, label);
}

TEST_F(CapMgrSamples, BrowserSampleGivesItsFoldersFlagsAndRestrictions) {
    captest::UseConfig(captest::Sample(L"browser.xml"));
    CFMBrowserMapping browser;
    ASSERT_EQ(S_OK, Init(browser, L"phone-browser"));
    const std::pair<const wchar_t*, std::wstring> paths[] = {
        {L"\\Phone\\Pictures\\a.jpg", L"C:\\Images\\a.jpg"},
        {L"\\Phone\\Documents\\x.txt", L"C:\\Data\\Documents\\x.txt"},
        {L"\\Memory card\\Songs\\", L"E:\\Music\\"},
        {L"\\Memory card\\Other\\", L"E:\\Other\\"},  // not restricted
        {L"\\Phone\\Other\\", kNotFound},             // restricted mount point
        {L"\\Phone\\Sounds\\Tones\\", kNotFound},     // restricted subfolder
    };
    for (const auto& p : paths) EXPECT_EQ(p.second, Map(browser, p.first)) << captest::Narrow(p.first);
    struct Flags { const wchar_t* path; bool folder; DWORD ops; };
    const Flags flags[] = {
        {L"\\Phone\\", true, 0x2F},           {L"\\Phone\\a.txt", false, 0x50},
        {L"\\Phone\\Pictures\\a.jpg", false, 0x08}, {L"\\Phone\\Sounds\\", true, 0x0C},
        {L"\\Phone\\Documents\\", true, 0x0E}, {L"\\Phone\\Documents\\x.txt", false, 0x06},
        {L"\\Memory card\\", true, 0x0C},     {L"\\Memory card\\Songs\\", true, 0},
    };
    for (const auto& f : flags) EXPECT_EQ(f.ops, Ops(browser, f.path, f.folder)) << captest::Narrow(f.path);

    // No card reported nor pinned; and a document without the device maps nothing.
    CFMMassStorageMapping card;
    EXPECT_EQ(E_FAIL, Init(card, L"phone-browser"));
    captest::UseConfig(captest::Sample(L"raw.xml"));
    CFMBrowserMapping raw;
    EXPECT_EQ(E_FAIL, Init(raw, L"phone-raw"));
}

TEST_F(CapMgrSamples, MemoryCardSampleFindsTheCardDriveReportedOrPinned) {
    captest::UseConfig(captest::Sample(L"memorycard.xml"));
    const std::wstring card = CARD_ROOT;
    CFMMassStorageMapping reported;
    ASSERT_EQ(S_OK, Init(reported, L"phone-card"));
    EXPECT_EQ(card, reported.GetPcDrive());
    EXPECT_EQ(card + L"Photos\\a.jpg", Map(reported, L"\\Memory card\\Photos\\a.jpg"));
    EXPECT_EQ(card + L"Data\\Videos\\", Map(reported, L"\\Memory card\\Videos\\"));
    EXPECT_EQ(kNotFound, Map(reported, L"\\Memory card\\Other\\"));
    EXPECT_EQ(0x08u, Ops(reported, L"\\Memory card\\Photos\\a.jpg", false));
    EXPECT_EQ(0x04u, Ops(reported, L"\\Memory card\\Videos\\", true));
    EXPECT_EQ(0x0Cu, Ops(reported, L"\\Memory card\\", true));

    CFMMassStorageMapping pinned;
    ASSERT_EQ(S_OK, Init(pinned, L"phone-card-pinned"));
    EXPECT_EQ(card, pinned.GetPcDrive());
    EXPECT_EQ(card + L"x.txt", Map(pinned, L"\\Card\\x.txt"));
}

} // namespace
