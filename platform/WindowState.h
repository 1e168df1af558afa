#pragma once

#include "platform/NativeWindow.h"

#include <memory>
#include <string>

namespace vorn::platform {

// Window-manager requests for the application lock. All operations are called on the GUI thread
// with a shown top-level window of this program; for 0 (no window, or one not created yet) and on
// a display that cannot be controlled they do nothing and the queries return false.
class IWindowState {
public:
    virtual ~IWindowState() = default;

    // False when the lock cannot be enforced on this display: not X11, or X11 through XWayland
    // inside a Wayland session (grabs and stacking then reach only the other X11 clients).
    virtual bool CanEnforceLock() const = 0;

    // Puts the window into the "above others" band or takes it out, without moving or resizing
    // it.
    virtual void SetTopmost(NativeWindow window, bool on) = 0;

    // True when the window manager's active window is this window (or its frame); with no window
    // manager, when the keyboard focus is in it.
    virtual bool IsForeground(NativeWindow window) const = 0;

    // Asks the window manager to show the window over the whole screen it is on, panels and docks
    // included, or to take it back to the state underneath (maximised stays maximised), without
    // moving the focus. Without a window manager nothing covers anything, and nothing is done.
    virtual void SetFullScreen(NativeWindow window, bool on) = 0;

    // Brings a minimised window back, maximised (and covering the whole screen, panels included,
    // when `wholeScreen`), without activating it or taking the focus.
    virtual void ShowMaximizedNoActivate(NativeWindow window, bool wholeScreen) = 0;

    // Keeps a locked window at the top of the stacking order. GuardStacking(window, true) starts
    // following the window manager's stacking changes for it, false stops. KeepOnTop, called on
    // the lock's periodic tick, returns without asking the display server anything unless the
    // stacking changed or a retry is due; when another program's window is above, it asks the
    // window manager to restack this window to the top, and when the manager keeps its active
    // window above every inactive one (an active fullscreen window), it asks for this window to
    // become the active one. Windows that no window manager stacks (override-redirect menus,
    // notifications) and that are shown above are named in the log once each. Other windows' own
    // states are never touched. X11: while guarded, a window the manager minimises is brought
    // back as ShowMaximizedNoActivate does (whole screen if it was) at once, from a thread of the
    // platform layer's own, without waiting for the GUI thread.
    virtual void GuardStacking(NativeWindow window, bool on) = 0;
    virtual void KeepOnTop(NativeWindow window) = 0;

    // Holds the screen the way a screen locker does, with no help from the window manager: the
    // window leaves the manager's hands and covers the primary monitor, every other monitor is
    // covered by a plain surface of this program showing `coverText` (monitors that come and go
    // are followed), the pointer goes to this program's windows only, and whatever another
    // program shows above is put under again as often as it comes back. This program's own
    // dialogs and pop-ups and the input method's windows stay usable above. Minimise, close,
    // move and resize requests of a window manager reach nothing. Returns false where the
    // screen cannot be held (no such window of this program, a display that cannot be
    // controlled, a system without the means); the caller then keeps the managed requests
    // above. Holding again re-asserts the hold.
    virtual bool HoldScreen(NativeWindow window, const std::string& coverText) = 0;
    // Gives the window back to the window manager in the state it had before the hold
    // (maximised stays maximised) and takes the covers away; other programs' windows were never
    // touched. Nothing happens when the window is not held.
    virtual void ReleaseScreen(NativeWindow window) = 0;
};

// Never null. The implementations share the process's one display connection and stacking guard,
// so any number of these may exist. Call on the GUI thread after the GUI application object
// exists.
std::unique_ptr<IWindowState> CreateWindowState();

}  // namespace vorn::platform
