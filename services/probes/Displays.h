#pragma once

#include "platform/Monitors.h"

#include <vector>

namespace vorn {

// How many displays a person sees: one per monitor, where a monitor whose whole area another
// monitor also shows (mirrored outputs, also at a smaller mode) is not counted again, and empty
// areas not at all. Pure, any thread.
int CountDisplays(const std::vector<vorn::platform::MonitorArea>& monitors);

}  // namespace vorn
