// The phone as the system reads and changes it: collections, item lookup,
// values from the backing files, operations and the results a phone gives,
// counted and failing calls.
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

TEST_F(PhoneSimObjects, ValuesComeFromTheBackingFilesAndTheDescription) {
    const uint64_t when = FileTimeUtc(2009, 3, 14, 15, 9, 26);
    image.Fill(L'C', {Entry{L"Data\\song.MP3", "0123456789", -1, FILE_ATTRIBUTE_HIDDEN, when}});
    ComPtr<ISCDeviceStorageFile> file = FileAt(L"C:\\Data\\song.MP3");
    unsigned long size = 0;
    long attributes = 0;
    DATE modified = 0, expected = 0;
    ASSERT_HRESULT_SUCCEEDED(file->get_Size(&size));
    ASSERT_HRESULT_SUCCEEDED(file->get_Attributes(&attributes));
    ASSERT_HRESULT_SUCCEEDED(file->get_LastModified(&modified));
    EXPECT_EQ(10u, size);
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, static_cast<DWORD>(attributes) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    // The date is the local time of the file's UTC time.
    FILETIME utc{static_cast<DWORD>(when), static_cast<DWORD>(when >> 32)}, local;
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &st));
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &expected));
    EXPECT_DOUBLE_EQ(expected, modified);
    const std::pair<const wchar_t*, const wchar_t*> mimes[] = {{L"C:\\Data\\song.MP3", L"audio/mpeg"},
        {L"C:\\Data\\b.JPG", L"image/jpeg"}, {L"C:\\Data\\big.bin", L"application/octet-stream"}, {L"C:\\top.txt", L"text/plain"}};
    for (const auto& m : mimes) {
        UniqueBstr mime;
        ASSERT_HRESULT_SUCCEEDED(FileAt(m.first)->get_MIMEType(mime.Receive()));
        EXPECT_STREQ(m.second, mime.c_str());
    }
    // Files on a read-only drive are read-only whatever their own attribute.
    ASSERT_HRESULT_SUCCEEDED(FileAt(L"Z:\\sys.bin")->get_Attributes(&attributes));
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);

    // Free space: as described, or the capacity less the bytes stored.
    unsigned long capacity = 0, free = 0;
    long media = 0;
    auto info = [&](const wchar_t* path) { return Item<ISCDriveInformation>(path, IID_ISCDriveInformation); };
    ASSERT_HRESULT_SUCCEEDED(info(L"C:")->get_Capacity(&capacity));
    ASSERT_HRESULT_SUCCEEDED(info(L"C:")->get_FreeSpace(&free));
    EXPECT_EQ(capacity - (10 + 5 + 3 + 300000 + 4 + 1), free);
    ASSERT_HRESULT_SUCCEEDED(info(L"E:\\")->get_FreeSpace(&free));
    ASSERT_HRESULT_SUCCEEDED(info(L"E:\\")->get_MediaType(&media));
    EXPECT_EQ(1500000u, free);
    EXPECT_EQ(3, media);
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

TEST_F(PhoneSimObjects, CallsAreCountedAndCanBeMadeToFailAcrossApplicationObjects) {
    ASSERT_HRESULT_SUCCEEDED(control->ResetCallCounts());
    ComPtr<ISCDeviceStorageItem> item;
    ASSERT_HRESULT_SUCCEEDED(device_->GetStorageItem(UniqueBstr(L"C:\\top.txt").Get(), item.Receive()));
    EXPECT_EQ(kFileNotFound, device_->GetStorageItem(UniqueBstr(L"C:\\no.txt").Get(), item.Receive()));
    EXPECT_EQ(2, Count(simCallStorageItem));
    EXPECT_EQ(2, Count(simCallAll));

    // Two calls of a kind fail, then it works again; other kinds are untouched.
    ASSERT_HRESULT_SUCCEEDED(control->FailCalls(simCallStorageItem, E_UNEXPECTED, 2));
    UniqueBstr imei;
    EXPECT_HRESULT_SUCCEEDED(device_->get_IMEI(imei.Receive()));
    EXPECT_EQ(E_UNEXPECTED, device_->GetStorageItem(UniqueBstr(L"C:\\top.txt").Get(), item.Receive()));
    EXPECT_EQ(E_UNEXPECTED, device_->GetStorageItem(UniqueBstr(L"C:\\top.txt").Get(), item.Receive()));
    EXPECT_HRESULT_SUCCEEDED(device_->GetStorageItem(UniqueBstr(L"C:\\top.txt").Get(), item.Receive()));

    // A second application object (the system's own) shares the phone and its controls.
    ComPtr<ISCApplication> second;
    ComPtr<ISCDevice> other;
    ASSERT_HRESULT_SUCCEEDED(CreateApplication(second.Receive()));
    ASSERT_HRESULT_SUCCEEDED(FindDevice(second.Get(), kImei, other.Receive()));
    ASSERT_HRESULT_SUCCEEDED(control->FailCalls(simCallAll, E_ACCESSDENIED, -1));
    EXPECT_EQ(E_ACCESSDENIED, other->get_IMEI(imei.Receive()));
    ASSERT_HRESULT_SUCCEEDED(control->FailCalls(simCallAll, S_OK, 0));
    ASSERT_HRESULT_SUCCEEDED(control->Disconnect(UniqueBstr(L"").Get()));
    ComPtr<ISCDrives> drives;
    EXPECT_EQ(kDeviceNotReady, other->get_Drives(drives.Receive()));
}

} // namespace
} // namespace simtest
