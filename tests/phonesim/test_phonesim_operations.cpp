// Delete, rename, create subdirectory and attributes: what they do to the
// backing folders, and the results a phone gives when they cannot be done.
#include "phonesim_test_util.h"

namespace simtest {
namespace {

class PhoneSimOperations : public SimTest {};

TEST_F(PhoneSimOperations, CreateSubdirectory) {
    ComPtr<ISCDeviceStorageDirectory> data = Directory(L"C:\\Data\\");
    ComPtr<ISCDeviceStorageDirectory> made;
    ASSERT_HRESULT_SUCCEEDED(data->CreateSubdirectory(UniqueBstr(L"Photos").Get(), made.Receive()));
    EXPECT_TRUE(FileExists(image.PcPath(L"C:\\Data\\Photos")));
    UniqueBstr path;
    ASSERT_HRESULT_SUCCEEDED(made->get_Path(path.Receive()));
    EXPECT_STREQ(L"C:\\Data\\Photos\\", path.c_str());

    EXPECT_EQ(kAlreadyExists, data->CreateSubdirectory(UniqueBstr(L"photos").Get(), made.Receive()));
    EXPECT_EQ(kAlreadyExists, data->CreateSubdirectory(UniqueBstr(L"a.txt").Get(), made.Receive()));
    for (const wchar_t* bad : {L"", L"..", L"a\\b", L"a:b", L"x?", L"dot."})
        EXPECT_EQ(kInvalidName, data->CreateSubdirectory(UniqueBstr(bad).Get(), made.Receive()));
    EXPECT_EQ(kAccessDenied, Directory(L"Z:\\")->CreateSubdirectory(UniqueBstr(L"New").Get(), made.Receive()));

    // A directory that went away under its object.
    ComPtr<ISCDeviceStorageDirectory> gone = Directory(L"C:\\Other\\");
    ASSERT_TRUE(RemoveDirectoryW(image.PcPath(L"C:\\Other").c_str()));
    EXPECT_EQ(kPathNotFound, gone->CreateSubdirectory(UniqueBstr(L"New").Get(), made.Receive()));
}

TEST_F(PhoneSimOperations, DeleteDirectory) {
    ComPtr<ISCDeviceStorageDirectory> data = Directory(L"C:\\Data\\");
    EXPECT_EQ(kDirNotEmpty, data->Delete());
    EXPECT_TRUE(FileExists(image.PcPath(L"C:\\Data\\a.txt")));

    ComPtr<ISCDeviceStorageDirectory> empty = Directory(L"C:\\Data\\Empty\\");
    ASSERT_HRESULT_SUCCEEDED(empty->Delete());
    EXPECT_FALSE(FileExists(image.PcPath(L"C:\\Data\\Empty")));
    EXPECT_EQ(kPathNotFound, empty->Delete());

    EXPECT_EQ(kAccessDenied, Directory(L"C:\\")->Delete());
    image.Fill(L'Z', {Dir(L"Fixed\\")});
    EXPECT_EQ(kAccessDenied, Directory(L"Z:\\Fixed\\")->Delete());
}

TEST_F(PhoneSimOperations, RenameDirectory) {
    ComPtr<ISCDeviceStorageDirectory> other = Directory(L"C:\\Other\\");
    EXPECT_EQ(kAlreadyExists, other->Rename(UniqueBstr(L"DATA").Get()));
    EXPECT_EQ(kInvalidName, other->Rename(UniqueBstr(L"a\\b").Get()));
    ASSERT_HRESULT_SUCCEEDED(other->Rename(UniqueBstr(L"Moved").Get()));
    EXPECT_TRUE(FileExists(image.PcPath(L"C:\\Moved")));
    EXPECT_FALSE(FileExists(image.PcPath(L"C:\\Other")));
    // The object follows its directory.
    UniqueBstr path;
    ASSERT_HRESULT_SUCCEEDED(other->get_Path(path.Receive()));
    EXPECT_STREQ(L"C:\\Moved\\", path.c_str());
    // A change of case only is a rename too.
    ASSERT_HRESULT_SUCCEEDED(other->Rename(UniqueBstr(L"MOVED").Get()));
    ASSERT_HRESULT_SUCCEEDED(Directory(L"C:\\moved\\")->get_Path(path.Receive()));
    EXPECT_STREQ(L"C:\\MOVED\\", path.c_str());

    EXPECT_EQ(kAccessDenied, Directory(L"C:\\")->Rename(UniqueBstr(L"X").Get()));
    ASSERT_TRUE(RemoveDirectoryW(image.PcPath(L"C:\\MOVED").c_str()));
    EXPECT_EQ(kPathNotFound, other->Rename(UniqueBstr(L"Again").Get()));
}

TEST_F(PhoneSimOperations, DeleteAndRenameFile) {
    ComPtr<ISCDeviceStorageFile> a = FileAt(L"C:\\Data\\a.txt");
    EXPECT_EQ(kAlreadyExists, a->Rename(UniqueBstr(L"big.bin").Get()));
    EXPECT_EQ(kInvalidName, a->Rename(UniqueBstr(L"").Get()));
    ASSERT_HRESULT_SUCCEEDED(a->Rename(UniqueBstr(L"c.txt").Get()));
    EXPECT_EQ("hello", ReadFileBytes(image.PcPath(L"C:\\Data\\c.txt")));
    UniqueBstr name;
    ASSERT_HRESULT_SUCCEEDED(a->get_Name(name.Receive()));
    EXPECT_STREQ(L"c.txt", name.c_str());
    ASSERT_HRESULT_SUCCEEDED(a->Delete());
    EXPECT_FALSE(FileExists(image.PcPath(L"C:\\Data\\c.txt")));
    EXPECT_EQ(kFileNotFound, a->Delete());
    unsigned long size = 0;
    EXPECT_EQ(kFileNotFound, a->get_Size(&size));

    // Read-only files and the read-only drive refuse both.
    ComPtr<ISCDeviceStorageFile> ro = FileAt(L"C:\\Data\\ro.txt");
    EXPECT_EQ(kAccessDenied, ro->Delete());
    EXPECT_EQ(kAccessDenied, ro->Rename(UniqueBstr(L"rw.txt").Get()));
    EXPECT_EQ("keep", ReadFileBytes(image.PcPath(L"C:\\Data\\ro.txt")));
    ComPtr<ISCDeviceStorageFile> rom = FileAt(L"Z:\\sys.bin");
    EXPECT_EQ(kAccessDenied, rom->Delete());
    EXPECT_EQ(kAccessDenied, rom->Rename(UniqueBstr(L"x.bin").Get()));
}

TEST_F(PhoneSimOperations, PutAttributes) {
    ComPtr<ISCDeviceStorageFile> ro = FileAt(L"C:\\Data\\ro.txt");
    ASSERT_HRESULT_SUCCEEDED(ro->put_Attributes(0));
    EXPECT_FALSE(GetFileAttributesW(image.PcPath(L"C:\\Data\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    ASSERT_HRESULT_SUCCEEDED(ro->Delete());

    ComPtr<ISCDeviceStorageFile> top = FileAt(L"C:\\top.txt");
    ASSERT_HRESULT_SUCCEEDED(top->put_Attributes(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
    long attributes = 0;
    ASSERT_HRESULT_SUCCEEDED(top->get_Attributes(&attributes));
    EXPECT_EQ(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM,
              static_cast<DWORD>(attributes) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(E_INVALIDARG, top->put_Attributes(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(kAccessDenied, FileAt(L"Z:\\sys.bin")->put_Attributes(0));
}

TEST_F(PhoneSimOperations, DisconnectedDeviceIsNotReady) {
    ComPtr<ISCDeviceStorageFile> a = FileAt(L"C:\\Data\\a.txt");
    ComPtr<ISCDeviceStorageDirectory> data = Directory(L"C:\\Data\\");
    ASSERT_HRESULT_SUCCEEDED(control->Disconnect(UniqueBstr(kImei).Get()));
    unsigned long size = 0;
    ComPtr<ISCDeviceStorageItem> item;
    ComPtr<ISCFiles> files;
    EXPECT_EQ(kDeviceNotReady, a->get_Size(&size));
    EXPECT_EQ(kDeviceNotReady, a->Delete());
    EXPECT_EQ(kDeviceNotReady, data->get_Files(files.Receive()));
    EXPECT_EQ(kDeviceNotReady, device_->GetStorageItem(UniqueBstr(L"C:\\").Get(), item.Receive()));
    EXPECT_TRUE(FileExists(image.PcPath(L"C:\\Data\\a.txt")));
    // Identity stays readable.
    UniqueBstr imei;
    VARIANT_BOOL connected = VARIANT_TRUE;
    EXPECT_HRESULT_SUCCEEDED(device_->get_IMEI(imei.Receive()));
    EXPECT_HRESULT_SUCCEEDED(device_->get_Connected(&connected));
    EXPECT_EQ(VARIANT_FALSE, connected);

    ASSERT_HRESULT_SUCCEEDED(control->Reconnect(UniqueBstr(L"").Get()));
    EXPECT_HRESULT_SUCCEEDED(a->get_Size(&size));
    EXPECT_EQ(5u, size);
    EXPECT_EQ(E_INVALIDARG, control->Disconnect(UniqueBstr(L"999").Get()));
}

} // namespace
} // namespace simtest
