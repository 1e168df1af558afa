#pragma once

// A window, window manager and keyboard that only write down what the lock asked of them, in one
// journal, so that a test sees the order of the lock's steps across all three.
#include "services/lock/WindowLock.h"

#include <functional>
#include <string>
#include <vector>

namespace vorn::test {

using Journal = std::vector<std::string>;

inline std::string OnOff(bool on) {
    return on ? " on" : " off";
}

class FakeKeyboardFilter : public platform::IKeyboardFilter {
public:
    explicit FakeKeyboardFilter(Journal& journal) : m_journal(journal) {}

    bool IsEnforceable() const override { return true; }
    void InstallWindowFilter() override { m_journal.push_back("keyboard window filter on"); }
    void RemoveWindowFilter() override { m_journal.push_back("keyboard window filter off"); }
    bool InstallLockFilter(platform::NativeWindow window) override {
        m_journal.push_back("keyboard grab " + std::to_string(window));
        m_installed = true;
        return grabTaken;
    }
    void RemoveLockFilter() override {
        m_journal.push_back("keyboard release");
        m_installed = false;
    }
    bool IsLockFilterInstalled() const override { return m_installed; }
    void Reassert() override { m_journal.push_back("keyboard reassert"); }

    // What InstallLockFilter answers (false: the display server refused the grab for now).
    bool grabTaken = true;

private:
    Journal& m_journal;
    bool m_installed = false;
};

class FakeWindowState : public platform::IWindowState {
public:
    explicit FakeWindowState(Journal& journal) : m_journal(journal) {}

    bool CanEnforceLock() const override { return enforceable; }
    void SetTopmost(platform::NativeWindow, bool on) override {
        m_journal.push_back("topmost" + OnOff(on));
    }
    bool IsForeground(platform::NativeWindow) const override { return foreground; }
    void SetFullScreen(platform::NativeWindow, bool on) override {
        m_journal.push_back("whole screen" + OnOff(on));
    }
    void ShowMaximizedNoActivate(platform::NativeWindow, bool wholeScreen) override {
        m_journal.push_back(wholeScreen ? "back without focus, whole screen"
                                        : "back without focus, maximised");
    }
    void GuardStacking(platform::NativeWindow, bool on) override {
        m_journal.push_back("stacking guard" + OnOff(on));
    }
    void KeepOnTop(platform::NativeWindow) override { m_journal.push_back("keep on top"); }
    bool HoldScreen(platform::NativeWindow, const std::string& coverText) override {
        if (!holdable)
            return false;
        m_journal.push_back("hold screen");
        this->coverText = coverText;
        held = true;
        return true;
    }
    void ReleaseScreen(platform::NativeWindow) override {
        m_journal.push_back("release screen");
        held = false;
    }

    bool enforceable = true;
    bool foreground = true;
    // Whether HoldScreen succeeds (false: the managed requests are the way, as on a display
    // that cannot be held).
    bool holdable = false;
    bool held = false;
    std::string coverText;

private:
    Journal& m_journal;
};

// The toolkit's window: states are set by the test (and by the show requests, as a toolkit would
// report them); the soon-to-run steps wait until the test runs them.
class FakeLockHost : public ILockHost {
public:
    static constexpr platform::NativeWindow kHandle = 0x2a00007;

    explicit FakeLockHost(Journal& journal) : m_journal(journal) {}

    platform::NativeWindow Handle() const override { return kHandle; }
    bool IsMinimized() const override { return minimized; }
    bool IsMaximized() const override { return maximized; }
    bool IsFullScreen() const override { return fullScreen; }
    void ShowMinimized() override {
        m_journal.push_back("minimise");
        minimized = true;
    }
    void ShowMaximized() override {
        m_journal.push_back("maximise");
        maximized = true;
        minimized = false;
    }
    void ShowNormal() override {
        m_journal.push_back("restore");
        maximized = minimized = false;
    }
    void Close() override { m_journal.push_back("close"); }
    void SetAppBarVisible(bool visible) override {
        m_journal.push_back("app bar" + OnOff(visible));
    }
    void SetDragHeight(int pixels) override {
        m_journal.push_back("drag height " + std::to_string(pixels));
    }
    void StartTicks(int periodMs) override {
        m_journal.push_back("ticks every " + std::to_string(periodMs) + " ms");
    }
    void StopTicks() override { m_journal.push_back("ticks stop"); }
    void RunSoon(std::function<void()> step) override { m_soon.push_back(std::move(step)); }

    // Runs the steps queued so far, as the event loop would once the current event is done.
    void RunQueued() {
        std::vector<std::function<void()>> steps;
        steps.swap(m_soon);
        for (auto& step : steps)
            step();
    }
    std::size_t Queued() const { return m_soon.size(); }

    bool minimized = false;
    bool maximized = false;
    bool fullScreen = false;

private:
    Journal& m_journal;
    std::vector<std::function<void()>> m_soon;
};

}  // namespace vorn::test
