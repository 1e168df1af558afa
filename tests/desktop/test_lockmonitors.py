"""The lock on a desk with two monitors (Xorg's dummy driver with two RandR monitors on one
2560x800 screen): locked, another program's window on the second monitor is covered and takes no
click; a monitor unplugged while locked leaves no cover behind, one plugged in is covered within
a second, and the page's GetClientInfo counts the monitors there are."""

import json
import time
import unittest

from harness import Client, DummyMonitorsDisplay, TestServer, wait_until
from lockhelpers import RED, Rival, XView, exam_page

SECOND = ("B", "1280/338x800/211+1280+0")
NOTES_GEOMETRY = "400x300+1700+250"  # on the second monitor, wholly, frame included


@unittest.skipIf(DummyMonitorsDisplay.unavailable(), DummyMonitorsDisplay.unavailable())
class TwoMonitors(unittest.TestCase):
    """One client through lock, unplug, plug and unlock, in order, with a notes window on the
    second monitor."""

    @classmethod
    def setUpClass(cls):
        cls.display = DummyMonitorsDisplay().__enter__()
        cls.server = TestServer().__enter__()
        cls.server.add_page("/exam", exam_page(
            cls.server, "{event:'load'}",
            "function OnClientInfo(t){report({event:'info',text:t})}"))
        cls.notes = Rival(cls.display, name="notes", geometry=NOTES_GEOMETRY)
        cls.view = XView(cls.display)
        # Where the manager put it: points near two corners and in the middle.
        g = cls.display.geometry(cls.notes.window)
        cls.points = [(g["X"] + g["WIDTH"] * f // 10, g["Y"] + g["HEIGHT"] * f // 10)
                      for f in (1, 5, 9)]
        cls.client = Client(cls.display, config=f"[Config]\nUrl={cls.server.origin}/exam\n")
        cls.client.start()
        cls.window = cls.client.wait_for_window()
        cls.server.wait_for_report(lambda r: r.get("event") == "load", 90, what="the exam page")

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.view.close()
        cls.notes.close()
        cls.server.__exit__()
        cls.display.__exit__()

    def displays(self):
        start = len(self.server.reports_matching(lambda r: r.get("event") == "info"))
        self.server.run_in_page("GetClientInfo()")
        report = wait_until(lambda: (self.server.reports_matching(
            lambda r: r.get("event") == "info")[start:] or [None])[0], 30, what="client info")
        return json.loads(report["text"])["displays"]

    def notes_shown(self):
        """How many of the probe points of the notes window show it."""
        return sum(self.view.pixel(x, y) == RED for x, y in self.points)

    def assert_click_misses_notes(self):
        before = len(self.notes.clicks())
        x, y = self.points[1]
        self.display.xdotool("mousemove", str(x), str(y), "click", "1")
        time.sleep(0.5)
        self.assertEqual(self.notes.clicks()[before:], [], "a click reached the covered window")

    def wait_covered(self, timeout, what):
        start = time.monotonic()
        wait_until(lambda: self.notes_shown() == 0, timeout + 4, 0.02, what=what)
        return time.monotonic() - start

    def test_1_locked_second_monitor_is_covered_and_takes_no_click(self):
        # Unlocked, the notes window is in view and clickable: what the checks below look at.
        self.assertEqual(self.displays(), 2)
        wait_until(lambda: self.notes_shown() == len(self.points), 10, what="the notes shown")
        x, y = self.points[1]
        self.display.xdotool("mousemove", str(x), str(y), "click", "1")
        wait_until(self.notes.clicks, 5, what="the click on the unlocked notes window")
        self.server.run_in_page("LockApp('1')")
        self.wait_covered(10, "the second monitor covered")
        self.assert_click_misses_notes()
        # And it stays covered.
        time.sleep(1)
        self.assertEqual(self.notes_shown(), 0)

    def test_2_unplugged_monitor_leaves_no_cover_behind(self):
        self.display.delete_monitor(SECOND[0])
        start = time.monotonic()
        wait_until(lambda: self.notes_shown() == len(self.points), 10, 0.02,
                   what="the cover of the unplugged monitor gone")
        self.assertLess(time.monotonic() - start, 1.0, "the cover went late")
        self.assertEqual(self.displays(), 1)

    def test_3_plugged_monitor_is_covered_within_a_second(self):
        self.display.set_monitor(*SECOND)
        self.assertLess(self.wait_covered(1.0, "the plugged monitor covered"), 1.0,
                        "the plugged monitor was covered late")
        self.assert_click_misses_notes()
        self.assertEqual(self.displays(), 2)

    def test_4_unlock_gives_the_second_monitor_back(self):
        self.server.run_in_page("LockApp('0')")
        wait_until(lambda: self.notes_shown() == len(self.points), 10, what="the notes shown")
        before = len(self.notes.clicks())
        x, y = self.points[1]
        self.display.xdotool("mousemove", str(x), str(y), "click", "1")
        wait_until(lambda: self.notes.clicks()[before:], 5, what="the click on the notes window")
        self.assertIsNone(self.client.proc.poll())


if __name__ == "__main__":
    unittest.main()
