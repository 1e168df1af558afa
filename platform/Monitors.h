#pragma once

#include <memory>
#include <optional>
#include <vector>

namespace vorn::platform {

// One monitor as the display server lays it out on the desktop, in pixels.
struct MonitorArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const MonitorArea&) const = default;
};

// The monitors of this session's desktop.
class IMonitors {
public:
    virtual ~IMonitors() = default;

    // The monitors the display server reports now, over a connection of the implementation's own
    // (X11: the active RandR monitors of the default screen of $DISPLAY). Any thread; one round
    // trip. Nothing when no display can be reached or the server does not report monitors.
    virtual std::optional<std::vector<MonitorArea>> List() const = 0;
};

// Never null. Any thread.
std::unique_ptr<IMonitors> CreateMonitors();

}  // namespace vorn::platform
