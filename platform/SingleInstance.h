#pragma once

#include <string>

// Text crossing the platform seam is UTF-8 in std::string throughout platform/; an
// implementation that needs UTF-16 (Windows) converts at its own boundary.
namespace vorn::platform {

// Takes the single-instance lock of the given name (ASCII) for the calling user and holds it
// until the process ends (the operating system drops it then, also after a crash). Main thread,
// once at start-up. Returns false only when another running instance of the same user holds it.
// The lock is the user's own: nobody else can take or hold it for this user. Anything that keeps
// the lock from being taken (another user squatting the name, no private place for it, an error)
// is logged and counts as taken, so the client starts.
bool AcquireSingleInstance(const std::string& name);

}  // namespace vorn::platform
