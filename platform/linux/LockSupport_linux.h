#pragma once

#include "platform/LockSupport.h"

#include <xcb/xcb.h>

namespace vorn::platform {

// The lock's rules on an open X connection (null: no display, false). Any thread that may use
// `connection`.
bool LockEnforceableOn(xcb_connection_t* connection);

}  // namespace vorn::platform
