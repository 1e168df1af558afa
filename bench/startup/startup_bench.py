#!/usr/bin/env python3
"""Start-up time, run by hand (or through bench/run_all.py): from exec to the start page's load event, median of N runs, for
the client and, side by side in the same run, the least a Qt WebEngine program does to show the
same page (bench/startup/bare_view.cpp: a maximised window with one view, none of our code).

Both sides start alike: a client folder prepared before the clock starts, fresh and equal home,
runtime and temporary folders, no diagnostics enabled, the same engine environment (no sandbox,
as root; no GPU, under Xvfb), alternating runs.

    python3 bench/startup/startup_bench.py [runs]      (build with -DVORN_BUILD_BENCH=ON)

The last line, "RESULT key=value ...", is for bench/run_all.py.
"""

import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../tests/desktop"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from harness import BUILD_DIR, Client, Display, TestServer  # noqa: E402
from procstat import session_cpu_ms  # noqa: E402


PAGE = ("<!doctype html><html><head><script>%s"
        "addEventListener('load',function(){report({event:'load',run:location.search})})"
        "</script></head><body>start</body></html>")


def run(runs=10):
    """Returns ({"client": [ms...], "bare view": [ms...]}, the same for CPU ms)."""
    results = {"client": [], "bare view": []}
    cpu = {"client": [], "bare view": []}
    with Display() as display, TestServer() as server:
        server.add_page("/start", PAGE % server.report_snippet())
        for run_index in range(runs):
            for kind in results:  # alternate, so drift in machine load hits both alike
                tag = f"?{kind[0]}{run_index}"
                url = f"{server.origin}/start{tag}"
                # The client's folder (a copy of the executable, its skin and the card library),
                # and the same fresh folders for the bare view, are made before the clock runs.
                client = Client(display, config=f"[Config]\nUrl={url}\n", log_rules="")
                if kind == "bare view":
                    env = dict(client.env, QTWEBENGINE_DISABLE_SANDBOX="1",
                               QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu")
                    env.pop("QT_LOGGING_RULES", None)
                    exe = os.path.join(BUILD_DIR, "bench", "bare_view")
                started = time.monotonic()
                if kind == "client":
                    client.start()
                    stop = client.stop
                else:
                    proc = subprocess.Popen([exe, url], env=env, cwd=client.root,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                            start_new_session=True)
                    stop = lambda p=proc: (os.killpg(p.pid, 9), p.wait())  # noqa: E731
                server.wait_for_report(lambda r: r.get("run") == tag, timeout=60)
                results[kind].append((time.monotonic() - started) * 1000)
                pid = client.proc.pid if kind == "client" else proc.pid
                cpu[kind].append(session_cpu_ms(pid))
                stop()
                client.__exit__(None, None, None)
                time.sleep(0.5)
    return results, cpu


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    results, cpu = run(runs)
    for kind, values in results.items():
        print(f"{kind:10s} median {statistics.median(values):7.1f} ms  "
              f"min {min(values):7.1f}  max {max(values):7.1f}  (n={len(values)})  "
              f"CPU of all its processes: median {statistics.median(cpu[kind]):7.1f} ms")
    ours, ref = statistics.median(results["client"]), statistics.median(results["bare view"])
    ours_cpu, ref_cpu = statistics.median(cpu["client"]), statistics.median(cpu["bare view"])
    print(f"client / bare view: {ours / ref:.2f} (wall), {ours_cpu / ref_cpu:.2f} (CPU)")
    print(f"RESULT startup_client_ms={ours:.1f} startup_bare_view_ms={ref:.1f} "
          f"startup_client_cpu_ms={ours_cpu:.1f} startup_bare_view_cpu_ms={ref_cpu:.1f}")


if __name__ == "__main__":
    main()
