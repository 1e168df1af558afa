#include "services/probes/CameraList.h"

CameraList GetVirtualCameraList() {
    return GetVirtualCameraList(vorn::platform::VideoDeviceSource{});
}

CameraList GetVirtualCameraList(const vorn::platform::VideoDeviceSource& source) {
    CameraList cameras;
    for (vorn::platform::VideoDevice& device :
         vorn::platform::EnumerateVideoDevices(source, false)) {
        if (device.bus == vorn::platform::VideoBus::Usb)
            continue;
        cameras.push_back(
            CameraInfo{std::move(device.node), std::move(device.card), std::move(device.driver)});
    }
    return cameras;
}
