#pragma once

#include <string>

namespace vorn {

// One video input device as the Windows device enumerator reports it (UTF-16 texts). Kept with
// its classification so the Win32 layer can list devices by the same rules.
struct DeviceEntry {
    std::u16string displayName;  // the moniker's display name
    std::u16string friendlyName;
    std::u16string description;
    std::u16string devicePath;
};

// Classification values of ClassifyVideoDevice; a device is listed only when it is not a USB
// camera.
enum VideoDeviceClass : int {
    kNotUsbCamera = 0,
    kUsbCamera = 2,
};

// Software filters and root-enumerated devices are never USB cameras; otherwise a device path
// starting with "\\?\usb#" marks one. Exact, case-sensitive prefixes, first match decides.
// Pure, any thread.
VideoDeviceClass ClassifyVideoDevice(const DeviceEntry& entry);

}  // namespace vorn
