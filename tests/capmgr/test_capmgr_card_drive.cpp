// The memory card drive of the private prefix, found as the mass storage
// mapping looks for it.
#include "capmgr_test_util.h"

#include <algorithm>
#include <cstdlib>

namespace {

using CapMgrCardDrive = captest::CapMgrTest;

std::vector<std::wstring> LogicalDrives() {
    wchar_t buffer[260] = {};
    DWORD length = GetLogicalDriveStringsW(260, buffer);
    std::vector<std::wstring> drives;
    for (DWORD at = 0; at < length; at += static_cast<DWORD>(wcslen(buffer + at)) + 1) drives.push_back(buffer + at);
    return drives;
}

TEST_F(CapMgrCardDrive, IsARemovableDriveWithTheChosenSerialAndLabel) {
    const std::vector<std::wstring> drives = LogicalDrives();
    EXPECT_NE(drives.end(), std::find(drives.begin(), drives.end(), CARD_ROOT));
    EXPECT_EQ(static_cast<UINT>(DRIVE_REMOVABLE), GetDriveTypeW(CARD_ROOT));
    wchar_t label[MAX_PATH + 1] = {}, fileSystem[MAX_PATH + 1] = {};
    DWORD serial = 0, maxLength = 0, flags = 0;
    ASSERT_TRUE(GetVolumeInformationW(CARD_ROOT, label, MAX_PATH + 1, &serial, &maxLength, &flags, fileSystem,
                                      MAX_PATH + 1));
    EXPECT_EQ(static_cast<DWORD>(CARD_SERIAL), serial);
    EXPECT_STREQ(CARD_LABEL, label);
}

// The sample's decimal serial number names this drive and no other.
TEST_F(CapMgrCardDrive, MemoryCardSampleNamesTheDrive) {
    captest::UseConfig(captest::Sample(L"memorycard.xml"));
    captest::Answer serial = captest::Ask(
        capMgr.Get(), L"//devices/device[@uid=\"phone-card\"]/storage/media[@name=\"USBDevice\"][@present=\"true\"]/@id");
    ASSERT_EQ(1u, serial.byRow.size());
    const DWORD configured = static_cast<DWORD>(atoi(captest::Narrow(serial.byRow[0]).c_str()));
    std::vector<std::wstring> matches;
    for (const std::wstring& drive : LogicalDrives()) {
        DWORD volumeSerial = 0;
        if (GetDriveTypeW(drive.c_str()) == DRIVE_REMOVABLE &&
            GetVolumeInformationW(drive.c_str(), nullptr, 0, &volumeSerial, nullptr, nullptr, nullptr, 0) &&
            volumeSerial == configured)
            matches.push_back(drive);
    }
    EXPECT_EQ(std::vector<std::wstring>{CARD_ROOT}, matches);
}

} // namespace
