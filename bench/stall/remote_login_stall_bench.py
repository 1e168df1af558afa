#!/usr/bin/env python3
"""The main thread's longest stall while the page makes 100 GetIsRemoteLogin calls in one burst
with at least 600 processes present, for the client and, side by side in the same run, for a
bare Qt WebEngine view running the same page (which has no such functions: the engine's own
floor). Median over N rounds of each. Run by hand (or through bench/run_all.py):

    python3 bench/stall/remote_login_stall_bench.py [rounds]    (build with -DVORN_BUILD_BENCH=ON)

The last line, "RESULT key=value ...", is for bench/run_all.py.
"""

import os
import signal
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "../../tests/desktop"))
sys.path.insert(0, HERE)
from harness import BUILD_DIR, Client, Display, TestServer  # noqa: E402
from stallprobe import StallProbe  # noqa: E402

CALLS = 100
PROCESSES = 600
PAGE = """<!doctype html><html><head><script>%s
var answers = 0, wanted = 0, tag = '';
window.OnIsRemoteLogin = function (json) {
  answers++;
  if (answers === wanted) report({event: 'answered', tag: tag, answers: answers});
};
function burst(t) {
  tag = t; answers = 0; wanted = %d;
  if (typeof window.GetIsRemoteLogin !== 'function') {
    report({event: 'answered', tag: tag, answers: 0});
    return;
  }
  for (var i = 0; i < wanted; i++) window.GetIsRemoteLogin();
}
report({event: 'ready'});
</script></head><body>remote-login burst</body></html>"""


class ExtraProcesses:
    """Idle processes until the table holds at least `total`."""

    def __init__(self, total):
        present = sum(1 for name in os.listdir("/proc") if name.isdigit())
        self.procs = [subprocess.Popen(["sleep", "600"], stdout=subprocess.DEVNULL)
                      for _ in range(max(0, total - present))]

    def close(self):
        for p in self.procs:
            p.send_signal(signal.SIGKILL)
        for p in self.procs:
            p.wait()


def measure(server, probe, rounds, label):
    stalls = []
    for i in range(rounds):
        tag = f"{label}-{i}"
        time.sleep(0.3)  # let the previous round's answers settle
        with probe.window() as w:
            server.run_in_page(f"burst('{tag}')")
            r = server.wait_for_report(lambda r: r.get("tag") == tag, timeout=120)
        if label == "client" and r.get("answers") != str(CALLS):
            raise RuntimeError(f"the page got {r.get('answers')} answers of {CALLS}")
        stalls.append(w.max_gap_ms)
    return stalls


def run(rounds=5):
    """Returns {"client": [ms...], "bare view": [ms...]}: the longest gap per round."""
    results = {}
    extra = ExtraProcesses(PROCESSES)
    try:
        with Display() as display, TestServer() as server:
            server.add_page("/burst", PAGE % (server.control_snippet(), CALLS))
            url = f"{server.origin}/burst"
            for kind in ("client", "bare view"):
                probe = StallProbe()
                with server.lock:
                    server.reports.clear()
                try:
                    if kind == "client":
                        client = Client(display, config=f"[Config]\nUrl={url}\n", log_rules="",
                                        env=probe.env())
                        client.start()
                        stop = client.stop
                    else:
                        # What any engine program needs here: no sandbox as root, no GPU on Xvfb.
                        env = dict(display.env, QTWEBENGINE_DISABLE_SANDBOX="1",
                                   QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu", **probe.env())
                        proc = subprocess.Popen(
                            [os.path.join(BUILD_DIR, "bench", "bare_view"), url], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                        stop = lambda p=proc: (p.kill(), p.wait())  # noqa: E731
                    try:
                        server.wait_for_report(lambda r: r.get("event") == "ready", timeout=60)
                        probe.wait_running()
                        time.sleep(1.0)  # start-up's own stalls are not this benchmark's
                        results[kind] = measure(server, probe, rounds, kind.split()[0])
                    finally:
                        stop()
                finally:
                    probe.close()
    finally:
        extra.close()
    return results


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    results = run(rounds)
    for kind, values in results.items():
        print(f"{kind:10s} longest main-thread stall: median {statistics.median(values):6.1f} ms  "
              f"max {max(values):6.1f}  (n={len(values)})")
    ours, ref = statistics.median(results["client"]), statistics.median(results["bare view"])
    print(f"client / bare view: {ours / ref:.2f}")
    print(f"RESULT remote_login_stall_client_ms={ours:.1f} remote_login_stall_bare_view_ms={ref:.1f}")


if __name__ == "__main__":
    main()
