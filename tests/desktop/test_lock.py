"""The application lock of the real client, as a candidate would meet it: the exam page calls
LockApp, and the client must stay maximised and above everything, keep the task-switching keys
from the desktop, come back when minimised, refuse to close, and still let the candidate type into
the page; LockApp with anything but "1" gives the desktop back. Keys go through XTEST (xdotool),
so they pass the X server's grabs exactly as typed keys do."""

import os
import signal
import time
import unittest

from harness import Client, Display, TestServer, wait_until
from lockhelpers import LOCK_TABLE, KeyLogger, StateSpy, active_window, send_keys

MAXIMIZED = {"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"}
ABOVE = "_NET_WM_STATE_ABOVE"
REFUSED_LINE = "Alt+Tab is already taken by another program"


def exam_page(server):
    return ("<!doctype html><html><head><meta charset='utf-8'><title>exam</title>"
            f"<script>{server.control_snippet()}</script></head><body>"
            "<input id='answer' autofocus>"
            "<script>var f=document.getElementById('answer');"
            "f.addEventListener('input',function(){report({event:'typed',value:f.value})});"
            "window.addEventListener('load',function(){f.focus();"
            "report({event:'load',lock:String(window.__vornLockAvailable)})});"
            "</script></body></html>")


def start_client(test_class, window_manager=True, env=None):
    test_class.display = Display(window_manager=window_manager).__enter__()
    test_class.server = TestServer().__enter__()
    test_class.server.add_page("/exam", exam_page(test_class.server))
    test_class.logger = KeyLogger(test_class.display)
    test_class.client = Client(test_class.display, config=f"[Config]\nUrl={test_class.server.origin}/exam\n",
                               env=env).start()
    test_class.server.wait_for_report(lambda r: r.get("event") == "load", 90, what="the exam page")


def stop_client(test_class):
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
        self.wait_state(lambda s: ABOVE in s and MAXIMIZED <= s, "above and maximised")
        self.display.xdotool("windowactivate", "--sync", str(self.window))
        self.logger.clear()
        send_keys(self.display, LOCK_TABLE)
        self.display.xdotool("type", "--delay", "50", "ab")
        wait_until(lambda: self.typed() == "ab", 10, what="the typed text in the page")
        # Another window holding the focus gets nothing either; the page still gets the text.
        self.logger.focus()
        self.assertEqual(active_window(self.display), self.logger.window)
        send_keys(self.display, LOCK_TABLE)
        self.display.xdotool("type", "--delay", "50", "cd")
        wait_until(lambda: self.typed() == "abcd", 10, what="text typed while another is active")
        self.assertEqual(self.logger.keysyms(), [])
        self.assertEqual(active_window(self.display), self.logger.window)
        self.assertIsNone(self.client.proc.poll())

    def test_2_minimised_window_comes_back_maximised_without_the_focus(self):
        spy = StateSpy(self.display, self.window)
        self.addCleanup(spy.close)
        self.logger.focus()
        for _ in range(3):
            self.assertLess(spy.time_back_from_minimize(self.display, self.window), 0.2)
        self.assertIn(ABOVE, spy.current())
        self.assertEqual(active_window(self.display), self.logger.window)
        # The keyboard grab, lost while the window was unmapped, is back.
        time.sleep(0.1)
        self.logger.clear()
        send_keys(self.display, ["alt+Tab", "super"])
        time.sleep(0.3)
        self.assertEqual(self.logger.keysyms(), [])
        self.assertEqual(active_window(self.display), self.logger.window)

    def test_3_close_requests_are_refused(self):
        self.display.run(["wmctrl", "-i", "-c", str(self.window)])
        self.display.xdotool("windowactivate", "--sync", str(self.window))
        self.display.xdotool("key", "alt+F4")
        time.sleep(1.5)
        self.assertIsNone(self.client.proc.poll())
        self.assertTrue(self.display.find_windows("^CEFBrowser$"))

    def test_4_any_argument_but_1_unlocks(self):
        self.lock("yes")
        self.wait_state(lambda s: ABOVE not in s, "not above")
        self.assertLessEqual(MAXIMIZED, self.display.net_wm_state(self.window))
        self.lock("1")
        self.wait_state(lambda s: ABOVE in s, "above again")
        self.lock("0")
        self.wait_state(lambda s: ABOVE not in s, "not above again")
        # Unlocked, the window manager's Alt+Tab works again; the key filter stayed installed
        # once and its refusal was said once.
        refused = [l for l in self.client.output().splitlines() if REFUSED_LINE in l]
        self.assertEqual(len(refused), 1, self.client.output())

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
        self.display.xdotool("key", "alt+F4")
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
        wait_until(lambda: ABOVE in self.display.net_wm_state(self.window), what="locked")
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
        self.assertEqual(self.logger.keysyms(), ["k", "Control_L", "Escape", "Super_L"])


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

    def test_2_lock_marks_the_window_above_and_takes_the_keys(self):
        self.server.run_in_page("LockApp('1')")
        wait_until(lambda: ABOVE in self.display.net_wm_state(self.window), what="above")
        self.logger.focus()
        self.logger.clear()
        send_keys(self.display, LOCK_TABLE + ["z"])
        time.sleep(0.3)
        self.assertEqual(self.logger.keysyms(), [])


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


if __name__ == "__main__":
    unittest.main()
