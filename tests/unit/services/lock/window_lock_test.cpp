// The lock's steps against a fake window, window manager and keyboard: what a locked candidate's
// window does, in which order, and what it refuses, without a display.
#include "LockFakes.h"

#include "common/LogSink.h"
#include "services/lock/WindowLock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

using testing::ElementsAre;
using testing::IsEmpty;
using vorn::LockState;
using vorn::WindowCommand;
using vorn::WindowLock;

namespace {

class WindowLockTest : public ::testing::Test {
protected:
    // Locked as the page would lock it, journal cleared, the toolkit's window in the state the
    // window manager leaves a locked window in.
    void LockAndForget() {
        lock->SetLockState(LockState::Locked);
        host.maximized = host.fullScreen = true;
        journal.clear();
    }

    vorn::test::Journal journal;
    vorn::test::FakeLockHost host{journal};
    vorn::test::FakeWindowState windowState{journal};
    vorn::test::FakeKeyboardFilter keyboard{journal};
    std::unique_ptr<WindowLock> lock = std::make_unique<WindowLock>(host, windowState, keyboard);
};

// The keyboard is taken before anything moves, so no task-switching key slips through while the
// window grows over the screen; the window covers the screen and leaves no bar or drag strip
// before it claims the top; the guard and the tick start last, on a window already in place.
TEST_F(WindowLockTest, LockTakesTheKeyboardFirstThenTheWholeScreenThenTheTop) {
    lock->SetLockState(LockState::Locked);
    EXPECT_EQ(lock->GetLockState(), LockState::Locked);
    EXPECT_THAT(journal, ElementsAre("keyboard grab " + std::to_string(host.kHandle), "maximise",
                                     "whole screen on", "app bar off", "drag height 0",
                                     "topmost on", "stacking guard on", "ticks every 20 ms"));
}

// Unlocking gives the keyboard back first and lands on the maximised state under the whole
// screen, with the 30-pixel drag strip of the unlocked window.
TEST_F(WindowLockTest, UnlockReleasesTheKeyboardFirstAndLandsMaximisedWithTheDragStrip) {
    LockAndForget();
    lock->SetLockState(LockState::Unlocked);
    EXPECT_EQ(lock->GetLockState(), LockState::Unlocked);
    EXPECT_THAT(journal, ElementsAre("keyboard release", "stacking guard off", "whole screen off",
                                     "back without focus, maximised", "app bar on",
                                     "drag height 30", "topmost off", "ticks stop"));
}

// A second LockApp("1") does the steps again (the keyboard and screen are taken anew) but does
// not start a second tick; an unlock of an unlocked window stops nothing.
TEST_F(WindowLockTest, TheTickRunsExactlyWhileLocked) {
    lock->SetLockState(LockState::Unlocked);
    EXPECT_THAT(journal, testing::Not(testing::Contains("ticks stop")));
    LockAndForget();
    lock->SetLockState(LockState::Locked);
    EXPECT_THAT(journal, testing::Contains("keyboard grab " + std::to_string(host.kHandle)));
    EXPECT_THAT(journal, testing::Not(testing::Contains("ticks every 20 ms")));
    lock->SetLockState(LockState::Unlocked);
    journal.clear();
    lock->SetLockState(LockState::Unlocked);
    EXPECT_THAT(journal, testing::Not(testing::Contains("ticks stop")));
    lock->SetLockState(LockState::Locked);
    EXPECT_THAT(journal, testing::Contains("ticks every 20 ms"));
}

TEST_F(WindowLockTest, CloseAndRestoreAreRefusedWhileLockedAndCarriedOutAfter) {
    LockAndForget();
    lock->Command(WindowCommand::Close);
    lock->Command(WindowCommand::Restore);
    EXPECT_THAT(journal, IsEmpty());
    // Alt+F4, the window manager's close button: every close request asks.
    EXPECT_FALSE(lock->MayClose());

    lock->SetLockState(LockState::Unlocked);
    journal.clear();
    EXPECT_TRUE(lock->MayClose());
    lock->Command(WindowCommand::Restore);
    lock->Command(WindowCommand::Close);
    EXPECT_THAT(journal, ElementsAre("restore", "close"));
}

// Minimising is not refused (the title bar's button stays), but a locked window comes straight
// back over the whole screen without taking the focus; unlocked, it stays where it was put.
TEST_F(WindowLockTest, MinimisedOrLeftWhileLockedComesBackOnlyWhileLocked) {
    lock->Command(WindowCommand::Minimize);
    lock->OnWindowStateChanged();
    lock->OnDeactivated();
    EXPECT_EQ(host.Queued(), 0u);
    EXPECT_THAT(journal, ElementsAre("minimise"));

    host.minimized = false;
    LockAndForget();
    lock->Command(WindowCommand::Minimize);
    host.fullScreen = false;  // the toolkit reports a minimised window as not fullscreen
    lock->OnWindowStateChanged();
    host.RunQueued();
    EXPECT_THAT(journal, ElementsAre("minimise", "back without focus, whole screen"));

    // Another window activated: the locked one goes back above it.
    journal.clear();
    lock->OnDeactivated();
    EXPECT_THAT(journal, ElementsAre("back without focus, whole screen", "topmost on"));

    // Unlocked before the queued step runs: nothing comes back.
    journal.clear();
    lock->OnWindowStateChanged();
    lock->SetLockState(LockState::Unlocked);
    journal.clear();
    host.RunQueued();
    lock->OnDeactivated();
    EXPECT_THAT(journal, IsEmpty());
}

// Qt on X11 keeps the fullscreen flag beside the minimised one: the window comes back from the
// state change itself, not a tick later.
TEST_F(WindowLockTest, MinimisedWhileStillFlaggedFullscreenComesBackWithoutATick) {
    LockAndForget();
    host.minimized = true;
    lock->OnWindowStateChanged();
    host.RunQueued();
    EXPECT_THAT(journal, ElementsAre("back without focus, whole screen"));
}

// Un-fullscreened by the window manager but still maximised: the whole screen is asked for again.
TEST_F(WindowLockTest, LockedWindowTakenOffTheWholeScreenAsksForItAgain) {
    LockAndForget();
    host.fullScreen = false;
    lock->OnWindowStateChanged();
    host.RunQueued();
    EXPECT_THAT(journal, ElementsAre("whole screen on"));

    journal.clear();
    host.fullScreen = true;
    lock->OnWindowStateChanged();
    EXPECT_EQ(host.Queued(), 0u);
}

TEST_F(WindowLockTest, TickKeepsTheLockedWindowInFrontAndDoesNothingUnlocked) {
    lock->OnTick();
    EXPECT_THAT(journal, IsEmpty());

    LockAndForget();
    lock->OnTick();
    EXPECT_THAT(journal, ElementsAre("keyboard reassert", "keep on top"));

    journal.clear();
    windowState.foreground = false;
    lock->OnTick();
    EXPECT_THAT(journal, ElementsAre("keyboard reassert", "topmost on", "keep on top"));

    // Minimised: brought back first; the stacking waits until it is shown.
    journal.clear();
    host.minimized = true;
    lock->OnTick();
    EXPECT_THAT(journal,
                ElementsAre("keyboard reassert", "back without focus, whole screen", "topmost on"));
}

// Maximise is the whole screen while locked; unlocked, the title bar's maximise leaves a
// fullscreen window for the maximised state underneath.
TEST_F(WindowLockTest, MaximiseMeansTheWholeScreenOnlyWhileLocked) {
    lock->Command(WindowCommand::Maximize);
    EXPECT_THAT(journal, ElementsAre("maximise"));

    LockAndForget();
    lock->Command(WindowCommand::Maximize);
    EXPECT_THAT(journal, ElementsAre("whole screen on"));
}

// The skin's bar hides when a locked window is maximised and comes back only for an unlocked
// window that is no longer maximised.
TEST_F(WindowLockTest, AppBarFollowsMaximisedStateAndLock) {
    lock->OnMaximizedChanged(true);
    EXPECT_THAT(journal, IsEmpty());
    LockAndForget();
    lock->OnMaximizedChanged(false);
    EXPECT_THAT(journal, IsEmpty());
    lock->OnMaximizedChanged(true);
    EXPECT_THAT(journal, ElementsAre("app bar off"));
    lock->SetLockState(LockState::Unlocked);
    journal.clear();
    lock->OnMaximizedChanged(false);
    EXPECT_THAT(journal, ElementsAre("app bar on"));
}

// Held like a screen locker holds it: the window manager is asked for nothing, and none of its
// doings (minimise, restore, another window activated) sets off a step of the lock's own.
class HeldWindowLockTest : public WindowLockTest {
protected:
    HeldWindowLockTest() { windowState.holdable = true; }
};

// The keyboard is taken before the screen, the bar goes with the hold, the tick starts last; no
// request of the managed way (maximise, whole screen, topmost, stacking guard) goes out.
TEST_F(HeldWindowLockTest, LockHoldsTheScreenWithoutAskingTheWindowManager) {
    lock->SetLockState(LockState::Locked);
    EXPECT_TRUE(lock->IsScreenHeld());
    EXPECT_THAT(journal, ElementsAre("keyboard grab " + std::to_string(host.kHandle), "hold screen",
                                     "app bar off", "drag height 0", "ticks every 20 ms"));
    EXPECT_EQ(windowState.coverText, "考试进行中 Exam in progress");
}

TEST_F(HeldWindowLockTest, MinimiseRestoreAndStateChangesOfAHeldWindowDoNothing) {
    LockAndForget();
    lock->Command(WindowCommand::Minimize);
    lock->Command(WindowCommand::Maximize);
    lock->Command(WindowCommand::Restore);
    lock->Command(WindowCommand::Close);
    host.fullScreen = false;
    host.minimized = true;
    lock->OnWindowStateChanged();
    lock->OnDeactivated();
    windowState.foreground = false;
    lock->OnTick();
    EXPECT_EQ(host.Queued(), 0u);
    EXPECT_THAT(journal, ElementsAre("keyboard reassert"));
    EXPECT_FALSE(lock->MayClose());
}

// The platform layer gives the window back maximised; the lock gives back the bar and the drag
// strip. Locked again, the screen is held again.
TEST_F(HeldWindowLockTest, UnlockReleasesTheScreenAndGivesBackTheBar) {
    LockAndForget();
    lock->SetLockState(LockState::Unlocked);
    EXPECT_FALSE(lock->IsScreenHeld());
    EXPECT_THAT(journal, ElementsAre("keyboard release", "release screen", "app bar on",
                                     "drag height 30", "ticks stop"));
    journal.clear();
    lock->SetLockState(LockState::Locked);
    EXPECT_THAT(journal, testing::Contains("hold screen"));
    EXPECT_TRUE(windowState.held);
}

TEST_F(HeldWindowLockTest, DestroyedWhileHeldLeavesNoGrabAndNoCover) {
    LockAndForget();
    lock.reset();
    EXPECT_THAT(journal, ElementsAre("keyboard release", "release screen"));
    EXPECT_FALSE(windowState.held);
}

std::vector<std::string> g_lockLog;

void CaptureLockLog(vorn::log::Area area, vorn::log::Level level, std::string_view message) {
    if (area == vorn::log::Area::Lock && level == vorn::log::Level::Warning)
        g_lockLog.emplace_back(message);
}

// Where the display cannot be controlled (Wayland) the candidate's supervisor must learn it from
// the log, once; the steps still run, so that the window looks locked as far as it can be.
TEST_F(WindowLockTest, UnenforceableLockIsReportedOnceAndStillCarriedOut) {
    windowState.enforceable = false;
    keyboard.grabTaken = false;
    g_lockLog.clear();
    vorn::log::SetSink(&CaptureLockLog);
    lock->SetLockState(LockState::Locked);
    lock->SetLockState(LockState::Unlocked);
    lock->SetLockState(LockState::Locked);
    vorn::log::SetSink(nullptr);
    ASSERT_EQ(g_lockLog.size(), 1u);
    EXPECT_NE(g_lockLog[0].find("NOT enforced"), std::string::npos);
    EXPECT_THAT(journal, testing::Contains("topmost on"));
    EXPECT_TRUE(lock->IsLocked());
}

// A window destroyed while locked leaves no grab behind.
TEST_F(WindowLockTest, DestroyedWhileLockedReleasesTheKeyboard) {
    LockAndForget();
    lock.reset();
    EXPECT_THAT(journal, ElementsAre("keyboard release"));
    EXPECT_FALSE(keyboard.IsLockFilterInstalled());
}

}  // namespace
