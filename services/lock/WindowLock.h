#pragma once

#include "platform/KeyboardFilter.h"
#include "platform/NativeWindow.h"
#include "platform/WindowState.h"
#include "services/lock/LockControl.h"

#include <functional>

namespace vorn {

// What the title bar and the lock ask of the window.
enum class WindowCommand { Minimize, Maximize, Close, Restore };

// The toolkit's side of the window the lock holds: the states the toolkit keeps and the requests
// only the toolkit makes. Main thread only.
class ILockHost {
public:
    virtual ~ILockHost() = default;

    // 0 while the window has no native window yet.
    virtual platform::NativeWindow Handle() const = 0;
    virtual bool IsMinimized() const = 0;
    virtual bool IsMaximized() const = 0;
    virtual bool IsFullScreen() const = 0;
    virtual void ShowMinimized() = 0;
    virtual void ShowMaximized() = 0;
    virtual void ShowNormal() = 0;
    // A close request like any other: the window asks WindowLock::MayClose before it closes.
    virtual void Close() = 0;
    // The skin's application bar (title and buttons) above the page.
    virtual void SetAppBarVisible(bool visible) = 0;
    // The strip at the top of the window that drags it, in pixels; 0: nothing drags the window.
    virtual void SetDragHeight(int pixels) = 0;
    // WindowLock::OnTick every `periodMs` from StartTicks until StopTicks.
    virtual void StartTicks(int periodMs) = 0;
    virtual void StopTicks() = 0;
    // Runs `step` once the event being handled now is done; never after the window is gone.
    virtual void RunSoon(std::function<void()> step) = 0;
};

// The application lock of the main window: keyboard, whole screen, top of the stack, and the
// refusals that keep a candidate in the exam. The window forwards its commands and events here;
// the platform services come in as interfaces, so the steps run without a display. Main thread.
class WindowLock : public ILockControl {
public:
    // Within one period a locked window that was minimised, covered or left comes back.
    static constexpr int kTickPeriodMs = 20;
    // Once unlocked, the top 30 pixels drag the window (the skin's own caption is 32).
    static constexpr int kUnlockedDragHeight = 30;
    // What a locked client shows on every monitor but the exam's.
    static constexpr const char* kCoverText = "考试进行中 Exam in progress";

    // All three outlive the lock.
    WindowLock(ILockHost& window,
               platform::IWindowState& windowState,
               platform::IKeyboardFilter& keyboard);
    ~WindowLock() override;

    void SetLockState(LockState state) override;
    LockState GetLockState() const override { return m_state; }
    bool IsLocked() const { return m_state == LockState::Locked; }
    // Locked, with the screen held by the platform layer (not through the window manager's
    // requests, which are the way only where the screen cannot be held).
    bool IsScreenHeld() const { return m_held; }

    // A title-bar or lock command; close and restore are refused while locked.
    void Command(WindowCommand command);
    // Whether a close request (any source: button, window manager, Alt+F4) may close the window.
    bool MayClose() const;

    // The window's events.
    void OnDeactivated();
    void OnWindowStateChanged();
    // `maximized` counts the whole screen as maximised.
    void OnMaximizedChanged(bool maximized);
    void OnTick();

private:
    void Lock();
    void Unlock();
    void KeepInFront();
    void ComeBack();
    // The tick runs exactly while locked: an idle unlocked client wakes for nothing.
    void UpdateTicks();

    ILockHost& m_window;
    platform::IWindowState& m_windowState;
    platform::IKeyboardFilter& m_keyboard;
    LockState m_state = LockState::Unlocked;
    bool m_held = false;
    bool m_ticking = false;
    bool m_lockWarningGiven = false;
};

}  // namespace vorn
