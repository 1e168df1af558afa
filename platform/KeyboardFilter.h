#pragma once

#include "platform/NativeWindow.h"

#include <memory>

namespace vorn::platform {

// The two keyboard filters of the main window. All operations are called on the GUI thread; the
// filter uses the GUI toolkit's own display connection, so the GUI application object must exist
// for as long as the filter does.
class IKeyboardFilter {
public:
    virtual ~IKeyboardFilter() = default;

    // False when the display cannot be controlled (no X11): every operation then does nothing
    // and InstallLockFilter returns false, so nobody reports a lock that is not in force.
    virtual bool IsEnforceable() const = 0;

    // Window filter, from window construction to destruction: Alt+Tab and the Super keys are
    // swallowed anywhere on the desktop. A key the window manager already owns cannot be taken;
    // it is logged once (vorn.lock warning) and stays usable while unlocked.
    virtual void InstallWindowFilter() = 0;
    virtual void RemoveWindowFilter() = 0;

    // Lock filter: every key comes to `window` (a mapped top-level window of this program),
    // the task-switching combinations are dropped (press and release), all other keys reach the
    // focused widget. Returns false when the grab could not be taken now; the filter still counts
    // as installed and Reassert keeps trying. Installing twice keeps one grab. 0 or a window that
    // is not this program's: false, and nothing is installed.
    virtual bool InstallLockFilter(NativeWindow window) = 0;
    virtual void RemoveLockFilter() = 0;
    virtual bool IsLockFilterInstalled() const = 0;

    // Called by the 20 ms timer while locked: re-takes the grab if the display server dropped it
    // (the window was unmapped, e.g. minimised). Cheap when nothing was lost.
    virtual void Reassert() = 0;
};

// Never null. On a display it cannot control the filter does nothing and IsEnforceable() says so
// (the reason is logged once). Call on the GUI thread after the GUI application object exists.
std::unique_ptr<IKeyboardFilter> CreateKeyboardFilter();

}  // namespace vorn::platform
