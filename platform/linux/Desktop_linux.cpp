#include "platform/Desktop.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <string>

namespace vorn::platform {

std::string SessionKind(std::string_view displayPlatform) {
    const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    // A Wayland session is one even when the client talks to it through XWayland.
    const bool waylandSession = displayPlatform.starts_with("wayland") ||
                                (waylandDisplay && waylandDisplay[0] != '\0') ||
                                (sessionType && std::string_view(sessionType) == "wayland");
    if (waylandSession)
        return "linux-wayland";
    if (displayPlatform == "xcb")
        return "linux-x11";
    return "linux-" + std::string(displayPlatform);
}

void OpenWithDesktopHandler(const std::string& url) {
    // Detached: the handler outlives any wait of ours and leaves no child behind.
    QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(url)});
}

}  // namespace vorn::platform
