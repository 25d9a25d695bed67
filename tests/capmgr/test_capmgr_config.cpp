// Where the configuration comes from, and the answers to what cannot be
// answered: malformed expressions and documents, missing places, bad arguments.
#include "capmgr_test_util.h"

namespace {

using captest::ExpectError;
using captest::ExpectRows;
using captest::TempPlace;

const std::string kConfig =
    "<applications><devices><device uid=\"d\"><foldermapping>"
    "<mountpoint realpath=\"C:\\\" virtualpath=\"Phone\"/>"
    "</foldermapping></device></devices></applications>";
const wchar_t kMountPoints[] = L"//devices/device[@uid=\"d\"]/foldermapping/mountpoint/@realpath";

std::string With(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

class CapMgrConfig : public captest::CapMgrTest {
protected:
    captest::Answer Ask(const wchar_t* query = kMountPoints, const wchar_t* imei = L"") {
        return captest::Ask(capMgr.Get(), query, imei);
    }
};

TEST_F(CapMgrConfig, MalformedExpressionsAndNullArgumentsAreErrors) {
    TempPlace file;
    file.Write(kConfig);
    captest::UseConfig(file.Path());
    for (const wchar_t* bad : {L"//devices/device[@uid=\"d\"", L"count(//device)", L"", L"foo(", L"@@x"}) {
        SCOPED_TRACE(captest::Narrow(bad));
        ExpectError(Ask(bad), CAPMGR_ERROR_EXPRESSION);
        com::ComPtr<IErrorInfo> info;
        com::UniqueBstr description;
        ASSERT_EQ(S_OK, GetErrorInfo(0, info.Receive()));
        info->GetDescription(description.Receive());
        EXPECT_NE(std::wstring::npos, std::wstring(description.c_str()).find(L"expression"));
    }
    VARIANT result;
    long error = 0;
    EXPECT_EQ(E_INVALIDARG, capMgr->Query(nullptr, nullptr, &result, &error));
    EXPECT_EQ(CAPMGR_ERROR_ARGUMENT, error);
    EXPECT_EQ(VT_EMPTY, result.vt);
    EXPECT_EQ(E_POINTER, capMgr->Query(nullptr, nullptr, nullptr, &error));
    // The same object still answers.
    ExpectRows(Ask(), {L"C:\\"});
}

TEST_F(CapMgrConfig, MalformedOrMissingDocumentsAreErrorsUntilRepaired) {
    TempPlace file;
    captest::UseConfig(file.Path());
    ExpectError(Ask(), CAPMGR_ERROR_DOCUMENT_MALFORMED);  // empty
    file.Write("<applications><devices><device uid=\"d\"></devices>");
    ExpectError(Ask(), CAPMGR_ERROR_DOCUMENT_MALFORMED);
    file.Write(kConfig);
    ExpectRows(Ask(), {L"C:\\"});
    // Changed in place with the same size: the content counts.
    file.Write(With(kConfig, "C:", "D:"));
    ExpectRows(Ask(), {L"D:\\"});
    captest::UseConfig(file.Path() + L".missing");
    ExpectError(Ask(), CAPMGR_ERROR_DOCUMENT_NOT_FOUND);
}

TEST_F(CapMgrConfig, AFolderHoldsOneDocumentPerImeiAndADefault) {
    TempPlace folder(true);
    folder.Write(kConfig, L"356938035643809.xml");
    captest::UseConfig(folder.Path());
    ExpectRows(Ask(kMountPoints, L"356938035643809"), {L"C:\\"});
    ExpectRows(Ask(kMountPoints, L"490154203237518"), {});  // not configured
    folder.Write(With(kConfig, "C:", "D:"), L"default.xml");
    ExpectRows(Ask(kMountPoints, L"490154203237518"), {L"D:\\"});
    ExpectRows(Ask(kMountPoints, L"..\\356938035643809"), {L"D:\\"});
}

TEST_F(CapMgrConfig, RegistryValueIsUsedWithoutTheEnvironmentVariable) {
    TempPlace file;
    file.Write(kConfig);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Morvane\\CapMgr", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    // Someone else's value is put back afterwards.
    wchar_t previous[MAX_PATH] = {};
    DWORD previousBytes = sizeof(previous);
    const bool hadValue = RegQueryValueExW(key, L"Config", nullptr, nullptr, reinterpret_cast<BYTE*>(previous),
                                           &previousBytes) == ERROR_SUCCESS;
    // An expandable value, as written by hand.
    const size_t slash = file.Path().rfind(L'\\');
    SetEnvironmentVariableW(L"CAPMGR_TEST_DIR", file.Path().substr(0, slash).c_str());
    const std::wstring value = L"%CAPMGR_TEST_DIR%" + file.Path().substr(slash);
    RegSetValueExW(key, L"Config", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    captest::Answer fromRegistry = Ask();
    captest::UseConfig(captest::Sample(L"raw.xml"));
    captest::Answer fromEnvironment = Ask();
    captest::UseConfig(L"");
    RegDeleteValueW(key, L"Config");
    captest::Answer fromNowhere = Ask();
    if (hadValue) RegSetValueExW(key, L"Config", 0, REG_SZ, reinterpret_cast<BYTE*>(previous), previousBytes);
    RegCloseKey(key);

    ExpectRows(fromRegistry, {L"C:\\"});
    ExpectRows(fromEnvironment, {});
    ExpectError(fromNowhere, CAPMGR_ERROR_NO_CONFIGURATION);
}

} // namespace
