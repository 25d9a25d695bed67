// Every path expression the mappings send, built as they build it, answered
// from the sample configurations in the documented shape.
#include "capmgr_test_util.h"

namespace {

// The templates, character for character.
const wchar_t kMountPoints[] = L"{P}mountpoint/@realpath";
const wchar_t kMountVirtualPath[] = L"{P}mountpoint[@realpath=\"{R}\"]/@virtualpath";
const wchar_t kSubfolders[] = L"{P}mountpoint[@realpath=\"{R}\"]/subfolders/subfolder/@realpath";
const wchar_t kSubfolderName[] = L"{P}mountpoint[@realpath=\"{R}\"]/subfolders/subfolder[@realpath=\"{S}\"]/@virtualname";
const wchar_t kMappedFolders[] = L"{P}mountpoint[@realpath=\"{R}\"]/subfolders/mappedfolder/@realpath";
const wchar_t kMappedName[] = L"{P}mountpoint[@realpath=\"{R}\"]/subfolders/mappedfolder[@realpath=\"{M}\"]/@virtualname";
const wchar_t kMountRestricted[] = L"{P}mountpoint[@realpath=\"{R}\"]/subfolders/@restricted";
const wchar_t kSubfolderRestricted[] = L"{P}mountpoint/subfolders/subfolder[@realpath=\"{S}\"]/subfolders/@restricted";
const wchar_t kMappedRestricted[] = L"{P}mountpoint/subfolders/mappedfolder[@realpath=\"{M}\"]/subfolders/@restricted";
const wchar_t kMountFileOps[] = L"{P}mountpoint[@realpath=\"{R}\"]/fileoperations/forbidden_operation/@name";
const wchar_t kSubfolderFileOps[] =
    L"{P}mountpoint/subfolders/subfolder[@realpath=\"{S}\"]/fileoperations/forbidden_operation/@name";
const wchar_t kMappedFileOps[] =
    L"{P}mountpoint/subfolders/mappedfolder[@realpath=\"{M}\"]/fileoperations/forbidden_operation/@name";
const wchar_t kMountFolderOps[] = L"{P}mountpoint[@realpath=\"{R}\"]/folderoperations/forbidden_operation/@name";
const wchar_t kSubfolderFolderOps[] =
    L"{P}mountpoint/subfolders/subfolder[@realpath=\"{S}\"]/folderoperations/forbidden_operation/@name";
const wchar_t kMappedFolderOps[] =
    L"{P}mountpoint/subfolders/mappedfolder[@realpath=\"{M}\"]/folderoperations/forbidden_operation/@name";
const wchar_t kAppSerial[] =
    L"/applications/application[@name=\"Ostrevin\"]/device[@uid=\"{deviceUid}\"]/massstorage/@serialnumber";
const wchar_t kCardSerial[] = L"{P}storage/media[@name=\"USBDevice\"][@present=\"true\"]/@id";
const wchar_t kCardPath[] = L"{P}/storage/media[@name=\"USBDevice\"]/@mountpoint";

struct Case {
    const wchar_t* uid;
    const wchar_t* tmpl;
    const wchar_t* r;
    const wchar_t* sm;  // {S} or {M}
    std::vector<std::wstring> rows;
};

void Replace(std::wstring& s, const std::wstring& from, const std::wstring& to) {
    for (size_t at = s.find(from); at != std::wstring::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
}

// {P} is the prefix as Init completes it, with foldermapping/ except for the
// two storage templates, which are sent before that is appended.
void Check(ICapMgr* capMgr, const wchar_t* sample, const std::vector<Case>& cases) {
    captest::UseConfig(captest::Sample(sample));
    for (const Case& c : cases) {
        std::wstring q = c.tmpl, prefix = std::wstring(L"//devices/device[@uid=\"") + c.uid + L"\"]/";
        Replace(q, L"{P}", q == kCardSerial || q == kCardPath ? prefix : prefix + L"foldermapping/");
        Replace(q, L"{deviceUid}", c.uid);
        Replace(q, L"{R}", c.r);
        Replace(q, L"{S}", c.sm);
        Replace(q, L"{M}", c.sm);
        SCOPED_TRACE(captest::Narrow(q));
        captest::ExpectRows(captest::Ask(capMgr, q, L"356938035643809"), c.rows);
    }
}

using CapMgrTemplates = captest::CapMgrTest;

TEST_F(CapMgrTemplates, BrowserSampleAnswersEveryFolderTemplate) {
    const wchar_t* d = L"phone-browser";
    const wchar_t* docs = L"C:\\Data\\Documents\\";
    Check(capMgr.Get(), L"browser.xml",
          {
              {d, kMountPoints, L"", L"", {L"C:\\", L"E:\\"}},
              {d, kMountVirtualPath, L"C:\\", L"", {L"Phone"}},
              {d, kMountVirtualPath, L"E:\\", L"", {L"\\Memory card\\"}},
              {d, kSubfolders, L"C:\\", L"", {L"Images", L"Sounds"}},
              {d, kSubfolderName, L"C:\\", L"Images", {L"Pictures"}},
              {d, kSubfolderName, L"C:\\", L"Sounds", {}},
              {d, kMappedFolders, L"C:\\", L"", {docs}},
              {d, kMappedName, L"C:\\", docs, {L"Documents"}},
              {d, kMountRestricted, L"C:\\", L"", {L"true"}},
              {d, kMountRestricted, L"E:\\", L"", {L"false"}},
              {d, kSubfolderRestricted, L"", L"Sounds", {L"true"}},
              {d, kMappedRestricted, L"", docs, {L"false"}},
              {d, kMountFileOps, L"C:\\", L"", {L"new", L"paste"}},
              {d, kSubfolderFileOps, L"", L"Images", {L"rename"}},
              {d, kMappedFileOps, L"", docs, {L"move", L"delete"}},
              {d, kMountFolderOps, L"C:\\", L"", {L"copy", L"cut", L"delete", L"rename", L"properties"}},
              {d, kSubfolderFolderOps, L"", L"Sounds", {L"delete", L"rename"}},
              {d, kMappedFolderOps, L"", docs, {L"cut", L"delete", L"rename"}},
              // No card: neither pinned nor reported.
              {d, kAppSerial, L"", L"", {}},
              {d, kCardSerial, L"", L"", {}},
              {L"another-phone", kMountPoints, L"", L"", {}},
          });
}

TEST_F(CapMgrTemplates, MemoryCardSampleAnswersTheMassStorageTemplates) {
    const wchar_t* d = L"phone-card";
    Check(capMgr.Get(), L"memorycard.xml",
          {
              {d, kAppSerial, L"", L"", {}},
              {d, kCardSerial, L"", L"", {L"439041101"}},
              {d, kCardPath, L"", L"", {L"E:\\"}},
              {L"phone-card-pinned", kAppSerial, L"", L"", {L"439041101"}},
              {L"phone-card-pinned", kCardSerial, L"", L"", {}},
              {d, kMountVirtualPath, L"E:\\", L"", {L"Memory card"}},
              {d, kSubfolders, L"E:\\", L"", {L"Photos", L"Music"}},
              {d, kMappedFolders, L"E:\\", L"", {L"E:\\Data\\Videos\\"}},
              {d, kMappedName, L"E:\\", L"E:\\Data\\Videos\\", {L"Videos"}},
              {d, kMountFolderOps, L"E:\\", L"", {L"delete", L"rename"}},
          });
}

TEST_F(CapMgrTemplates, RawSampleMatchesNothing) {
    Check(capMgr.Get(), L"raw.xml",
          {
              {L"phone-raw", kMountPoints, L"", L"", {}},
              {L"phone-raw", kAppSerial, L"", L"", {}},
              {L"phone-raw", kCardPath, L"", L"", {}},
          });
}

} // namespace
