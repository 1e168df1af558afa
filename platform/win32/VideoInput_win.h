#pragma once

#include <string>
#include <vector>

// DirectShow's video input devices: what platform/VideoDevices.h's list is made of on Windows.
namespace vorn::platform::win32 {

// One device of the video input category, texts in UTF-8.
struct VideoInputDevice {
    std::string displayName;   // the moniker's display name: the device interface path, or the
                               // category and filter ids of a software device ("@device:sw:...")
    std::string friendlyName;  // "FriendlyName"
    std::string description;   // "Description"; the friendly name when the device has none
    std::string devicePath;    // "DevicePath"; empty when the device has none
};

// Every device of the category in the system enumerator's order, duplicates kept. Initialises
// COM on the calling thread (as a single-threaded apartment, unless the thread already has COM).
// Empty when there is none or the enumerator cannot be created.
std::vector<VideoInputDevice> EnumerateVideoInputDevices();

// A real USB camera: not a software filter ("@device:sw"), not a device that exists only in
// software ("@device:pnp:\\?\root"), and on the USB bus (device path "\\?\usb#"). Each prefix is
// compared exactly, case included.
bool IsUsbCamera(const VideoInputDevice& device);

// What the page's camera list holds: every device that is not a USB camera, in order.
std::vector<VideoInputDevice> NonUsbVideoInputDevices();

}  // namespace vorn::platform::win32
