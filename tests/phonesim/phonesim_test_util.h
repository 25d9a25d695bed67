// A phone image of its own, the application object created as Morvane creates it, the control and the device.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <string>

#include "PhoneSimKit.h"

namespace simtest {

using com::ComPtr;
using com::UniqueBstr;
using namespace phonesim::kit;

constexpr HRESULT Hr(unsigned long v) { return static_cast<HRESULT>(v); }
constexpr HRESULT kFileNotFound = Hr(0x80070002), kPathNotFound = Hr(0x80070003), kAccessDenied = Hr(0x80070005),
                  kDeviceNotReady = Hr(0x80070015), kInvalidName = Hr(0x8007007B),
                  kDirNotEmpty = Hr(0x80070091), kBadPathName = Hr(0x800700A1), kAlreadyExists = Hr(0x800700B7);

constexpr wchar_t kImei[] = L"004400000000011";

inline VARIANT Index(long i) {
    VARIANT v;
    V_VT(&v) = VT_I4, V_I4(&v) = i;
    return v;
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        DeviceSpec device{kImei};
        DriveSpec card, rom;  // C:, a card and a read-only drive
        card.letter = L'E', card.removable = true;
        rom.letter = L'Z', rom.readOnly = true;
        device.drives = {DriveSpec(), card, rom};
        image.AddDevice(device);
        image.Fill(L'C', {Dir(L"Data\\Empty\\"), File(L"Data\\a.txt", "hello"),
                          File(L"Data\\b.JPG", "\xff\xd8\xff"), Sized(L"Data\\big.bin", 300000),
                          File(L"Data\\ro.txt", "keep", FILE_ATTRIBUTE_READONLY), File(L"top.txt", "t"),
                          Dir(L"Other\\")});
        image.Fill(L'Z', {File(L"sys.bin", "rom")});
        image.Activate();
        ASSERT_HRESULT_SUCCEEDED(CreateApplication(app.Receive()));
        ASSERT_HRESULT_SUCCEEDED(GetControl(app.Get(), control.Receive()));
        // A process that ran other tests before keeps its session: start afresh.
        UniqueBstr path(image.DescriptionPath().c_str());
        ASSERT_HRESULT_SUCCEEDED(control->LoadDescription(path.Get()));
        ASSERT_HRESULT_SUCCEEDED(control->Reset());
        ASSERT_HRESULT_SUCCEEDED(FindDevice(app.Get(), kImei, device_.Receive()));
    }

    void TearDown() override {
        device_.Reset(), control.Reset(), app.Reset();
        CoUninitialize();
    }

    template <class I>
    ComPtr<I> Item(const std::wstring& path, REFIID iid) {
        ComPtr<I> out;
        EXPECT_HRESULT_SUCCEEDED(GetItem(device_.Get(), path, iid, out.ReceiveVoid())) << std::string(path.begin(), path.end());
        return out;
    }
    ComPtr<ISCDeviceStorageDirectory> Directory(const std::wstring& p) { return Item<ISCDeviceStorageDirectory>(p, IID_ISCDeviceStorageDirectory); }
    ComPtr<ISCDeviceStorageFile> FileAt(const std::wstring& p) { return Item<ISCDeviceStorageFile>(p, IID_ISCDeviceStorageFile); }

    PhoneImage image;
    ComPtr<ISCApplication> app;
    ComPtr<IPhoneSimControl> control;
    ComPtr<ISCDevice> device_;
};

} // namespace simtest
