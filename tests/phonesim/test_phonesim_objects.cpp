// The object model over the phone image: collections, paths, item types and
// interfaces, values from the backing files, the description file.
#include <vector>

#include "phonesim_test_util.h"

namespace simtest {
namespace {

class PhoneSimObjects : public SimTest {};

TEST_F(PhoneSimObjects, CollectionsCountFromOne) {
    ComPtr<ISCDrives> drives;
    ASSERT_HRESULT_SUCCEEDED(device_->get_Drives(drives.Receive()));
    long count = 0;
    ASSERT_HRESULT_SUCCEEDED(drives->get_Count(&count));
    ASSERT_EQ(3, count);
    ComPtr<ISCDrive> drive;
    EXPECT_EQ(E_INVALIDARG, drives->get_Item(Index(0), drive.Receive()));
    EXPECT_EQ(E_INVALIDARG, drives->get_Item(Index(4), drive.Receive()));
    const wchar_t* names[] = {L"C:", L"E:", L"Z:"};
    for (long i = 1; i <= 3; ++i) {
        ASSERT_HRESULT_SUCCEEDED(drives->get_Item(Index(i), drive.Receive()));
        UniqueBstr path;
        ASSERT_HRESULT_SUCCEEDED(drive->get_Path(path.Receive()));
        EXPECT_STREQ(names[i - 1], path.c_str());
    }
    // Other integer types are taken as indexes too.
    VARIANT shortIndex;
    VariantInit(&shortIndex);
    shortIndex.vt = VT_I2;
    shortIndex.iVal = 3;
    ASSERT_HRESULT_SUCCEEDED(drives->get_Item(shortIndex, drive.Receive()));

    // Listings are sorted without regard to case, directories apart from files.
    ComPtr<ISCFiles> files;
    ASSERT_HRESULT_SUCCEEDED(Directory(L"C:\\Data\\")->get_Files(files.Receive()));
    std::vector<std::wstring> listed;
    ASSERT_HRESULT_SUCCEEDED(files->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        ComPtr<ISCDeviceStorageFile> file;
        ASSERT_HRESULT_SUCCEEDED(files->get_Item(Index(i), file.Receive()));
        UniqueBstr path;
        ASSERT_HRESULT_SUCCEEDED(file->get_Path(path.Receive()));
        listed.push_back(path.c_str());
    }
    const std::vector<std::wstring> expected = {L"C:\\Data\\a.txt", L"C:\\Data\\b.JPG", L"C:\\Data\\big.bin",
                                                L"C:\\Data\\ro.txt"};
    EXPECT_EQ(expected, listed);

    ComPtr<IUnknown> enumUnknown;
    ASSERT_HRESULT_SUCCEEDED(files->get__NewEnum(enumUnknown.Receive()));
    ComPtr<IEnumVARIANT> items;
    ASSERT_HRESULT_SUCCEEDED(enumUnknown.As(items, IID_IEnumVARIANT));
    VARIANT got[8];
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, items->Next(8, got, &fetched));
    EXPECT_EQ(4u, fetched);
    for (ULONG i = 0; i < fetched; ++i) VariantClear(&got[i]);
}

TEST_F(PhoneSimObjects, DevicePathsResolveToItemsOfTheirType) {
    struct Case {
        const wchar_t* path;
        long type;
        const wchar_t* reported;
    };
    const Case cases[] = {
        {L"C:", 1, L"C:"},
        {L"c:\\", 1, L"C:"},
        {L"C:\\Data\\", 2, L"C:\\Data\\"},
        {L"C:\\data", 2, L"C:\\Data\\"},  // on-disk spelling, directory form
        {L"C:\\Data\\Empty\\", 2, L"C:\\Data\\Empty\\"},
        {L"C:\\DATA\\A.TXT", 3, L"C:\\Data\\a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path, c.path + wcslen(c.path)));
        ComPtr<ISCDeviceStorageItem> item;
        ASSERT_HRESULT_SUCCEEDED(device_->GetStorageItem(UniqueBstr(c.path).Get(), item.Receive()));
        long type = 0;
        UniqueBstr path;
        ASSERT_HRESULT_SUCCEEDED(item->get_Type(&type));
        ASSERT_HRESULT_SUCCEEDED(item->get_Path(path.Receive()));
        EXPECT_EQ(c.type, type);
        EXPECT_STREQ(c.reported, path.c_str());
    }

    const std::pair<const wchar_t*, HRESULT> failures[] = {
        {L"C:\\Nope\\", kPathNotFound},       {L"C:\\Nope\\x.txt", kPathNotFound},
        {L"C:\\Data\\nope.txt", kFileNotFound}, {L"C:\\Data\\a.txt\\", kPathNotFound},
        {L"C:\\Data\\..\\top.txt", kBadPathName}, {L"C:\\.\\top.txt", kBadPathName},
        {L"C:\\Data\\\\a.txt", kBadPathName},   {L"C:\\Data\\*.txt", kBadPathName},
        {L"Q:\\", static_cast<HRESULT>(0x8007000FL)}, {L"Data\\a.txt", kBadPathName},
        {L"", E_INVALIDARG},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(std::string(f.first, f.first + wcslen(f.first)));
        ComPtr<ISCDeviceStorageItem> item;
        EXPECT_EQ(f.second, device_->GetStorageItem(UniqueBstr(f.first).Get(), item.Receive()));
        EXPECT_FALSE(item);
    }
}

TEST_F(PhoneSimObjects, ItemsAnswerOnlyTheInterfacesOfTheirType) {
    struct Case {
        const wchar_t* path;
        bool drive, directory, file;
    };
    const Case cases[] = {
        {L"C:\\", true, true, false},
        {L"C:\\Data\\", false, true, false},
        {L"C:\\Data\\a.txt", false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path, c.path + wcslen(c.path)));
        ComPtr<ISCDeviceStorageItem> item;
        ASSERT_HRESULT_SUCCEEDED(device_->GetStorageItem(UniqueBstr(c.path).Get(), item.Receive()));
        ComPtr<IUnknown> out;
        EXPECT_EQ(c.drive ? S_OK : E_NOINTERFACE, item->QueryInterface(IID_ISCDrive, out.ReceiveVoid()));
        EXPECT_EQ(c.drive ? S_OK : E_NOINTERFACE, item->QueryInterface(IID_ISCDriveInformation, out.ReceiveVoid()));
        EXPECT_EQ(c.directory ? S_OK : E_NOINTERFACE,
                  item->QueryInterface(IID_ISCDeviceStorageDirectory, out.ReceiveVoid()));
        EXPECT_EQ(c.file ? S_OK : E_NOINTERFACE, item->QueryInterface(IID_ISCDeviceStorageFile, out.ReceiveVoid()));
        EXPECT_EQ(E_NOINTERFACE, item->QueryInterface(IID_ISCDevice, out.ReceiveVoid()));
        // One identity whichever interface is asked.
        ComPtr<IUnknown> a, b;
        ASSERT_HRESULT_SUCCEEDED(item->QueryInterface(IID_IUnknown, a.ReceiveVoid()));
        ASSERT_HRESULT_SUCCEEDED(item->QueryInterface(IID_IDispatch, out.ReceiveVoid()));
        ASSERT_HRESULT_SUCCEEDED(out->QueryInterface(IID_IUnknown, b.ReceiveVoid()));
        EXPECT_EQ(a.Get(), b.Get());
    }
}

TEST_F(PhoneSimObjects, FileValuesComeFromTheBackingFile) {
    const uint64_t when = FileTimeUtc(2009, 3, 14, 15, 9, 26);
    image.Fill(L'C', {Entry{L"Data\\song.MP3", "0123456789", -1, FILE_ATTRIBUTE_HIDDEN, when}});
    ComPtr<ISCDeviceStorageFile> file = FileAt(L"C:\\Data\\song.MP3");
    ASSERT_TRUE(file);
    unsigned long size = 0;
    ASSERT_HRESULT_SUCCEEDED(file->get_Size(&size));
    EXPECT_EQ(10u, size);
    long attributes = 0;
    ASSERT_HRESULT_SUCCEEDED(file->get_Attributes(&attributes));
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, static_cast<DWORD>(attributes) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    UniqueBstr mime;
    ASSERT_HRESULT_SUCCEEDED(file->get_MIMEType(mime.Receive()));
    EXPECT_STREQ(L"audio/mpeg", mime.c_str());

    // The date is the local time of the file's UTC time.
    FILETIME utc{static_cast<DWORD>(when), static_cast<DWORD>(when >> 32)}, local;
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &st));
    DATE expected = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &expected));
    DATE modified = 0;
    ASSERT_HRESULT_SUCCEEDED(file->get_LastModified(&modified));
    EXPECT_DOUBLE_EQ(expected, modified);

    const std::pair<const wchar_t*, const wchar_t*> mimes[] = {
        {L"C:\\Data\\b.JPG", L"image/jpeg"},
        {L"C:\\Data\\big.bin", L"application/octet-stream"},
        {L"C:\\top.txt", L"text/plain"},
    };
    for (const auto& m : mimes) {
        ASSERT_HRESULT_SUCCEEDED(FileAt(m.first)->get_MIMEType(mime.Receive()));
        EXPECT_STREQ(m.second, mime.c_str());
    }
    ASSERT_HRESULT_SUCCEEDED(FileAt(L"C:\\Data\\ro.txt")->get_Attributes(&attributes));
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
    // Files on a read-only drive are read-only whatever their own attribute.
    ASSERT_HRESULT_SUCCEEDED(FileAt(L"Z:\\sys.bin")->get_Attributes(&attributes));
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
}

TEST_F(PhoneSimObjects, DrivesReportTheirDescription) {
    auto info = [&](const wchar_t* path) { return Item<ISCDriveInformation>(path, IID_ISCDriveInformation); };
    unsigned long capacity = 0, free = 0, used = 0;
    long media = 0;
    // Computed free space: capacity minus the bytes stored.
    ComPtr<ISCDriveInformation> c = info(L"C:");
    ASSERT_HRESULT_SUCCEEDED(c->get_Capacity(&capacity));
    ASSERT_HRESULT_SUCCEEDED(c->get_FreeSpace(&free));
    ASSERT_HRESULT_SUCCEEDED(c->get_UsedSpace(&used));
    const unsigned long stored = 5 + 3 + 300000 + 4 + 1;
    EXPECT_EQ(64ul << 20, capacity);
    EXPECT_EQ(capacity - stored, free);
    EXPECT_EQ(stored, used);
    image.Fill(L'C', {Sized(L"more.bin", 1000)});
    ASSERT_HRESULT_SUCCEEDED(c->get_FreeSpace(&free));
    EXPECT_EQ(capacity - stored - 1000, free);

    ComPtr<ISCDriveInformation> e = info(L"E:\\");
    ASSERT_HRESULT_SUCCEEDED(e->get_FreeSpace(&free));
    ASSERT_HRESULT_SUCCEEDED(e->get_MediaType(&media));
    VARIANT_BOOL removable = VARIANT_FALSE, readOnly = VARIANT_TRUE;
    ASSERT_HRESULT_SUCCEEDED(e->get_Removable(&removable));
    ASSERT_HRESULT_SUCCEEDED(e->get_ReadOnly(&readOnly));
    EXPECT_EQ(1500000u, free);
    EXPECT_EQ(3, media);
    EXPECT_EQ(VARIANT_TRUE, removable);
    EXPECT_EQ(VARIANT_FALSE, readOnly);

    ComPtr<ISCDriveInformation> z = info(L"Z:");
    UniqueBstr label;
    ASSERT_HRESULT_SUCCEEDED(z->get_Label(label.Receive()));
    ASSERT_HRESULT_SUCCEEDED(z->get_MediaType(&media));
    ASSERT_HRESULT_SUCCEEDED(z->get_ReadOnly(&readOnly));
    EXPECT_STREQ(L"ROM", label.c_str());
    EXPECT_EQ(7, media);
    EXPECT_EQ(VARIANT_TRUE, readOnly);
}

TEST_F(PhoneSimObjects, DeviceReportsItsIdentity) {
    UniqueBstr text;
    ASSERT_HRESULT_SUCCEEDED(device_->get_Manufacturer(text.Receive()));
    EXPECT_STREQ(L"Veltrune", text.c_str());
    ASSERT_HRESULT_SUCCEEDED(device_->get_Model(text.Receive()));
    EXPECT_STREQ(L"Orra 7", text.c_str());
    ASSERT_HRESULT_SUCCEEDED(device_->get_Name(text.Receive()));
    EXPECT_STREQ(L"Test phone", text.c_str());
    // Navigation ends at the drive's root, which has no parent.
    ComPtr<ISCDeviceStorageDirectory> data, root, none;
    ASSERT_HRESULT_SUCCEEDED(FileAt(L"C:\\Data\\a.txt")->get_Directory(data.Receive()));
    ASSERT_HRESULT_SUCCEEDED(data->get_Path(text.Receive()));
    EXPECT_STREQ(L"C:\\Data\\", text.c_str());
    ASSERT_HRESULT_SUCCEEDED(data->get_Parent(root.Receive()));
    ASSERT_HRESULT_SUCCEEDED(root->get_Path(text.Receive()));
    EXPECT_STREQ(L"C:", text.c_str());
    EXPECT_EQ(S_FALSE, root->get_Parent(none.Receive()));
    EXPECT_FALSE(none);
}

TEST_F(PhoneSimObjects, ApplicationObjectsShareOnePhone) {
    ComPtr<ISCApplication> second;
    ASSERT_HRESULT_SUCCEEDED(CreateApplication(second.Receive()));
    ComPtr<ISCDevice> other;
    ASSERT_HRESULT_SUCCEEDED(FindDevice(second.Get(), kImei, other.Receive()));
    // A change through one is seen through the other.
    ComPtr<ISCDeviceStorageDirectory> made;
    ASSERT_HRESULT_SUCCEEDED(Directory(L"C:\\")->CreateSubdirectory(UniqueBstr(L"Shared").Get(), made.Receive()));
    ComPtr<ISCDeviceStorageItem> item;
    EXPECT_HRESULT_SUCCEEDED(other->GetStorageItem(UniqueBstr(L"C:\\Shared\\").Get(), item.Receive()));
    // And so is a disconnect made through the first one's control.
    ASSERT_HRESULT_SUCCEEDED(control->Disconnect(UniqueBstr(L"").Get()));
    ComPtr<ISCDrives> drives;
    EXPECT_EQ(kDeviceNotReady, other->get_Drives(drives.Receive()));
    ComPtr<ISCDevices> devices;
    long count = -1;
    ASSERT_HRESULT_SUCCEEDED(second->get_Devices(devices.Receive()));
    ASSERT_HRESULT_SUCCEEDED(devices->get_Count(&count));
    EXPECT_EQ(0, count);
}

TEST_F(PhoneSimObjects, ANewSessionStartsWhenNoObjectIsLeft) {
    ASSERT_HRESULT_SUCCEEDED(control->put_Throttle(1000));
    ASSERT_HRESULT_SUCCEEDED(control->Disconnect(UniqueBstr(L"").Get()));
    // Another object keeps the session going.
    ComPtr<ISCApplication> second;
    ASSERT_HRESULT_SUCCEEDED(CreateApplication(second.Receive()));
    long throttle = 0;
    ASSERT_HRESULT_SUCCEEDED(control->get_Throttle(&throttle));
    EXPECT_EQ(1000, throttle);

    second.Reset();
    device_.Reset();
    control.Reset();
    app.Reset();
    ASSERT_HRESULT_SUCCEEDED(CreateApplication(app.Receive()));
    ASSERT_HRESULT_SUCCEEDED(GetControl(app.Get(), control.Receive()));
    ASSERT_HRESULT_SUCCEEDED(control->get_Throttle(&throttle));
    EXPECT_EQ(0, throttle);
    // The configured description is read again: connected as written.
    EXPECT_HRESULT_SUCCEEDED(FindDevice(app.Get(), kImei, device_.Receive()));
    UniqueBstr path;
    ASSERT_HRESULT_SUCCEEDED(control->get_DescriptionPath(path.Receive()));
    EXPECT_EQ(0, _wcsicmp(image.DescriptionPath().c_str(), path.c_str()));
}

TEST_F(PhoneSimObjects, DescriptionFilesAreCheckedWhenLoaded) {
    TempFolder folder(L"phonesimdesc");
    const std::wstring file = folder.Path() + L"\\phone.xml";
    const std::string bad[] = {
        "<phonesim><device imei='1'>",                                                       // not XML
        "<phone/>",                                                                           // wrong root
        "<phonesim><device><drive letter='C' folder='.'/></device></phonesim>",               // no IMEI
        "<phonesim><device imei='1'><drive letter='CC' folder='.'/></device></phonesim>",     // bad letter
        "<phonesim><device imei='1'><drive letter='C' folder='nowhere'/></device></phonesim>",  // no folder
        "<phonesim><device imei='1'><drive letter='C' folder='.' free='lots'/></device></phonesim>",
    };
    for (const auto& text : bad) {
        SCOPED_TRACE(text);
        WriteFileBytes(file, text);
        EXPECT_FAILED(control->LoadDescription(UniqueBstr(file.c_str()).Get()));
        ComPtr<ISCDevices> devices;
        long count = -1;
        ASSERT_HRESULT_SUCCEEDED(app->get_Devices(devices.Receive()));
        ASSERT_HRESULT_SUCCEEDED(devices->get_Count(&count));
        EXPECT_EQ(0, count);
    }
    // The reason comes with the failure.
    WriteFileBytes(file, "<phonesim><device imei='1'><drive letter='C' folder='nowhere'/></device></phonesim>");
    EXPECT_FAILED(control->LoadDescription(UniqueBstr(file.c_str()).Get()));
    ComPtr<IErrorInfo> error;
    ASSERT_EQ(S_OK, GetErrorInfo(0, error.Receive()));
    UniqueBstr why;
    ASSERT_HRESULT_SUCCEEDED(error->GetDescription(why.Receive()));
    EXPECT_NE(std::wstring::npos, std::wstring(why.c_str()).find(L"nowhere")) << std::string(why.c_str(), why.c_str() + why.Length());

    // Relative folders are taken from the description's own folder; sizes take K, M, G.
    CreateDirectoryW((folder.Path() + L"\\d").c_str(), nullptr);
    WriteFileBytes(file,
                   "<phonesim><mime extension='.xyz' type='x/test'/>"
                   "<device imei='1'><drive letter='d:' folder='d' capacity='4K' free='1k' media='9'/></device>"
                   "<device imei='2' connected='false'><drive letter='C' folder='d'/></device></phonesim>");
    WriteFileBytes(folder.Path() + L"\\d\\f.XYZ", "z");
    ASSERT_HRESULT_SUCCEEDED(control->LoadDescription(UniqueBstr(file.c_str()).Get()));
    ComPtr<ISCDevice> d;
    ASSERT_HRESULT_SUCCEEDED(FindDevice(app.Get(), L"1", d.Receive()));
    EXPECT_EQ(E_FAIL, FindDevice(app.Get(), L"2", d.Receive()));  // listed only once connected
    ASSERT_HRESULT_SUCCEEDED(FindDevice(app.Get(), L"1", d.Receive()));
    ComPtr<ISCDriveInformation> drive;
    ASSERT_HRESULT_SUCCEEDED(GetItem(d.Get(), L"D:", IID_ISCDriveInformation, drive.ReceiveVoid()));
    unsigned long capacity = 0, free = 0;
    long media = 0;
    ASSERT_HRESULT_SUCCEEDED(drive->get_Capacity(&capacity));
    ASSERT_HRESULT_SUCCEEDED(drive->get_FreeSpace(&free));
    ASSERT_HRESULT_SUCCEEDED(drive->get_MediaType(&media));
    EXPECT_EQ(4096u, capacity);
    EXPECT_EQ(1024u, free);
    EXPECT_EQ(9, media);  // passed on as written, so clients meet unknown types too
    ComPtr<ISCDeviceStorageFile> f;
    ASSERT_HRESULT_SUCCEEDED(GetItem(d.Get(), L"D:\\f.XYZ", IID_ISCDeviceStorageFile, f.ReceiveVoid()));
    UniqueBstr mime;
    ASSERT_HRESULT_SUCCEEDED(f->get_MIMEType(mime.Receive()));
    EXPECT_STREQ(L"x/test", mime.c_str());
    d.Reset();
    drive.Reset();
    f.Reset();
}

TEST_F(PhoneSimObjects, CallsAreCountedAndCanBeMadeToFail) {
    ASSERT_HRESULT_SUCCEEDED(control->ResetCallCounts());
    ComPtr<ISCDeviceStorageItem> item;
    ASSERT_HRESULT_SUCCEEDED(device_->GetStorageItem(UniqueBstr(L"C:\\top.txt").Get(), item.Receive()));
    EXPECT_EQ(kFileNotFound, device_->GetStorageItem(UniqueBstr(L"C:\\no.txt").Get(), item.Receive()));
    EXPECT_EQ(2, Count(simCallStorageItem));
    EXPECT_EQ(0, Count(simCallDriveLabel));
    EXPECT_EQ(2, Count(simCallAll));

    // Two calls of a kind fail, then it works again; other kinds are untouched.
    ASSERT_HRESULT_SUCCEEDED(control->FailCalls(simCallStorageItem, E_UNEXPECTED, 2));
    UniqueBstr imei;
    EXPECT_HRESULT_SUCCEEDED(device_->get_IMEI(imei.Receive()));
    EXPECT_EQ(E_UNEXPECTED, device_->GetStorageItem(UniqueBstr(L"C:\\top.txt").Get(), item.Receive()));
    EXPECT_EQ(E_UNEXPECTED, device_->GetStorageItem(UniqueBstr(L"C:\\top.txt").Get(), item.Receive()));
    EXPECT_HRESULT_SUCCEEDED(device_->GetStorageItem(UniqueBstr(L"C:\\top.txt").Get(), item.Receive()));
    // Any kind, until cleared.
    ASSERT_HRESULT_SUCCEEDED(control->FailCalls(simCallAll, E_ACCESSDENIED, -1));
    EXPECT_EQ(E_ACCESSDENIED, device_->get_IMEI(imei.Receive()));
    long type = 0;
    EXPECT_EQ(E_ACCESSDENIED, item->get_Type(&type));
    ASSERT_HRESULT_SUCCEEDED(control->FailCalls(simCallAll, S_OK, 0));
    EXPECT_HRESULT_SUCCEEDED(item->get_Type(&type));
    EXPECT_EQ(E_INVALIDARG, control->FailCalls(simCallKindCount, E_FAIL, 1));
    EXPECT_EQ(E_INVALIDARG, control->FailCalls(simCallImei, S_OK, 1));
}

} // namespace
} // namespace simtest
