// Phone drives as mount points: media kinds, space (with the 32-bit wrap of
// used space), label, phone failures, and use after unbinding.
#include "test_symbian_fixture.h"

#include <functional>

namespace {

using namespace symtest;

const HRESULT kNotReady = static_cast<HRESULT>(0x80070015);

class SymbianMountPoint : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        DeviceSpec phone;
        phone.imei = kImei;
        phone.drives.clear();
        for (long media = 0; media <= 9; ++media) {  // C: to L: carry the media types 0 to 9
            DriveSpec drive;
            drive.letter = static_cast<wchar_t>(L'C' + media);
            drive.label = L"Drive " + std::wstring(1, drive.letter);
            drive.media = media;
            drive.capacity = 1000000;
            drive.free = 250000;
            phone.drives.push_back(drive);
        }
        phone.drives[1].capacity = 1000;  // D: reports more free than capacity
        phone.drives[1].free = 1010;
        m_image.AddDevice(phone);
        Bind(SamplePath(L"raw.xml"), L"phone-raw");
    }
};

TEST_F(SymbianMountPoint, MediaTypesMapToUnknownRemovableOrFixed) {
    const LONG expected[] = {1, 1, 2, 3, 2, 3, 3, 3, 2};
    for (long media = 0; media <= 8; ++media) {
        const wchar_t letter = static_cast<wchar_t>(L'C' + media);
        LONG value = -1;
        EXPECT_EQ(S_OK, MakeMountPoint(L"\\X:\\", letter)->GetMedia(&value)) << media;
        EXPECT_EQ(expected[media], value) << media;
    }
    auto unknown = MakeMountPoint(L"\\L:\\", L'L');
    LONG value = -1;
    EXPECT_EQ(E_FAIL, unknown->GetMedia(&value));
    EXPECT_EQ(1, value);
    EXPECT_GE(m_log.Find("Received unknown media type: 9", 0, "DEBUG"), 0);
    EXPECT_EQ(E_INVALIDARG, unknown->GetMedia(nullptr));
    EXPECT_GE(m_log.Find("Invalid argument received, NULL pointer.", 0, "ERROR"), 0);
}

TEST_F(SymbianMountPoint, SpaceLabelAndFixedProperties) {
    auto c = MakeMountPoint(L"\\C:\\", L'C');
    ULONG capacity = 0, freeBytes = 0, used = 0;
    EXPECT_EQ(S_OK, c->GetMemCapacity(&capacity));
    EXPECT_EQ(S_OK, c->GetMemFree(&freeBytes));
    EXPECT_EQ(S_OK, c->GetMemUsed(&used));
    EXPECT_EQ(1000000u, capacity);
    EXPECT_EQ(250000u, freeBytes);
    EXPECT_EQ(750000u, used);
    EXPECT_EQ(S_OK, MakeMountPoint(L"\\D:\\", L'D')->GetMemUsed(&used));
    EXPECT_EQ(0xFFFFFFF6u, used);  // wraps around in 32 bits

    com::UniqueBstr label, newLabel(L"Renamed");
    EXPECT_EQ(S_OK, c->GetLabel(label.Receive()));
    EXPECT_STREQ(L"Drive C", label.c_str());
    EXPECT_EQ(E_NOTIMPL, c->PutLabel(newLabel.Get()));
    EXPECT_GE(m_log.Find("CSymbianMountPoint::PutLabel not implemented.", 0, "DEBUG"), 0);
    EXPECT_EQ(S_OK, c->GetLabel(label.Receive()));
    EXPECT_STREQ(L"Drive C", label.c_str());

    EXPECT_EQ(L"\\C:\\", PathOf(c.get()));
    DWORD attributes = 5;
    DATE date = 1;
    EXPECT_EQ(S_OK, c->GetAttributes(&attributes));
    EXPECT_EQ(S_OK, c->GetChanged(&date));
    EXPECT_EQ(0u, attributes);
    EXPECT_EQ(0.0, date);
}

TEST_F(SymbianMountPoint, DriveFailuresPassTheirHresultOn) {
    auto c = MakeMountPoint(L"\\C:\\", L'C');
    ULONG value = 0;
    LONG media = 0;
    com::UniqueBstr label;
    const struct {
        long kind;
        std::function<HRESULT()> call;
        const char* text;
    } reads[] = {
        {simCallDriveInformation, [&] { return c->GetMemCapacity(&value); }, "Failed GetMemCapacity. COM Exception caught."},
        {simCallDriveInformation, [&] { return c->GetMemFree(&value); }, "Failed GetMemFree. COM Exception caught."},
        {simCallDriveInformation, [&] { return c->GetMemUsed(&value); }, "Failed GetMemUsed. COM Exception caught."},
        {simCallDriveInformation, [&] { return c->GetMedia(&media); }, "Failed get Media type. COM Exception caught."},
        {simCallDriveLabel, [&] { return c->GetLabel(label.Receive()); }, "Failed GetLabel. COM Exception caught."},
    };
    for (const auto& r : reads) {
        FailNext(r.kind, kNotReady);
        EXPECT_EQ(kNotReady, r.call()) << r.text;
        const int line = m_log.Find(r.text, 0, "ERROR");
        EXPECT_GE(line, 0) << r.text;
        EXPECT_EQ(line + 1, m_log.Find("Error = " + std::to_string(static_cast<long>(kNotReady)), line, "DEBUG"));
    }
    EXPECT_TRUE(label.IsNull());
}

TEST_F(SymbianMountPoint, AfterUnbindingNothingReachesThePhone) {
    auto c = MakeMountPoint(L"\\C:\\", L'C');
    ASSERT_EQ(S_OK, Unbind());
    ASSERT_HRESULT_SUCCEEDED(m_control->ResetCallCounts());
    ULONG value = 0;
    LONG media = 0;
    com::UniqueBstr text;
    EXPECT_EQ(E_FAIL, c->GetMemUsed(&value));
    EXPECT_EQ(E_FAIL, c->GetMedia(&media));
    EXPECT_EQ(E_FAIL, c->GetLabel(text.Receive()));
    EXPECT_EQ(E_FAIL, c->GetPath(text.Receive()));
    EXPECT_TRUE(text.IsNull());
    EXPECT_EQ(0, Calls());
}

} // namespace
