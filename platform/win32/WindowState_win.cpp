#include "platform/WindowState.h"

#include "common/LogSink.h"
#include "platform/LockSupport.h"
#include "platform/win32/OwnWindow_win.h"
#include "platform/win32/Text_win.h"

#include <windows.h>

#include <map>
#include <optional>
#include <set>
#include <string>

namespace vorn::platform {
namespace {

// Restack requests for one window above before it is named in the log as one we cannot pass.
constexpr int kRestackTries = 2;

// What a window looked like before it covered the whole screen, to go back to exactly that.
// A window asked while minimised has no place of its own yet (it sits in the icon area); its
// place is taken when it first comes back, before it is put over the monitor.
struct Windowed {
    LONG_PTR style = 0;
    std::optional<RECT> rect;
};

// Process-wide, like the windows themselves; touched on the GUI thread only.
struct Shared {
    std::map<HWND, Windowed> fullScreen;
    std::set<HWND> guarded;
    // Windows above a guarded one that restacking did not pass: tries made, named in the log yet.
    std::map<HWND, int> stubborn;
    std::set<HWND> named;
};

Shared& State() {
    static Shared shared;
    return shared;
}

using win32::OwnTopLevelWindow;

bool MonitorAreas(HWND hwnd, RECT& whole, RECT& work) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &info))
        return false;
    whole = info.rcMonitor;
    work = info.rcWork;
    return true;
}

void PlaceAt(HWND hwnd, const RECT& rect, UINT extra = 0) {
    SetWindowPos(hwnd, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER | extra);
}

std::string Describe(HWND hwnd) {
    wchar_t className[128] = {};
    GetClassNameW(hwnd, className, 128);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return "\"" + win32::WideToUtf8(className) + "\" of process " + std::to_string(pid);
}

// The first window above `hwnd` that covers part of it and belongs to another program: what the
// lock must stay above. Hidden and minimised windows cover nothing.
HWND CoveringWindowAbove(HWND hwnd) {
    RECT ours;
    if (!GetWindowRect(hwnd, &ours))
        return nullptr;
    for (HWND above = GetWindow(hwnd, GW_HWNDPREV); above; above = GetWindow(above, GW_HWNDPREV)) {
        if (!IsWindowVisible(above) || IsIconic(above))
            continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(above, &pid);
        if (pid == GetCurrentProcessId())
            continue;
        RECT theirs, overlap;
        if (GetWindowRect(above, &theirs) && IntersectRect(&overlap, &ours, &theirs))
            return above;
    }
    return nullptr;
}

void SetFullScreenOf(HWND hwnd, bool on) {
    auto& saved = State().fullScreen;
    const auto it = saved.find(hwnd);
    if (on) {
        Windowed& before =
            it != saved.end() ? it->second : saved.emplace(hwnd, Windowed{}).first->second;
        if (it == saved.end()) {
            before.style = GetWindowLongPtrW(hwnd, GWL_STYLE);
            // No frame and no caption: the shell then counts the window as covering the whole
            // monitor and keeps the taskbar under it. WS_MAXIMIZE stays, so the window still
            // reports itself maximised.
            SetWindowLongPtrW(hwnd, GWL_STYLE,
                              before.style & ~LONG_PTR{WS_CAPTION | WS_THICKFRAME});
        }
        // A minimised window keeps its place in the icon area; it is placed when it comes back.
        if (IsIconic(hwnd))
            return;
        RECT place, whole, work;
        if (!before.rect && GetWindowRect(hwnd, &place))
            before.rect = place;
        if (MonitorAreas(hwnd, whole, work))
            PlaceAt(hwnd, whole, SWP_FRAMECHANGED);
        return;
    }
    if (it == saved.end())
        return;
    const Windowed before = it->second;
    saved.erase(it);
    // The size and visibility bits are the window's current ones; the frame is what it had.
    constexpr LONG_PTR kStateBits = WS_MINIMIZE | WS_MAXIMIZE | WS_VISIBLE | WS_DISABLED;
    const LONG_PTR now = GetWindowLongPtrW(hwnd, GWL_STYLE);
    SetWindowLongPtrW(hwnd, GWL_STYLE, (before.style & ~kStateBits) | (now & kStateBits));
    if (IsIconic(hwnd) || !before.rect)
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    else
        PlaceAt(hwnd, *before.rect, SWP_FRAMECHANGED);
}

class WindowState final : public IWindowState {
public:
    // A low-level keyboard hook on the input desktop is what the lock stands on; stacking and
    // window states need nothing a desktop session lacks.
    bool CanEnforceLock() const override { return CreateLockSupport()->DisplayAllowsLock(); }

    // SWP_NOACTIVATE: SetWindowPos without it activates the window, and the lock re-asserts the
    // band on every tick while another window is in front; it must never take the foreground.
    void SetTopmost(NativeWindow window, bool on) override {
        if (HWND hwnd = OwnTopLevelWindow(window))
            SetWindowPos(hwnd, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    }

    bool IsForeground(NativeWindow window) const override {
        HWND hwnd = OwnTopLevelWindow(window);
        HWND foreground = GetForegroundWindow();
        return hwnd && foreground && GetAncestor(foreground, GA_ROOT) == hwnd;
    }

    void SetFullScreen(NativeWindow window, bool on) override {
        if (HWND hwnd = OwnTopLevelWindow(window))
            SetFullScreenOf(hwnd, on);
    }

    void ShowMaximizedNoActivate(NativeWindow window, bool wholeScreen) override {
        HWND hwnd = OwnTopLevelWindow(window);
        if (!hwnd)
            return;
        if (!IsZoomed(hwnd)) {
            // SW_SHOWMAXIMIZED always activates. A minimised window marked to be restored
            // maximised (WPF_RESTORETOMAXIMIZED) and shown with SW_SHOWNOACTIVATE comes back
            // maximised without activation; a window in its normal state gets there through a
            // minimise that does not activate either (SW_SHOWMINNOACTIVE).
            if (!IsIconic(hwnd))
                ShowWindow(hwnd, SW_SHOWMINNOACTIVE);
            WINDOWPLACEMENT placement{};
            placement.length = sizeof placement;
            if (GetWindowPlacement(hwnd, &placement)) {
                placement.flags |= WPF_RESTORETOMAXIMIZED;
                placement.showCmd = SW_SHOWMINNOACTIVE;
                SetWindowPlacement(hwnd, &placement);
            }
            ShowWindow(hwnd, SW_SHOWNOACTIVATE);
            // A system that ignores the mark (Wine restores the former size and, mapping the
            // window again, has it activated anyway) still gets a maximised window.
            if (!IsZoomed(hwnd)) {
                log::Debug(log::Area::Lock,
                           "restore-to-maximised ignored by the system; maximising directly");
                ShowWindow(hwnd, SW_SHOWMAXIMIZED);
            }
        }
        if (wholeScreen)
            SetFullScreenOf(hwnd, true);
    }

    void GuardStacking(NativeWindow window, bool on) override {
        HWND hwnd = OwnTopLevelWindow(window);
        auto& shared = State();
        if (!hwnd) {
            // A destroyed window's handle may be reused; forget what it left behind.
            shared.guarded.erase(reinterpret_cast<HWND>(window));
            return;
        }
        if (on) {
            shared.guarded.insert(hwnd);
        } else {
            shared.guarded.erase(hwnd);
            shared.stubborn.clear();
        }
    }

    // Every window above a guarded window sits in the same topmost band or above it (the band is
    // set on lock). Walking up from the window costs one call when nothing is above, which is the
    // steady state. A window covering the whole screen that something moved (another program, or
    // a window manager placing it as it came back from the taskbar) is put back first.
    void KeepOnTop(NativeWindow window) override {
        HWND hwnd = OwnTopLevelWindow(window);
        auto& shared = State();
        if (!hwnd || !shared.guarded.count(hwnd))
            return;
        RECT whole, work, now;
        if (shared.fullScreen.count(hwnd) && !IsIconic(hwnd) && GetWindowRect(hwnd, &now) &&
            MonitorAreas(hwnd, whole, work) && !EqualRect(&now, &whole))
            PlaceAt(hwnd, whole);
        HWND above = CoveringWindowAbove(hwnd);
        if (!above)
            return;
        int& tries = shared.stubborn[above];
        if (++tries > kRestackTries && shared.named.insert(above).second) {
            // Shell surfaces with UI access (the Start menu, the on-screen keyboard) stay above
            // every application window; they are named, not fought.
            log::Warning(log::Area::Lock,
                         "A window stays above the locked window: " + Describe(above) + ".");
        }
        SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    }

    // The topmost band above is what holds the screen here; a desktop of the exam's own is not
    // built yet.
    bool HoldScreen(NativeWindow, const std::string&) override { return false; }
    void ReleaseScreen(NativeWindow) override {}
};

}  // namespace

std::unique_ptr<IWindowState> CreateWindowState() {
    return std::make_unique<WindowState>();
}

}  // namespace vorn::platform
