#pragma once

#include <QString>

namespace vorn::platform {

// Takes the single-instance lock of the given name for the calling user and holds it until the
// process ends (the operating system drops it then, also after a crash). Main thread, once at
// start-up. Returns false only when another running instance of the same user holds it. The
// lock is the user's own: a file in a private runtime folder ($XDG_RUNTIME_DIR, owned by the
// user and closed to others), else an abstract socket named with the user id whose holder must
// be that same user. Anything that keeps the lock from being taken (another user squatting
// the name, no runtime folder, an error) is logged and counts as taken, so the client starts.
bool AcquireSingleInstance(const QString& name);

// The lock file in the user's private runtime folder; empty when there is no such folder (then
// the abstract socket is used).
QString SingleInstanceLockPath(const QString& name);

}  // namespace vorn::platform
