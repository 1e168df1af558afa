#include "services/lock/WindowLock.h"

#include "common/LogSink.h"

namespace vorn {

WindowLock::WindowLock(ILockHost& window,
                       platform::IWindowState& windowState,
                       platform::IKeyboardFilter& keyboard)
    : m_window(window), m_windowState(windowState), m_keyboard(keyboard) {}

WindowLock::~WindowLock() {
    // The window goes; no grab or cover may outlive it.
    m_keyboard.RemoveLockFilter();
    if (m_held)
        m_windowState.ReleaseScreen(m_window.Handle());
}

void WindowLock::SetLockState(LockState state) {
    if (state == LockState::Locked)
        Lock();
    else
        Unlock();
}

void WindowLock::Lock() {
    m_state = LockState::Locked;
    if (!m_windowState.CanEnforceLock() && !m_lockWarningGiven) {
        m_lockWarningGiven = true;
        log::Warning(log::Area::Lock,
                     "The exam page asked for the application lock, but this session (Wayland) "
                     "does not let the client keep other windows and shortcuts away: the lock "
                     "is NOT enforced.");
    }
    // The keyboard is taken first: from the moment the window starts to cover the screen, no
    // task-switching key gets past it. A grab refused now (window not viewable yet, another
    // client's grab) is retried on every tick.
    if (!m_keyboard.InstallLockFilter(m_window.Handle()))
        log::Debug(log::Area::Lock, "keyboard not taken yet for the lock; retrying");
    // Held like a screen locker holds it, the window manager has no say: none of its requests
    // (raise, above, fullscreen) is needed, and a program fighting for the top never wins for
    // good. The hold takes the window off the screen for a moment, so the bar going after it is
    // not seen.
    if (m_windowState.HoldScreen(m_window.Handle(), kCoverText)) {
        m_held = true;
        m_window.SetAppBarVisible(false);
        m_window.SetDragHeight(0);
        UpdateTicks();
        return;
    }
    // The managed way, where the screen cannot be held: the window manager is asked.
    Command(WindowCommand::Maximize);
    m_window.SetAppBarVisible(false);
    m_window.SetDragHeight(0);
    m_windowState.SetTopmost(m_window.Handle(), true);
    m_windowState.GuardStacking(m_window.Handle(), true);
    UpdateTicks();
}

void WindowLock::Unlock() {
    m_state = LockState::Unlocked;
    m_keyboard.RemoveLockFilter();
    if (m_held) {
        // The platform layer gives the window back maximised, as the manager last had it.
        m_held = false;
        m_windowState.ReleaseScreen(m_window.Handle());
        m_window.SetAppBarVisible(true);
        m_window.SetDragHeight(kUnlockedDragHeight);
        UpdateTicks();
        return;
    }
    m_windowState.GuardStacking(m_window.Handle(), false);
    // Back from the whole screen to the maximised state underneath.
    if (m_window.IsFullScreen())
        Command(WindowCommand::Maximize);
    m_window.SetAppBarVisible(true);
    m_window.SetDragHeight(kUnlockedDragHeight);
    m_windowState.SetTopmost(m_window.Handle(), false);
    UpdateTicks();
}

void WindowLock::Command(WindowCommand command) {
    switch (command) {
        case WindowCommand::Close:
            if (!IsLocked())
                m_window.Close();
            return;
        case WindowCommand::Restore:
            if (!IsLocked())
                m_window.ShowNormal();
            return;
        case WindowCommand::Minimize:
            // Allowed while locked too, where the manager holds the window: it comes back at
            // once (OnWindowStateChanged). A held window has no manager to minimise it.
            if (!m_held)
                m_window.ShowMinimized();
            return;
        case WindowCommand::Maximize:
            // A held window covers its monitor already.
            if (m_held)
                return;
            if (!m_window.IsMaximized() && !m_window.IsFullScreen())
                m_window.ShowMaximized();
            // Locked, maximised means the whole screen: panels and docks go under the window too.
            // The maximised state stays underneath, so that leaving the whole screen (unlock)
            // lands on it.
            if (IsLocked()) {
                m_windowState.SetFullScreen(m_window.Handle(), true);
            } else if (m_window.IsFullScreen()) {
                m_windowState.SetFullScreen(m_window.Handle(), false);
                // Marco does not bring back the maximised state it had before the whole screen.
                m_windowState.ShowMaximizedNoActivate(m_window.Handle(), false);
            }
            return;
    }
}

bool WindowLock::MayClose() const {
    if (IsLocked()) {
        log::Debug(log::Area::Lock, "close refused while locked");
        return false;
    }
    return true;
}

void WindowLock::OnDeactivated() {
    if (IsLocked() && !m_held)
        KeepInFront();
}

void WindowLock::OnWindowStateChanged() {
    // Whoever minimised, restored or un-fullscreened the window, a locked window comes back over
    // the whole screen at once (the tick would do it within one period anyway), once the toolkit
    // has finished the change it is reporting. A minimised window may still carry the fullscreen
    // flag (Qt on X11 keeps it): minimised alone decides.
    if (IsLocked() && !m_held && (m_window.IsMinimized() || !m_window.IsFullScreen()))
        m_window.RunSoon([this] { ComeBack(); });
}

void WindowLock::ComeBack() {
    if (!IsLocked() || m_held)
        return;
    if (m_window.IsMinimized())
        m_windowState.ShowMaximizedNoActivate(m_window.Handle(), true);
    else if (!m_window.IsFullScreen())
        Command(WindowCommand::Maximize);
}

void WindowLock::OnMaximizedChanged(bool maximized) {
    if (maximized && IsLocked())
        m_window.SetAppBarVisible(false);
    else if (!maximized && !IsLocked())
        m_window.SetAppBarVisible(true);
}

void WindowLock::OnTick() {
    if (!IsLocked())
        return;
    m_keyboard.Reassert();
    // A held screen is kept by the display's own events.
    if (m_held)
        return;
    if (!m_windowState.IsForeground(m_window.Handle()))
        KeepInFront();
    if (!m_window.IsMinimized())
        m_windowState.KeepOnTop(m_window.Handle());
}

void WindowLock::KeepInFront() {
    if (m_window.IsMinimized())
        m_windowState.ShowMaximizedNoActivate(m_window.Handle(), IsLocked());
    m_windowState.SetTopmost(m_window.Handle(), true);
}

void WindowLock::UpdateTicks() {
    if (IsLocked() && !m_ticking) {
        m_window.StartTicks(kTickPeriodMs);
        m_ticking = true;
    } else if (!IsLocked() && m_ticking) {
        m_window.StopTicks();
        m_ticking = false;
    }
}

}  // namespace vorn
