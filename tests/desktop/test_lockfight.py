"""The locked exam against programs that fight for the top of the screen: an ordinary window
made always-on-top (or fullscreen), raised and activated every 10 ms, and an override-redirect
window (one the window manager never sees) raising itself every 10 ms. Neither may be shown above
the exam for more than 200 ms at a time, each is below it within 200 ms after it stops, clicks
never reach it, and the client's CPU meanwhile stays under a tenth of a core. Whether a window is
above the exam is read from the X server's stacking order of the root's children, which holds
override-redirect windows too. The fights here are short; bench/lock/lock_bench.py runs longer
ones."""

import os
import time
import unittest

from harness import Client, Display, TestServer, wait_until
from lockhelpers import AboveWatch, Fight, Rival, XView, cpu_seconds, wait_quiet

FIGHT_SECONDS = float(os.environ.get("VORN_FIGHT_SECONDS", "3"))
LONGEST_ABOVE = 0.2  # seconds a fighting window may be shown above the exam at a time
BELOW_AFTER = 0.2  # seconds after the fight ends by which it is below for good
CPU_SHARE = 0.10  # of one core, the client's main process during the fight


def quiet_page(server):
    """An exam page that costs the client next to nothing by itself (no blinking caret, one
    request a second), so that what the client spends in a fight is the lock's."""
    return ("<!doctype html><html><head><meta charset='utf-8'><title>exam</title>"
            f"<script>{server.control_snippet(interval_ms=1000)}</script></head>"
            "<body><p>exam</p><script>window.addEventListener('load',function()"
            "{report({event:'load'})})</script></body></html>")


class FightingPrograms(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = Display().__enter__()
        cls.server = TestServer().__enter__()
        cls.server.add_page("/exam", quiet_page(cls.server))
        # Logging as shipped (warnings only): the debug lines of every restack would be part of
        # the CPU measured, and no candidate's client writes them.
        cls.client = Client(cls.display, config=f"[Config]\nUrl={cls.server.origin}/exam\n",
                            log_rules="")
        cls.client.start()
        cls.window = cls.client.wait_for_window()
        cls.server.wait_for_report(lambda r: r.get("event") == "load", 90, what="the exam page")
        cls.view = XView(cls.display)
        # What the checks look at works: a window shown later is above the unlocked client.
        first = Rival(cls.display, name="first")
        try:
            wait_until(lambda: cls.view.above(first.window, cls.window), 10,
                       what="a new window above the unlocked client")
        finally:
            first.close()
        cls.server.run_in_page("LockApp('1')")

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.view.close()
        cls.server.__exit__()
        cls.display.__exit__()

    def fight(self, rival, start, stop):
        """Runs start() .. stop() against the locked exam for FIGHT_SECONDS and checks the
        outcome; stop() returns when the fight ended."""
        wait_until(lambda: self.view.above(rival.window, self.window) is False, 10,
                   what="the new window below the locked exam")
        pid = self.client.proc.pid
        wait_quiet(pid)
        watch = AboveWatch(self.display, rival.window, self.window)
        try:
            cpu0, t0 = cpu_seconds(pid), time.monotonic()
            start()
            time.sleep(FIGHT_SECONDS)
            cpu, elapsed = cpu_seconds(pid) - cpu0, time.monotonic() - t0
            ended = stop()
            time.sleep(1.0)
        finally:
            watch.stop()
        self.assertGreater(len(watch.samples), 100, "too few looks at the stacking order")
        longest = watch.longest_above(t0, ended)
        self.assertLess(longest, LONGEST_ABOVE, f"shown above the exam for {longest:.3f} s")
        below = watch.below_for_good_since(ended)
        self.assertIsNotNone(below, "still above the exam a second after the fight")
        self.assertLess(below - ended, BELOW_AFTER, f"below only {below - ended:.3f} s after")
        self.assertLess(cpu / elapsed, CPU_SHARE,
                        f"the client used {100 * cpu / elapsed:.1f} % of a core in the fight")
        self.assert_click_misses(rival)
        self.assertIsNone(self.client.proc.poll())

    def assert_click_misses(self, rival):
        g = self.display.geometry(rival.window)
        self.display.xdotool("mousemove", str(g["X"] + g["WIDTH"] // 2),
                             str(g["Y"] + g["HEIGHT"] // 2), "click", "1")
        time.sleep(0.4)
        self.assertEqual(rival.clicks(), [], "a click reached the window behind the exam")

    def fight_with_the_manager(self, state):
        rival = Rival(self.display, name=f"fighter-{state}")
        self.addCleanup(rival.close)
        fight = []
        self.fight(rival, lambda: fight.append(Fight(self.display, rival.window, state)),
                   lambda: fight[0].stop())

    def test_always_on_top_window_raised_and_activated_every_10_ms_stays_below(self):
        self.fight_with_the_manager("above")

    def test_fullscreen_window_raised_and_activated_every_10_ms_stays_below(self):
        self.fight_with_the_manager("fullscreen")

    def test_override_redirect_window_raising_itself_every_10_ms_stays_below(self):
        # Mapped over the locked exam, and raising itself from the start: the look before the
        # fight already needs the exam to win.
        fighter = Rival(self.display, name="fighter-override", override_redirect=True,
                        raise_every_ms=10)
        self.addCleanup(fighter.close)

        def stop():
            fighter.stop_raising()
            return time.monotonic()
        self.fight(fighter, lambda: None, stop)
        self.assertTrue([l for l in fighter.out.texts() if l.startswith("raised ")],
                        "the override-redirect window did not fight")


if __name__ == "__main__":
    unittest.main()
