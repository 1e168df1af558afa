#!/usr/bin/env python3
"""Start-up time, run by hand (or through bench/run_all.py): from exec to the start page's load event, median of N runs, for
the client and, side by side in the same run, the least a Qt WebEngine program does to show the
same page (bench/startup/bare_view.cpp: a maximised window with one view, none of our code).

Both sides start alike: a client folder prepared before the clock starts, fresh and equal home,
runtime and temporary folders, no diagnostics enabled, the same engine environment (no sandbox,
as root; no GPU, under Xvfb), alternating runs.

The client is measured as candidates run it: its executable stripped as the package installs it
(the start hashes its own executable on a worker, and the build tree's copy carries some 30 MB of
debugging data the package leaves out), and its vornapp: registration already current, as on
every start after the first. The first start in a new home (which also writes the registration
in a child process) is a row of its own, and so is the bare view with a named profile keeping its
cache and storage on disk as the client's does (the engine's floor for a program whose pages keep
cookies and local storage).

    python3 bench/startup/startup_bench.py [runs]      (build with -DVORN_BUILD_BENCH=ON)

The last line, "RESULT key=value ...", is for bench/run_all.py.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../tests/desktop"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from harness import BUILD_DIR, Client, Display, TestServer  # noqa: E402
from procstat import session_cpu_ms  # noqa: E402


PAGE = ("<!doctype html><html><head><script>%s"
        "addEventListener('load',function(){report({event:'load',run:location.search})})"
        "</script></head><body>start</body></html>")


KINDS = ("client", "bare view", "client, first start", "bare view, disk profile")


def stripped_copy(folder):
    """The client's executable without its debugging data, as the package installs it."""
    path = os.path.join(folder, "vornclient")
    subprocess.run(["strip", "-o", path, os.path.join(BUILD_DIR, "vornclient")], check=True)
    return path


def run(runs=10):
    """Returns ({kind: [ms...]}, the same for CPU ms), kinds as in KINDS."""
    results = {kind: [] for kind in KINDS}
    cpu = {kind: [] for kind in KINDS}
    with Display() as display, TestServer() as server, \
            tempfile.TemporaryDirectory(prefix="vorn-startup-") as scratch:
        server.add_page("/start", PAGE % server.report_snippet())
        executable = stripped_copy(scratch)
        for run_index in range(runs):
            for kind in KINDS:  # alternate, so drift in machine load hits every kind alike
                tag = f"?{KINDS.index(kind)}-{run_index}"
                url = f"{server.origin}/start{tag}"
                # The client's folder (a copy of the executable, its skin and the card library),
                # and the same fresh folders for the bare view, are made before the clock runs.
                client = Client(display, config=f"[Config]\nUrl={url}\n", log_rules="")
                shutil.copy2(executable, client.exe)
                if kind == "client":
                    subprocess.run([client.exe, "/createprotocol"], env=client.env, cwd=client.root,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   timeout=60, check=True)
                if kind.startswith("bare view"):
                    env = dict(client.env, QTWEBENGINE_DISABLE_SANDBOX="1",
                               QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu")
                    env.pop("QT_LOGGING_RULES", None)
                    command = [os.path.join(BUILD_DIR, "bench", "bare_view"), url]
                    if kind == "bare view, disk profile":
                        command.append(os.path.join(client.home, ".cache", "bare"))
                started = time.monotonic()
                if kind.startswith("client"):
                    client.start()
                    stop = client.stop
                else:
                    proc = subprocess.Popen(command, env=env, cwd=client.root,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                            start_new_session=True)
                    stop = lambda p=proc: (os.killpg(p.pid, 9), p.wait())  # noqa: E731
                server.wait_for_report(lambda r: r.get("run") == tag, timeout=60)
                results[kind].append((time.monotonic() - started) * 1000)
                pid = client.proc.pid if kind.startswith("client") else proc.pid
                cpu[kind].append(session_cpu_ms(pid))
                stop()
                client.__exit__(None, None, None)
                time.sleep(0.5)
    return results, cpu


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    results, cpu = run(runs)
    for kind, values in results.items():
        print(f"{kind:24s} median {statistics.median(values):7.1f} ms  "
              f"min {min(values):7.1f}  max {max(values):7.1f}  (n={len(values)})  "
              f"CPU of all its processes: median {statistics.median(cpu[kind]):7.1f} ms")
    med = {kind: statistics.median(v) for kind, v in results.items()}
    med_cpu = {kind: statistics.median(v) for kind, v in cpu.items()}
    ref, ref_cpu = med["bare view"], med_cpu["bare view"]
    print(f"client / bare view: {med['client'] / ref:.2f} (wall), "
          f"{med_cpu['client'] / ref_cpu:.2f} (CPU); first start: "
          f"{med['client, first start'] / ref:.2f} (wall), "
          f"{med_cpu['client, first start'] / ref_cpu:.2f} (CPU); against the bare view with a "
          f"disk profile: {med['client'] / med['bare view, disk profile']:.2f} (wall), "
          f"{med_cpu['client'] / med_cpu['bare view, disk profile']:.2f} (CPU)")
    print(f"RESULT startup_client_ms={med['client']:.1f} startup_bare_view_ms={ref:.1f} "
          f"startup_client_cpu_ms={med_cpu['client']:.1f} startup_bare_view_cpu_ms={ref_cpu:.1f} "
          f"startup_first_ms={med['client, first start']:.1f} "
          f"startup_first_cpu_ms={med_cpu['client, first start']:.1f} "
          f"startup_bare_disk_ms={med['bare view, disk profile']:.1f} "
          f"startup_bare_disk_cpu_ms={med_cpu['bare view, disk profile']:.1f}")


if __name__ == "__main__":
    main()
