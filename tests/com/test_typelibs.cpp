// The type libraries as early-bound clients see them: vtable slots and event
// arguments (members and dispatch ids are checked against the guide).
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
        ComPtr<ITypeInfo> info, vtbl;
        HREFTYPE ref = 0;
        TYPEATTR* attr = nullptr;
        ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(iid, info.Receive()));
        ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));  // fails unless dual
        ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeInfo(ref, vtbl.Receive()));
        ASSERT_HRESULT_SUCCEEDED(vtbl->GetTypeAttr(&attr));
        const UINT funcs = attr->cFuncs;
        vtbl->ReleaseTypeAttr(attr);
        ASSERT_EQ(slots.size(), funcs);
        for (UINT i = 0; i < funcs; ++i) {
            FUNCDESC* fd = nullptr;
            ASSERT_HRESULT_SUCCEEDED(vtbl->GetFuncDesc(i, &fd));
            com::UniqueBstr name;
            UINT got = 0;
            vtbl->GetNames(fd->memid, name.Receive(), 1, &got);
            SCOPED_TRACE(comtest::Narrow(slots[i].name));
            EXPECT_STREQ(slots[i].name, name.c_str());
            EXPECT_EQ((firstSlot + static_cast<int>(i)) * static_cast<int>(sizeof(void*)), fd->oVft);
            EXPECT_EQ(slots[i].kind, fd->invkind);
            EXPECT_EQ(slots[i].params, fd->cParams);
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

} // namespace
