#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::platform {

// What VIDIOC_QUERYCAP tells about one V4L2 node.
struct V4l2Capability {
    std::string driver;
    std::string card;
    std::uint32_t capabilities = 0;  // the whole physical device
    std::uint32_t deviceCaps = 0;    // this node; valid when capabilities has V4L2_CAP_DEVICE_CAPS
};

// Asks one device node (a path under the /dev root) for its capabilities; nothing when the node
// cannot be opened or is not a V4L2 device.
using CapabilityQuery = std::function<std::optional<V4l2Capability>(const std::string& node)>;

// Where a video device sits in the device tree.
enum class VideoBus { Usb, Virtual, Other };

struct VideoDevice {
    std::string node;    // "/dev/videoN" as the browser names it, whatever the /dev root
    std::string card;    // card name, valid UTF-8
    std::string driver;  // driver name, valid UTF-8
    VideoBus bus = VideoBus::Other;
};

// The machine's roots by default; tests point them at fixture trees and replace the query.
struct VideoDeviceSource {
    std::filesystem::path sysfsRoot = "/sys";
    std::filesystem::path devRoot = "/dev";
    CapabilityQuery query;  // empty: the real ioctl (QueryV4l2Capability)
};

// The video4linux "videoN" nodes that can capture video, in numeric order of N (video2 before
// video10), duplicates kept. Any thread; blocks while it opens each node. A node that cannot be
// queried is left out; no video4linux class at all gives an empty list. With `includeUsb` false,
// USB nodes are neither opened (that wakes a suspended camera, which can take long) nor listed.
std::vector<VideoDevice> EnumerateVideoDevices(const VideoDeviceSource& source = {},
                                               bool includeUsb = true);

// VIDIOC_QUERYCAP on `node`, opened read-only and non-blocking for the call only.
std::optional<V4l2Capability> QueryV4l2Capability(const std::string& node);

// Video capture (single- or multi-planar) on this node, judged by its own caps when given.
bool CanCaptureVideo(const V4l2Capability& caps);

// Classifies a resolved sysfs device path, relative to <sysfs>/devices: "virtual/..." is
// Virtual; a path through a USB bus (a component "usbN", the root hub) is Usb; else Other.
VideoBus ClassifySysfsDevicePath(std::string_view devicePath);

}  // namespace vorn::platform
