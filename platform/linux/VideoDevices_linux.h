#pragma once

#include "platform/VideoDevices.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The video4linux side of the device list: the "videoN" nodes of the video4linux class in sysfs,
// asked with VIDIOC_QUERYCAP. The roots and the query can be replaced, so tests run on fixture
// trees.
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

// The machine's roots by default; tests point them at fixture trees and replace the query.
struct VideoDeviceSource {
    std::filesystem::path sysfsRoot = "/sys";
    std::filesystem::path devRoot = "/dev";
    CapabilityQuery query;  // empty: the real ioctl (QueryV4l2Capability)
};

// The device list over the given roots and query.
std::unique_ptr<IVideoDevices> CreateVideoDevices(VideoDeviceSource source);

// The devices over the given roots and query. VideoDevice::node is "/dev/videoN" as the
// browser names it, whatever the /dev root.
std::vector<VideoDevice> EnumerateVideoDevices(const VideoDeviceSource& source,
                                               bool includeUsb = true);

// VIDIOC_QUERYCAP on `node`, opened read-only and non-blocking for the call only.
std::optional<V4l2Capability> QueryV4l2Capability(const std::string& node);

// Video capture (single- or multi-planar) on this node, judged by its own caps when given.
bool CanCaptureVideo(const V4l2Capability& caps);

// Classifies a resolved sysfs device path, relative to <sysfs>/devices: "virtual/..." is
// Virtual; a path through a USB bus (a component "usbN", the root hub) is Usb; else Other.
VideoBus ClassifySysfsDevicePath(std::string_view devicePath);

}  // namespace vorn::platform
