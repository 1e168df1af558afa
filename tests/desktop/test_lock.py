"""The application lock of the real client, as a candidate would meet it: the exam page calls
LockApp, and the client must stay maximised and above everything, keep the task-switching keys
from the desktop, come back when minimised, refuse to close, and still let the candidate type into
the page; LockApp with anything but "1" gives the desktop back. Keys go through XTEST (xdotool),
so they pass the X server's grabs exactly as typed keys do."""

import os
import signal
import time
import unittest

from harness import EXTRA_WM_RUN, Client, Display, TestServer, key_taken, wait_until
from lockhelpers import (LOCK_TABLE, KeyLogger, exam_page, send_keys,
                         wait_for_keyboard_grab)
from xtree import XView

MAXIMIZED = {"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"}
ABOVE = "_NET_WM_STATE_ABOVE"
FULLSCREEN = "_NET_WM_STATE_FULLSCREEN"
HIDDEN = "_NET_WM_STATE_HIDDEN"
NOT_WM_DEPENDENT = "does not depend on the window manager: runs in the default run only"
REFUSED_LINE = "Alt+Tab is already taken by another program"


def lock_exam_page(server):
    """The exam page, reporting the lock's availability, its height and the mouse's presses."""
    return exam_page(server,
                     "{event:'load',lock:String(window.__vornLockAvailable),h:innerHeight}",
                     "window.addEventListener('resize',function(){"
                     "report({event:'resize',h:innerHeight})});"
                     "document.addEventListener('mousedown',function(e){"
                     "report({event:'mousedown',x:e.screenX,y:e.screenY})});")


def wait_held(test_class, timeout=10):
    """Locked, the client's window holds the screen as a screen locker's does: no window manager
    manages it (its _NET_WM_STATE is then nobody's to keep: mutter writes its own there), it
    covers the screen and nothing is shown above it."""
    area = (0, 0, *test_class.display.screen_size())
    wait_until(lambda: test_class.tree.is_held(test_class.window, area), timeout, 0.02,
               what="the screen held by the locked client")


def start_client(test_class, window_manager=True, env=None, panel=False):
    test_class.display = Display(window_manager=window_manager).__enter__()
    test_class.panel = test_class.display.start_panel() if panel else None
    test_class.server = TestServer().__enter__()
    test_class.server.add_page("/exam", lock_exam_page(test_class.server))
    test_class.logger = KeyLogger(test_class.display)
    test_class.client = Client(test_class.display, config=f"[Config]\nUrl={test_class.server.origin}/exam\n",
                               env=env).start()
    test_class.tree = XView(test_class.display)
    test_class.server.wait_for_report(lambda r: r.get("event") == "load", 90, what="the exam page")


def stop_client(test_class):
    test_class.tree.close()
    test_class.client.stop()
    test_class.logger.close()
    test_class.server.__exit__()
    test_class.display.__exit__()


class LockedClient(unittest.TestCase):
    """One client through lock, minimise, close attempts, unlock and Alt+F4, in order."""

    @classmethod
    def setUpClass(cls):
        start_client(cls)
        cls.window = cls.client.wait_for_window()
        wait_until(lambda: MAXIMIZED <= cls.display.net_wm_state(cls.window), what="maximised")

    @classmethod
    def tearDownClass(cls):
        stop_client(cls)

    def lock(self, argument):
        self.server.run_in_page(f"LockApp({argument!r})")

    def wait_state(self, predicate, what):
        return wait_until(lambda: predicate(self.display.net_wm_state(self.window)), 10, what=what)

    def focus_other(self):
        self.display.xdotool("windowfocus", "--sync", str(self.logger.window))

    def x_focus(self):
        return int(self.display.xdotool("getwindowfocus"))

    def typed(self):
        reports = self.server.reports_matching(lambda r: r.get("event") == "typed")
        return reports[-1]["value"] if reports else ""

    def double_click_title(self, y):
        g = self.display.geometry(self.window)
        self.display.xdotool("mousemove", str(g["X"] + g["WIDTH"] // 3), str(g["Y"] + y),
                             "click", "--repeat", "2", "--delay", "80", "1")

    def test_1_locked_window_is_maximised_above_and_keeps_every_shortcut(self):
        self.assertEqual(self.server.wait_for_report(lambda r: r.get("event") == "load")["lock"],
                         "true")
        self.lock("1")
        wait_held(self)
        # No window manager activates a held window: the keyboard focus is set directly.
        self.display.xdotool("windowfocus", "--sync", str(self.window))
        self.logger.clear()
        send_keys(self.display, LOCK_TABLE)
        self.display.xdotool("type", "--delay", "50", "ab")
        wait_until(lambda: self.typed() == "ab", 10, what="the typed text in the page")
        # Another window holding the focus gets nothing either; the page still gets the text.
        # (The X focus, not the manager's active window: asked to activate another window
        # while a held screen has the keyboard, Xfwm4 does nothing.)
        self.focus_other()
        send_keys(self.display, LOCK_TABLE)
        self.display.xdotool("type", "--delay", "50", "cd")
        wait_until(lambda: self.typed() == "abcd", 10, what="text typed while another is active")
        self.assertEqual(self.logger.keysyms(), [])
        self.assertEqual(self.x_focus(), self.logger.window)
        self.assertIsNone(self.client.proc.poll())

    def test_2_minimise_requests_reach_nothing_and_leave_the_focus(self):
        self.focus_other()
        # No window manager holds the window, so none can minimise it; the request is sent as
        # a pager would send it (and as xdotool does), to the manager.
        area = (0, 0, *self.display.screen_size())
        for _ in range(3):
            self.display.xdotool("windowminimize", str(self.window))
            time.sleep(0.3)
            self.assertTrue(self.tree.is_held(self.window, area))
        self.assertNotIn(HIDDEN, self.display.net_wm_state(self.window))
        self.assertEqual(self.x_focus(), self.logger.window)
        wait_for_keyboard_grab(self.display, self.logger)
        send_keys(self.display, ["alt+Tab", "super"])
        time.sleep(0.3)
        self.assertEqual(self.logger.keysyms(), [])
        self.assertEqual(self.x_focus(), self.logger.window)

    def test_3_close_requests_are_refused(self):
        self.display.run(["wmctrl", "-i", "-c", str(self.window)])
        self.display.xdotool("windowfocus", "--sync", str(self.window))
        self.display.xdotool("key", "alt+F4")
        time.sleep(1.5)
        self.assertIsNone(self.client.proc.poll())
        self.assertTrue(self.display.find_windows("^CEFBrowser$"))

    def test_4_any_argument_but_1_unlocks(self):
        self.lock("yes")
        # Given back to the window manager, which keeps the state again.
        self.wait_state(lambda s: MAXIMIZED <= s and not {ABOVE, FULLSCREEN} & s,
                        "maximised, not above, not fullscreen")
        self.lock("1")
        wait_held(self)
        self.lock("0")
        self.wait_state(lambda s: MAXIMIZED <= s and not {ABOVE, FULLSCREEN} & s,
                        "unlocked again")
        # Unlocked, the window manager's Alt+Tab works again; the key filter stayed installed
        # once and its refusal was said once. Mutter holds the key by an XInput 2 grab, which a
        # core grab does not collide with: nothing was refused there.
        refused = [l for l in self.client.output().splitlines() if REFUSED_LINE in l]
        expected = 1 if self.display.alt_tab_grab == "core" else 0
        self.assertEqual(len(refused), expected, self.client.output())

    def test_5_unlocked_title_bar_drags_from_its_top_30_pixels(self):
        self.display.xdotool("windowactivate", "--sync", str(self.window))
        # Row 31 is title bar but no longer caption: a double click there does nothing.
        self.double_click_title(31)
        time.sleep(0.8)
        self.assertLessEqual(MAXIMIZED, self.display.net_wm_state(self.window))
        # Row 15 is caption: a double click restores, another maximises again.
        self.double_click_title(15)
        self.wait_state(lambda s: not (MAXIMIZED & s), "restored by the caption")
        self.double_click_title(15)
        self.wait_state(lambda s: MAXIMIZED <= s, "maximised by the caption")

    def test_6_alt_f4_closes_the_unlocked_client(self):
        self.display.xdotool("windowactivate", "--sync", str(self.window))
        self.display.close_request(self.window)
        self.assertEqual(self.client.wait_exit(30), 0)


class KilledWhileLocked(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        start_client(cls)
        cls.window = cls.client.wait_for_window()

    @classmethod
    def tearDownClass(cls):
        stop_client(cls)

    def test_the_x_server_releases_the_grabs_of_a_killed_client(self):
        self.server.run_in_page("LockApp('1')")
        wait_held(self)
        self.logger.focus()
        self.logger.clear()
        send_keys(self.display, ["k"])
        time.sleep(0.3)
        self.assertEqual(self.logger.keysyms(), [])
        os.kill(self.client.proc.pid, signal.SIGKILL)
        self.client.proc.wait(10)
        self.logger.focus()
        self.logger.clear()
        send_keys(self.display, ["k", "ctrl+Escape", "super"])
        time.sleep(0.3)
        # Mutter keeps Super alone for itself (its overview key): then it is the manager's.
        managers_super = key_taken(self.display.env["DISPLAY"], (), "Super_L")
        self.assertEqual(self.logger.keysyms(),
                         ["k", "Control_L", "Escape"] + ([] if managers_super else ["Super_L"]))


@unittest.skipIf(EXTRA_WM_RUN, NOT_WM_DEPENDENT)
class WithoutWindowManager(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        start_client(cls, window_manager=False)
        cls.window = cls.client.wait_for_window()

    @classmethod
    def tearDownClass(cls):
        stop_client(cls)

    def test_1_unlocked_alt_tab_and_super_never_reach_another_window(self):
        self.logger.focus()
        self.logger.clear()
        send_keys(self.display, ["a", "alt+Tab", "super", "Super_R", "alt+Escape", "b"])
        time.sleep(0.3)
        pressed = self.logger.keysyms()
        self.assertEqual([k for k in pressed if k not in ("Alt_L",)], ["a", "Escape", "b"])
        self.assertFalse([l for l in self.client.output().splitlines() if REFUSED_LINE in l])

    def test_2_lock_holds_the_screen_and_takes_the_keys(self):
        self.server.run_in_page("LockApp('1')")
        wait_held(self)
        self.logger.focus()
        self.logger.clear()
        send_keys(self.display, LOCK_TABLE + ["z"])
        time.sleep(0.3)
        self.assertEqual(self.logger.keysyms(), [])


@unittest.skipIf(EXTRA_WM_RUN, NOT_WM_DEPENDENT)
class UnenforceableSession(unittest.TestCase):
    """A display the client cannot control (Qt's offscreen platform stands in for Wayland): the
    page learns it and the log says so plainly."""

    @classmethod
    def setUpClass(cls):
        start_client(cls, env={"QT_QPA_PLATFORM": "offscreen"})

    @classmethod
    def tearDownClass(cls):
        stop_client(cls)

    def test_lock_is_reported_as_not_enforced(self):
        load = self.server.wait_for_report(lambda r: r.get("event") == "load")
        self.assertEqual(load["lock"], "false")
        self.server.run_in_page("LockApp('1')")
        wait_until(lambda: "NOT enforced" in self.client.output(), 20, what="the log line")
        self.assertIn("cannot be locked", self.client.output())


class LockedOverOtherPrograms(unittest.TestCase):
    """A desktop with a panel and other programs open. Locked, the client covers the whole screen,
    panel included, and a window made always-on-top or fullscreen and activated ends below it;
    unlocked, it is maximised again and the other windows keep the states they were given."""

    @classmethod
    def setUpClass(cls):
        start_client(cls, panel=True)
        cls.window = cls.client.wait_for_window()
        wait_until(lambda: MAXIMIZED <= cls.display.net_wm_state(cls.window), what="maximised")
        cls.others = {name: KeyLogger(cls.display, name=name) for name in ("notes", "video", "parked")}
        cls.display.xdotool("windowminimize", str(cls.others["parked"].window))
        wait_until(lambda: HIDDEN in cls.display.net_wm_state(cls.others["parked"].window),
                   what="the parked window minimised")

    @classmethod
    def tearDownClass(cls):
        for other in cls.others.values():
            other.close()
        stop_client(cls)

    def state(self, window):
        return self.display.net_wm_state(window)

    def client_on_top_of(self, other):
        # The held window is no window manager's, so only the X server's own order tells.
        return self.tree.toplevel(other) not in self.tree.shown_above(self.window)

    def assert_ends_below_and_stays(self, other, what):
        start = time.monotonic()
        wait_until(lambda: self.client_on_top_of(other), 5, 0.02, what=f"{what} below the client")
        self.assertLess(time.monotonic() - start, 1.0, what)
        for _ in range(15):
            time.sleep(0.1)
            self.assertTrue(self.client_on_top_of(other), f"{what} came back above the client")

    def test_1_locked_window_covers_the_whole_screen_and_the_panel_area_reaches_the_page(self):
        width, height = self.display.screen_size()
        # The panel reserves its strip: maximised, the window stops above it.
        window_height = self.display.geometry(self.window)["HEIGHT"]
        self.assertLess(window_height, height)
        # The page can load before the view has its size (a 30 px high load has been seen), so the
        # maximised page height is the first one reported within a title bar of the window's.
        maximised = int(self.server.wait_for_report(
            lambda r: "h" in r and int(r["h"]) > window_height - 100, 10,
            what="the page at the maximised window's size")["h"])
        self.server.run_in_page("LockApp('1')")
        wait_held(self)
        # The page follows the window a moment later (seen up to a second under Xfwm4); a person
        # clicks what they see, so the click waits until the page has grown over the panel's strip.
        self.server.wait_for_report(lambda r: r.get("event") == "resize" and int(r["h"]) >= maximised + 30,
                                    10, what="the page grown over the panel's strip")
        # A click in the page must not let the panel back over it (Xfwm4 once moved an active
        # fullscreen window into a band below always-on-top panels, and the panel took clicks
        # over the locked page).
        self.display.xdotool("mousemove", str(width // 2), str(height // 2), "click", "1")
        time.sleep(0.3)
        self.display.xdotool("mousemove", str(width // 2), str(height - 5), "click", "1")
        click = self.server.wait_for_report(
            lambda r: r.get("event") == "mousedown" and int(r["y"]) >= height - 30, 10,
            what="the click in the page where the panel was")
        self.assertEqual(int(click["x"]), width // 2)

    def test_2_always_on_top_window_activated_ends_below_and_stays(self):
        notes = self.others["notes"].window
        self.display.run(["wmctrl", "-i", "-r", str(notes), "-b", "add,above"])
        self.display.xdotool("windowactivate", "--sync", str(notes))
        self.assert_ends_below_and_stays(notes, "an always-on-top window")
        self.assertIn(ABOVE, self.state(notes))

    def test_3_fullscreen_window_activated_ends_below_and_stays(self):
        video = self.others["video"].window
        self.display.run(["wmctrl", "-i", "-r", str(video), "-b", "add,fullscreen"])
        self.display.xdotool("windowactivate", "--sync", str(video))
        self.assert_ends_below_and_stays(video, "a fullscreen window")
        self.assertIn(FULLSCREEN, self.state(video))

    def test_4_unlock_returns_to_maximised_and_the_others_keep_their_states(self):
        self.server.run_in_page("LockApp('0')")
        wait_until(lambda: MAXIMIZED <= self.state(self.window)
                   and not {FULLSCREEN, ABOVE} & self.state(self.window), 10,
                   what="maximised, not fullscreen")
        wait_until(lambda: self.display.geometry(self.window)["HEIGHT"]
                   < self.display.screen_size()[1], 10, what="the panel's strip left free")
        self.assertIn(ABOVE, self.state(self.others["notes"].window))
        self.assertIn(FULLSCREEN, self.state(self.others["video"].window))
        self.assertIn(HIDDEN, self.state(self.others["parked"].window))


if __name__ == "__main__":
    unittest.main()
