#include "platform/linux/VideoDevices_linux.h"

#include "common/LogSink.h"
#include "common/Utf8.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>
#include <utility>

namespace vorn::platform {
namespace {

void Debug(const std::string& line) {
    vorn::log::Debug(vorn::log::Area::Probes, line);
}

constexpr std::string_view kNodePrefix = "video";

// Index N of a "videoN" class entry; other video4linux nodes (vbi, radio, v4l-subdev, ...)
// are never cameras.
std::optional<unsigned> NodeIndex(std::string_view name) {
    if (!name.starts_with(kNodePrefix) || name.size() == kNodePrefix.size())
        return std::nullopt;
    const std::string_view digits = name.substr(kNodePrefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    unsigned index = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return index;
}

// Card and driver names are fixed-size fields that drivers fill by truncating longer names,
// often in the middle of a multi-byte character; the page must still receive valid UTF-8.
std::string ValidUtf8(std::string_view text) {
    size_t keep = text.size();
    for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue;  // continuation byte: keep looking for the lead byte
        // Only a real lead byte starts a cut-off character; other bytes are just invalid.
        const size_t need = byte >= 0xF5   ? 0
                            : byte >= 0xF0 ? 4
                            : byte >= 0xE0 ? 3
                            : byte >= 0xC2 ? 2
                                           : 0;
        if (need > back)
            keep = text.size() - back;
        break;
    }
    return vorn::ValidUtf8(text.substr(0, keep));
}

template <size_t N>
std::string_view FieldText(const __u8 (&field)[N]) {
    const char* chars = reinterpret_cast<const char*>(field);
    return std::string_view(chars, strnlen(chars, N));
}

}  // namespace

std::optional<V4l2Capability> QueryV4l2Capability(const std::string& node) {
    int fd;
    do {
        fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Debug("Cannot open video node " + node + ": " + std::strerror(errno));
        return std::nullopt;
    }
    v4l2_capability raw{};
    int rc;
    do {
        rc = ::ioctl(fd, VIDIOC_QUERYCAP, &raw);
    } while (rc < 0 && errno == EINTR);
    const int queryErrno = errno;
    ::close(fd);
    if (rc < 0) {
        Debug("Video node " + node + " answers no capability query: " + std::strerror(queryErrno));
        return std::nullopt;
    }
    V4l2Capability caps;
    caps.driver = std::string(FieldText(raw.driver));
    caps.card = std::string(FieldText(raw.card));
    caps.capabilities = raw.capabilities;
    caps.deviceCaps = raw.device_caps;
    return caps;
}

bool CanCaptureVideo(const V4l2Capability& caps) {
    const uint32_t nodeCaps =
        (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.deviceCaps : caps.capabilities;
    return (nodeCaps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) != 0;
}

VideoBus ClassifySysfsDevicePath(std::string_view devicePath) {
    bool first = true;
    while (!devicePath.empty()) {
        const size_t slash = devicePath.find('/');
        const std::string_view component = devicePath.substr(0, slash);
        if (first && component == "virtual")
            return VideoBus::Virtual;
        // Every USB device hangs below its root hub "usbN"; controller names such as
        // "xhci-hcd.0.auto" or "fe380000.usb" are not on the USB bus themselves.
        if (component.size() > 3 && component.starts_with("usb") &&
            std::all_of(component.begin() + 3, component.end(),
                        [](char c) { return c >= '0' && c <= '9'; }))
            return VideoBus::Usb;
        first = false;
        if (slash == std::string_view::npos)
            break;
        devicePath.remove_prefix(slash + 1);
    }
    return VideoBus::Other;
}

std::vector<VideoDevice> EnumerateVideoDevices(const VideoDeviceSource& source, bool includeUsb) {
    std::vector<VideoDevice> devices;
    std::error_code ec;
    const std::filesystem::path classDir = source.sysfsRoot / "class" / "video4linux";
    std::vector<std::pair<unsigned, std::filesystem::path>> entries;
    for (std::filesystem::directory_iterator it(classDir, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (auto index = NodeIndex(it->path().filename().native()))
            entries.emplace_back(*index, it->path());
    }
    if (ec && ec != std::errc::no_such_file_or_directory)
        Debug("Cannot list " + classDir.string() + ": " + ec.message());
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });

    const std::filesystem::path devicesRoot =
        std::filesystem::weakly_canonical(source.sysfsRoot / "devices", ec);
    const CapabilityQuery& query =
        source.query ? source.query : CapabilityQuery(QueryV4l2Capability);
    for (const auto& [index, entry] : entries) {
        const std::string name = entry.filename().native();
        // The class entry links to the device's place in the tree; a dangling link is a
        // device that went away during the scan.
        const std::filesystem::path resolved = std::filesystem::canonical(entry, ec);
        if (ec) {
            Debug("Skipping " + name + ": " + ec.message());
            continue;
        }
        std::filesystem::path relative = resolved.lexically_relative(devicesRoot);
        if (relative.empty() || *relative.begin() == "..")
            relative = resolved;

        const VideoBus bus = ClassifySysfsDevicePath(relative.native());
        if (bus == VideoBus::Usb && !includeUsb)
            continue;

        const std::string nodePath = (source.devRoot / name).native();
        const std::optional<V4l2Capability> caps = query(nodePath);
        if (!caps) {
            Debug("Skipping " + name + ": no capabilities");
            continue;
        }
        if (!CanCaptureVideo(*caps)) {
            Debug("Skipping " + name + ": not a video capture node");
            continue;
        }
        VideoDevice device;
        device.node = "/dev/" + name;
        device.card = ValidUtf8(caps->card);
        device.driver = ValidUtf8(caps->driver);
        device.bus = bus;
        devices.push_back(std::move(device));
    }
    return devices;
}

namespace {

class V4l2VideoDevices : public IVideoDevices {
public:
    explicit V4l2VideoDevices(VideoDeviceSource source) : m_source(std::move(source)) {}
    std::vector<VideoDevice> Enumerate(bool includeUsb) const override {
        return EnumerateVideoDevices(m_source, includeUsb);
    }

private:
    VideoDeviceSource m_source;
};

}  // namespace

std::unique_ptr<IVideoDevices> CreateVideoDevices(VideoDeviceSource source) {
    return std::make_unique<V4l2VideoDevices>(std::move(source));
}

std::unique_ptr<IVideoDevices> CreateVideoDevices() {
    return CreateVideoDevices(VideoDeviceSource{});
}

}  // namespace vorn::platform
