#include "platform/LockSupport.h"

#include <windows.h>

namespace vorn::platform {
namespace {

LRESULT CALLBACK PassOn(int code, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class HookLockSupport : public ILockSupport {
public:
    // The lock's keyboard filter is a low-level keyboard hook on the input desktop; where one
    // cannot be set (a service session, a desktop this user may not hook) nothing of the lock
    // would hold.
    bool DisplayAllowsLock() const override {
        HDESK desktop = OpenInputDesktop(0, FALSE, DESKTOP_HOOKCONTROL);
        if (!desktop)
            return false;
        CloseDesktop(desktop);
        HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, PassOn, GetModuleHandleW(nullptr), 0);
        if (!hook)
            return false;
        UnhookWindowsHookEx(hook);
        return true;
    }
};

}  // namespace

std::unique_ptr<ILockSupport> CreateLockSupport() {
    return std::make_unique<HookLockSupport>();
}

}  // namespace vorn::platform
