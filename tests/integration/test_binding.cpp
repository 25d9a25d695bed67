// The service bound to a simulated phone through the real replacement
// components: configured (browser), unconfigured (raw), with the memory card,
// and the connect/disconnect notices of the Device Manager.
#include "test_fixture.h"

namespace {

using namespace itest;

class Binding : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        AddPhone(true);
        DeviceSpec other;  // listed beside it, never the one asked for
        other.imei = L"490154203237599";
        m_image.AddDevice(other);
        m_image.Fill(L'C', {Dir(L"Images\\"), Dir(L"Sounds\\"), Dir(L"Data\\Documents\\")});
    }
};

TEST_F(Binding, EachConfigurationGetsItsMappings) {
    const struct {
        const wchar_t *sample, *uid;
        bool browser, card;
    } cases[] = {{L"browser.xml", L"phone-browser", true, false},  // the card is configured absent
                 {L"raw.xml", L"phone-raw", false, false},
                 {L"memorycard.xml", L"phone-card", true, true}};
    for (const auto& c : cases) {
        Bind(SamplePath(c.sample), c.uid);
        ASSERT_TRUE(Connector()->IsInitialized()) << Narrow(c.uid);
        EXPECT_TRUE(m_object->IsDeviceBound());
        EXPECT_EQ(c.browser, Connector()->IsBrowserMappingInUse()) << Narrow(c.uid);
        ASSERT_TRUE(Connector()->GetMapping());
        EXPECT_EQ(c.browser, !Connector()->GetMapping()->GetEntries().empty()) << Narrow(c.uid);
        auto card = Connector()->GetMassStorageMapping();
        EXPECT_EQ(c.card, card != nullptr) << Narrow(c.uid);
        if (card) {
            EXPECT_EQ(std::wstring(L"M:\\"), card->GetPcDrive());
        }
        EXPECT_EQ(std::wstring(kImei), std::wstring(static_cast<const wchar_t*>(Connector()->GetImei())));
        m_fm.Reset();
    }
}

TEST_F(Binding, ConnectNoticesFollowTheStateTable) {
    Bind(SamplePath(L"browser.xml"), L"phone-browser");
    EXPECT_EQ(S_OK, Unbind());
    EXPECT_EQ(S_OK, Unbind());  // not bound
    EXPECT_FALSE(m_object->IsDeviceBound());

    ASSERT_EQ(S_OK, Rebind(L"phone-browser"));
    {  // what is held here keeps the connector alive
        auto mapping = Connector()->GetMapping();
        const unsigned long generation = Connector()->BindingGeneration();
        const BindingGuard guard = Connector()->CurrentBinding();
        EXPECT_TRUE(guard.Valid());
        EXPECT_EQ(S_OK, Rebind(L"phone-browser"));  // the same phone again changes nothing
        EXPECT_TRUE(guard.Valid());
        EXPECT_EQ(mapping, Connector()->GetMapping());
        EXPECT_EQ(generation, Connector()->BindingGeneration());

        // Unbinding frees the binding's mappings for everyone but their holders,
        // who see a new generation; binding again does not revive them.
        EXPECT_EQ(S_OK, Unbind());
        EXPECT_FALSE(m_object->IsDeviceBound());
        EXPECT_FALSE(Connector()->IsInitialized());
        EXPECT_FALSE(Connector()->GetMapping());
        EXPECT_NE(generation, Connector()->BindingGeneration());
        EXPECT_FALSE(guard.Valid());
        EXPECT_TRUE(mapping->IsInitialized());
        ASSERT_EQ(S_OK, Rebind(L"phone-browser"));
        EXPECT_FALSE(guard.Valid());
    }

    // Gone from the device list, where another phone stays: none matches; a retry works.
    auto imei = B(kImei);
    ASSERT_EQ(S_OK, Unbind());
    ASSERT_HRESULT_SUCCEEDED(m_control->Disconnect(imei.Get()));
    EXPECT_EQ(E_FAIL, Rebind(L"phone-browser"));
    EXPECT_FALSE(m_object->IsDeviceBound());
    EXPECT_FALSE(Connector()->IsInitialized());
    EXPECT_EQ(0u, Connector()->GetImei().length());
    EXPECT_GE(m_log.Find("Could not get ISCDevice interface for device", 0, "ERROR"), 0);
    ASSERT_HRESULT_SUCCEEDED(m_control->Reconnect(imei.Get()));
    EXPECT_EQ(S_OK, Rebind(L"phone-browser"));
    EXPECT_TRUE(m_object->IsDeviceBound());

    // Released while bound: unbinds, then deletes the connector, then the executor.
    m_fm.Reset();
    const int before = m_log.Size();
    m_service.Reset();
    const int unbind = m_log.Find("Uninitialize of SymbianConnector", before);
    ASSERT_GE(unbind, 0);
    EXPECT_LT(unbind, m_log.Find("Deleting SymbianConnector", before));
    EXPECT_LT(m_log.Find("Deleting SymbianConnector", before), m_log.Find("Deleting CAsynchOperationExecutor", before));
}

} // namespace
