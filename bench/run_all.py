#!/usr/bin/env python3
"""Every benchmark of the project in one command, one table: for each figure our median, the
reference's median (what it is measured against, side by side in the same run) and the ratio.

    python3 bench/run_all.py [--build-dir build] [--quick] [--only NAME ...] [--no-build] [--list]

It configures the build folder with the benchmarks on (-DVORN_BUILD_BENCH=ON) and builds what
they need, then runs each one in turn. The desktop benchmarks start their own virtual display
(Xvfb + openbox) through tests/desktop/harness.py. Ratios below 1 mean we are faster (or stall
less) than the reference. --quick runs fewer repetitions (for a smoke check, not for quoting).
A benchmark that cannot run (a tool missing, a target not built) gives a row saying so, and the
others still run. Standard library only.
"""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)


class Row:
    def __init__(self, figure, ours=None, ref=None, unit="ms", reference="", note=""):
        self.figure, self.ours, self.ref, self.unit = figure, ours, ref, unit
        self.reference, self.note = reference, note

    def ratio(self):
        if self.ours is None or not self.ref:
            return None
        return self.ours / self.ref


# ---------------------------------------------------------------------------------------------
# Running things

def run(cmd, env, timeout, cwd=SOURCE):
    started = time.monotonic()
    proc = subprocess.run(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, timeout=timeout)
    if proc.returncode != 0:
        tail = (proc.stderr or proc.stdout).strip().splitlines()[-5:]
        raise RuntimeError(f"{' '.join(cmd[:2])} exited with {proc.returncode}: " + " | ".join(tail))
    print(f"  ({' '.join(os.path.basename(c) for c in cmd[:2])}: {time.monotonic() - started:.0f} s)",
          file=sys.stderr, flush=True)
    return proc.stdout


def result_line(output):
    """The key=value pairs of the last "RESULT ..." line of a benchmark script."""
    lines = [l for l in output.splitlines() if l.startswith("RESULT ")]
    if not lines:
        raise RuntimeError("no RESULT line in its output")
    return {k: float(v) for k, v in (pair.split("=", 1) for pair in lines[-1].split()[1:])}


def gbench_medians(binary, env, repetitions, timeout, extra=()):
    """Median real time of each Google Benchmark of `binary`, in ms, by name. The JSON goes to a
    file: a benchmark's helper (a reference server) may print on the same standard output."""
    fd, out_path = tempfile.mkstemp(prefix="vorn-gbench-", suffix=".json")
    os.close(fd)
    try:
        run([binary, f"--benchmark_out={out_path}", "--benchmark_out_format=json",
             f"--benchmark_repetitions={repetitions}", "--benchmark_report_aggregates_only=true",
             *extra], env, timeout)
        with open(out_path) as f:
            data = json.load(f)
    finally:
        os.unlink(out_path)
    medians = {}
    for b in data["benchmarks"]:
        # "BM_X/500/iterations:1/repeats:100/real_time" -> "BM_X/500"
        name = "/".join(part for part in b["run_name"].split("/")
                        if ":" not in part and part != "real_time")
        if b.get("aggregate_name") == "median" or (b.get("run_type") == "iteration" and
                                                   name not in medians):
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
            medians[name] = b["real_time"] * scale  # in ms
    return medians


# ---------------------------------------------------------------------------------------------
# The benchmarks. Each returns a list of rows; figures of the issue being worked on come first.

def bench_startup(ctx):
    res = result_line(run([sys.executable, "bench/startup/startup_bench.py", str(ctx.n(10, 3))],
                          ctx.env, 1800))
    return [Row("start-up to the start page's load event", res["startup_client_ms"],
                res["startup_bare_view_ms"], reference="bare QWebEngineView, same page"),
            Row("start-up: CPU time of all processes until the load event",
                res.get("startup_client_cpu_ms"), res.get("startup_bare_view_cpu_ms"),
                reference="bare QWebEngineView, same page"),
            Row("start-up, against a bare view keeping a disk profile as the client does",
                res["startup_client_ms"], res.get("startup_bare_disk_ms"),
                reference="bare QWebEngineView, named disk profile"),
            Row("start-up, CPU, against a bare view keeping a disk profile",
                res.get("startup_client_cpu_ms"), res.get("startup_bare_disk_cpu_ms"),
                reference="bare QWebEngineView, named disk profile"),
            Row("start-up, first start in a new home (writes the vornapp: registration)",
                res.get("startup_first_ms"), res["startup_bare_view_ms"],
                reference="bare QWebEngineView, same page"),
            Row("start-up, first start: CPU time of all processes",
                res.get("startup_first_cpu_ms"), res.get("startup_bare_view_cpu_ms"),
                reference="bare QWebEngineView, same page")]


def bench_remote_login_stall(ctx):
    res = result_line(run([sys.executable, "bench/stall/remote_login_stall_bench.py",
                           str(ctx.n(5, 2))], ctx.env, 1800))
    return [Row("main-thread longest stall, 100 GetIsRemoteLogin, >=600 processes",
                res["remote_login_stall_client_ms"], res["remote_login_stall_bare_view_ms"],
                reference="bare view, same page (engine floor)")]


def bench_model_fetch_stall(ctx):
    script = os.path.join(HERE, "serving", "stall_bench.py")
    if not os.path.exists(script):
        return [Row("main-thread longest stall, first fetch of a 50 MB model",
                    note="bench/serving/stall_bench.py not present")]
    res = result_line(run([sys.executable, script, str(ctx.n(5, 2))], ctx.env, 1800))
    rows = [Row("main-thread longest stall, first fetch of a 50 MB model",
                res.get("stall_first_model_fetch_ms"), res.get("stall_idle_ms"),
                reference="same program, idle window")]
    return rows


def bench_install(ctx):
    """The model update's install against unzip and Python's zipfile, if a benchmark prints it."""
    for script in ("bench/extract/install_bench.py", "bench/update/install_bench.py"):
        path = os.path.join(SOURCE, script)
        if os.path.exists(path):
            res = result_line(run([sys.executable, path], ctx.env, 3600))
            rows = []
            for key, value in res.items():
                m = re.match(r"(.+)_ours_ms$", key)
                if not m:
                    continue
                base = m.group(1)
                for ref_key in sorted(k for k in res if k.startswith(base + "_") and
                                      k != key and k.endswith("_ms")):
                    rows.append(Row(f"install, {base.replace('_', ' ')}", value, res[ref_key],
                                    reference=ref_key[len(base) + 1:-3].replace("_", " ")))
            return rows or [Row("model install", note=f"{script}: no *_ours_ms figures")]
    return []


def bench_extract(ctx):
    m = gbench_medians(ctx.bin("extract_bench"), ctx.env, ctx.n(5, 1), 3600,
                       extra=("--benchmark_min_time=0.5",) if ctx.quick else ())
    rows = []
    for name in sorted(m):
        if name.startswith("BM_") and name != "BM_UnzipTool" and "BM_UnzipTool" in m:
            rows.append(Row(f"extraction of the model-like archive ({name[3:]})", m[name],
                            m["BM_UnzipTool"], reference="unzip -o -q"))
    return rows


def bench_card(ctx):
    m = gbench_medians(ctx.bin("card_bench"), ctx.env, 1, 600)
    return [Row("card reading cycle (simulator)", m.get("BM_ReaderCycle"), m.get("BM_InlineFloor"),
                reference="same calls and photo save inline")]


def bench_probes(ctx):
    m = gbench_medians(ctx.bin("probes_bench"), ctx.env, ctx.n(5, 1), 600)
    rows = []
    for arg in ("0", "500"):
        rows.append(Row(f"remote-control scan, {arg} extra processes",
                        m.get(f"BM_RemoteControlScan/{arg}"), m.get(f"BM_PsComm/{arg}"),
                        reference="ps -e -o comm="))
    return rows


def bench_client_key(ctx):
    m = gbench_medians(ctx.bin("client_key_bench"), ctx.env, ctx.n(5, 1), 600,
                       ["--benchmark_filter=BM_ClientKey|BM_Sha256sumSameFiles|BM_ProcessScan"])
    return [Row("client key (executable + skin + Url), once per start",
                m.get("BM_ClientKey"), m.get("BM_Sha256sumSameFiles"),
                reference="sha256sum of the same files", note="budget 30 ms"),
            Row("process scan of the client report", m.get("BM_ProcessScan"))]


def bench_serving(ctx):
    m = gbench_medians(ctx.bin("serving_bench"), ctx.env, ctx.n(5, 1), 900)
    rows = []
    if "BM_LocalServing" in m:
        for ref in ("BM_PythonHttpServer", "BM_HttplibFromDisk"):
            if ref in m:
                rows.append(Row("local model serving of a file", m["BM_LocalServing"], m[ref],
                                reference=ref[3:]))
    return rows


def bench_page_fetch(ctx):
    out = run([sys.executable, "bench/serving/page_fetch_bench.py", str(ctx.n(5, 2))], ctx.env,
              1800)
    figures = {}
    for label in ("local serving", "loopback server"):
        m = re.search(re.escape(label) + r"\s+median\s+([\d.]+) ms", out)
        figures[label] = float(m.group(1)) if m else None
    return [Row("page fetch of a 50 MB model", figures["local serving"],
                figures["loopback server"], reference="same file from a loopback HTTP server")]


def bench_bridge(ctx):
    out = run([sys.executable, "bench/bridge/bridge_bench.py", str(ctx.n(1000, 100)),
               str(ctx.n(10000, 1000))], ctx.env, 1800)
    rows = []
    for call in ("GetIsRemoteLogin", "GetVCamList"):
        m = re.search(call + r"\s+n=\d+\s+p50 ([\d.]+) ms\s+p99 ([\d.]+) ms", out)
        if m:
            rows.append(Row(f"bridge round trip {call}, p50", float(m.group(1)),
                            note="no reference tool"))
            rows.append(Row(f"bridge round trip {call}, p99", float(m.group(2)),
                            note="no reference tool"))
    m = re.search(r"burst\s+n=(\d+)\s+all answered in (\d+) ms\s+out of order (\d+)", out)
    if m:
        rows.append(Row(f"bridge burst of {m.group(1)} calls, all answered", float(m.group(2)),
                        note=f"no reference tool; {m.group(3)} out of order"))
    return rows


def bench_lock(ctx):
    seconds, minimise = ("5", "10") if ctx.quick else ("30", "50")
    fight_seconds, fight_rounds = ("5", "3") if ctx.quick else ("60", "10")
    run([sys.executable, "bench/lock/lock_bench.py", "--seconds", seconds, "--minimise", minimise,
         "--fight-seconds", fight_seconds, "--fight-rounds", fight_rounds], ctx.env, 3600)
    with open(os.path.join(ctx.build_dir, "bench-lock.json")) as f:
        data = json.load(f)
    client, probe = data.get("client", {}), data.get("probe", {})
    builtin = data.get("builtin_unlocked_main_pct", {})
    rows = [Row("idle CPU of the main process, unlocked, built-in page", builtin.get("this build"),
                builtin.get("bare view"), unit="% core",
                reference="bare view, same page (engine floor)", note="target <= 0.1 %")]
    # The lock's own cost: a test page that polls its server once a second, against the lock
    # probe, whose 20 ms timer runs locked or not. Not the idle client's figure (the row above).
    for label, probe_label in (("unlocked", "unlocked"),
                               ("locked, client active", "locked, probe active"),
                               ("locked, other window active", "locked, other window active")):
        ours = client.get(label, {}).get("main_pct")
        ref = probe.get(probe_label, {}).get("main_pct")
        rows.append(Row(f"idle CPU of the main process, {label}, polling page", ours, ref,
                        unit="% core", reference="lock probe (no engine, timer always on)"))
    for figure, key in (("minimise -> maximised again", "minimise_to_maximised_ms"),
                        ("hidden by the manager -> maximised again", "hidden_to_maximised_ms"),
                        ("one xdotool request (part of the first)", "xdotool_request_ms")):
        rows.append(Row(f"locked: {figure}", client.get(key, {}).get("median"),
                        probe.get(key, {}).get("median"), reference="lock probe (no engine)",
                        note="target <= 25 ms" if key.startswith("minimise") else ""))
    # Programs fighting for the top, per window manager: from the fight's end (or a minimise
    # request) to the exam on top again for good, and the long fight's worst moment and cost.
    for wm, figures in data.get("fight", {}).items():
        if "error" in figures:
            rows.append(Row(f"locked, {wm}: fights", note=f"could not run: {figures['error']}"))
            continue
        for figure, key in (("fight's end -> exam on top again", "fight_end_to_top_ms"),
                            ("override-redirect fight's end -> exam on top again",
                             "override_end_to_top_ms"),
                            ("minimise request -> exam on top again", "minimise_to_top_ms")):
            rows.append(Row(f"locked, {wm}: {figure}", figures.get(key, {}).get("median"),
                            note="target <= 200 ms; no reference tool"))
        for kind in ("ordinary window", "override-redirect window"):
            long_fight = figures.get(f"long fight, {kind}", {})
            rows.append(Row(f"locked, {wm}: longest above in a long fight, {kind}",
                            long_fight.get("longest_above_ms"), note="target < 200 ms"))
            rows.append(Row(f"locked, {wm}: client CPU in a long fight, {kind}",
                            long_fight.get("cpu_pct"), unit="% core", note="target < 10 %"))
    return rows


BENCHMARKS = [
    ("startup", bench_startup),
    ("remote_login_stall", bench_remote_login_stall),
    ("model_fetch_stall", bench_model_fetch_stall),
    ("install", bench_install),
    ("lock", bench_lock),
    ("extract", bench_extract),
    ("card", bench_card),
    ("probes", bench_probes),
    ("client_key", bench_client_key),
    ("serving", bench_serving),
    ("page_fetch", bench_page_fetch),
    ("bridge", bench_bridge),
]


class Context:
    def __init__(self, args):
        self.build_dir = os.path.abspath(args.build_dir)
        self.quick = args.quick
        self.env = dict(os.environ, VORN_BUILD_DIR=self.build_dir, VORN_SOURCE_DIR=SOURCE)

    def n(self, full, quick):
        return quick if self.quick else full

    def bin(self, name):
        for folder in (os.path.join(self.build_dir, "bench"), self.build_dir):
            path = os.path.join(folder, name)
            if os.path.exists(path):
                return path
        raise RuntimeError(f"{name} was not built in {self.build_dir}")


def build(ctx):
    jobs = str(os.cpu_count() or 2)
    subprocess.run(["cmake", "-S", SOURCE, "-B", ctx.build_dir, "-DVORN_BUILD_BENCH=ON"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", ctx.build_dir, "-j", jobs], check=True,
                   stdout=subprocess.DEVNULL)


def fmt(value, unit):
    if value is None:
        return "—"
    return f"{value:.3f} {unit}" if unit.startswith("%") else f"{value:.1f} {unit}"


def print_table(rows):
    headers = ("figure", "ours (median)", "reference (median)", "ratio", "reference / note")
    table = [(r.figure, fmt(r.ours, r.unit), fmt(r.ref, r.unit),
              "—" if r.ratio() is None else f"{r.ratio():.2f}",
              "; ".join(x for x in (r.reference, r.note) if x)) for r in rows]
    widths = [max(len(h), *(len(t[i]) for t in table)) if table else len(h)
              for i, h in enumerate(headers)]
    line = "  ".join(h.ljust(w) for h, w in zip(headers, widths))
    print(line)
    print("-" * len(line))
    for t in table:
        print("  ".join(c.ljust(w) for c, w in zip(t, widths)))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.path.join(SOURCE, "build"))
    parser.add_argument("--quick", action="store_true", help="fewer repetitions (smoke check)")
    parser.add_argument("--only", nargs="*", help="run only these benchmarks (see --list)")
    parser.add_argument("--no-build", action="store_true", help="use the build folder as it is")
    parser.add_argument("--list", action="store_true", help="list the benchmarks and exit")
    args = parser.parse_args()
    if args.list:
        print("\n".join(name for name, _ in BENCHMARKS))
        return 0
    ctx = Context(args)
    if not args.no_build:
        print(f"building benchmarks in {ctx.build_dir} ...", file=sys.stderr, flush=True)
        build(ctx)
    for tool in ("Xvfb", "openbox", "unzip"):
        if not shutil.which(tool):
            print(f"warning: {tool} not found (scripts/setup.sh installs it)", file=sys.stderr)
    rows = []
    for name, fn in BENCHMARKS:
        if args.only and name not in args.only:
            continue
        print(f"running {name} ...", file=sys.stderr, flush=True)
        try:
            rows += fn(ctx)
        except Exception as e:  # one failing benchmark must not hide the others' figures
            rows.append(Row(name, note=f"did not run: {e}"))
    print()
    print_table(rows)
    return 0


if __name__ == "__main__":
    sys.exit(main())
