#include "platform/KeyboardFilter.h"

#include "common/LogSink.h"
#include "platform/LockSupport.h"
#include "platform/win32/KeyboardHook_win.h"
#include "platform/win32/OwnWindow_win.h"

#include <windows.h>

namespace vorn::platform {
namespace {

// Both filters are low-level keyboard hooks of the whole input desktop (win32::KeyboardHook): a
// hook sees every key before any window does, so unlike a grab on X11 it needs no window to be
// mapped or focused, and nothing a window manager owns is out of its reach.
class KeyboardFilter final : public IKeyboardFilter {
public:
    KeyboardFilter() : m_enforceable(CreateLockSupport()->DisplayAllowsLock()) {
        if (!m_enforceable)
            log::Warning(log::Area::Lock,
                         "Keyboard hooks cannot be set on this desktop: the task-switching keys "
                         "are NOT blocked.");
    }

    bool IsEnforceable() const override { return m_enforceable; }

    void InstallWindowFilter() override {
        if (m_enforceable)
            m_window.Install();
    }
    void RemoveWindowFilter() override { m_window.Remove(); }

    bool InstallLockFilter(NativeWindow window) override {
        if (!m_enforceable || !win32::OwnTopLevelWindow(window))
            return false;
        m_lockWanted = true;
        return m_lock.Install();
    }
    void RemoveLockFilter() override {
        m_lockWanted = false;
        m_lock.Remove();
    }
    bool IsLockFilterInstalled() const override { return m_lockWanted; }

    // A hook the system refused is asked for again, at most once a second: every refusal is
    // logged. (A hook that the system drops for answering too slowly is not reported to its owner
    // at all; keeping the hook procedure short is the only defence.)
    void Reassert() override {
        if (!m_lockWanted || m_lock.IsInstalled())
            return;
        const ULONGLONG now = GetTickCount64();
        if (now - m_lastRetry < kRetryMs)
            return;
        m_lastRetry = now;
        m_lock.Install();
    }

private:
    static constexpr ULONGLONG kRetryMs = 1000;
    bool m_enforceable;
    ULONGLONG m_lastRetry = 0;
    bool m_lockWanted = false;
    win32::KeyboardHook m_window{win32::KeyboardHook::Table::Window};
    win32::KeyboardHook m_lock{win32::KeyboardHook::Table::Lock};
};

}  // namespace

std::unique_ptr<IKeyboardFilter> CreateKeyboardFilter() {
    return std::make_unique<KeyboardFilter>();
}

}  // namespace vorn::platform
