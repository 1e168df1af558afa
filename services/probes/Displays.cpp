#include "services/probes/Displays.h"

namespace vorn {

namespace {

using vorn::platform::MonitorArea;

bool IsEmpty(const MonitorArea& a) {
    return a.width <= 0 || a.height <= 0;
}

bool Contains(const MonitorArea& outer, const MonitorArea& inner) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

}  // namespace

int CountDisplays(const std::vector<MonitorArea>& monitors) {
    int count = 0;
    for (size_t i = 0; i < monitors.size(); ++i) {
        if (IsEmpty(monitors[i]))
            continue;
        bool shownElsewhere = false;
        for (size_t j = 0; j < monitors.size() && !shownElsewhere; ++j) {
            if (j == i || IsEmpty(monitors[j]) || !Contains(monitors[j], monitors[i]))
                continue;
            // Of two monitors with the same area the first one counts.
            shownElsewhere = !(monitors[j] == monitors[i]) || j < i;
        }
        if (!shownElsewhere)
            ++count;
    }
    return count;
}

}  // namespace vorn
