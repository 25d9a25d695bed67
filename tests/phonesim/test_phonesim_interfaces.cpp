// Identifiers, slots and event signatures, seen through the registered type
// library, the registry and raw vtable calls.
#include <map>
#include <vector>

#include "phonesim_test_util.h"

namespace simtest {
namespace {

// Every function of an interface (inherited ones included) by name and kind,
// with its vtable slot.
void CollectSlots(ITypeInfo* info, std::map<std::wstring, int>& slots) {
    TYPEATTR* attr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
    const TYPEKIND kind = attr->typekind;
    const WORD flags = attr->wTypeFlags;
    const WORD funcs = attr->cFuncs;
    const WORD bases = attr->cImplTypes;
    info->ReleaseTypeAttr(attr);
    if (kind == TKIND_DISPATCH && (flags & TYPEFLAG_FDUAL)) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> vtableSide;
        ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
        ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeInfo(ref, vtableSide.Receive()));
        CollectSlots(vtableSide.Get(), slots);
        return;
    }
    for (UINT i = 0; i < bases; ++i) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> base;
        ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeOfImplType(i, &ref));
        ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeInfo(ref, base.Receive()));
        CollectSlots(base.Get(), slots);
    }
    for (UINT i = 0; i < funcs; ++i) {
        FUNCDESC* fd = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetFuncDesc(i, &fd));
        UniqueBstr name;
        info->GetDocumentation(fd->memid, name.Receive(), nullptr, nullptr, nullptr);
        const wchar_t* prefix = fd->invkind == INVOKE_PROPERTYGET ? L"get_"
                                : fd->invkind == INVOKE_PROPERTYPUT ? L"put_"
                                                                    : L"";
        slots[prefix + Text(name.Get())] = static_cast<int>(fd->oVft / sizeof(void*));
        info->ReleaseFuncDesc(fd);
    }
}

ComPtr<ITypeLib> RegisteredLibrary() {
    ComPtr<ITypeLib> lib;
    EXPECT_HRESULT_SUCCEEDED(LoadRegTypeLib(LIBID_PhoneSimLib, 1, 0, LOCALE_NEUTRAL, lib.Receive()));
    return lib;
}

struct SlotCase {
    const IID* iid;
    const char* iface;
    std::vector<std::pair<std::wstring, int>> slots;
};

// The slots Morvane (and, for the control, scripts) call, and the identifiers used.
const std::vector<SlotCase>& SlotCases() {
    static const std::vector<SlotCase> cases = {
        {&IID_ISCApplication, "ISCApplication", {{L"get_Devices", 7}}},
        {&IID_ISCDevices, "ISCDevices", {{L"get_Item", 7}, {L"get_Count", 8}}},
        {&IID_ISCDevice, "ISCDevice", {{L"get_IMEI", 7}, {L"get_Drives", 12}, {L"GetStorageItem", 13}}},
        {&IID_ISCDrives, "ISCDrives", {{L"get_Item", 7}, {L"get_Count", 8}}},
        {&IID_ISCDeviceStorageItem, "ISCDeviceStorageItem", {{L"get_Path", 7}, {L"get_Type", 8}}},
        {&IID_ISCDrive, "ISCDrive", {{L"get_Path", 7}, {L"get_Label", 9}}},
        {&IID_ISCDriveInformation,
         "ISCDriveInformation",
         {{L"get_Label", 9}, {L"get_Capacity", 15}, {L"get_FreeSpace", 17}, {L"get_MediaType", 21}}},
        {&IID_ISCDeviceStorageDirectory,
         "ISCDeviceStorageDirectory",
         {{L"get_Path", 7},
          {L"get_Type", 8},
          {L"CreateSubdirectory", 9},
          {L"CopyFileFromPC", 10},
          {L"get_Subdirectories", 12},
          {L"get_Files", 13},
          {L"Delete", 14},
          {L"Rename", 15}}},
        {&IID_ISCDirectories, "ISCDirectories", {{L"get_Item", 7}, {L"get_Count", 8}}},
        {&IID_ISCFiles, "ISCFiles", {{L"get_Item", 7}, {L"get_Count", 8}}},
        {&IID_ISCDeviceStorageFile,
         "ISCDeviceStorageFile",
         {{L"get_Path", 7},
          {L"get_Attributes", 9},
          {L"put_Attributes", 10},
          {L"get_Size", 11},
          {L"get_LastModified", 12},
          {L"CopyFileToPC", 14},
          {L"Delete", 16},
          {L"Rename", 17},
          {L"get_MIMEType", 18}}},
        {&IID_IPhoneSimControl,
         "IPhoneSimControl",
         {{L"LoadDescription", 7}, {L"Reset", 24}, {L"BindService", 25}, {L"UnbindService", 26}}},
    };
    return cases;
}

TEST(PhoneSimTypeLib, InterfacesHaveTheirIdentifiersAndSlots) {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        ComPtr<ITypeLib> lib = RegisteredLibrary();
        ASSERT_TRUE(lib);
        for (const auto& c : SlotCases()) {
            SCOPED_TRACE(c.iface);
            ComPtr<ITypeInfo> info;
            ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(*c.iid, info.Receive()));
            TYPEATTR* attr = nullptr;
            ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
            EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
            info->ReleaseTypeAttr(attr);
            std::map<std::wstring, int> slots;
            CollectSlots(info.Get(), slots);
            EXPECT_EQ(0, slots[L"QueryInterface"]);
            EXPECT_EQ(6, slots[L"Invoke"]);
            for (const auto& s : c.slots) {
                ASSERT_TRUE(slots.count(s.first)) << std::string(s.first.begin(), s.first.end());
                EXPECT_EQ(s.second, slots[s.first]) << std::string(s.first.begin(), s.first.end());
            }
        }
    }
    CoUninitialize();
}

TEST(PhoneSimTypeLib, EventsHaveTheirDispatchIdsAndArgumentTypes) {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        ComPtr<ITypeLib> lib = RegisteredLibrary();
        ASSERT_TRUE(lib);
        TLIBATTR* libAttr = nullptr;
        ASSERT_HRESULT_SUCCEEDED(lib->GetLibAttr(&libAttr));
        EXPECT_EQ(1, libAttr->wMajorVerNum);
        EXPECT_EQ(0, libAttr->wMinorVerNum);
        lib->ReleaseTLibAttr(libAttr);

        ComPtr<ITypeInfo> events;
        ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(DIID_ISCEvents, events.Receive()));
        constexpr VARTYPE byRefBool = VT_PTR | 0x1000, byRefI4 = VT_PTR | 0x2000;  // markers, see below
        const std::map<MEMBERID, std::vector<VARTYPE>> expected = {
            {13, {VT_I4, VT_BSTR, VT_I4, VT_I4, byRefBool}},
            {14, {VT_I4, VT_I4, VT_I4, VT_BOOL, byRefBool}},
            {15, {VT_I4, VT_BSTR, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, byRefI4, byRefBool}},
            {16, {VT_I4, VT_I4}},
        };
        std::map<MEMBERID, std::vector<VARTYPE>> found;
        TYPEATTR* attr = nullptr;
        ASSERT_HRESULT_SUCCEEDED(events->GetTypeAttr(&attr));
        EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
        const WORD funcs = attr->cFuncs;
        events->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < funcs; ++i) {
            FUNCDESC* fd = nullptr;
            ASSERT_HRESULT_SUCCEEDED(events->GetFuncDesc(i, &fd));
            std::vector<VARTYPE> types;
            for (SHORT p = 0; p < fd->cParams; ++p) {
                const TYPEDESC& t = fd->lprgelemdescParam[p].tdesc;
                if (t.vt == VT_PTR)
                    types.push_back(t.lptdesc->vt == VT_BOOL ? byRefBool : t.lptdesc->vt == VT_I4 ? byRefI4 : VARTYPE(VT_PTR));
                else
                    types.push_back(t.vt);
            }
            found[fd->memid] = types;
            events->ReleaseFuncDesc(fd);
        }
        EXPECT_EQ(expected, found);
    }
    CoUninitialize();
}

TEST(PhoneSimTypeLib, ApplicationClassIsRegisteredInProcessForBothModels) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT,
                                           L"CLSID\\{98C34439-558E-4BDE-AC27-25D53A202E95}\\InprocServer32", 0,
                                           KEY_READ, &key));
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(key, nullptr, L"ThreadingModel", RRF_RT_REG_SZ, nullptr, value, &size));
    EXPECT_STREQ(L"Both", value);
    size = sizeof(value);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(key, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, value, &size));
    RegCloseKey(key);
    std::wstring dll = PHONESIM_DLL_PATH;
    for (auto& ch : dll)
        if (ch == L'/') ch = L'\\';
    EXPECT_EQ(0, _wcsicmp((L"Z:" + dll).c_str(), value)) << "registered: " << std::string(value, value + wcslen(value));
}

// ---- raw vtable calls ---------------------------------------------------------

template <class... A>
HRESULT Slot(void* object, int slot, A... args) {
    using Fn = HRESULT(STDMETHODCALLTYPE*)(void*, A...);
    Fn fn = reinterpret_cast<Fn>((*reinterpret_cast<void***>(object))[slot]);
    return fn(object, args...);
}

template <class I>
I* Raw(const ComPtr<I>& p) {
    return p.Get();
}

class PhoneSimVtable : public SimTest {};

TEST_F(PhoneSimVtable, ApplicationDevicesAndDrivesAnswerAtTheirSlots) {
    ComPtr<ISCDevices> devices;
    ASSERT_HRESULT_SUCCEEDED(Slot(app.Get(), 7, devices.Receive()));
    long count = 0;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(devices), 8, &count));
    EXPECT_EQ(1, count);
    ComPtr<ISCDevice> device;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(devices), 7, Index(1), device.Receive()));

    UniqueBstr imei;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(device), 7, imei.Receive()));
    EXPECT_STREQ(kImei, imei.c_str());

    ComPtr<ISCDrives> drives;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(device), 12, drives.Receive()));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(drives), 8, &count));
    EXPECT_EQ(3, count);
    ComPtr<ISCDrive> drive;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(drives), 7, Index(2), drive.Receive()));
    UniqueBstr path, label;
    long type = 0;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(drive), 7, path.Receive()));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(drive), 8, &type));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(drive), 9, label.Receive()));
    EXPECT_STREQ(L"E:", path.c_str());
    EXPECT_EQ(1, type);
    EXPECT_STREQ(L"Memory card", label.c_str());

    ComPtr<ISCDriveInformation> info;
    ASSERT_HRESULT_SUCCEEDED(drive.As(info, IID_ISCDriveInformation));
    unsigned long capacity = 0, free = 0;
    long media = -1;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(info), 15, &capacity));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(info), 17, &free));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(info), 21, &media));
    EXPECT_EQ(2000000u, capacity);
    EXPECT_EQ(1500000u, free);
    EXPECT_EQ(3, media);
    UniqueBstr infoLabel;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(info), 9, infoLabel.Receive()));
    EXPECT_STREQ(L"Memory card", infoLabel.c_str());

    ComPtr<ISCDeviceStorageItem> item;
    UniqueBstr filePath(L"C:\\Data\\a.txt");
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(device), 13, filePath.Get(), item.Receive()));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(item), 8, &type));
    EXPECT_EQ(3, type);
}

TEST_F(PhoneSimVtable, DirectoryAndFileOperationsAnswerAtTheirSlots) {
    ComPtr<ISCDeviceStorageDirectory> root = Directory(L"C:\\");
    ASSERT_TRUE(root);
    UniqueBstr name(L"New");
    ComPtr<ISCDeviceStorageDirectory> created;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(root), 9, name.Get(), created.Receive()));
    EXPECT_TRUE(FileExists(image.PcPath(L"C:\\New")));

    ComPtr<ISCDirectories> subdirectories;
    ComPtr<ISCFiles> files;
    long count = 0;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(root), 12, subdirectories.Receive()));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(subdirectories), 8, &count));
    EXPECT_EQ(3, count);  // Data, New, Other
    ComPtr<ISCDeviceStorageDirectory> second;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(subdirectories), 7, Index(2), second.Receive()));
    UniqueBstr path;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(second), 7, path.Receive()));
    EXPECT_STREQ(L"C:\\New\\", path.c_str());
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(root), 13, files.Receive()));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(files), 8, &count));
    EXPECT_EQ(1, count);

    UniqueBstr newName(L"Renamed");
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(created), 15, newName.Get()));
    EXPECT_TRUE(FileExists(image.PcPath(L"C:\\Renamed")));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(created), 14));
    EXPECT_FALSE(FileExists(image.PcPath(L"C:\\Renamed")));

    ComPtr<ISCDeviceStorageFile> file;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(files), 7, Index(1), file.Receive()));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(file), 7, path.Receive()));
    EXPECT_STREQ(L"C:\\top.txt", path.c_str());
    long attributes = -1;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(file), 10, static_cast<long>(FILE_ATTRIBUTE_HIDDEN)));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(file), 9, &attributes));
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, static_cast<DWORD>(attributes) & FILE_ATTRIBUTE_HIDDEN);
    unsigned long size = 0;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(file), 11, &size));
    EXPECT_EQ(1u, size);
    DATE modified = 0;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(file), 12, &modified));
    EXPECT_GT(modified, 40000.0);
    UniqueBstr mime;
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(file), 18, mime.Receive()));
    EXPECT_STREQ(L"text/plain", mime.c_str());

    auto recorder = EventRecorder::Create();
    SinkConnection connection(app.Get(), recorder.Get());
    ASSERT_HRESULT_SUCCEEDED(connection.Result());
    long toPc = 0, fromPc = 0;
    UniqueBstr pcFolder(image.PcFolder().c_str());
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(file), 14, pcFolder.Get(), &toPc));
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(toPc));
    UniqueBstr pcFile(image.WritePcFile(L"in.txt", "in").c_str());
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(root), 10, pcFile.Get(), &fromPc));
    EXPECT_EQ(S_OK, recorder->WaitForCompletion(fromPc));
    EXPECT_GE(toPc, 1);
    EXPECT_NE(toPc, fromPc);

    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(file), 17, UniqueBstr(L"moved.txt").Get()));
    EXPECT_TRUE(FileExists(image.PcPath(L"C:\\moved.txt")));
    ASSERT_HRESULT_SUCCEEDED(Slot(Raw(file), 16));
    EXPECT_FALSE(FileExists(image.PcPath(L"C:\\moved.txt")));
}

TEST_F(PhoneSimVtable, LateBoundCallsGoThroughTheTypeLibrary) {
    // What a script does: names to ids, then Invoke, on the collection's default member too.
    ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(app.As(dispatch, IID_IDispatch));
    LPOLESTR name = const_cast<LPOLESTR>(L"Devices");
    DISPID id = 0;
    ASSERT_HRESULT_SUCCEEDED(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    com::UniqueVariant devices;
    ASSERT_HRESULT_SUCCEEDED(
        dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, devices.Get(), nullptr, nullptr));
    ASSERT_EQ(VT_DISPATCH, devices->vt);
    VARIANT one = Index(1);
    DISPPARAMS args = {&one, nullptr, 1, 0};
    com::UniqueVariant device;
    ASSERT_HRESULT_SUCCEEDED(devices->pdispVal->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                                       &args, device.Get(), nullptr, nullptr));
    ASSERT_EQ(VT_DISPATCH, device->vt);
    ComPtr<ISCDevice> typed;
    ASSERT_HRESULT_SUCCEEDED(device->pdispVal->QueryInterface(IID_ISCDevice, typed.ReceiveVoid()));
    UniqueBstr imei;
    ASSERT_HRESULT_SUCCEEDED(typed->get_IMEI(imei.Receive()));
    EXPECT_STREQ(kImei, imei.c_str());
}

} // namespace
} // namespace simtest
