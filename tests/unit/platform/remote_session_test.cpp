#include "platform/linux/RemoteSession_linux.h"

#include <gtest/gtest.h>

using vorn::platform::IsRemoteDisplay;
using vorn::platform::ProcessRecord;

namespace {

ProcessRecord Process(std::string name, std::string commandLine) {
    return ProcessRecord{4242, std::move(name), {}, std::move(commandLine)};
}

// A local desktop: the X server on :0, a window manager, a shell.
std::vector<ProcessRecord> LocalDesktop() {
    return {Process("Xorg", "/usr/lib/xorg/Xorg :0 -seat seat0 -auth /var/run/lightdm/root/:0"),
            Process("openbox", "openbox --sm-disable"), Process("bash", "bash")};
}

}  // namespace

TEST(RemoteSession, DisplayNameDecidesLocalOrNetwork) {
    EXPECT_FALSE(IsRemoteDisplay(":0", LocalDesktop()));
    EXPECT_FALSE(IsRemoteDisplay(":0.0", LocalDesktop()));
    EXPECT_FALSE(IsRemoteDisplay("unix:0", LocalDesktop()));
    EXPECT_FALSE(IsRemoteDisplay("unix/:0", LocalDesktop()));
    // SSH X11 forwarding and plain TCP displays.
    EXPECT_TRUE(IsRemoteDisplay("localhost:10.0", LocalDesktop()));
    EXPECT_TRUE(IsRemoteDisplay("192.0.2.7:0", LocalDesktop()));
    EXPECT_TRUE(IsRemoteDisplay("tcp/exam-pc:1", LocalDesktop()));
}

TEST(RemoteSession, VncAndRdpXServersOfThisDisplay) {
    const std::vector<ProcessRecord> xvnc = {
        Process("Xtigervnc", "/usr/bin/Xtigervnc :1 -desktop exam:1 -rfbport 5901")};
    EXPECT_TRUE(IsRemoteDisplay(":1", xvnc));
    // Another display's VNC server does not make this one remote.
    EXPECT_FALSE(IsRemoteDisplay(":0", xvnc));
    EXPECT_TRUE(IsRemoteDisplay(":2", {Process("Xvnc", "Xvnc :2 -geometry 1280x1024")}));
    EXPECT_TRUE(IsRemoteDisplay(
        ":10", {Process("Xorg",
                        "/usr/lib/xorg/Xorg :10 -auth .Xauthority -config xrdp/xorg.conf "
                        "-noreset -nolisten tcp")}));
    EXPECT_TRUE(IsRemoteDisplay(":50", {Process("nxagent", "nxagent -D -name NX :50")}));
    // xpra's X server is an Xvfb known by its argv[0].
    EXPECT_TRUE(IsRemoteDisplay(
        ":100", {Process("Xvfb", "Xvfb-for-Xpra-:100 +extension Composite -nolisten tcp :100")}));
    // A plain Xvfb is local to this machine.
    EXPECT_FALSE(IsRemoteDisplay(":99", {Process("Xvfb", "Xvfb :99 -screen 0 1280x1024x24")}));
}

TEST(RemoteSession, ScreenServersAttachedToThisDisplay) {
    std::vector<ProcessRecord> x11vnc = LocalDesktop();
    x11vnc.push_back(Process("x11vnc", "x11vnc -display :0 -forever -rfbport 5900"));
    EXPECT_TRUE(IsRemoteDisplay(":0", x11vnc));
    EXPECT_FALSE(IsRemoteDisplay(":1", x11vnc));
    EXPECT_TRUE(IsRemoteDisplay(":0", {Process("x0vncserver", "x0vncserver display=:0")}));
    // Without a display argument it serves the display of its environment: this session's.
    EXPECT_TRUE(IsRemoteDisplay(":0", {Process("x11vnc", "x11vnc -forever")}));
    EXPECT_TRUE(IsRemoteDisplay(":0", {Process("vino-server", "/usr/lib/vino/vino-server")}));
}

TEST(RemoteSession, WaylandScreenServers) {
    EXPECT_FALSE(IsRemoteDisplay("", LocalDesktop()));
    EXPECT_TRUE(IsRemoteDisplay("", {Process("wayvnc", "wayvnc 0.0.0.0")}));
    EXPECT_TRUE(IsRemoteDisplay("", {Process("weston", "weston --backend=rdp-backend.so")}));
    EXPECT_FALSE(IsRemoteDisplay("", {Process("weston", "weston")}));
}
