#!/usr/bin/env python3
"""Lock benchmark, run by hand on an idle machine (Xvfb + openbox, both started here):

  VORN_BUILD_DIR=<build> python3 bench/lock/lock_bench.py [--seconds 30] [--minimise 50]
      [--reference <another vornclient>] [--builtin-seconds 60] [--wm openbox|kwin|xfwm4|marco|mutter]
      [--only builtin|turns|lock|fight] [--rounds 3] [--slice 10]
      [--fight-wms openbox,kwin,xfwm4,marco,mutter] [--fight-seconds 60] [--fight-rounds 10]

0. Idle CPU of the client's main process, unlocked, on the built-in page, over --builtin-seconds:
   this build, a bare Qt WebEngine view showing the same page from its files (the engine's own
   idle cost: bench/startup/bare_view) and, with --reference, another build of the client (e.g.
   one from before a change), all started side by side on the same display and measured over the
   same interval. This is the idle figure of an unlocked client.
0b. With --reference: idle CPU of the main process locked with another window active, this build
   and the reference taking turns as the locked client on one display (--rounds turns of --slice
   seconds each, alternating order); the ratio of their summed CPU time.
1. Idle CPU of the client over --seconds on a test page that polls the test server once a second
   (each poll is a request the main process serves), for: unlocked; locked with the client
   active; locked with another window active (the 20 ms timer then re-asserts the window on every
   tick). Measured from /proc/<pid>/stat (utime + stime, every thread) for the client process
   and, separately, for its QtWebEngine helper processes. The lock probe (the same platform layer
   and a 20 ms timer that runs whether locked or not, no browser engine) is measured as the
   reference for the lock's own cost; neither unlocked figure is the idle client's (part 0 is).
2. Time from `xdotool windowminimize` to the window being maximised and unhidden again, seen through
   `xprop -spy` (median of --minimise runs), and the part of it after the window manager had
   hidden the window, for the locked client and the locked lock probe (which brings itself back
   with the same platform call and no engine: the floor of the window manager's round trips);
   and what starting xdotool for one request costs, which the first figure includes.
3. Fights, under each of --fight-wms (a display and a locked client of their own for each): a
   program fighting for the top every 10 ms for --fight-seconds (an ordinary window made
   always-on-top, raised and activated by wmctrl/xdotool; then an override-redirect window
   raising itself), with the longest stretch it was shown above the exam and the client's CPU
   meanwhile; then --fight-rounds short fights (2 s each) of each kind and --fight-rounds
   minimise requests, each timed from its end (or the request) to the exam on top again for
   good. Above or below is read from the X server's stacking order of the root's children
   (tests/desktop/lockhelpers.AboveWatch), about every millisecond.
"""

import argparse
import json
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
HOME_PAGE = os.path.join(HERE, "..", "..", "browser", "bridge", "home")
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "desktop"))
sys.path.insert(0, os.path.join(HERE, ".."))

import harness  # noqa: E402
from lockhelpers import (AboveWatch, Fight, KeyLogger, LockProbe, Rival, StateSpy,  # noqa: E402
                         XView, cpu_seconds, exam_page)
from procstat import TICKS, cpu_ticks, session_members  # noqa: E402

LOCKED_STATES = {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_FULLSCREEN"}


def measure_cpu(main_pid, seconds, helpers=()):
    """Percent of one core used by main_pid and, summed, by the helper pids."""
    def sample():
        main = cpu_ticks(main_pid)
        rest = 0
        for pid in helpers:
            try:
                rest += cpu_ticks(pid)
            except OSError:
                pass
        return main, rest
    m0, h0 = sample()
    t0 = time.monotonic()
    time.sleep(seconds)
    m1, h1 = sample()
    elapsed = time.monotonic() - t0
    return (100.0 * (m1 - m0) / TICKS / elapsed, 100.0 * (h1 - h0) / TICKS / elapsed)


def idle_page(server):
    # The page asks for commands once a second only and has no blinking text cursor, so that it
    # adds little of its own.
    return ("<!doctype html><html><head><meta charset='utf-8'><title>idle</title>"
            f"<script>{server.control_snippet(interval_ms=1000)}</script></head>"
            "<body><p>idle</p><script>window.addEventListener('load',function()"
            "{report({event:'load'})})</script></body></html>")


def own_window(display, client, timeout=60):
    """The client's window, found by its process id (the name is the same for every client)."""
    def find():
        out = display.run(["xdotool", "search", "--all", "--onlyvisible",
                           "--pid", str(client.proc.pid), "--name", "^CEFBrowser$"],
                          check=False).stdout.split()
        return int(out[0]) if out else None
    return harness.wait_until(find, timeout, what="the client's own window")


def client_folder(exe):
    """A client folder holding `exe` with the build's skin and card simulator beside it."""
    folder = os.path.join(tempfile.mkdtemp(prefix="vorn-bench-"), "client")
    os.makedirs(folder)
    shutil.copy2(exe, os.path.join(folder, "vornclient"))
    sim = os.path.join(harness.BUILD_DIR, "libtermb.so")
    if os.path.exists(sim):
        shutil.copy2(sim, folder)
    shutil.copytree(os.path.join(harness.BUILD_DIR, "Skin"), os.path.join(folder, "Skin"))
    return folder


def record_side_by_side(results, key, title, figures, detail=lambda label: ""):
    """Prints and keeps the main process's CPU of this build and the reference, measured over
    the same stretch: results[key + "_main_pct"], and results[key + "_ratio"] (this build /
    reference) when the reference ran and used any CPU."""
    for label, pct in figures.items():
        print(f"{title}, {label:10s} main {pct:6.3f} % of a core{detail(label)}", flush=True)
    results[f"{key}_main_pct"] = {k: round(v, 3) for k, v in figures.items()}
    if figures.get("reference", 0) > 0:
        ratio = figures["this build"] / figures["reference"]
        results[f"{key}_ratio"] = round(ratio, 3)
        print(f"{title}, this build / reference {ratio:.2f}", flush=True)


def bench_builtin_side_by_side(display, args, results):
    """Unlocked, built-in page: this build and the reference run at once, measured together."""
    exes = {"this build": os.path.join(harness.BUILD_DIR, "vornclient")}
    if args.reference:
        exes["reference"] = os.path.abspath(args.reference)
    clients = {}
    bare = None
    try:
        for label, exe in exes.items():
            clients[label] = harness.Client(display, folder=client_folder(exe), log_rules="")
            clients[label].start()
        for client in clients.values():
            client.wait_for_window()
        bare = start_bare_view(display, "file://" + os.path.join(HOME_PAGE, "index.html"))
        time.sleep(10)  # let the engine and the built-in page settle
        pids = {label: client.proc.pid for label, client in clients.items()}
        pids["bare view"] = bare.pid
        before = {label: cpu_ticks(pid) for label, pid in pids.items()}
        t0 = time.monotonic()
        time.sleep(args.builtin_seconds)
        elapsed = time.monotonic() - t0
        figures = {label: 100.0 * (cpu_ticks(pid) - before[label]) / TICKS / elapsed
                   for label, pid in pids.items()}
        record_side_by_side(results, "builtin_unlocked", "built-in page, unlocked", figures)
    finally:
        if bare:
            os.killpg(bare.pid, 9)
            bare.wait()
            shutil.rmtree(bare.root, ignore_errors=True)
        for client in clients.values():
            client.stop()
            shutil.rmtree(os.path.dirname(client.folder), ignore_errors=True)


def start_bare_view(display, url):
    """bench/startup/bare_view showing `url`, in a session of its own with fresh folders."""
    exe = os.path.join(harness.BUILD_DIR, "bench", "bare_view")
    if not os.path.exists(exe):
        raise RuntimeError(f"{exe} missing: build with -DVORN_BUILD_BENCH=ON")
    root = tempfile.mkdtemp(prefix="vorn-bare-")
    env = dict(display.env, HOME=root, XDG_RUNTIME_DIR=root, TMPDIR=root,
               QTWEBENGINE_DISABLE_SANDBOX="1", QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu")
    env.pop("LD_PRELOAD", None)
    proc = subprocess.Popen([exe, url], env=env, cwd=root, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    proc.root = root
    return proc


def bench_client(display, args, results, exe=None, key="client"):
    logger = KeyLogger(display)
    with harness.TestServer() as server:
        server.add_page("/idle", idle_page(server))
        folder = client_folder(exe) if exe else None
        client = harness.Client(display, config=f"[Config]\nUrl={server.origin}/idle\n",
                                log_rules="", folder=folder)
        client.start()
        try:
            window = client.wait_for_window()
            server.wait_for_report(lambda r: r.get("event") == "load", 90, what="the page")
            time.sleep(3)  # let the engine settle after loading
            pid = client.proc.pid
            helpers = [p for p in session_members(pid) if p != pid]

            def run(label):
                main, rest = measure_cpu(pid, args.seconds, helpers)
                results[key][label] = {"main_pct": round(main, 3), "helpers_pct": round(rest, 3)}
                print(f"{key} {label:28s} main {main:6.3f} %   engine helpers {rest:6.3f} %",
                      flush=True)

            display.xdotool("windowactivate", "--sync", str(window))
            run("unlocked")
            server.run_in_page("LockApp('1')")
            harness.wait_until(
                lambda: {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_FULLSCREEN"}
                & display.net_wm_state(window), 10, what="lock")
            display.xdotool("windowactivate", "--sync", str(window))
            run("locked, client active")
            logger.focus()
            run("locked, other window active")

            time_minimise(display, window, args.minimise, results[key], key)
        finally:
            client.stop()
            logger.close()
            if folder:
                shutil.rmtree(os.path.dirname(folder), ignore_errors=True)


def bench_locked_other_active_alternating(display, args, results):
    """Locked, another window active: this build and the reference, both running on one display,
    take turns being the locked one (two locked windows would fight over the top of the stack),
    --rounds times each, in alternating order, for --slice seconds a turn; the ratio is of the
    summed CPU time, so that both builds see the same stretch of machine load."""
    exes = {"this build": os.path.join(harness.BUILD_DIR, "vornclient"),
            "reference": os.path.abspath(args.reference)}
    logger = KeyLogger(display)
    clients, servers = {}, {}
    try:
        for label, exe in exes.items():
            servers[label] = harness.TestServer().__enter__()
            servers[label].add_page("/idle", idle_page(servers[label]))
            clients[label] = harness.Client(
                display, config=f"[Config]\nUrl={servers[label].origin}/idle\n", log_rules="",
                folder=client_folder(exe))
            clients[label].start()
        # Two clients show a window of the same name: each is found by its own process.
        windows = {label: own_window(display, client) for label, client in clients.items()}
        for server in servers.values():
            server.wait_for_report(lambda r: r.get("event") == "load", 90, what="the page")
        time.sleep(5)  # let the engines settle after loading
        ticks = {label: 0 for label in exes}
        seconds = {label: 0.0 for label in exes}
        order = list(exes)
        for round_ in range(args.rounds):
            for label in order if round_ % 2 == 0 else reversed(order):
                pid, window = clients[label].proc.pid, windows[label]
                servers[label].run_in_page("LockApp('1')")
                # Builds from before the whole-screen lock show "above" only.
                harness.wait_until(lambda: LOCKED_STATES & display.net_wm_state(window), 10,
                                   what="lock")
                logger.focus()
                time.sleep(1)
                before, t0 = cpu_ticks(pid), time.monotonic()
                time.sleep(args.slice)
                ticks[label] += cpu_ticks(pid) - before
                seconds[label] += time.monotonic() - t0
                servers[label].run_in_page("LockApp('0')")
                harness.wait_until(lambda: not LOCKED_STATES & display.net_wm_state(window), 10,
                                   what="unlock")
        figures = {label: 100.0 * ticks[label] / TICKS / seconds[label] for label in exes}
        record_side_by_side(results, "locked_other_active_alternating",
                            "locked, other window active, taking turns", figures,
                            lambda label: f" ({ticks[label]} ticks in {seconds[label]:.0f} s)")
    finally:
        for client in clients.values():
            client.stop()
            shutil.rmtree(os.path.dirname(client.folder), ignore_errors=True)
        for server in servers.values():
            server.__exit__()
        logger.close()


def bench_probe(display, args, results):
    logger = KeyLogger(display)
    probe = LockProbe(display, args=["--no-caret"], env={"QT_LOGGING_RULES": ""})
    try:
        def run(label):
            main, _ = measure_cpu(probe.proc.pid, args.seconds)
            results["probe"][label] = {"main_pct": round(main, 3)}
            print(f"probe  {label:28s} main {main:6.3f} %", flush=True)

        display.xdotool("windowactivate", "--sync", str(probe.window))
        run("unlocked")
        probe.command("lock")
        display.xdotool("windowactivate", "--sync", str(probe.window))
        run("locked, probe active")
        logger.focus()
        run("locked, other window active")
        display.xdotool("windowactivate", "--sync", str(probe.window))
        time_minimise(display, probe.window, args.minimise, results["probe"], "probe ")
    finally:
        probe.close()
        logger.close()


def time_minimise(display, window, runs, results, key):
    """Minimises the locked `window` `runs` times; keeps how long it took to be maximised again,
    from the request and from the window manager's hiding."""
    spy = StateSpy(display, window)
    times, reactions, requests = [], [], []
    try:
        for _ in range(runs):
            total, reaction = spy.minimise_and_wait(display, window)
            times.append(total)
            reactions.append(reaction)
            time.sleep(0.1)
            # The first figure starts before xdotool does: what starting it and one request to
            # the display cost is measured here, so that it can be told apart.
            t0 = time.monotonic()
            display.xdotool("getwindowname", str(window))
            requests.append(time.monotonic() - t0)
    finally:
        spy.close()
    results["minimise_to_maximised_ms"] = summary(times)
    results["hidden_to_maximised_ms"] = summary(reactions)
    results["xdotool_request_ms"] = summary(requests)
    print(f"{key} minimise -> maximised ms", summary(times))
    print(f"{key} hidden   -> maximised ms", summary(reactions))
    print(f"{key} one xdotool request ms  ", summary(requests), flush=True)


def fight_once(display, client, exam, rival, start, stop, seconds):
    """One fight against the locked exam: (longest stretch above in s, seconds from the fight's
    end to the exam on top for good, client CPU share of a core)."""
    view = XView(display)
    try:
        harness.wait_until(lambda: view.above(rival.window, exam) is False, 10,
                           what="the rival below the exam before the fight")
    finally:
        view.close()
    watch = AboveWatch(display, rival.window, exam)
    try:
        cpu0, t0 = cpu_seconds(client.proc.pid), time.monotonic()
        start()
        time.sleep(seconds)
        cpu, elapsed = cpu_seconds(client.proc.pid) - cpu0, time.monotonic() - t0
        ended = stop()
        time.sleep(1.0)
    finally:
        watch.stop()
    below = watch.below_for_good_since(ended)
    return (watch.longest_above(t0, ended), (below - ended) if below else float("inf"),
            cpu / elapsed)


def bench_fights_under(wm, args):
    """The fights and minimises of part 3 under the window manager `wm`."""
    os.environ["VORN_TEST_WM"] = wm
    out = {}
    with harness.Display(window_manager=True) as display, harness.TestServer() as server:
        server.add_page("/exam", exam_page(server, "{event:'load'}"))
        client = harness.Client(display, config=f"[Config]\nUrl={server.origin}/exam\n",
                                log_rules="")
        client.start()
        try:
            exam = client.wait_for_window()
            server.wait_for_report(lambda r: r.get("event") == "load", 90, what="the page")
            server.run_in_page("LockApp('1')")
            time.sleep(2)
            ordinary = Rival(display, name="fighter")
            try:
                def manager_fight(seconds):
                    fight = []
                    return fight_once(display, client, exam, ordinary,
                                      lambda: fight.append(Fight(display, ordinary.window)),
                                      lambda: fight[0].stop(), seconds)
                longest, back, cpu = manager_fight(args.fight_seconds)
                out["long fight, ordinary window"] = {
                    "seconds": args.fight_seconds, "longest_above_ms": round(longest * 1000, 1),
                    "end_to_top_ms": round(back * 1000, 1), "cpu_pct": round(cpu * 100, 2)}
                backs = [manager_fight(2)[1] for _ in range(args.fight_rounds)]
                out["fight_end_to_top_ms"] = summary(backs)
                # A minimise request for the exam window, as xdotool sends it (ICCCM iconify).
                minimised = []
                for _ in range(args.fight_rounds):
                    watch = AboveWatch(display, ordinary.window, exam)
                    try:
                        t0 = time.monotonic()
                        display.xdotool("windowminimize", str(exam))
                        time.sleep(1.0)
                    finally:
                        watch.stop()
                    below = watch.below_for_good_since(t0)
                    minimised.append((below - t0) if below else float("inf"))
                out["minimise_to_top_ms"] = summary(minimised)
            finally:
                ordinary.close()

            def override_fight(seconds):
                fighter = Rival(display, name="fighter-override", override_redirect=True,
                                raise_every_ms=10)
                try:
                    def stop():
                        fighter.stop_raising()
                        return time.monotonic()
                    return fight_once(display, client, exam, fighter, lambda: None, stop, seconds)
                finally:
                    fighter.close()
            longest, back, cpu = override_fight(args.fight_seconds)
            out["long fight, override-redirect window"] = {
                "seconds": args.fight_seconds, "longest_above_ms": round(longest * 1000, 1),
                "end_to_top_ms": round(back * 1000, 1), "cpu_pct": round(cpu * 100, 2)}
            out["override_end_to_top_ms"] = summary(
                [override_fight(2)[1] for _ in range(args.fight_rounds)])
        finally:
            client.stop()
    for key, value in out.items():
        print(f"fight {wm:8s} {key:38s} {value}", flush=True)
    return out


def summary(seconds):
    ms = sorted(s * 1000 for s in seconds)
    # The smallest value at or above nine tenths of the runs (with two runs: the larger).
    p90 = ms[min(len(ms), math.ceil(len(ms) * 0.9)) - 1]
    return {"median": round(statistics.median(ms), 1), "p90": round(p90, 1),
            "max": round(ms[-1], 1), "n": len(ms)}


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--minimise", type=int, default=50)
    parser.add_argument("--reference", help="another vornclient executable, measured the same way")
    parser.add_argument("--builtin-seconds", type=float, default=60)
    parser.add_argument("--wm", help="window manager (as VORN_TEST_WM); default openbox")
    parser.add_argument("--only", choices=["builtin", "lock", "turns", "fight"],
                        help="run one part only")
    parser.add_argument("--fight-wms", default="openbox,kwin,xfwm4,marco,mutter",
                        help="window managers of the fights, comma-separated")
    parser.add_argument("--fight-seconds", type=float, default=60,
                        help="length of the one long fight of each kind")
    parser.add_argument("--fight-rounds", type=int, default=10,
                        help="short fights of each kind, and minimises, timed")
    parser.add_argument("--rounds", type=int, default=3,
                        help="turns of each build in the locked, other-window-active comparison")
    parser.add_argument("--slice", type=float, default=10, help="seconds of one such turn")
    args = parser.parse_args()
    if args.wm:
        os.environ["VORN_TEST_WM"] = args.wm
    results = {"seconds": args.seconds, "client": {}, "reference": {}, "probe": {}, "fight": {}}
    if args.only in (None, "fight"):
        default_wm = os.environ.get("VORN_TEST_WM")
        for wm in args.fight_wms.split(","):
            try:
                results["fight"][wm] = bench_fights_under(wm, args)
            except Exception as e:  # one manager that cannot run leaves the others' figures
                print(f"fight {wm}: could not run: {e}", flush=True)
                results["fight"][wm] = {"error": str(e)}
        if default_wm is None:
            os.environ.pop("VORN_TEST_WM", None)
        else:
            os.environ["VORN_TEST_WM"] = default_wm
    if args.only == "fight":
        write_results(results)
        return
    with harness.Display(window_manager=True) as display:
        results["window_manager"] = display.wm_name
        if args.only in (None, "builtin"):
            bench_builtin_side_by_side(display, args, results)
        if args.only in (None, "turns") and args.reference:
            bench_locked_other_active_alternating(display, args, results)
        if args.only in (None, "lock"):
            bench_probe(display, args, results)
            bench_client(display, args, results)
            if args.reference:
                bench_client(display, args, results, exe=args.reference, key="reference")
    write_results(results)


def write_results(results):
    out = os.path.join(harness.BUILD_DIR, "bench-lock.json")
    with open(out, "w") as f:
        json.dump(results, f, indent=2)
    print("results written to", out)


if __name__ == "__main__":
    main()
