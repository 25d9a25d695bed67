#include "module/MorvaneModule.h"

#include "com/ComObject.h"
#include "module/FMService.h"
#include "module/Interfaces.h"
#include "objects/FileMgmt.h"
#include "objects/FMFile.h"
#include "objects/FMFolder.h"
#include "objects/FMMountPoint.h"
#include "objects/FMCollections.h"

namespace morvane {

const GUID APPID_Morvane = {0x91abe3c0, 0x545a, 0x48c6, {0x96, 0xeb, 0x4c, 0x4a, 0xf1, 0x93, 0xc1, 0x79}};

namespace {

com::ObjectMapEntry g_entries[] = {
    {&CLSID_KVFileMgmtService, &com::CreateComInstance<CFMService>, L"Morvane.KVFileMgmtService",
     L"KVFileMgmtService Class", L"Both", nullptr},
    {&CLSID_KVFileMgmt, &com::CreateComInstance<CFileMgmt>, L"Morvane.KVFileMgmt", L"KVFileMgmt Class", L"Both",
     nullptr},
    {&CLSID_KVFile, &com::CreateComInstance<CFMFile>, L"Morvane.FMFile", L"FMFile Class", L"Apartment", nullptr},
    {&CLSID_KVFolder, &com::CreateComInstance<CFMFolder>, L"Morvane.FMFolder", L"FMFolder Class", L"Apartment",
     nullptr},
    {&CLSID_KVMountPoint, &com::CreateComInstance<CFMMountPoint>, L"Morvane.FMMountPoint", L"FMMountPoint Class",
     L"Apartment", nullptr},
    {&CLSID_KVFMObjects, &com::CreateComInstance<CFMObjects>, L"Morvane.FMObjects", L"FMObjects Class",
     L"Apartment", nullptr},
    {&CLSID_FMFiles, &com::CreateComInstance<CFMFiles>, L"Morvane.FMFiles", L"FMFiles Class", L"Apartment",
     nullptr},
    {&CLSID_FMFolders, &com::CreateComInstance<CFMFolders>, L"Morvane.FMFolders", L"FMFolders Class",
     L"Apartment", nullptr},
};

com::ObjectMap g_map = {std::begin(g_entries), std::end(g_entries), false};

const com::ServerRegistration g_registration = {&APPID_Morvane, L"Morvane", L"Tessal.DLL", &LIBID_MorvaneLib,
                                                &g_map};

} // namespace

com::ObjectMap& ObjectMap() { return g_map; }
const com::ServerRegistration& Registration() { return g_registration; }

} // namespace morvane
