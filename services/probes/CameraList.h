#pragma once

#include "platform/VideoDevices.h"
#include "services/probes/CameraInfo.h"

#include <vector>

namespace vorn {

// The video capture devices `devices` lists that are not USB cameras (virtual cameras such as
// v4l2loopback, capture cards on other buses), one entry per device in the system's order, equal
// names kept. Main thread (it opens each device, so it blocks briefly); the list belongs to the
// caller. Empty when there is no such device or nothing can be read.
CameraList GetVirtualCameraList(const vorn::platform::IVideoDevices& devices);

// The same over a device list the caller enumerated (USB devices are dropped).
CameraList VirtualCamerasOf(std::vector<vorn::platform::VideoDevice> devices);

}  // namespace vorn
