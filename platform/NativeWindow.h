#pragma once

#include <cstdint>

namespace vorn::platform {

// A top-level window as the operating system names it (an X11 window id, a Windows HWND); 0 is
// none. The GUI layer passes the toolkit's native id of a created, shown top-level window.
using NativeWindow = std::uintptr_t;

}  // namespace vorn::platform
