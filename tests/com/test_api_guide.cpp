// The client's guide cannot drift from the type libraries: every interface,
// member and dispatch id registered for clients is in docs/api.md, and every
// one the guide names exists.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "KVDeviceInformation.h"
#include "KVFileMgmt.h"
#include "com_test_util.h"

namespace {

using com::ComPtr;
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
    TYPEATTR* attr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
    const WORD functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* desc = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetFuncDesc(i, &desc));
        com::UniqueBstr name;
        info->GetDocumentation(desc->memid, name.Receive(), nullptr, nullptr, nullptr);
        out[comtest::Narrow(name.c_str())] = desc->memid;
        info->ReleaseFuncDesc(desc);
    }
}

void AddLibrary(REFGUID libid, Members& members) {
    ComPtr<ITypeLib> lib;
    ASSERT_HRESULT_SUCCEEDED(LoadRegTypeLib(libid, 1, 0, LOCALE_NEUTRAL, lib.Receive()));
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoType(i, &kind));
        if (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) continue;
        ComPtr<ITypeInfo> info;
        ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfo(i, info.Receive()));
        com::UniqueBstr name;
        info->GetDocumentation(MEMBERID_NIL, name.Receive(), nullptr, nullptr, nullptr);
        TYPEATTR* attr = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
        const bool dual = kind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
        info->ReleaseTypeAttr(attr);
        // A dual interface's own members are those of its vtable half.
        if (dual) {
            HREFTYPE ref = 0;
            ComPtr<ITypeInfo> vtable;
            ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref));
            ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeInfo(ref, vtable.Receive()));
            info = vtable;
        }
        AddOwnMembers(info.Get(), members[comtest::Narrow(name.c_str())]);
    }
}

class ApiGuide : public comtest::ComTest {};

TEST_F(ApiGuide, NamesEveryInterfaceMemberAndDispatchIdOfTheTypeLibraries) {
    Members registered;
    AddLibrary(LIBID_KVFileMgmtLib, registered);
    AddLibrary(LIBID_KVDeviceInformationLib, registered);
    ASSERT_GE(registered.size(), 10u);
    // Both ways: the same interfaces, members and dispatch ids.
    EXPECT_EQ(registered, FromGuide());
}

}  // namespace
