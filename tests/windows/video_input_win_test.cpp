#include "platform/win32/VideoInput_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace vorn::platform::win32;

namespace {

// A software camera as a virtual-camera program registers one: a filter instance in the video
// input category of the machine's class registry, with a friendly name and no description.
class VideoInputWin : public testing::Test {
protected:
    static constexpr const wchar_t* kInstance =
        L"Software\\Classes\\CLSID\\{860BB310-5D01-11d0-BD3B-00A0C911CE86}\\Instance\\"
        L"{5A1E6D2C-0B7F-4C1E-9D3A-7E21C0FFEE01}";

    void SetUp() override {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstance, 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        Set(key, L"FriendlyName", L"Vorn \u865a\u62df Camera");
        Set(key, L"CLSID", L"{5A1E6D2C-0B7F-4C1E-9D3A-7E21C0FFEE01}");
        RegCloseKey(key);
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kInstance); }

    static void Set(HKEY key, const wchar_t* name, const std::wstring& data) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
};

TEST_F(VideoInputWin, SoftwareCameraIsListedWithItsNameAsDescription) {
    const auto devices = NonUsbVideoInputDevices();
    const auto it = std::find_if(devices.begin(), devices.end(), [](const VideoInputDevice& d) {
        return d.displayName.find("5A1E6D2C-0B7F-4C1E-9D3A-7E21C0FFEE01") != std::string::npos ||
               d.displayName.find("5a1e6d2c-0b7f-4c1e-9d3a-7e21c0ffee01") != std::string::npos;
    });
    ASSERT_NE(it, devices.end()) << devices.size() << " devices listed";
    EXPECT_TRUE(it->displayName.starts_with("@device:sw:")) << it->displayName;
    EXPECT_EQ(it->friendlyName, "Vorn \xe8\x99\x9a\xe6\x8b\x9f Camera");
    EXPECT_EQ(it->description, it->friendlyName);
    EXPECT_EQ(it->devicePath, "");
}

TEST(VideoInputClassification, OnlyAHardwareDeviceOnTheUsbBusIsAUsbCamera) {
    const std::string usb = "\\\\?\\usb#vid_046d&pid_0825#1";
    EXPECT_TRUE(IsUsbCamera({"@device:pnp:\\\\?\\usb#vid_046d", "Webcam", "Webcam", usb}));
    EXPECT_FALSE(IsUsbCamera({"@device:sw:{860BB310}\\{x}", "Soft", "Soft", usb}));
    EXPECT_FALSE(IsUsbCamera({"@device:pnp:\\\\?\\root#image#0000", "Root", "Root", usb}));
    EXPECT_FALSE(IsUsbCamera(
        {"@device:pnp:\\\\?\\pci#ven_8086", "Capture", "Capture", "\\\\?\\pci#ven_8086&dev_1234"}));
    EXPECT_FALSE(IsUsbCamera({"@device:pnp:\\\\?\\USB#VID_046D", "Upper", "Upper",
                              "\\\\?\\USB#VID_046D&PID_0825#1"}));  // compared case and all
}

}  // namespace
