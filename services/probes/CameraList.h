#pragma once

#include "platform/VideoDevices.h"
#include "services/probes/CameraInfo.h"

// The machine's video capture devices that are not USB cameras (virtual cameras such as
// v4l2loopback, capture cards on other buses), one entry per device node in numeric order of
// its index, equal names kept. Main thread (it opens each node, so it blocks briefly); the list
// belongs to the caller. Empty when there is no such device or nothing can be read.
CameraList GetVirtualCameraList();

// The same on the device tree and capability query that `source` names (fixture trees in tests).
CameraList GetVirtualCameraList(const vorn::platform::VideoDeviceSource& source);
