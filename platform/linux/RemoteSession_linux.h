#pragma once

#include "platform/RemoteSession.h"

#include <string_view>
#include <vector>

namespace vorn::platform {

// The rule on X11 and Wayland, over the display name the session gives ($DISPLAY; empty without
// an X display): remote when the display name names a host (a display reached over TCP, as SSH
// X11 forwarding does with "localhost:10"), or the X server of the display is a VNC, RDP or NX
// server (Xvnc, Xorg with xrdp's configuration, nxagent, ...), or a screen server (x11vnc,
// x0vncserver, vino-server, krfb, ...) serves it. Without an X display: a Wayland screen server
// (wayvnc, weston's RDP back end) runs. Pure, any thread.
bool IsRemoteDisplay(std::string_view display, const std::vector<ProcessRecord>& processes);

}  // namespace vorn::platform
