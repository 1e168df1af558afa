#pragma once

#include <memory>

// Whether the application lock can be in force on this session's display, for a program that has
// no window of its own (the readiness check); the client asks platform/WindowState.h's
// CanEnforceLock on its GUI connection, with the same rules.
namespace vorn::platform {

class ILockSupport {
public:
    virtual ~ILockSupport() = default;

    // X11: the display named by $DISPLAY can be reached and is not XWayland in a Wayland session
    // (grabs and stacking would reach only the other X11 clients there). Windows: a low-level
    // keyboard hook can be set on this desktop. Any thread; opens and closes a connection of its
    // own.
    virtual bool DisplayAllowsLock() const = 0;
};

// Never null. Any thread.
std::unique_ptr<ILockSupport> CreateLockSupport();

}  // namespace vorn::platform
