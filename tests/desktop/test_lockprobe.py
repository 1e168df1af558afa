"""The lock's keyboard filters and window-state requests on a real X server, driven through the
lock probe (a bare window using the same platform layer as the main window), with and without a
window manager. Keys are sent with xdotool through XTEST, so they pass the server's grabs exactly as
typed keys do."""

import time
import unittest

import harness
from lockhelpers import LOCK_TABLE, KeyLogger, LockProbe, Rival, send_keys, wait_for_keyboard_grab
from xtree import XView

REFUSED_LINE = "Alt+Tab is already taken by another program"


@unittest.skipIf(harness.EXTRA_WM_RUN, "does not depend on the window manager")
class WithoutWindowManager(unittest.TestCase):
    def setUp(self):
        self.display = harness.Display(window_manager=False).__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)
        self.logger = KeyLogger(self.display)
        self.addCleanup(self.logger.close)
        self.probe = LockProbe(self.display)
        self.addCleanup(self.probe.close)
        self.assertTrue(self.probe.enforceable)

    def test_unlocked_alt_tab_and_super_never_reach_another_window(self):
        self.logger.focus()
        self.logger.clear()
        send_keys(self.display, ["a", "alt+Tab", "alt+shift+Tab", "super", "Super_R",
                                 "shift+super", "alt+Escape", "ctrl+Escape", "b"])
        time.sleep(0.2)
        pressed = self.logger.keysyms()
        self.assertNotIn("Tab", pressed)
        self.assertNotIn("Super_L", pressed)
        self.assertNotIn("Super_R", pressed)
        # The rest of the keyboard is untouched while unlocked.
        self.assertEqual([k for k in pressed if k in ("a", "b", "Escape")],
                         ["a", "Escape", "Escape", "b"])
        self.assertFalse([l for l in self.probe.lock_log() if REFUSED_LINE in l])

    def test_lock_takes_every_key_and_unlock_gives_it_back(self):
        self.assertEqual(self.probe.command("lock"), "lock held")
        self.logger.focus()
        self.logger.clear()
        send_keys(self.display, LOCK_TABLE + ["x", "y"])
        time.sleep(0.2)
        self.assertEqual(self.logger.keysyms(), [])
        self.assertEqual(self.probe.typed(), "xy")
        # Locking twice keeps the one grab; unlocking once releases it.
        self.assertEqual(self.probe.command("lock"), "lock held")
        self.probe.command("unlock")
        self.logger.focus()
        self.logger.clear()
        send_keys(self.display, ["z", "alt+Escape"])
        time.sleep(0.2)
        self.assertEqual(self.logger.keysyms(), ["z", "Alt_L", "Escape"])
        self.assertEqual(self.probe.typed(), "xy")

    def test_killed_client_releases_all_its_grabs(self):
        self.assertEqual(self.probe.command("lock"), "lock held")
        self.probe.kill()
        self.logger.focus()
        self.logger.clear()
        send_keys(self.display, ["k", "alt+Tab", "super"])
        time.sleep(0.2)
        pressed = self.logger.keysyms()
        self.assertIn("k", pressed)
        self.assertIn("Tab", pressed)
        self.assertIn("Super_L", pressed)


class WithWindowManager(unittest.TestCase):
    """Locked, the probe holds the screen as the main window does: no window manager manages it,
    so the manager's requests (minimise, close) reach nothing, and whether it is on top is told by
    the X server's own stacking order. No manager activates a held window either: the focus is
    set directly."""

    def setUp(self):
        self.display = harness.Display(window_manager=True).__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)
        self.logger = KeyLogger(self.display)
        self.addCleanup(self.logger.close)
        self.probe = LockProbe(self.display)
        self.addCleanup(self.probe.close)
        self.tree = XView(self.display)
        self.addCleanup(self.tree.close)

    def refused_lines(self):
        return [l for l in self.probe.lock_log() if REFUSED_LINE in l]

    def held(self):
        return self.tree.is_held(self.probe.window, (0, 0, *self.display.screen_size()))

    def lock_and_wait_held(self):
        self.assertEqual(self.probe.command("lock"), "lock held")
        harness.wait_until(self.held, 10, 0.02, what="the screen held by the probe")
        self.assertEqual(self.probe.state()["held"], "1")

    def focus(self, window):
        # The X focus, not the manager's active window: asked to activate another window while a
        # held screen has the keyboard, Xfwm4 does nothing.
        self.display.xdotool("windowfocus", "--sync", str(window))
        time.sleep(0.1)

    def x_focus(self):
        return int(self.display.xdotool("getwindowfocus"))

    def assert_minimise_reaches_nothing(self, times, pause):
        for _ in range(times):
            self.display.xdotool("windowminimize", str(self.probe.window))
            time.sleep(pause)
        time.sleep(0.3)
        self.assertTrue(self.held())
        self.assertEqual(self.probe.state()["minimized"], "0")

    def test_window_manager_keeps_alt_tab_and_says_so_once(self):
        # Mutter holds the key by an XInput 2 grab, which a core grab does not collide with:
        # nothing is refused there, and nothing is said.
        expected = 1 if self.display.alt_tab_grab == "core" else 0
        if expected:
            harness.wait_until(self.refused_lines, 5, what="the refused-grab line")
        self.logger.focus()
        self.logger.clear()
        send_keys(self.display, ["super", "Super_R"])
        time.sleep(0.2)
        self.assertEqual(self.logger.keysyms(), [])
        for _ in range(2):
            self.probe.command("lock")
            self.probe.command("unlock")
        self.assertEqual(len(self.refused_lines()), expected, self.probe.lock_log())

    def test_locked_window_holds_the_screen_and_keeps_every_shortcut(self):
        self.lock_and_wait_held()
        # Another window may hold the focus; the lock still gets every key.
        self.focus(self.logger.window)
        self.logger.clear()
        send_keys(self.display, LOCK_TABLE + ["q"])
        time.sleep(0.3)
        self.assertEqual(self.logger.keysyms(), [])
        self.assertEqual(self.probe.typed(), "q")
        # Alt+Tab went neither to the window manager's switcher nor closed anything.
        self.assertEqual(self.x_focus(), self.logger.window)
        self.assertTrue(self.held())
        self.assertIsNone(self.probe.proc.poll())

    def test_minimise_requests_reach_nothing_and_leave_the_focus(self):
        self.lock_and_wait_held()
        self.focus(self.logger.window)
        # Sent as a pager would send it (and as xdotool does), to the manager, which holds
        # nothing to minimise.
        self.assert_minimise_reaches_nothing(3, 0.3)
        self.assertNotIn("_NET_WM_STATE_HIDDEN", self.display.net_wm_state(self.probe.window))
        self.assertEqual(self.x_focus(), self.logger.window)
        wait_for_keyboard_grab(self.display, self.logger)
        send_keys(self.display, ["alt+Tab", "w"])
        time.sleep(0.2)
        self.assertEqual(self.logger.keysyms(), [])
        self.assertEqual(self.x_focus(), self.logger.window)
        self.assertTrue(self.probe.typed().endswith("w"))

    def test_minimise_requests_in_a_burst_reach_nothing_without_a_timer(self):
        # Only the display's own events keep a held screen: no timer is needed, and requests
        # close on each other's heels change nothing either.
        self.lock_and_wait_held()
        self.focus(self.logger.window)
        self.probe.command("untimed")
        self.assert_minimise_reaches_nothing(4, 0.02)
        self.assertEqual(self.x_focus(), self.logger.window)

    def test_window_raised_over_the_held_window_goes_under_while_its_gui_thread_is_busy(self):
        # The engine can hold the GUI thread (repainting the window); the platform layer puts a
        # window raised over the held one under again without waiting for it.
        self.lock_and_wait_held()
        start = self.probe.out.count()
        self.probe.command("busy 6000")
        rival = Rival(self.display, name="raised")
        self.addCleanup(rival.close)
        self.display.xdotool("windowraise", str(rival.window))
        harness.wait_until(self.held, 3, 0.02, what="the raised window under the probe")
        self.assertNotIn("free", self.probe.out.texts()[start:])

    def test_grab_stays_when_the_focused_locked_window_is_asked_to_minimise(self):
        self.lock_and_wait_held()
        self.focus(self.probe.window)
        for _ in range(5):
            self.display.xdotool("windowminimize", str(self.probe.window))
            # Well inside the periodic re-grab's half second.
            time.sleep(0.1)
            before = self.x_focus()
            send_keys(self.display, ["alt+Tab"], pause=0.1)
            self.assertEqual(self.x_focus(), before)
        self.logger.clear()
        send_keys(self.display, ["super"])
        time.sleep(0.1)
        self.assertEqual(self.logger.keysyms(), [])
        self.assertTrue(self.held())

    def test_modal_dialog_open_when_the_lock_starts_is_above_the_held_window_and_usable(self):
        # A save dialog or a page's alert open when the page locks blocks the exam window: left
        # with the manager, under the held window, the candidate could reach neither.
        line = self.probe.command("dialog")
        dialog = int(line.split()[1])
        harness.wait_until(lambda: self.tree.viewable(dialog), 10, what="the dialog shown")
        self.lock_and_wait_held()
        harness.wait_until(lambda: self.tree.above(dialog, self.probe.window), 5, 0.02,
                           what="the dialog above the held window")
        time.sleep(1)
        self.assertTrue(self.tree.above(dialog, self.probe.window))
        # It has the keyboard.
        self.display.xdotool("type", "--delay", "50", "ok")
        self.probe.out.wait(lambda l: l == "dialog typed ok", 5, what="the text in the dialog")
        self.assertEqual(self.probe.typed(), "")
        # Unlocked, the manager has it again, as it had it before.
        self.probe.command("unlock")
        harness.wait_until(lambda: not self.tree.attributes(dialog).override_redirect
                           and self.tree.toplevel(dialog) not in (None, dialog), 10,
                           what="the dialog given back to the window manager")

    def test_close_refused_while_locked_and_alt_f4_closes_after_unlock(self):
        self.lock_and_wait_held()
        # The manager's close request names a window it does not manage; Alt+F4 is the lock's.
        self.display.run(["wmctrl", "-i", "-c", str(self.probe.window)])
        self.focus(self.probe.window)
        self.display.xdotool("key", "alt+F4")
        time.sleep(1.0)
        self.assertIsNone(self.probe.proc.poll())
        self.assertTrue(self.held())
        self.probe.command("unlock")
        # Given back to the window manager, which applies the close request when it gets to it.
        harness.wait_until(lambda: not self.tree.attributes(self.probe.window).override_redirect
                           and self.tree.toplevel(self.probe.window) != self.probe.window, 10,
                           what="the probe given back to the window manager")
        self.assertNotIn("_NET_WM_STATE_ABOVE", self.display.net_wm_state(self.probe.window))
        self.display.xdotool("windowactivate", "--sync", str(self.probe.window))
        self.display.close_request(self.probe.window)
        self.assertEqual(self.probe.proc.wait(10), 0)

    def test_killed_locked_client_gives_the_keyboard_back(self):
        self.lock_and_wait_held()
        self.probe.kill()
        self.logger.focus()
        self.logger.clear()
        send_keys(self.display, ["k", "ctrl+Escape"])
        time.sleep(0.2)
        self.assertEqual(self.logger.keysyms(), ["k", "Control_L", "Escape"])


@unittest.skipIf(harness.EXTRA_WM_RUN, "does not depend on the window manager")
class UncontrollableDisplay(unittest.TestCase):
    def test_offscreen_platform_reports_the_lock_cannot_be_enforced(self):
        with harness.Display(window_manager=False) as display:
            probe = LockProbe(display, env={"QT_QPA_PLATFORM": "offscreen"})
            try:
                self.assertFalse(probe.enforceable)
                self.assertEqual(probe.command("lock"), "lock unenforceable")
                self.assertEqual(probe.state()["filter"], "0")
                self.assertTrue([l for l in probe.lock_log() if "cannot be locked" in l])
            finally:
                probe.close()

    def test_x11_inside_a_wayland_session_is_not_claimed_as_locked(self):
        with harness.Display(window_manager=False) as display:
            probe = LockProbe(display, env={"WAYLAND_DISPLAY": "wayland-0"})
            try:
                self.assertFalse(probe.enforceable)
                self.assertEqual(probe.command("lock"), "lock unenforceable")
            finally:
                probe.close()


if __name__ == "__main__":
    unittest.main()
