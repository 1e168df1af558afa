#include "platform/win32/OwnWindow_win.h"

namespace vorn::platform::win32 {

HWND OwnTopLevelWindow(NativeWindow window) {
    HWND hwnd = reinterpret_cast<HWND>(window);
    if (!hwnd || !IsWindow(hwnd) || GetAncestor(hwnd, GA_ROOT) != hwnd)
        return nullptr;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid == GetCurrentProcessId() ? hwnd : nullptr;
}

}  // namespace vorn::platform::win32
