#include "services/probes/CameraList.h"

#include <utility>

namespace vorn {

CameraList GetVirtualCameraList(const vorn::platform::IVideoDevices& devices) {
    return VirtualCamerasOf(devices.Enumerate(false));
}

CameraList VirtualCamerasOf(std::vector<vorn::platform::VideoDevice> devices) {
    CameraList cameras;
    for (vorn::platform::VideoDevice& device : devices) {
        if (device.bus == vorn::platform::VideoBus::Usb)
            continue;
        cameras.push_back(
            CameraInfo{std::move(device.node), std::move(device.card), std::move(device.driver)});
    }
    return cameras;
}

}  // namespace vorn
