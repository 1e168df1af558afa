#include "services/probes/DeviceEntry.h"

#include <gtest/gtest.h>

using vorn::ClassifyVideoDevice;
using vorn::DeviceEntry;
using vorn::kNotUsbCamera;
using vorn::kUsbCamera;
using vorn::VideoDeviceClass;

namespace {

VideoDeviceClass Classify(std::u16string displayName, std::u16string devicePath) {
    return ClassifyVideoDevice(
        DeviceEntry{std::move(displayName), u"Cam", u"", std::move(devicePath)});
}

constexpr char16_t kUsbPath[] = u"\\\\?\\usb#vid_046d&pid_0825&mi_00#6&2a0f1c1&0&0000#{65e8773d}";
constexpr char16_t kUsbMoniker[] = u"@device:pnp:\\\\?\\usb#vid_046d&pid_0825&mi_00#6&2a0f1c1";

}  // namespace

TEST(ClassifyVideoDevice, UsbDevicePathMarksACamera) {
    EXPECT_EQ(Classify(kUsbMoniker, kUsbPath), kUsbCamera);
    // Any other bus, a capitalised prefix, or no path at all is listed.
    EXPECT_EQ(Classify(u"@device:pnp:\\\\?\\pci#ven_14f1", u"\\\\?\\pci#ven_14f1&dev_8880"),
              kNotUsbCamera);
    EXPECT_EQ(Classify(kUsbMoniker, u"\\\\?\\USB#VID_046D&PID_0825"), kNotUsbCamera);
    EXPECT_EQ(Classify(kUsbMoniker, u""), kNotUsbCamera);
    EXPECT_EQ(Classify(kUsbMoniker, u"\\\\?\\usb"), kNotUsbCamera);
}

TEST(ClassifyVideoDevice, SoftwareAndRootDevicesWinOverTheUsbPath) {
    EXPECT_EQ(Classify(u"@device:sw:{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\{27B05C2D}", kUsbPath),
              kNotUsbCamera);
    EXPECT_EQ(Classify(u"@device:pnp:\\\\?\\root#image#0000#{65e8773d}", kUsbPath), kNotUsbCamera);
    // The rules are case-sensitive and anchored at the start.
    EXPECT_EQ(Classify(u"@DEVICE:SW:{860BB310}", kUsbPath), kUsbCamera);
    EXPECT_EQ(Classify(u"@device:pnp:\\\\?\\ROOT#image#0000", kUsbPath), kUsbCamera);
    EXPECT_EQ(Classify(u"x@device:sw:{860BB310}", kUsbPath), kUsbCamera);
}

TEST(ClassifyVideoDevice, NonAsciiNeverStandsInForThePrefix) {
    // A narrowing to a code page could turn these into "?" or "u"; the code units themselves
    // do not match.
    EXPECT_EQ(Classify(u"@device:pnp:\\\\\u4E00\\root#image", kUsbPath), kUsbCamera);
    EXPECT_EQ(Classify(kUsbMoniker, u"\\\\?\\\uFF55sb#vid_046d"), kNotUsbCamera);
}
