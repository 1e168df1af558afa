#!/usr/bin/env python3
"""Start-up time, run by hand: from exec to the start page's load event, median of N runs, for
the client and, side by side in the same run, a bare Qt WebEngine view loading the same page.

    python3 bench/startup/startup_bench.py [runs]      (build with -DVORN_BUILD_BENCH=ON)
"""

import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../tests/desktop"))
from harness import BUILD_DIR, Client, Display, TestServer  # noqa: E402


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    results = {"client": [], "bare view": []}
    with Display() as display, TestServer() as server:
        server.add_page("/start", "<!doctype html><html><head><script>" + server.report_snippet() +
                        "addEventListener('load',function(){report({event:'load',run:"
                        "location.search})})</script></head><body>start</body></html>")
        for run in range(runs):
            for kind in results:  # alternate, so drift in machine load hits both alike
                tag = f"?{kind[0]}{run}"
                url = f"{server.origin}/start{tag}"
                started = time.monotonic()
                if kind == "client":
                    client = Client(display, config=f"[Config]\nUrl={url}\n").start()
                    stop = client.stop
                else:
                    env = dict(display.env, VORN_DISABLE_GPU="1")
                    proc = subprocess.Popen([os.path.join(BUILD_DIR, "bench", "bare_view"), url],
                                            env=env, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
                    stop = lambda p=proc: (p.kill(), p.wait())  # noqa: E731
                server.wait_for_report(lambda r: r.get("run") == tag, timeout=60)
                results[kind].append((time.monotonic() - started) * 1000)
                stop()
                time.sleep(0.5)
    for kind, values in results.items():
        print(f"{kind:10s} median {statistics.median(values):7.1f} ms  "
              f"min {min(values):7.1f}  max {max(values):7.1f}  (n={len(values)})")
    ratio = statistics.median(results["client"]) / statistics.median(results["bare view"])
    print(f"client / bare view: {ratio:.2f}")


if __name__ == "__main__":
    main()
