// mktlb OUT.tlb FRAMEWORK.tlb DEVICEINFO.tlb
// Writes Morvane's own type library: the eight classes and IAsynchOperation.
// The classes refer to the framework's interfaces in their own libraries
// instead of copying them, so registering or unregistering Morvane never
// touches the framework's interface registrations.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <cstdio>
#include <vector>

#include "Morvane.h"
#include "KVFileMgmt.h"

namespace {

#define CHECK(expr)                                                                               \
    do {                                                                                          \
        HRESULT hr_ = (expr);                                                                     \
        if (FAILED(hr_)) {                                                                        \
            std::fprintf(stderr, "mktlb: %s failed: 0x%08lx\n", #expr, static_cast<unsigned long>(hr_)); \
            return false;                                                                         \
        }                                                                                         \
    } while (0)

template <class T>
struct Ref {
    T* p = nullptr;
    ~Ref() { if (p) p->Release(); }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

struct Impl {
    const IID* iid;
    bool fromDeviceInfo;
    int flags;
};

struct ClassDef {
    const wchar_t* name;
    const CLSID* clsid;
    const wchar_t* doc;
    std::vector<Impl> impls;
};

bool AddInterfaceRef(ICreateTypeInfo* cti, ITypeLib* lib, const Impl& impl, UINT index) {
    Ref<ITypeInfo> ti;
    CHECK(lib->GetTypeInfoOfGuid(*impl.iid, &ti));
    HREFTYPE href = 0;
    CHECK(cti->AddRefTypeInfo(ti.p, &href));
    CHECK(cti->AddImplType(index, href));
    CHECK(cti->SetImplTypeFlags(index, impl.flags));
    return true;
}

bool Build(const wchar_t* out, const wchar_t* frameworkPath, const wchar_t* deviceInfoPath) {
    Ref<ITypeLib> framework, deviceInfo, stdole;
    CHECK(LoadTypeLibEx(frameworkPath, REGKIND_NONE, &framework));
    CHECK(LoadTypeLibEx(deviceInfoPath, REGKIND_NONE, &deviceInfo));
    CHECK(LoadTypeLibEx(L"stdole2.tlb", REGKIND_NONE, &stdole));

    Ref<ICreateTypeLib2> ctl;
    CHECK(CreateTypeLib2(SYS_WIN64, out, &ctl));
    CHECK(ctl->SetGuid(LIBID_MorvaneLib));
    CHECK(ctl->SetVersion(1, 0));
    CHECK(ctl->SetLcid(0x409));
    CHECK(ctl->SetName(const_cast<LPOLESTR>(L"MorvaneLib")));
    CHECK(ctl->SetDocString(const_cast<LPOLESTR>(L"Morvane 1.0 Type Library")));

    {
        Ref<ICreateTypeInfo> cti;
        CHECK(ctl->CreateTypeInfo(const_cast<LPOLESTR>(L"IAsynchOperation"), TKIND_INTERFACE, &cti));
        CHECK(cti->SetGuid(IID_IAsynchOperation));
        CHECK(cti->SetDocString(const_cast<LPOLESTR>(L"IAsynchOperation Interface")));
        CHECK(cti->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
        Ref<ITypeInfo> dispatch;
        CHECK(stdole->GetTypeInfoOfGuid(IID_IDispatch, &dispatch));
        HREFTYPE href = 0;
        CHECK(cti->AddRefTypeInfo(dispatch.p, &href));
        CHECK(cti->AddImplType(0, href));
        FUNCDESC fd = {};
        fd.memid = 1;
        fd.funckind = FUNC_PUREVIRTUAL;
        fd.invkind = INVOKE_FUNC;
        fd.callconv = CC_STDCALL;
        fd.oVft = 7 * sizeof(void*);
        fd.elemdescFunc.tdesc.vt = VT_HRESULT;
        CHECK(cti->AddFuncDesc(0, &fd));
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"Execute")};
        CHECK(cti->SetFuncAndParamNames(0, names, 1));
        CHECK(cti->LayOut());
    }

    const int D = IMPLTYPEFLAG_FDEFAULT, S = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
    const ClassDef classes[] = {
        {L"KVFileMgmtService", &CLSID_KVFileMgmtService, L"KVFileMgmtService Class",
         {{&IID_IKVFileMgmtService, false, D}, {&IID_IKVDeviceInformation, true, 0}}},
        {L"KVFileMgmt", &CLSID_KVFileMgmt, L"KVFileMgmt Class", {{&IID_IKVFileMgmt, false, D}}},
        {L"KVFile", &CLSID_KVFile, L"KVFMFile Class", {{&IID_IKVFMFile, false, D}, {&IID_IKVFMObject, false, 0}}},
        {L"KVFolder", &CLSID_KVFolder, L"KVFMFolder Class",
         {{&IID_IKVFMFolder, false, D}, {&DIID__IKVFMFolderEvents, false, S}, {&IID_IKVFMObject, false, 0}}},
        {L"KVMountPoint", &CLSID_KVMountPoint, L"FMMountPoint Class",
         {{&IID_IKVFMMountPoint, false, D}, {&DIID__IKVFMFolderEvents, false, S}, {&IID_IKVFMObject, false, 0},
          {&IID_IKVFMFolder, false, 0}}},
        {L"KVFMObjects", &CLSID_KVFMObjects, L"KVFMObjects Class", {{&IID_IKVFMObjects, false, D}}},
        {L"FMFiles", &CLSID_FMFiles, L"FMFiles Class", {{&IID_IKVFMFiles, false, D}}},
        {L"FMFolders", &CLSID_FMFolders, L"FMFolders Class", {{&IID_IKVFMFolders, false, D}}},
    };
    for (const ClassDef& c : classes) {
        Ref<ICreateTypeInfo> cti;
        CHECK(ctl->CreateTypeInfo(const_cast<LPOLESTR>(c.name), TKIND_COCLASS, &cti));
        CHECK(cti->SetGuid(*c.clsid));
        CHECK(cti->SetDocString(const_cast<LPOLESTR>(c.doc)));
        CHECK(cti->SetTypeFlags(TYPEFLAG_FCANCREATE));
        UINT index = 0;
        for (const Impl& impl : c.impls)
            if (!AddInterfaceRef(cti.p, impl.fromDeviceInfo ? deviceInfo.p : framework.p, impl, index++)) return false;
        CHECK(cti->LayOut());
    }
    CHECK(ctl->SaveAllChanges());
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: mktlb OUT.tlb FRAMEWORK.tlb DEVICEINFO.tlb\n");
        return 2;
    }
    CoInitialize(nullptr);
    wchar_t out[MAX_PATH], fw[MAX_PATH], di[MAX_PATH];
    GetFullPathNameW(argv[1], MAX_PATH, out, nullptr);
    GetFullPathNameW(argv[2], MAX_PATH, fw, nullptr);
    GetFullPathNameW(argv[3], MAX_PATH, di, nullptr);
    bool ok = Build(out, fw, di);
    CoUninitialize();
    return ok ? 0 : 1;
}
