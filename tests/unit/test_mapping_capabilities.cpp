// The Capability Manager as the mappings use it: its creation and release, and
// how the answers of every shape are read.
#include "unit_fakes.h"

#include "mapping/FMBrowserMapping.h"

namespace {

using namespace mapping_test;

// Reaches the readers that the derived mappings use.
class Probe : public CFMBrowserMapping {
public:
    using CFMBrowserMapping::CFMBrowserMapping;
    using CFolderMapping::getCapabilities;
    using CFolderMapping::getConfForbidFileOps;
    using CFolderMapping::getConfForbidFolderOps;
    using CFolderMapping::getConfRestrictedFolders;
    void SetImei(const std::wstring& imei) { m_strImei = imei; }
};

class MappingCapabilities : public MappingTest {
protected:
    // Runs one query against the fake and returns its result and rows.
    HRESULT Ask(const Answer& answer, StringList& rows) {
        capMgr.Set(L"q", answer);
        return probe.getCapabilities(&capMgr, L"q", rows);
    }

    Probe probe{nullptr};
};

TEST_F(MappingCapabilities, RowsUpToButNotIncludingTheUpperBound) {
    probe.SetImei(L"356938035643809");
    StringList rows{L"kept"};
    EXPECT_EQ(S_OK, Ask(Answer::Of({L"a", L"b"}), rows));
    EXPECT_EQ((StringList{L"kept", L"a", L"b"}), rows);  // appended, row order; upper-bound row unread
    EXPECT_EQ((std::vector<std::wstring>{L"356938035643809"}), capMgr.imeis);

    // Bounds need not start at 0; unassigned cells are skipped.
    Answer shifted = Answer::Of({L"x", std::nullopt, L"z"});
    shifted.lower = 5;
    rows.clear();
    EXPECT_EQ(S_OK, Ask(shifted, rows));
    EXPECT_EQ((StringList{L"x", L"z"}), rows);
    rows.clear();
    EXPECT_EQ(S_OK, Ask(Answer::Of({std::nullopt}), rows));  // callers treat it as not configured
    EXPECT_TRUE(rows.empty());
}

TEST_F(MappingCapabilities, EveryOtherAnswerIsNoMatchOrAFailureAndAppendsNothing) {
    auto made = [](VARTYPE vt, UINT dims) {
        return Answer::Made([vt, dims](VARIANT* v) {
            SAFEARRAYBOUND bounds[3] = {{3, 0}, {2, 0}, {2, 0}};
            v->vt = vt;
            if (vt == VT_BSTR) v->bstrVal = SysAllocString(L"C:\\");
            else if (vt == (VT_ARRAY | VT_BSTR)) v->parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
            else v->parray = dims ? SafeArrayCreate(VT_VARIANT, dims, bounds) : nullptr;
        });
    };
    Answer oneColumn = Answer::Of({L"a"}), emptyWithError = Answer::None();
    oneColumn.columns = 1;
    emptyWithError.error = 3;  // VT_EMPTY is read before the error value
    const std::pair<const char*, std::pair<Answer, HRESULT>> cases[] = {
        {"only the upper-bound row", {Answer::Of({}), S_FALSE}},
        {"VT_EMPTY", {Answer::None(), S_FALSE}},
        {"VT_EMPTY with an error", {emptyWithError, S_FALSE}},
        {"failed request", {Answer::Failing(E_UNEXPECTED), E_FAIL}},
        {"success code other than S_OK", {Answer::Failing(S_FALSE), E_FAIL}},
        {"error value", {Answer::WithError(7, {L"a"}), E_FAIL}},
        {"a string", {made(VT_BSTR, 0), E_FAIL}},
        {"an array of strings", {made(VT_ARRAY | VT_BSTR, 0), E_FAIL}},
        {"a null array", {made(VT_ARRAY | VT_VARIANT, 0), E_FAIL}},
        {"one dimension", {made(VT_ARRAY | VT_VARIANT, 1), E_FAIL}},
        {"three dimensions", {made(VT_ARRAY | VT_VARIANT, 3), E_FAIL}},
        {"no column 1", {oneColumn, E_FAIL}},
    };
    for (const auto& c : cases) {
        StringList rows{L"kept"};
        EXPECT_EQ(c.second.second, Ask(c.second.first, rows)) << c.first;
        EXPECT_EQ((StringList{L"kept"}), rows) << c.first;
    }
    StringList rows;
    EXPECT_EQ(E_INVALIDARG, probe.getCapabilities(&capMgr, nullptr, rows));
    EXPECT_EQ(E_POINTER, probe.getCapabilities(nullptr, L"q", rows));
}

TEST_F(MappingCapabilities, SettingReaders) {
    // Restricted: exactly "true" in the first row.
    capMgr.Set(L"r1", {L"true", L"false"});
    capMgr.Set(L"r2", {L"TRUE"});
    capMgr.Set(L"r3", {L"false", L"true"});
    EXPECT_TRUE(probe.getConfRestrictedFolders(&capMgr, L"r1"));
    EXPECT_FALSE(probe.getConfRestrictedFolders(&capMgr, L"r2"));
    EXPECT_FALSE(probe.getConfRestrictedFolders(&capMgr, L"r3"));
    EXPECT_FALSE(probe.getConfRestrictedFolders(&capMgr, L"unanswered"));
    capMgr.Set(L"r4", Answer::Failing(E_FAIL));
    EXPECT_FALSE(probe.getConfRestrictedFolders(&capMgr, L"r4"));

    // Folder operation names, case-sensitive; unknown ones logged and ignored.
    capMgr.Set(L"all folder ops", {L"copy", L"cut", L"delete", L"rename", L"paste", L"properties", L"new", L"explore"});
    EXPECT_EQ(0xFFu, probe.getConfForbidFolderOps(&capMgr, L"all folder ops"));
    capMgr.Set(L"odd folder ops", {L"Delete", L"move", L"copy"});
    EXPECT_EQ(0x01u, probe.getConfForbidFolderOps(&capMgr, L"odd folder ops"));

    // File operation names: "move" instead of "cut", no "explore"; unknown names silent.
    capMgr.Set(L"all file ops", {L"copy", L"move", L"delete", L"rename", L"paste", L"properties", L"new"});
    EXPECT_EQ(0x7Fu, probe.getConfForbidFileOps(&capMgr, L"all file ops"));
    capMgr.Set(L"odd file ops", {L"cut", L"explore", L"Rename", L"paste"});
    EXPECT_EQ(0x10u, probe.getConfForbidFileOps(&capMgr, L"odd file ops"));

    EXPECT_EQ(0u, probe.getConfForbidFileOps(&capMgr, L"unanswered"));
    capMgr.Set(L"failing ops", Answer::WithError(2, {L"copy"}));
    EXPECT_EQ(0u, probe.getConfForbidFolderOps(&capMgr, L"failing ops"));
}

// ---- creation and release ----

using MappingCapMgrCreation = MappingTest;

TEST_F(MappingCapMgrCreation, CreatedStartedAndReleasedBeforeInitReturnsWhateverTheOutcome) {
    capMgr.Set(kP + L"mountpoint/@realpath", {L"C:\\"});
    CFMBrowserMapping mapping(platform);
    ASSERT_EQ(S_OK, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(1, platform->creations);
    EXPECT_TRUE(IsEqualCLSID(CLSID_CapMgr, platform->createdClsid));
    EXPECT_EQ(0x17u, platform->createdContext);
    EXPECT_TRUE(IsEqualIID(IID_IUnknown, platform->createdIid));
    EXPECT_EQ((std::vector<std::string>{"Run", "QI ICapMgr"}), capMgr.events);  // started before it is asked
    EXPECT_EQ(0, capMgr.refs);
    for (const std::wstring& imei : capMgr.imeis) EXPECT_EQ(L"imei-1", imei);

    const std::pair<const char*, std::function<void(FakePlatform&, FakeCapMgr&)>> failures[] = {
        {"class not registered", [](FakePlatform& p, FakeCapMgr&) { p.createResult = REGDB_E_CLASSNOTREG; }},
        {"not running", [](FakePlatform&, FakeCapMgr& c) { c.runResult = E_UNEXPECTED; }},
        {"no ICapMgr", [](FakePlatform&, FakeCapMgr& c) { c.answersCapMgr = false; }},
        {"COM exception", [](FakePlatform& p, FakeCapMgr&) { p.throws = FakePlatform::Throw::ComError; }},
        {"other exception", [](FakePlatform& p, FakeCapMgr&) { p.throws = FakePlatform::Throw::Other; }},
        {"failing load", [](FakePlatform&, FakeCapMgr& c) { c.Set(kP + L"mountpoint/@realpath", Answer::Failing(E_FAIL)); }},
    };
    for (const auto& f : failures) {
        FakeCapMgr fresh;
        fresh.Set(kP + L"mountpoint/@realpath", {L"C:\\"});
        auto machine = std::make_shared<FakePlatform>();
        machine->capMgr = &fresh;
        f.second(*machine, fresh);
        CFMBrowserMapping failing(machine);
        EXPECT_EQ(E_FAIL, InitMapping(failing, L"dev1", L"imei-1")) << f.first;
        EXPECT_FALSE(failing.IsInitialized()) << f.first;
        EXPECT_EQ(0, fresh.refs) << f.first;  // the IUnknown is released in every case
    }
}

} // namespace
