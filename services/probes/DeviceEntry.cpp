#include "services/probes/DeviceEntry.h"

#include <string_view>

namespace vorn {

// The prefixes are ASCII and compared with the UTF-16 code units themselves rather than with a
// code-page narrowing: a narrowing would turn characters it cannot represent into "?" (or a
// best-fit ASCII letter), and such a lossy "?" must not make a device path look like "\\?\".
VideoDeviceClass ClassifyVideoDevice(const DeviceEntry& entry) {
    const std::u16string_view displayName = entry.displayName;
    if (displayName.starts_with(u"@device:sw"))
        return kNotUsbCamera;
    if (displayName.starts_with(u"@device:pnp:\\\\?\\root"))
        return kNotUsbCamera;
    if (std::u16string_view(entry.devicePath).starts_with(u"\\\\?\\usb#"))
        return kUsbCamera;
    return kNotUsbCamera;
}

}  // namespace vorn
