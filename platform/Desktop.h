#pragma once

#include <string>
#include <string_view>

// The desktop session the client runs in. Stateless calls, main thread.
namespace vorn::platform {

// The kind of session, as the page's client facts name it ("linux-x11", "linux-wayland",
// "windows"); `displayPlatform` is the name the display toolkit gives its own connection
// ("xcb", "wayland", ...).
std::string SessionKind(std::string_view displayPlatform);

// Hands `url` to the desktop's handler of its scheme (the user's mail program for "mailto:"),
// without waiting for it.
void OpenWithDesktopHandler(const std::string& url);

}  // namespace vorn::platform
