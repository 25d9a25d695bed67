// What the phone refuses, as a real one does, so that the system's own checks
// cannot lean on a lenient simulator: collection bounds, item lookup,
// operations and their results.
#include <vector>

#include "phonesim_test_util.h"

namespace simtest {
namespace {

class PhoneSimObjects : public SimTest {};

TEST_F(PhoneSimObjects, CollectionsCountFromOneAndListWithoutRegardToCase) {
    ComPtr<ISCDrives> drives;
    ASSERT_HRESULT_SUCCEEDED(device_->get_Drives(drives.Receive()));
    long count = 0;
    ASSERT_HRESULT_SUCCEEDED(drives->get_Count(&count));
    ASSERT_EQ(3, count);
    ComPtr<ISCDrive> drive;
    EXPECT_EQ(E_INVALIDARG, drives->get_Item(Index(0), drive.Receive()));
    EXPECT_EQ(E_INVALIDARG, drives->get_Item(Index(4), drive.Receive()));
    UniqueBstr path;
    ASSERT_HRESULT_SUCCEEDED(drives->get_Item(Index(3), drive.Receive()));
    ASSERT_HRESULT_SUCCEEDED(drive->get_Path(path.Receive()));
    EXPECT_STREQ(L"Z:", path.c_str());

    ComPtr<ISCFiles> files;
    ASSERT_HRESULT_SUCCEEDED(Directory(L"C:\\Data\\")->get_Files(files.Receive()));
    std::vector<std::wstring> listed;
    ASSERT_HRESULT_SUCCEEDED(files->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        ComPtr<ISCDeviceStorageFile> file;
        ASSERT_HRESULT_SUCCEEDED(files->get_Item(Index(i), file.Receive()));
        ASSERT_HRESULT_SUCCEEDED(file->get_Path(path.Receive()));
        listed.push_back(path.c_str());
    }
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\Data\\a.txt", L"C:\\Data\\b.JPG", L"C:\\Data\\big.bin", L"C:\\Data\\ro.txt"}),
              listed);
}

TEST_F(PhoneSimObjects, DevicePathsResolveToItemsOfTheirTypeOrFailAsAPhoneDoes) {
    struct Case { const wchar_t* path; HRESULT hr; long type; const wchar_t* reported; };
    const Case cases[] = {
        {L"C:", S_OK, 1, L"C:"}, {L"c:\\", S_OK, 1, L"C:"}, {L"C:\\Data\\", S_OK, 2, L"C:\\Data\\"},
        {L"C:\\data", S_OK, 2, L"C:\\Data\\"},  // on-disk spelling, directory form
        {L"C:\\DATA\\A.TXT", S_OK, 3, L"C:\\Data\\a.txt"},
        {L"C:\\Nope\\", kPathNotFound}, {L"C:\\Nope\\x.txt", kPathNotFound}, {L"C:\\Data\\nope.txt", kFileNotFound},
        {L"C:\\Data\\a.txt\\", kPathNotFound}, {L"C:\\Data\\..\\top.txt", kBadPathName}, {L"C:\\.\\top.txt", kBadPathName},
        {L"C:\\Data\\\\a.txt", kBadPathName}, {L"C:\\Data\\*.txt", kBadPathName}, {L"Q:\\", Hr(0x8007000F)},
        {L"Data\\a.txt", kBadPathName}, {L"", E_INVALIDARG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path, c.path + wcslen(c.path)));
        ComPtr<ISCDeviceStorageItem> item;
        ASSERT_EQ(c.hr, device_->GetStorageItem(UniqueBstr(c.path).Get(), item.Receive()));
        if (FAILED(c.hr)) {
            EXPECT_FALSE(item);
            continue;
        }
        long type = 0;
        UniqueBstr path;
        ASSERT_HRESULT_SUCCEEDED(item->get_Type(&type));
        ASSERT_HRESULT_SUCCEEDED(item->get_Path(path.Receive()));
        EXPECT_EQ(c.type, type);
        EXPECT_STREQ(c.reported, path.c_str());
    }
}

TEST_F(PhoneSimObjects, OperationsChangeTheBackingFoldersOrFailAsAPhoneDoes) {
    ComPtr<ISCDeviceStorageDirectory> data = Directory(L"C:\\Data\\"), made;
    ASSERT_HRESULT_SUCCEEDED(data->CreateSubdirectory(UniqueBstr(L"Photos").Get(), made.Receive()));
    EXPECT_TRUE(FileExists(image.PcPath(L"C:\\Data\\Photos")));
    ComPtr<ISCDeviceStorageFile> a = FileAt(L"C:\\Data\\a.txt");
    ASSERT_HRESULT_SUCCEEDED(a->Rename(UniqueBstr(L"c.txt").Get()));
    EXPECT_EQ("hello", ReadFileBytes(image.PcPath(L"C:\\Data\\c.txt")));
    ASSERT_HRESULT_SUCCEEDED(a->Delete());
    EXPECT_FALSE(FileExists(image.PcPath(L"C:\\Data\\c.txt")));

    const std::pair<HRESULT, HRESULT> refusals[] = {
        {kAlreadyExists, data->CreateSubdirectory(UniqueBstr(L"photos").Get(), made.Receive())},
        {kInvalidName, data->CreateSubdirectory(UniqueBstr(L"a\\b").Get(), made.Receive())},
        {kInvalidName, data->CreateSubdirectory(UniqueBstr(L"dot.").Get(), made.Receive())},
        {kAccessDenied, Directory(L"Z:\\")->CreateSubdirectory(UniqueBstr(L"New").Get(), made.Receive())},
        {kDirNotEmpty, data->Delete()},
        {kAccessDenied, Directory(L"C:\\")->Delete()},
        {kAlreadyExists, Directory(L"C:\\Other\\")->Rename(UniqueBstr(L"DATA").Get())},
        {kFileNotFound, a->Delete()},
        {kAccessDenied, FileAt(L"C:\\Data\\ro.txt")->Delete()},
        {kAccessDenied, FileAt(L"Z:\\sys.bin")->Rename(UniqueBstr(L"x.bin").Get())},
        {E_INVALIDARG, FileAt(L"C:\\top.txt")->put_Attributes(FILE_ATTRIBUTE_DIRECTORY)},
    };
    for (size_t i = 0; i < sizeof(refusals) / sizeof(refusals[0]); ++i) EXPECT_EQ(refusals[i].first, refusals[i].second) << i;
    EXPECT_EQ("keep", ReadFileBytes(image.PcPath(L"C:\\Data\\ro.txt")));

    // Disconnected: every call but the identity is refused, and nothing changes.
    ComPtr<ISCDeviceStorageFile> top = FileAt(L"C:\\top.txt");
    ASSERT_HRESULT_SUCCEEDED(control->Disconnect(UniqueBstr(kImei).Get()));
    ComPtr<ISCDeviceStorageItem> item;
    EXPECT_EQ(kDeviceNotReady, top->Delete());
    EXPECT_EQ(kDeviceNotReady, device_->GetStorageItem(UniqueBstr(L"C:\\").Get(), item.Receive()));
    UniqueBstr imei;
    EXPECT_HRESULT_SUCCEEDED(device_->get_IMEI(imei.Receive()));
    ASSERT_HRESULT_SUCCEEDED(control->Reconnect(UniqueBstr(L"").Get()));
    EXPECT_HRESULT_SUCCEEDED(top->Delete());
}

} // namespace
} // namespace simtest
