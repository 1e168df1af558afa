#pragma once

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

// The monitors the display server reports for this session (X11: the active RandR monitors of
// the default screen of $DISPLAY, over a connection of its own). Any thread; one round trip.
// Nothing when no display can be reached or the server does not report monitors.
std::optional<std::vector<MonitorArea>> ListMonitors();

}  // namespace vorn::platform
