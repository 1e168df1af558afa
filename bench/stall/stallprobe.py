"""The main thread's longest stall, for the benchmarks: preload the probe library into the
client (or the bare reference view) with `env()`, then measure a stretch of work with `window()`.

    probe = StallProbe()
    client = Client(display, env=probe.env(), ...)
    ...
    with probe.window() as w:
        ...                         # what the page does meanwhile
    print(w.max_gap_ms)             # longest gap of a 1 ms main-thread timer in that stretch

The probe writes one line per 100 ms period (end time on CLOCK_MONOTONIC, which is Python's
time.monotonic on Linux, and the period's largest gap); a window counts every period that
overlaps it. Standard library only."""

import contextlib
import os
import tempfile
import time

BUILD_DIR = os.environ.get("VORN_BUILD_DIR", os.path.join(os.path.dirname(__file__), "../../build"))
PERIOD_S = 0.1


class Window:
    def __init__(self, probe):
        self.probe = probe
        self.start = self.end = None
        self.max_gap_ms = None
        self.periods = 0


class StallProbe:
    def __init__(self, build_dir=BUILD_DIR):
        self.library = os.path.abspath(os.path.join(build_dir, "bench", "libvorn_stall_probe.so"))
        if not os.path.exists(self.library):
            raise RuntimeError(f"{self.library} missing: build with -DVORN_BUILD_BENCH=ON")
        fd, self.path = tempfile.mkstemp(prefix="vorn-stall-", suffix=".txt")
        os.close(fd)

    def env(self):
        return {"LD_PRELOAD": self.library, "VORN_STALL_PROBE_OUT": self.path}

    def periods(self):
        with open(self.path) as f:
            for line in f:
                parts = line.split()
                if len(parts) == 3:
                    yield int(parts[0]) / 1000.0, int(parts[1]) / 1000.0, int(parts[2])

    def wait_running(self, timeout=60):
        """Waits until the probe reports, i.e. the program's event loop runs."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(True for _ in self.periods()):
                return
            time.sleep(0.05)
        raise TimeoutError("the stall probe never reported: was it preloaded?")

    @contextlib.contextmanager
    def window(self):
        w = Window(self)
        w.start = time.monotonic()
        yield w
        w.end = time.monotonic()
        # The period that holds the end is written once it is over (or when a stall ends).
        time.sleep(PERIOD_S * 2)
        # A period ending at `end` with largest gap `gap` covers [end - max(gap, period), end].
        gaps = [gap for end, gap, _ in self.periods()
                if end >= w.start and end - max(gap / 1000.0, PERIOD_S) <= w.end]
        w.periods = len(gaps)
        w.max_gap_ms = max(gaps) if gaps else None

    def close(self):
        with contextlib.suppress(FileNotFoundError):
            os.unlink(self.path)
