#pragma once

#include <QString>

namespace vorn::platform {

// Takes the process-wide single-instance lock of the given name and holds it until the process
// ends (the operating system drops it then, also after a crash). Main thread, once at start-up.
// Returns false when another running instance holds it; a lock that cannot be created at all
// (no writable runtime folder) counts as taken, so the client still starts.
bool AcquireSingleInstance(const QString& name);

// Where the lock lives: $XDG_RUNTIME_DIR, else the temporary folder.
QString SingleInstanceLockPath(const QString& name);

}  // namespace vorn::platform
