// The type libraries as clients see them: identities, vtable slots, dispatch
// ids and event arguments, and late-bound calls served from them.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "KVFileMgmt.h"
#include "Morvane.h"
#include "com_test_util.h"

namespace {

using com::ComPtr;

struct Slot {
    const wchar_t* name;
    INVOKEKIND kind;
    int params;  // including a [retval]
};

constexpr INVOKEKIND M = INVOKE_FUNC, G = INVOKE_PROPERTYGET, P = INVOKE_PROPERTYPUT;

const std::vector<Slot> kObjectSlots = {
    {L"Name", G, 1},     {L"Path", G, 1},     {L"Parent", G, 1},   {L"Type", G, 1},
    {L"Delete", M, 1},   {L"CopyTo", M, 3},   {L"CopyToPC", M, 3}, {L"MoveTo", M, 3},
    {L"MoveToPC", M, 3}, {L"Created", G, 1},  {L"Accessed", G, 1}, {L"Changed", G, 1},
    {L"FileAttributes", G, 1}, {L"FileAttributes", P, 1}, {L"Rename", M, 2}, {L"Refresh", M, 1}};
const std::vector<Slot> kFileSlots = {{L"Size", G, 1}, {L"MIMEType", G, 1}, {L"IStream", G, 1}};
const std::vector<Slot> kFolderSlots = {
    {L"NewFolder", M, 2},        {L"MoveFolderFromPC", M, 3}, {L"MoveFileFromPC", M, 3},
    {L"CopyFolderFromPC", M, 3}, {L"CopyFileFromPC", M, 3},   {L"Objects", G, 1},
    {L"Files", G, 1},            {L"Folders", G, 1},          {L"CopyObjectFrom", M, 3},
    {L"MoveObjectFrom", M, 3},   {L"CopyObjectsFrom", M, 3},  {L"MoveObjectsFrom", M, 3},
    {L"GetObjectsAsynch", M, 1}, {L"GetFilesAsynch", M, 1},   {L"GetFoldersAsynch", M, 1}};
const std::vector<Slot> kMountPointSlots = {{L"Capacity", G, 1}, {L"Free", G, 1}, {L"Used", G, 1},
                                            {L"Label", G, 1},    {L"Label", P, 1}, {L"Media", G, 1},
                                            {L"Format", M, 0}};
const std::vector<Slot> kCollectionSlots = {{L"_NewEnum", G, 1}, {L"Item", G, 2}, {L"Count", G, 1}};

class TypeLibraries : public comtest::ComTest {
protected:
    ComPtr<ITypeLib> LoadRegistered(REFGUID libid) {
        ComPtr<ITypeLib> lib;
        EXPECT_HRESULT_SUCCEEDED(LoadRegTypeLib(libid, 1, 0, LOCALE_NEUTRAL, lib.Receive()));
        return lib;
    }

    // The vtable half of a dual interface, with its first own slot.
    void ExpectSlots(ITypeLib* lib, REFIID iid, const std::vector<Slot>& slots, int firstSlot) {
        ComPtr<ITypeInfo> info;
        ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(iid, info.Receive()));
        TYPEATTR* attr = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
        const bool dual = (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
        info->ReleaseTypeAttr(attr);
        ASSERT_TRUE(dual);
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> vtbl;
        ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
        ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeInfo(ref, vtbl.Receive()));
        ASSERT_HRESULT_SUCCEEDED(vtbl->GetTypeAttr(&attr));
        const UINT funcs = attr->cFuncs;
        vtbl->ReleaseTypeAttr(attr);
        ASSERT_EQ(slots.size(), funcs);
        for (UINT i = 0; i < funcs; ++i) {
            FUNCDESC* fd = nullptr;
            ASSERT_HRESULT_SUCCEEDED(vtbl->GetFuncDesc(i, &fd));
            BSTR name = nullptr;
            UINT got = 0;
            vtbl->GetNames(fd->memid, &name, 1, &got);
            SCOPED_TRACE(comtest::Narrow(slots[i].name));
            EXPECT_EQ(std::wstring(slots[i].name), std::wstring(name ? name : L""));
            EXPECT_EQ((firstSlot + static_cast<int>(i)) * static_cast<int>(sizeof(void*)), fd->oVft);
            EXPECT_EQ(slots[i].kind, fd->invkind);
            EXPECT_EQ(slots[i].params, fd->cParams);
            SysFreeString(name);
            vtbl->ReleaseFuncDesc(fd);
        }
    }
};

TEST_F(TypeLibraries, FrameworkInterfacesKeepTheirSlots) {
    ComPtr<ITypeLib> lib = LoadRegistered(LIBID_KVFileMgmtLib);
    ASSERT_TRUE(lib);
    ExpectSlots(lib.Get(), IID_IKVFMObject, kObjectSlots, 7);
    ExpectSlots(lib.Get(), IID_IKVFMFile, kFileSlots, 23);
    ExpectSlots(lib.Get(), IID_IKVFMFolder, kFolderSlots, 23);
    ExpectSlots(lib.Get(), IID_IKVFMMountPoint, kMountPointSlots, 38);
    ExpectSlots(lib.Get(), IID_IKVFMObjects, kCollectionSlots, 7);
    ExpectSlots(lib.Get(), IID_IKVFMFiles, kCollectionSlots, 7);
    ExpectSlots(lib.Get(), IID_IKVFMFolders, kCollectionSlots, 7);
    ExpectSlots(lib.Get(), IID_IKVFileMgmt, {{L"CreateFMFile", M, 2}, {L"CreateFMFolder", M, 2}}, 7);
    ExpectSlots(lib.Get(), IID_IKVFileMgmtService, {{L"CreateFileMgmt", M, 1}}, 7);

    ComPtr<ITypeLib> devinfo = LoadRegistered(LIBID_KVDeviceInformationLib);
    ASSERT_TRUE(devinfo);
    ExpectSlots(devinfo.Get(), IID_IKVDeviceInformation, {{L"SetDeviceInformation", M, 2}}, 7);

    // Interface ids differ only in their first group.
    const IID* ids[] = {&IID_IKVFileMgmt, &IID_IKVFMObject, &IID_IKVFMFile, &IID_IKVFMFolder, &IID_IKVFMMountPoint,
                        &IID_IKVFMObjects, &IID_IKVFMFiles, &IID_IKVFMFolders, &DIID__IKVFMFolderEvents,
                        &IID_IKVFileMgmtService, &IID_IKVDeviceInformation};
    const unsigned long first[] = {0xD5A00001, 0xD5A00002, 0xD5A00003, 0xD5A00004, 0xD5A00005, 0xD5A00006,
                                   0xD5A00007, 0xD5A00008, 0xD5A00011, 0xD5A00021, 0xD5A00521};
    for (size_t i = 0; i < sizeof(first) / sizeof(first[0]); ++i) {
        EXPECT_EQ(first[i], ids[i]->Data1);
        EXPECT_EQ(0x2A48, ids[i]->Data2);
        EXPECT_EQ(0x11D8, ids[i]->Data3);
        const unsigned char tail[8] = {0x82, 0xE6, 0x00, 0x06, 0x5B, 0xC3, 0x68, 0x45};
        EXPECT_EQ(0, memcmp(tail, ids[i]->Data4, 8));
    }
}

TEST_F(TypeLibraries, FolderEventsHaveTheirDispatchIdsAndArgumentTypes) {
    ComPtr<ITypeLib> lib = LoadRegistered(LIBID_KVFileMgmtLib);
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> info;
    ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(DIID__IKVFMFolderEvents, info.Receive()));
    const VARTYPE R = VT_UI4, T = VT_I4, D = VT_DISPATCH, BI2 = VT_BYREF | VT_I2, BI4 = VT_BYREF | VT_I4;
    const std::vector<std::pair<MEMBERID, std::vector<VARTYPE>>> expected = {
        {1, {R, T}},      {3, {R, T}},      {6, {R, T}},      {11, {R, D, T}}, {12, {R, D, T}},
        {13, {R, D, T}},  {14, {R, D, T}},  {32, {R, T}},     {34, {R, D, T}}, {35, {R, D, T}},
        {36, {R, D, T}},  {37, {R, D, T}},  {42, {VT_I2, T, BI2}}, {43, {VT_BSTR, VT_I2, T, BI2}},
        {44, {T, VT_BSTR, VT_DATE, VT_I4, VT_DATE, VT_I4, BI4}}, {45, {T, VT_BSTR, BI4}}};
    TYPEATTR* attr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
    const UINT funcs = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    ASSERT_EQ(expected.size(), funcs);
    for (UINT i = 0; i < funcs; ++i) {
        FUNCDESC* fd = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetFuncDesc(i, &fd));
        SCOPED_TRACE(fd->memid);
        EXPECT_EQ(expected[i].first, fd->memid);
        ASSERT_EQ(expected[i].second.size(), static_cast<size_t>(fd->cParams));
        for (int p = 0; p < fd->cParams; ++p) {
            TYPEDESC* td = &fd->lprgelemdescParam[p].tdesc;
            VARTYPE vt = td->vt;
            if (vt == VT_PTR) {
                td = td->lptdesc;
                vt = static_cast<VARTYPE>(td->vt == VT_PTR ? VT_DISPATCH : (VT_BYREF | td->vt));
            }
            EXPECT_EQ(expected[i].second[p], vt) << "argument " << p;
        }
        info->ReleaseFuncDesc(fd);
    }
}

TEST_F(TypeLibraries, ServerLibraryHoldsTheClassesAndTheOperationInterface) {
    ComPtr<ITypeLib> lib;
    ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(comtest::DllWindowsPath().c_str(), REGKIND_NONE, lib.Receive()));
    TLIBATTR* la = nullptr;
    ASSERT_HRESULT_SUCCEEDED(lib->GetLibAttr(&la));
    EXPECT_TRUE(IsEqualGUID(LIBID_MorvaneLib, la->guid));
    EXPECT_EQ(1, la->wMajorVerNum);
    EXPECT_EQ(0, la->wMinorVerNum);
    EXPECT_EQ(0x409u, la->lcid);
    lib->ReleaseTLibAttr(la);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_HRESULT_SUCCEEDED(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr));
    EXPECT_EQ(std::wstring(L"MorvaneLib"), name);
    EXPECT_EQ(std::wstring(L"Morvane 1.0 Type Library"), doc);
    SysFreeString(name);
    SysFreeString(doc);

    const std::pair<const CLSID*, const wchar_t*> classes[] = {
        {&CLSID_KVFileMgmtService, L"KVFileMgmtService Class"}, {&CLSID_KVFileMgmt, L"KVFileMgmt Class"},
        {&CLSID_KVFile, L"KVFMFile Class"},           {&CLSID_KVFolder, L"KVFMFolder Class"},
        {&CLSID_KVMountPoint, L"FMMountPoint Class"}, {&CLSID_KVFMObjects, L"KVFMObjects Class"},
        {&CLSID_FMFiles, L"FMFiles Class"},           {&CLSID_FMFolders, L"FMFolders Class"}};
    EXPECT_EQ(9u, lib->GetTypeInfoCount());
    for (const auto& c : classes) {
        ComPtr<ITypeInfo> info;
        ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(*c.first, info.Receive()));
        BSTR text = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, nullptr, &text, nullptr, nullptr));
        EXPECT_EQ(std::wstring(c.second), std::wstring(text ? text : L""));
        SysFreeString(text);
    }
    ExpectSlots(lib.Get(), IID_IAsynchOperation, {{L"Execute", M, 0}}, 7);
}

TEST_F(TypeLibraries, LateBoundCallsAreServedFromTheTypeLibrary) {
    ComPtr<IDispatch> service;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_KVFileMgmtService, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                              service.ReceiveVoid()));
    UINT count = 0;
    EXPECT_HRESULT_SUCCEEDED(service->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    ASSERT_HRESULT_SUCCEEDED(service->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Receive()));
    EXPECT_EQ(DISP_E_BADINDEX, service->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.Receive()));

    OLECHAR* names[] = {const_cast<OLECHAR*>(L"CreateFileMgmt")};
    DISPID id = 0;
    ASSERT_HRESULT_SUCCEEDED(service->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(1, id);
    OLECHAR* unknown[] = {const_cast<OLECHAR*>(L"NoSuchMember")};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, service->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id));

    com::UniqueVariant result;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ASSERT_HRESULT_SUCCEEDED(service->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                             result.Get(), nullptr, nullptr));
    ASSERT_EQ(VT_DISPATCH, result->vt);
    ComPtr<IKVFileMgmt> fileMgmt;
    EXPECT_HRESULT_SUCCEEDED(result->pdispVal->QueryInterface(IID_IKVFileMgmt, fileMgmt.ReceiveVoid()));

    // The device-information interface is served from its own library.
    ComPtr<IKVDeviceInformation> devinfo;
    ASSERT_HRESULT_SUCCEEDED(service->QueryInterface(IID_IKVDeviceInformation, devinfo.ReceiveVoid()));
    OLECHAR* setName[] = {const_cast<OLECHAR*>(L"SetDeviceInformation")};
    ASSERT_HRESULT_SUCCEEDED(devinfo->GetIDsOfNames(IID_NULL, setName, 1, LOCALE_USER_DEFAULT, &id));
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_BSTR;  // uid, the last argument, comes first
    args[0].bstrVal = SysAllocString(L"phone");
    args[1].vt = VT_UNKNOWN;
    args[1].punkVal = nullptr;
    DISPPARAMS two = {args, nullptr, 2, 0};
    EXPECT_HRESULT_SUCCEEDED(devinfo->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &two, nullptr,
                                             nullptr, nullptr));
    VariantClear(&args[0]);
}

} // namespace
