#pragma once

#include "platform/SingleInstance.h"

#include <string>

namespace vorn::platform {

// On Linux the lock is a file in a private runtime folder ($XDG_RUNTIME_DIR, owned by the user
// and closed to others), else an abstract socket named with the user id whose holder must be that
// same user. This is the lock file's path; empty when there is no such folder (then the abstract
// socket is used).
std::string SingleInstanceLockPath(const std::string& name);

}  // namespace vorn::platform
