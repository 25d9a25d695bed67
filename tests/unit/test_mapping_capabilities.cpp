// The Capability Manager as the mappings use it: its creation and release, and
// how the answers of every shape are read.
#include "test_mapping_fakes.h"

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
    ASSERT_EQ(1u, capMgr.imeis.size());
    EXPECT_EQ(L"356938035643809", capMgr.imeis[0]);

    // Bounds need not start at 0.
    Answer shifted = Answer::Of({L"x", L"y", L"z"});
    shifted.lower = 5;
    rows.clear();
    EXPECT_EQ(S_OK, Ask(shifted, rows));
    EXPECT_EQ((StringList{L"x", L"y", L"z"}), rows);
}

TEST_F(MappingCapabilities, NoMatchesIsSFalseNotAFailure) {
    StringList rows;
    // lower = upper: one unused row only.
    EXPECT_EQ(S_FALSE, Ask(Answer::Of({}), rows));
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(1, log.Count("No items configured"));

    EXPECT_EQ(S_FALSE, Ask(Answer::None(), rows));
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(1, log.Count("No elements found matching the query for capabilities."));

    // VT_EMPTY is read before the error value.
    Answer emptyWithError = Answer::None();
    emptyWithError.error = 3;
    EXPECT_EQ(S_FALSE, Ask(emptyWithError, rows));
}

TEST_F(MappingCapabilities, UnassignedCellsAreSkipped) {
    StringList rows;
    EXPECT_EQ(S_OK, Ask(Answer::Of({std::nullopt, L"b", std::nullopt}), rows));
    EXPECT_EQ((StringList{L"b"}), rows);
    EXPECT_EQ(2, log.Count(qzlog::level_warning, "Unassigned capability from Capability Manager."));

    // All cells unassigned: S_OK with nothing, which callers treat as not configured.
    rows.clear();
    EXPECT_EQ(S_OK, Ask(Answer::Of({std::nullopt}), rows));
    EXPECT_TRUE(rows.empty());
}

TEST_F(MappingCapabilities, FailedRequestsAndErrorValues) {
    StringList rows{L"kept"};
    EXPECT_EQ(E_FAIL, Ask(Answer::Failing(E_UNEXPECTED), rows));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "The request for capabilities failed."));
    // Any result other than S_OK, success codes included.
    EXPECT_EQ(E_FAIL, Ask(Answer::Failing(S_FALSE), rows));
    EXPECT_EQ(2, log.Count(qzlog::level_error, "The request for capabilities failed."));

    EXPECT_EQ(E_FAIL, Ask(Answer::WithError(7, {L"a"}), rows));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "Capablility Manager returned an error retrieving parameters."));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "Error=7"));
    EXPECT_EQ((StringList{L"kept"}), rows);  // nothing appended by a failure
}

TEST_F(MappingCapabilities, WrongVariantTypesAndArrayShapes) {
    StringList rows;
    Answer text;
    text.shape = Answer::Shape::Custom;
    text.custom = [](VARIANT* v) {
        v->vt = VT_BSTR;
        v->bstrVal = SysAllocString(L"C:\\");
    };
    EXPECT_EQ(E_FAIL, Ask(text, rows));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "The request for capability items failed"));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "vCapabilities.vt=0x8"));

    Answer stringArray;
    stringArray.shape = Answer::Shape::Custom;
    stringArray.custom = [](VARIANT* v) {
        v->vt = VT_ARRAY | VT_BSTR;
        v->parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
    };
    EXPECT_EQ(E_FAIL, Ask(stringArray, rows));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "vCapabilities.vt=0x2008"));

    Answer nullArray;
    nullArray.shape = Answer::Shape::Custom;
    nullArray.custom = [](VARIANT* v) {
        v->vt = VT_ARRAY | VT_VARIANT;
        v->parray = nullptr;
    };
    EXPECT_EQ(E_FAIL, Ask(nullArray, rows));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "Failed to extract SafeArray from CapMgr Variant."));

    // One or three dimensions: two indices cannot address them.
    for (UINT dims : {1u, 3u}) {
        Answer shaped;
        shaped.shape = Answer::Shape::Custom;
        shaped.custom = [dims](VARIANT* v) {
            SAFEARRAYBOUND bounds[3] = {{3, 0}, {2, 0}, {2, 0}};
            v->vt = VT_ARRAY | VT_VARIANT;
            v->parray = SafeArrayCreate(VT_VARIANT, dims, bounds);
        };
        EXPECT_EQ(E_FAIL, Ask(shaped, rows)) << dims;
    }

    // No column 1 to read.
    Answer oneColumn = Answer::Of({L"a"});
    oneColumn.columns = 1;
    EXPECT_EQ(E_FAIL, Ask(oneColumn, rows));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "Failed to extract vCapability from SafeArray hr=0x8002000B"));
    EXPECT_TRUE(rows.empty());
}

TEST_F(MappingCapabilities, ArgumentsAreChecked) {
    StringList rows;
    EXPECT_EQ(E_INVALIDARG, probe.getCapabilities(&capMgr, nullptr, rows));
    EXPECT_EQ(E_POINTER, probe.getCapabilities(nullptr, L"q", rows));
    EXPECT_TRUE(capMgr.asked.empty());
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
    EXPECT_EQ(1, log.Count("No Setting for restricted folders found."));
    capMgr.Set(L"r4", Answer::Failing(E_FAIL));
    EXPECT_FALSE(probe.getConfRestrictedFolders(&capMgr, L"r4"));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "The request for restrictedsubfolders failed."));

    // Folder operation names, case-sensitive; unknown ones logged and ignored.
    capMgr.Set(L"all folder ops", {L"copy", L"cut", L"delete", L"rename", L"paste", L"properties", L"new",
                                   L"explore"});
    EXPECT_EQ(0xFFu, probe.getConfForbidFolderOps(&capMgr, L"all folder ops"));
    capMgr.Set(L"odd folder ops", {L"Delete", L"move", L"copy"});
    EXPECT_EQ(0x01u, probe.getConfForbidFolderOps(&capMgr, L"odd folder ops"));
    EXPECT_EQ(1, log.Count(qzlog::level_warning, "Unhandled Forbidden folderOp: Delete"));
    EXPECT_EQ(1, log.Count(qzlog::level_warning, "Unhandled Forbidden folderOp: move"));

    // File operation names: "move" instead of "cut", no "explore"; unknown names silent.
    capMgr.Set(L"all file ops", {L"copy", L"move", L"delete", L"rename", L"paste", L"properties", L"new"});
    EXPECT_EQ(0x7Fu, probe.getConfForbidFileOps(&capMgr, L"all file ops"));
    capMgr.Set(L"odd file ops", {L"cut", L"explore", L"Rename", L"paste"});
    EXPECT_EQ(0x10u, probe.getConfForbidFileOps(&capMgr, L"odd file ops"));
    EXPECT_EQ(0, log.Count("Unhandled Forbidden folderOp: explore"));

    EXPECT_EQ(0u, probe.getConfForbidFileOps(&capMgr, L"unanswered"));
    EXPECT_EQ(1, log.Count("No forbidden operations found."));
    capMgr.Set(L"failing ops", Answer::WithError(2, {L"copy"}));
    EXPECT_EQ(0u, probe.getConfForbidFolderOps(&capMgr, L"failing ops"));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "The request for forbiddenOperations failed."));
}

// ---- creation and release ----

class MappingCapMgrCreation : public MappingTest {
protected:
    // A configuration with one bare mount point, so Init can succeed.
    void SetUpMinimalConfiguration() { capMgr.Set(kP + L"mountpoint/@realpath", {L"C:\\"}); }
};

TEST_F(MappingCapMgrCreation, CreatedStartedAndReleasedBeforeInitReturns) {
    SetUpMinimalConfiguration();
    CFMBrowserMapping mapping(platform);
    ASSERT_EQ(S_OK, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(1, platform->creations);
    EXPECT_TRUE(IsEqualCLSID(CLSID_CapMgr, platform->createdClsid));
    EXPECT_EQ(0x17u, platform->createdContext);
    EXPECT_TRUE(IsEqualIID(IID_IUnknown, platform->createdIid));
    // Started before it is asked for its interface.
    EXPECT_EQ((std::vector<std::string>{"Run", "QI ICapMgr"}), capMgr.events);
    EXPECT_EQ(0, capMgr.refs);
    for (const std::wstring& imei : capMgr.imeis) EXPECT_EQ(L"imei-1", imei);
}

TEST_F(MappingCapMgrCreation, EveryCreationFailureFailsInit) {
    struct Case {
        const char* name;
        std::function<void(FakePlatform&, FakeCapMgr&)> arrange;
        const char* message;
    };
    const Case cases[] = {
        {"class not registered", [](FakePlatform& p, FakeCapMgr&) { p.createResult = REGDB_E_CLASSNOTREG; },
         "hr=0x80040154"},
        {"not running", [](FakePlatform&, FakeCapMgr& c) { c.runResult = E_UNEXPECTED; }, "hr=0x8000FFFF"},
        {"no ICapMgr", [](FakePlatform&, FakeCapMgr& c) { c.answersCapMgr = false; }, "hr=0x80004002"},
        {"COM exception", [](FakePlatform& p, FakeCapMgr&) { p.throws = FakePlatform::Throw::ComError; },
         "Exception caught when creating instance of Capability Manager."},
        {"other exception", [](FakePlatform& p, FakeCapMgr&) { p.throws = FakePlatform::Throw::Other; },
         "Unhandled exception caught when creating instance of Capability Manager."},
    };
    for (const Case& c : cases) {
        FakeCapMgr fresh;
        fresh.Set(kP + L"mountpoint/@realpath", {L"C:\\"});
        auto machine = std::make_shared<FakePlatform>();
        machine->capMgr = &fresh;
        c.arrange(*machine, fresh);
        CFMBrowserMapping mapping(machine);
        EXPECT_EQ(E_FAIL, InitMapping(mapping, L"dev1", L"imei-1")) << c.name;
        EXPECT_FALSE(mapping.IsInitialized()) << c.name;
        EXPECT_TRUE(fresh.asked.empty()) << c.name;
        EXPECT_EQ(0, fresh.refs) << c.name;  // the IUnknown is released in every case
        EXPECT_EQ(1, log.Count(qzlog::level_fatal, c.message)) << c.name;
    }
    const std::string systemText = com::ToAnsi(_com_error(REGDB_E_CLASSNOTREG).ErrorMessage());
    EXPECT_EQ(1, log.Count(qzlog::level_fatal, "Error message=." + systemText));
}

TEST_F(MappingCapMgrCreation, ReleasedAlsoWhenTheLoadFails) {
    capMgr.Set(kP + L"mountpoint/@realpath", Answer::Failing(E_FAIL));
    CFMBrowserMapping mapping(platform);
    EXPECT_EQ(E_FAIL, InitMapping(mapping, L"dev1", L"imei-1"));
    EXPECT_EQ(1, log.Count(qzlog::level_error, "Failed to load configured mapping."));
    EXPECT_EQ(0, capMgr.refs);
}

} // namespace
