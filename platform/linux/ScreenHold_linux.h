#pragma once

#include "platform/NativeWindow.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The X11 screen hold behind IWindowState::HoldScreen: the locked window leaves the window
// manager's hands (override-redirect), covers the primary monitor, plain covers take the other
// monitors, the pointer is grabbed for this program's windows, and whatever is mapped or
// restacked above is put under again, as screen lockers do. One hold per process; GUI thread.
namespace vorn::platform::x11 {

bool HoldScreen(NativeWindow window, const std::string& coverText);
void ReleaseScreen(NativeWindow window);

// Whether the program installed as `exePath` (the target of /proc/<pid>/exe) is an input
// method whose windows (the candidate list) stay usable above a held screen. A path, not a
// name: only the system's own copies count, so a program cannot pass by calling itself so.
bool IsInputMethodProgram(std::string_view exePath);

// One of the root's children as one look at the stacking order sees it.
enum class StackRole {
    Held,         // the exam or a cover
    Own,          // another window of the client (a dialog, a pop-up)
    InputMethod,  // the input method's (its candidate list)
    Other,        // anything else: another program's, a window manager's frame
};
struct StackedWindow {
    std::uint32_t window = 0;
    StackRole role = StackRole::Other;
    // Only asked of the client's own and the input method's windows.
    bool shown = false;
};

// The windows to raise to the top, in this order (the last ends on top), so that nothing but
// the client's own and the input method's windows is above a held one and those of them that
// are shown are above all held ones; nothing when the order is right as it is. `bottomToTop`
// is the root's children as the server lists them; `held` the exam, then the covers.
std::vector<std::uint32_t> PlanRestack(const std::vector<StackedWindow>& bottomToTop,
                                       const std::vector<std::uint32_t>& held);

}  // namespace vorn::platform::x11
