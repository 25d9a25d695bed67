// The mappings' own path expressions answered by the registered Capability
// Manager from the shipped sample configurations: a misspelt expression or a
// sample that drifted from them changes a path, a flag or the card drive.
#include "unit_fakes.h"

#include "mapping/FMBrowserMapping.h"
#include "mapping/FMMassStorageMapping.h"

namespace {

using namespace mapping_test;

HRESULT Init(CFolderMapping& m, const wchar_t* uid) { return InitMapping(m, uid, L"356938035643809"); }

void UseConfig(const wchar_t* sample) {
    std::string dir = CAPMGR_SAMPLES;
    std::wstring path = L"Z:" + std::wstring(dir.begin(), dir.end()) + L"/" + (sample ? sample : L"");
    for (auto& ch : path) ch = ch == L'/' ? L'\\' : ch;
    SetEnvironmentVariableW(L"MORVANE_CAPMGR_CONFIG", sample ? path.c_str() : nullptr);
}

// A single-threaded apartment and no configuration.
class CapMgrSamples : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        UseConfig(nullptr);
    }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(CapMgrSamples, BrowserSampleGivesItsFoldersFlagsAndRestrictions) {
    UseConfig(L"browser.xml");
    CFMBrowserMapping browser;
    ASSERT_EQ(S_OK, Init(browser, L"phone-browser"));
    ExpectPaths(browser, {
        {true, L"\\Phone\\Pictures\\a.jpg", L"C:\\Images\\a.jpg", S_OK},
        {true, L"\\Phone\\Documents\\x.txt", L"C:\\Data\\Documents\\x.txt", S_OK},
        {true, L"\\Memory card\\Songs\\", L"E:\\Music\\", S_OK},
        {true, L"\\Memory card\\Other\\", L"E:\\Other\\", S_OK},                 // not restricted
        {true, L"\\Phone\\Other\\", std::nullopt, kHrPathNotFound},          // restricted mount point
        {true, L"\\Phone\\Sounds\\Tones\\", std::nullopt, kHrPathNotFound},  // restricted subfolder
    });
    struct Flags { const wchar_t* path; bool folder; DWORD ops; };
    const Flags flags[] = {
        {L"\\Phone\\", true, 0x2F},           {L"\\Phone\\a.txt", false, 0x50},
        {L"\\Phone\\Pictures\\a.jpg", false, 0x08}, {L"\\Phone\\Sounds\\", true, 0x0C},
        {L"\\Phone\\Documents\\", true, 0x0E}, {L"\\Phone\\Documents\\x.txt", false, 0x06},
        {L"\\Memory card\\", true, 0x0C},     {L"\\Memory card\\Songs\\", true, 0},
    };
    for (const auto& f : flags)
        EXPECT_EQ(f.ops, Ops(browser, f.path, f.folder)) << testing::PrintToString(std::wstring(f.path));
    // No card reported nor pinned; and a document without the device maps nothing.
    CFMMassStorageMapping card;
    EXPECT_EQ(E_FAIL, Init(card, L"phone-browser"));
    UseConfig(L"raw.xml");
    CFMBrowserMapping raw;
    EXPECT_EQ(E_FAIL, Init(raw, L"phone-raw"));
}

TEST_F(CapMgrSamples, MemoryCardSampleFindsTheCardDriveReportedOrPinned) {
    UseConfig(L"memorycard.xml");
    const std::wstring card = CARD_ROOT;
    CFMMassStorageMapping reported;
    ASSERT_EQ(S_OK, Init(reported, L"phone-card"));
    EXPECT_EQ(card, reported.GetPcDrive());
    ExpectPaths(reported, {{true, L"\\Memory card\\Photos\\a.jpg", card + L"Photos\\a.jpg", S_OK},
                           {true, L"\\Memory card\\Videos\\", card + L"Data\\Videos\\", S_OK},
                           {true, L"\\Memory card\\Other\\", std::nullopt, kHrPathNotFound}});
    EXPECT_EQ(0x08u, Ops(reported, L"\\Memory card\\Photos\\a.jpg", false));
    EXPECT_EQ(0x04u, Ops(reported, L"\\Memory card\\Videos\\", true));
    EXPECT_EQ(0x0Cu, Ops(reported, L"\\Memory card\\", true));
    CFMMassStorageMapping pinned;
    ASSERT_EQ(S_OK, Init(pinned, L"phone-card-pinned"));
    EXPECT_EQ(card, pinned.GetPcDrive());
    EXPECT_EQ(card + L"x.txt", Map(pinned, L"\\Card\\x.txt").path);
}

} // namespace
