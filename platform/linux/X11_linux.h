#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

class QWindow;

// The X11 calls the Linux display services (the keyboard filter, the window state, the screen
// hold) have in common. Internal to platform/linux.
namespace vorn::platform {

// EWMH and ICCCM values.
inline constexpr std::uint32_t kStateRemove = 0;
inline constexpr std::uint32_t kStateAdd = 1;
inline constexpr std::uint32_t kSourceApplication = 1;
// Requests on the lock's behalf come from the user's side of the desktop, as a pager's would:
// managers apply focus-stealing rules to applications' requests only.
inline constexpr std::uint32_t kSourcePager = 2;
inline constexpr std::uint32_t kWithdrawnState = 0;
inline constexpr std::uint32_t kNormalState = 1;
inline constexpr std::uint32_t kIconicState = 3;

// The toolkit's display connection; null when the client does not run on X11. GUI thread.
xcb_connection_t* GuiConnection();

// The display the toolkit opened (it may have been named on the command line); null: $DISPLAY.
const char* DisplayName();

// The root window of the connection's first screen.
xcb_window_t RootOf(xcb_connection_t* c);

// The atom of `name`, XCB_ATOM_NONE when the server does not answer. One round trip.
xcb_atom_t InternAtom(xcb_connection_t* c, const char* name);

// The 32-bit values of a property; nullopt when the window has no such property of that type.
std::optional<std::vector<std::uint32_t>> Property32(xcb_connection_t* c,
                                                     xcb_window_t window,
                                                     xcb_atom_t property,
                                                     xcb_atom_t type);

// The root's children, bottom to top.
std::vector<xcb_window_t> RootChildren(xcb_connection_t* c, xcb_window_t root);

// The program's own window carrying this X11 id; null for XCB_NONE or a foreign window. GUI
// thread.
QWindow* WindowWithId(xcb_window_t xid);

// A client message about `window` to the window manager (up to five values).
void SendToWindowManager(xcb_connection_t* c,
                         xcb_window_t root,
                         xcb_window_t window,
                         xcb_atom_t type,
                         std::initializer_list<std::uint32_t> data);

}  // namespace vorn::platform
