#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vorn::platform {

// Where a video device is attached.
enum class VideoBus { Usb, Virtual, Other };

// Texts are UTF-8, as everywhere in platform/.
struct VideoDevice {
    std::string node;    // the identifier the browser gives the device (on Linux "/dev/videoN")
    std::string card;    // the device's name, valid UTF-8
    std::string driver;  // the driver's name, valid UTF-8
    VideoBus bus = VideoBus::Other;
};

// The machine's video capture devices.
class IVideoDevices {
public:
    virtual ~IVideoDevices() = default;

    // The devices that can capture video, in the system's order (on Linux numeric order of N in
    // videoN, video2 before video10), duplicates kept. Any thread; blocks while it asks each
    // device. A device that cannot be asked is left out; none at all gives an empty list. With
    // `includeUsb` false, USB devices are neither opened (that wakes a suspended camera, which
    // can take long) nor listed.
    virtual std::vector<VideoDevice> Enumerate(bool includeUsb) const = 0;
};

// Never null. Any thread.
std::unique_ptr<IVideoDevices> CreateVideoDevices();

}  // namespace vorn::platform
