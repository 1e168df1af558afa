#pragma once

class QWidget;

// Window-manager requests for the application lock. All functions are called on the GUI thread
// with a shown top-level widget (not owned); on a display that cannot be controlled they do
// nothing and the queries return false.
namespace vorn::platform {

// False when the lock cannot be enforced on this display: not X11, or X11 through XWayland inside
// a Wayland session (grabs and stacking then reach only the other X11 clients).
bool CanEnforceLock();

// Puts the window into the "above others" band or takes it out, without moving or resizing it.
void SetTopmost(QWidget* window, bool on);

// True when the window manager's active window is this window (or its frame); with no window
// manager, when the keyboard focus is in it.
bool IsForeground(QWidget* window);

// Brings a minimised window back, maximised, without activating it or taking the focus.
void ShowMaximizedNoActivate(QWidget* window);

}  // namespace vorn::platform
