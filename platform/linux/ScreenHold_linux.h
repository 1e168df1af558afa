#pragma once

#include "platform/NativeWindow.h"

#include <string>
#include <string_view>

// The X11 screen hold behind IWindowState::HoldScreen: the locked window leaves the window
// manager's hands (override-redirect), covers the primary monitor, plain covers take the other
// monitors, the pointer is grabbed for this program's windows, and whatever is mapped or
// restacked above is put under again, as screen lockers do. One hold per process; GUI thread.
namespace vorn::platform::x11 {

bool HoldScreen(NativeWindow window, const std::string& coverText);
void ReleaseScreen(NativeWindow window);
bool IsScreenHeld(NativeWindow window);

// Whether the program installed as `exePath` (the target of /proc/<pid>/exe) is an input
// method whose windows (the candidate list) stay usable above a held screen. A path, not a
// name: only the system's own copies count, so a program cannot pass by calling itself so.
bool IsInputMethodProgram(std::string_view exePath);

}  // namespace vorn::platform::x11
