#include "services/probes/CameraList.h"

#include "platform/linux/VideoDevices_linux.h"

#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <linux/videodev2.h>
#include <sys/stat.h>

#include <map>

using vorn::CameraList;
using vorn::GetVirtualCameraList;
using vorn::VirtualCamerasOf;
using vorn::platform::CanCaptureVideo;
using vorn::platform::ClassifySysfsDevicePath;
using vorn::platform::EnumerateVideoDevices;
using vorn::platform::QueryV4l2Capability;
using vorn::platform::V4l2Capability;
using vorn::platform::VideoBus;
using vorn::platform::VideoDeviceSource;

namespace {

// The camera list over fixture roots and a fake query.
CameraList GetVirtualCameraList(const VideoDeviceSource& source) {
    return VirtualCamerasOf(EnumerateVideoDevices(source, false));
}

constexpr uint32_t kCapture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;

V4l2Capability Caps(std::string driver, std::string card, uint32_t nodeCaps) {
    return V4l2Capability{std::move(driver), std::move(card),
                          nodeCaps | V4L2_CAP_DEVICE_CAPS | V4L2_CAP_META_CAPTURE, nodeCaps};
}

// A device tree laid out as the kernel does it: the class entry links into /sys/devices.
class VideoTree {
public:
    VideoTree() {
        sysfs = dir.Root() / "sys";
        dev = dir.Root() / "dev";
        dir.MakeFolder("sys/class/video4linux");
        dir.MakeFolder("dev");
    }
    // Adds node `name` at `devicePath` (relative to /sys/devices) answering `caps`.
    void add(const std::string& name,
             const std::string& devicePath,
             std::optional<V4l2Capability> caps) {
        dir.Write("sys/devices/" + devicePath + "/video4linux/" + name + "/name",
                  caps ? caps->card + "\n" : "\n");
        dir.Link("sys/class/video4linux/" + name,
                 "../../devices/" + devicePath + "/video4linux/" + name);
        dir.Write("dev/" + name, "");
        answers[(dev / name).native()] = std::move(caps);
    }
    VideoDeviceSource source() {
        VideoDeviceSource s{sysfs, dev, {}};
        s.query = [this](const std::string& node) -> std::optional<V4l2Capability> {
            queried.push_back(node);
            auto it = answers.find(node);
            return it == answers.end() ? std::nullopt : it->second;
        };
        return s;
    }

    vorn::test::TempFolder dir{"vorn-probes"};
    std::filesystem::path sysfs, dev;
    std::map<std::string, std::optional<V4l2Capability>> answers;
    std::vector<std::string> queried;
};

constexpr const char* kUsbWebcam = "pci0000:00/0000:00:14.0/usb1/1-6/1-6:1.0";
constexpr const char* kPciCard = "pci0000:00/0000:00:1c.0/0000:03:00.0";

}  // namespace

TEST(SysfsDevicePath, UsbOnlyBelowARootHub) {
    EXPECT_EQ(
        ClassifySysfsDevicePath("pci0000:00/0000:00:14.0/usb1/1-6/1-6:1.0/video4linux/video0"),
        VideoBus::Usb);
    EXPECT_EQ(ClassifySysfsDevicePath("platform/fe380000.usb/usb3/3-1/3-1:1.0/video4linux/video2"),
              VideoBus::Usb);
    EXPECT_EQ(ClassifySysfsDevicePath("pci0000:00/0000:00:14.0/usb12/12-1/12-1.4/12-1.4:1.0"),
              VideoBus::Usb);
    // Controllers and devices that merely carry "usb" in their names are not on the bus.
    EXPECT_EQ(ClassifySysfsDevicePath("platform/fe380000.usb/video4linux/video0"), VideoBus::Other);
    EXPECT_EQ(ClassifySysfsDevicePath("platform/usb/video4linux/video0"), VideoBus::Other);
    EXPECT_EQ(ClassifySysfsDevicePath("platform/usbcam0x/video4linux/video0"), VideoBus::Other);
    EXPECT_EQ(ClassifySysfsDevicePath("pci0000:00/0000:00:02.0/usb_hdmi/video4linux/video0"),
              VideoBus::Other);
    EXPECT_EQ(ClassifySysfsDevicePath("virtual/video4linux/video4"), VideoBus::Virtual);
    // "virtual" counts only at the top of the device tree.
    EXPECT_EQ(ClassifySysfsDevicePath("platform/virtual/video4linux/video4"), VideoBus::Other);
    EXPECT_EQ(ClassifySysfsDevicePath(kPciCard), VideoBus::Other);
}

TEST(V4l2Caps, NodeCapsDecideWhenPresent) {
    EXPECT_TRUE(CanCaptureVideo(Caps("uvcvideo", "Cam", kCapture)));
    EXPECT_TRUE(CanCaptureVideo(Caps("rkisp", "Isp", V4L2_CAP_VIDEO_CAPTURE_MPLANE)));
    // A metadata node of a camera whose device as a whole can capture.
    EXPECT_FALSE(CanCaptureVideo(V4l2Capability{"uvcvideo", "Cam", kCapture | V4L2_CAP_DEVICE_CAPS,
                                                V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING}));
    EXPECT_FALSE(CanCaptureVideo(Caps("hantro", "Codec", V4L2_CAP_VIDEO_M2M_MPLANE)));
    EXPECT_FALSE(CanCaptureVideo(Caps("v4l2 loopback", "Out", V4L2_CAP_VIDEO_OUTPUT)));
    // Old drivers without per-node caps: the device caps are all there is.
    EXPECT_TRUE(CanCaptureVideo(V4l2Capability{"bttv", "BT878", V4L2_CAP_VIDEO_CAPTURE, 0}));
    EXPECT_FALSE(CanCaptureVideo(V4l2Capability{"old", "Radio", V4L2_CAP_TUNER, kCapture}));
}

TEST(CameraList, OnlyAUsbWebcamGivesAnEmptyList) {
    VideoTree tree;
    ASSERT_FALSE(tree.dir.Root().empty());
    tree.add("video0", kUsbWebcam, Caps("uvcvideo", "Integrated Camera", kCapture));
    tree.add("video1", kUsbWebcam,
             V4l2Capability{"uvcvideo", "Integrated Camera", kCapture | V4L2_CAP_DEVICE_CAPS,
                            V4L2_CAP_META_CAPTURE});
    EXPECT_TRUE(GetVirtualCameraList(tree.source()).empty());
    // Leaving them out does not need to wake them.
    EXPECT_TRUE(tree.queried.empty());

    const auto all = EnumerateVideoDevices(tree.source());
    ASSERT_EQ(all.size(), 1u);  // the metadata node cannot capture
    EXPECT_EQ(all[0].node, "/dev/video0");
    EXPECT_EQ(all[0].bus, VideoBus::Usb);
}

TEST(CameraList, MixedMachine) {
    VideoTree tree;
    ASSERT_FALSE(tree.dir.Root().empty());
    tree.add("video0", kUsbWebcam, Caps("uvcvideo", "Integrated Camera", kCapture));
    tree.add("video1", kUsbWebcam,
             V4l2Capability{"uvcvideo", "Integrated Camera", kCapture | V4L2_CAP_DEVICE_CAPS,
                            V4L2_CAP_META_CAPTURE});
    tree.add("video10", "virtual", Caps("v4l2 loopback", "OBS Virtual Camera", kCapture));
    tree.add("video2", kPciCard, V4l2Capability{"cx23885", "Hauppauge HVR", kCapture, 0});
    tree.add("video3", "virtual", Caps("v4l2 loopback", "OBS Virtual Camera", kCapture));
    tree.add("video4", "platform/fdea0000.codec", Caps("hantro-vpu", "codec", V4L2_CAP_VIDEO_M2M));
    tree.add("video5", kPciCard, std::nullopt);  // cannot be opened or queried
    tree.add("video6", "platform/fe380000.usb/usb3/3-1/3-1:1.0",
             Caps("uvcvideo", "USB Camera", kCapture));
    tree.dir.Link("sys/class/video4linux/video7", "../../devices/virtual/video4linux/video7");
    tree.add("vbi0", kPciCard, Caps("cx23885", "Hauppauge HVR", V4L2_CAP_VBI_CAPTURE));
    tree.add("v4l-subdev0", "platform/i2c", Caps("ov5640", "sensor", kCapture));

    const CameraList cameras = GetVirtualCameraList(tree.source());
    ASSERT_EQ(cameras.size(), 3u);
    // Numeric order of the node index, equal names kept apart by their nodes.
    EXPECT_EQ(cameras[0].devid, "/dev/video2");
    EXPECT_EQ(cameras[0].name, "Hauppauge HVR");
    EXPECT_EQ(cameras[0].desc, "cx23885");
    EXPECT_EQ(cameras[1].devid, "/dev/video3");
    EXPECT_EQ(cameras[1].name, "OBS Virtual Camera");
    EXPECT_EQ(cameras[1].desc, "v4l2 loopback");
    EXPECT_EQ(cameras[2].devid, "/dev/video10");
    EXPECT_EQ(cameras[2].name, "OBS Virtual Camera");

    // Nodes are asked under the /dev root given, never the machine's own; only videoN nodes.
    for (const std::string& node : tree.queried)
        EXPECT_TRUE(node.starts_with((tree.dev / "video").native())) << node;
    // video2-5 and video10: USB nodes are not opened, video7 is a dangling link.
    EXPECT_EQ(tree.queried.size(), 5u);
}

TEST(CameraList, NoVideoClassGivesAnEmptyList) {
    vorn::test::TempFolder dir{"vorn-probes"};
    ASSERT_FALSE(dir.Root().empty());
    EXPECT_TRUE(GetVirtualCameraList(VideoDeviceSource{dir.Root(), dir.Root(), {}}).empty());
}

TEST(CameraList, TruncatedOrInvalidUtf8IsRepaired) {
    VideoTree tree;
    ASSERT_FALSE(tree.dir.Root().empty());
    // "虚拟摄像头" cut after the first byte of its last character, and a stray 0xFF byte.
    tree.add("video0", "virtual",
             Caps("v4l2 loopback", std::string("虚拟摄像头").substr(0, 13), kCapture));
    tree.add("video1", "virtual",
             Caps("drv\xff",
                  "Cam\xff"
                  "era",
                  kCapture));
    const CameraList cameras = GetVirtualCameraList(tree.source());
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[0].name, "虚拟摄像");
    EXPECT_EQ(cameras[1].name,
              "Cam\xEF\xBF\xBD"
              "era");
    EXPECT_EQ(cameras[1].desc, "drv\xEF\xBF\xBD");
}

TEST(V4l2Caps, RealQueryOnNonDevicesGivesNothing) {
    vorn::test::TempFolder dir{"vorn-probes"};
    ASSERT_FALSE(dir.Root().empty());
    dir.Write("video0", "not a device");
    dir.Write("video1", "");
    ::chmod((dir.Root() / "video1").c_str(), 0);
    EXPECT_FALSE(QueryV4l2Capability((dir.Root() / "video0").native()).has_value());
    EXPECT_FALSE(QueryV4l2Capability((dir.Root() / "video1").native()).has_value());
    EXPECT_FALSE(QueryV4l2Capability((dir.Root() / "video9").native()).has_value());

    // With the real query, fixture nodes that are plain files are all left out.
    VideoTree tree;
    ASSERT_FALSE(tree.dir.Root().empty());
    tree.add("video0", "virtual", Caps("v4l2 loopback", "Dummy", kCapture));
    EXPECT_TRUE(EnumerateVideoDevices(VideoDeviceSource{tree.sysfs, tree.dev, {}}).empty());
}
