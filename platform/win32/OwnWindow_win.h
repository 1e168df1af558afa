#pragma once

#include "platform/NativeWindow.h"

#include <windows.h>

namespace vorn::platform::win32 {

// The window as a handle when it is a top-level window of this process, else null. The lock's
// handles come from the toolkit; a stale or foreign one must never move, restack or hook for
// another program's window.
HWND OwnTopLevelWindow(NativeWindow window);

}  // namespace vorn::platform::win32
