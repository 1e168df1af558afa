#include "platform/Monitors.h"

#include "common/Logging.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace vorn::platform {
namespace {

struct ConnectionCloser {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

std::optional<std::vector<MonitorArea>> ListRandrMonitors() {
    int screenNumber = 0;
    // A connection of our own: the probe may run off the GUI thread, and Qt's connection is not
    // ours to share across threads.
    std::unique_ptr<xcb_connection_t, ConnectionCloser> connection(
        xcb_connect(nullptr, &screenNumber));
    if (!connection || xcb_connection_has_error(connection.get()))
        return std::nullopt;
    xcb_connection_t* c = connection.get();

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return std::nullopt;
    const xcb_window_t root = screens.data->root;

    // Monitors need RandR 1.5.
    std::unique_ptr<xcb_randr_query_version_reply_t, decltype(&std::free)> version(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr), &std::free);
    if (!version || (version->major_version == 1 && version->minor_version < 5)) {
        qCDebug(lcProbes) << "the display server reports no RandR monitors";
        return std::nullopt;
    }
    std::unique_ptr<xcb_randr_get_monitors_reply_t, decltype(&std::free)> reply(
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, root, 1), nullptr), &std::free);
    if (!reply)
        return std::nullopt;
    std::vector<MonitorArea> monitors;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        monitors.push_back(MonitorArea{it.data->x, it.data->y, it.data->width, it.data->height});
    }
    return monitors;
}

class RandrMonitors : public IMonitors {
public:
    std::optional<std::vector<MonitorArea>> List() const override { return ListRandrMonitors(); }
};

}  // namespace

std::unique_ptr<IMonitors> CreateMonitors() {
    return std::make_unique<RandrMonitors>();
}

}  // namespace vorn::platform
