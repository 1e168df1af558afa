#include "platform/linux/LockSupport_linux.h"

#include <cstdlib>
#include <cstring>

namespace vorn::platform {

bool LockEnforceableOn(xcb_connection_t* c) {
    if (!c || xcb_connection_has_error(c))
        return false;
    // Through XWayland the grabs and the stacking reach only the other X11 clients; the
    // compositor's own shortcuts and its native windows stay out of reach, so the lock is not
    // in force there either.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* session = std::getenv("XDG_SESSION_TYPE");
    if ((wayland && *wayland) || (session && std::strcmp(session, "wayland") == 0))
        return false;
    static const char kXWayland[] = "XWAYLAND";
    auto* reply = xcb_query_extension_reply(
        c, xcb_query_extension(c, sizeof kXWayland - 1, kXWayland), nullptr);
    const bool xwayland = reply && reply->present;
    std::free(reply);
    return !xwayland;
}

namespace {

class XcbLockSupport : public ILockSupport {
public:
    bool DisplayAllowsLock() const override {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const bool allowed = LockEnforceableOn(c);
        xcb_disconnect(c);
        return allowed;
    }
};

}  // namespace

std::unique_ptr<ILockSupport> CreateLockSupport() {
    return std::make_unique<XcbLockSupport>();
}

}  // namespace vorn::platform
