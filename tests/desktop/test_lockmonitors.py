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
SECOND_AREA = (1280, 0, 1280, 800)
NOTES_GEOMETRY = "400x300+1700+250"  # on the second monitor, wholly, frame included
# A window the manager never moves: managers move their windows off a monitor that goes.
MARKER_GEOMETRY = "300x200+1900+450"


def points_of(geometry):
    """Points near two corners and in the middle of an area {X, Y, WIDTH, HEIGHT}."""
    g = geometry
    return [(g["X"] + g["WIDTH"] * f // 10, g["Y"] + g["HEIGHT"] * f // 10) for f in (1, 5, 9)]


@unittest.skipIf(DummyMonitorsDisplay.unavailable(), DummyMonitorsDisplay.unavailable())
class TwoMonitors(unittest.TestCase):
    """One client through lock, unplug, plug and unlock, in order, with a notes window (managed)
    and a marker (override-redirect) on the second monitor."""

    @classmethod
    def setUpClass(cls):
        cls.display = DummyMonitorsDisplay().__enter__()
        cls.server = TestServer().__enter__()
        cls.server.add_page("/exam", exam_page(
            cls.server, "{event:'load'}",
            "function OnClientInfo(t){report({event:'info',text:t})}"))
        cls.notes = Rival(cls.display, name="notes", geometry=NOTES_GEOMETRY)
        cls.marker = Rival(cls.display, name="marker", geometry=MARKER_GEOMETRY,
                           override_redirect=True)
        cls.view = XView(cls.display)
        cls.notes_points = points_of(cls.display.geometry(cls.notes.window))
        cls.marker_points = points_of(cls.display.geometry(cls.marker.window))
        cls.client = Client(cls.display, config=f"[Config]\nUrl={cls.server.origin}/exam\n")
        cls.client.start()
        cls.window = cls.client.wait_for_window()
        cls.server.wait_for_report(lambda r: r.get("event") == "load", 90, what="the exam page")

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.view.close()
        cls.notes.close()
        cls.marker.close()
        cls.server.__exit__()
        cls.display.__exit__()

    def displays(self):
        start = len(self.server.reports_matching(lambda r: r.get("event") == "info"))
        self.server.run_in_page("GetClientInfo()")
        report = wait_until(lambda: (self.server.reports_matching(
            lambda r: r.get("event") == "info")[start:] or [None])[0], 30, what="client info")
        return json.loads(report["text"])["displays"]

    def shown(self, points):
        """How many of `points` show the red of the other program's window."""
        return sum(self.view.pixel(x, y) == RED for x, y in points)

    def client_windows_over_second_area(self):
        """The client's viewable windows reaching into the second monitor's area."""
        ax, ay, aw, ah = SECOND_AREA
        found = []
        for w in self.view.stacking():
            a = self.view.attributes(w)
            if a is None or a.x >= ax + aw or a.x + a.width <= ax or a.y >= ay + ah \
                    or a.y + a.height <= ay:
                continue
            pid = self.display.prop(w, "_NET_WM_PID")
            if pid.endswith(f"= {self.client.proc.pid}"):
                found.append(w)
        return found

    def assert_click_misses(self, rival, points):
        before = len(rival.clicks())
        x, y = points[1]
        self.display.xdotool("mousemove", str(x), str(y), "click", "1")
        time.sleep(0.5)
        self.assertEqual(rival.clicks()[before:], [], "a click reached the covered window")

    def assert_click_reaches(self, rival, points):
        before = len(rival.clicks())
        x, y = points[1]
        self.display.xdotool("mousemove", str(x), str(y), "click", "1")
        wait_until(lambda: rival.clicks()[before:], 5, what=f"the click on {rival}")

    def test_1_locked_second_monitor_is_covered_and_takes_no_click(self):
        # Unlocked, the windows there are in view and clickable: what the checks below look at.
        self.assertEqual(self.displays(), 2)
        wait_until(lambda: self.shown(self.notes_points) == 3, 10, what="the notes shown")
        self.assertEqual(self.shown(self.marker_points), 3)
        self.assert_click_reaches(self.notes, self.notes_points)
        self.server.run_in_page("LockApp('1')")
        wait_until(lambda: self.shown(self.notes_points + self.marker_points) == 0, 10, 0.02,
                   what="the second monitor covered")
        self.assert_click_misses(self.notes, self.notes_points)
        self.assert_click_misses(self.marker, self.marker_points)
        # And it stays covered.
        time.sleep(1)
        self.assertEqual(self.shown(self.notes_points + self.marker_points), 0)

    def test_2_unplugged_monitor_leaves_no_cover_behind(self):
        self.assertTrue(self.client_windows_over_second_area(), "no cover to begin with")
        self.display.delete_monitor(SECOND[0])
        start = time.monotonic()
        wait_until(lambda: not self.client_windows_over_second_area(), 10, 0.02,
                   what="the cover of the unplugged monitor gone")
        self.assertLess(time.monotonic() - start, 1.0, "the cover went late")
        self.assertEqual(self.displays(), 1)

    def test_3_plugged_monitor_is_covered_within_a_second(self):
        self.display.set_monitor(*SECOND)
        start = time.monotonic()
        wait_until(lambda: self.shown(self.marker_points) == 0, 10, 0.02,
                   what="the plugged monitor covered")
        self.assertLess(time.monotonic() - start, 1.0, "the plugged monitor was covered late")
        self.assert_click_misses(self.marker, self.marker_points)
        self.assertEqual(self.displays(), 2)

    def test_4_unlock_gives_the_second_monitor_back(self):
        self.server.run_in_page("LockApp('0')")
        wait_until(lambda: self.shown(self.marker_points) == 3, 10, what="the marker shown")
        self.assertEqual(self.client_windows_over_second_area(), [])
        self.assert_click_reaches(self.marker, self.marker_points)
        self.assertIsNone(self.client.proc.poll())


if __name__ == "__main__":
    unittest.main()
