#include "platform/Monitors.h"

#include <windows.h>

namespace vorn::platform {
namespace {

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info)) {
        const RECT& r = info.rcMonitor;
        reinterpret_cast<std::vector<MonitorArea>*>(data)->push_back(
            {r.left, r.top, r.right - r.left, r.bottom - r.top});
    }
    return TRUE;
}

// The monitors of the desktop this process shows on, in virtual-screen pixels (the primary
// monitor's top left is 0,0; others may lie at negative positions).
class Monitors final : public IMonitors {
public:
    std::optional<std::vector<MonitorArea>> List() const override {
        std::vector<MonitorArea> areas;
        if (!EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&areas)) ||
            areas.empty())
            return std::nullopt;
        return areas;
    }
};

}  // namespace

std::unique_ptr<IMonitors> CreateMonitors() {
    return std::make_unique<Monitors>();
}

}  // namespace vorn::platform
