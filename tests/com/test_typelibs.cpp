// The type libraries as clients see them: vtable slots and event arguments for
// early binding, and the client's guide (docs/api.md), which cannot drift from
// them: every interface, member and dispatch id registered is in it, and every
// one it names exists.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "KVDeviceInformation.h"
#include "KVFileMgmt.h"
#include "Morvane.h"
#include "com_test_util.h"

namespace {

using com::ComPtr;

struct Slot { const wchar_t* name; INVOKEKIND kind; int params; };  // params include a [retval]

constexpr INVOKEKIND M = INVOKE_FUNC, G = INVOKE_PROPERTYGET, P = INVOKE_PROPERTYPUT;

const std::vector<Slot> kObjectSlots = {
    {L"Name", G, 1}, {L"Path", G, 1}, {L"Parent", G, 1}, {L"Type", G, 1}, {L"Delete", M, 1}, {L"CopyTo", M, 3},
    {L"CopyToPC", M, 3}, {L"MoveTo", M, 3}, {L"MoveToPC", M, 3}, {L"Created", G, 1}, {L"Accessed", G, 1},
    {L"Changed", G, 1}, {L"FileAttributes", G, 1}, {L"FileAttributes", P, 1}, {L"Rename", M, 2}, {L"Refresh", M, 1}};
const std::vector<Slot> kFileSlots = {{L"Size", G, 1}, {L"MIMEType", G, 1}, {L"IStream", G, 1}};
const std::vector<Slot> kFolderSlots = {
    {L"NewFolder", M, 2}, {L"MoveFolderFromPC", M, 3}, {L"MoveFileFromPC", M, 3}, {L"CopyFolderFromPC", M, 3},
    {L"CopyFileFromPC", M, 3}, {L"Objects", G, 1}, {L"Files", G, 1}, {L"Folders", G, 1}, {L"CopyObjectFrom", M, 3},
    {L"MoveObjectFrom", M, 3}, {L"CopyObjectsFrom", M, 3}, {L"MoveObjectsFrom", M, 3}, {L"GetObjectsAsynch", M, 1},
    {L"GetFilesAsynch", M, 1}, {L"GetFoldersAsynch", M, 1}};
const std::vector<Slot> kMountPointSlots = {{L"Capacity", G, 1}, {L"Free", G, 1}, {L"Used", G, 1}, {L"Label", G, 1},
                                            {L"Label", P, 1}, {L"Media", G, 1}, {L"Format", M, 0}};
const std::vector<Slot> kCollectionSlots = {{L"_NewEnum", G, 1}, {L"Item", G, 2}, {L"Count", G, 1}};

UINT Functions(ITypeInfo* info, TYPEKIND* kind = nullptr) {
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return 0;
    const UINT funcs = attr->cFuncs;
    if (kind) *kind = attr->typekind;
    info->ReleaseTypeAttr(attr);
    return funcs;
}

// The vtable half of a dual interface; null for any other type.
ComPtr<ITypeInfo> VtableHalf(ITypeInfo* info) {
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> vtbl;
    if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref))) info->GetRefTypeInfo(ref, vtbl.Receive());
    return vtbl;
}

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
        ComPtr<ITypeInfo> vtbl = VtableHalf(info.Get());
        ASSERT_TRUE(vtbl) << "not dual";
        const UINT funcs = Functions(vtbl.Get());
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
    TYPEKIND kind = TKIND_MAX;
    const UINT funcs = Functions(info.Get(), &kind);
    EXPECT_EQ(TKIND_DISPATCH, kind);
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

// Interface name -> member name -> dispatch id.
using Members = std::map<std::string, std::map<std::string, long>>;

// The guide's interface sections ("### IName") and their member rows
// ("| `Member` | id | ...").
Members FromGuide() {
    Members members;
    std::ifstream in(MORVANE_API_GUIDE);
    EXPECT_TRUE(in) << "cannot read " << MORVANE_API_GUIDE;
    const std::regex heading(R"(^### (_?I\w+)(, (_?I\w+))*\s*$)");
    const std::regex row(R"(^\| `(\w+)` \| (-?\d+) \|)");
    std::vector<std::string> current;
    std::string line;
    while (std::getline(in, line)) {
        std::smatch m;
        if (line.rfind("## ", 0) == 0 || line.rfind("### ", 0) == 0) current.clear();
        if (std::regex_match(line, m, heading)) {
            // A section may cover several interfaces of one shape: "### IA, IB".
            std::string names = line.substr(4);
            std::regex name(R"(_?I\w+)");
            for (auto it = std::sregex_iterator(names.begin(), names.end(), name); it != std::sregex_iterator(); ++it)
                current.push_back(it->str());
            for (const std::string& n : current) members[n];
        } else if (!current.empty() && std::regex_search(line, m, row)) {
            for (const std::string& n : current) members[n][m[1].str()] = std::stol(m[2].str());
        }
    }
    return members;
}

// The members a type describes itself (not those it inherits).
void AddOwnMembers(ITypeInfo* info, std::map<std::string, long>& out) {
    for (UINT i = 0, functions = Functions(info); i < functions; ++i) {
        FUNCDESC* desc = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetFuncDesc(i, &desc));
        com::UniqueBstr name;
        info->GetDocumentation(desc->memid, name.Receive(), nullptr, nullptr, nullptr);
        out[comtest::Narrow(name.c_str())] = desc->memid;
        info->ReleaseFuncDesc(desc);
    }
}

void AddLibrary(ITypeLib* lib, Members& members) {
    ASSERT_TRUE(lib);
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoType(i, &kind));
        if (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) continue;
        ComPtr<ITypeInfo> info;
        ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfo(i, info.Receive()));
        com::UniqueBstr name;
        info->GetDocumentation(MEMBERID_NIL, name.Receive(), nullptr, nullptr, nullptr);
        // A dual interface's own members are those of its vtable half.
        const ComPtr<ITypeInfo> vtable = VtableHalf(info.Get());
        AddOwnMembers(vtable ? vtable.Get() : info.Get(), members[comtest::Narrow(name.c_str())]);
    }
}

class ApiGuide : public TypeLibraries {};

TEST_F(ApiGuide, NamesEveryInterfaceMemberAndDispatchIdOfTheTypeLibraries) {
    Members registered;
    AddLibrary(LoadRegistered(LIBID_KVFileMgmtLib).Get(), registered);
    AddLibrary(LoadRegistered(LIBID_KVDeviceInformationLib).Get(), registered);
    ASSERT_GE(registered.size(), 10u);
    // Both ways: the same interfaces, members and dispatch ids.
    EXPECT_EQ(registered, FromGuide());
}

} // namespace
