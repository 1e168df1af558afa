#!/usr/bin/env python3
"""The main thread's longest stall while the page fetches a 50 MB model file for the first time
and the longest time the client's request interceptor held it (see main_thread_stall.cpp), run
on a virtual display. Run by hand (build with
-DVORN_BUILD_BENCH=ON):

    python3 bench/serving/stall_bench.py [--runs N] [--rounds R] [--reference OTHER_PROBE] [R]

Each run starts the probe afresh (R fetches of files never fetched before, median of R); the
medians over N runs are printed. --reference alternates runs with another build of the same
probe (for instance one built from an earlier commit), so both are measured side by side under
the same machine load. The last line, "RESULT key=value ...", is for scripts that gather every
benchmark's figures.
"""

import argparse
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../tests/desktop"))
from harness import BUILD_DIR, Display  # noqa: E402


def run_probe(exe, rounds, env):
    result = subprocess.run([exe, str(rounds)], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True, timeout=300)
    if result.returncode != 0:
        raise SystemExit(f"{exe} failed")
    line = result.stdout.strip().splitlines()[-1]
    return {k: float(v) for k, v in (item.split("=") for item in line.split()[1:])}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--reference")
    parser.add_argument("rounds_given", nargs="?", type=int, help="same as --rounds")
    args = parser.parse_args()
    if args.rounds_given:
        args.rounds = args.rounds_given
    probes = {"this build": os.path.join(BUILD_DIR, "bench", "main_thread_stall")}
    if args.reference:
        probes["reference"] = args.reference
    results = {name: [] for name in probes}
    with Display() as display:
        env = dict(display.env, VORN_DISABLE_GPU="1", QT_QPA_PLATFORM="xcb")
        for _ in range(args.runs):
            for name, exe in probes.items():  # alternate, so drift in load hits both alike
                results[name].append(run_probe(exe, args.rounds, env))
    median = {name: {k: statistics.median(r[k] for r in runs) for k in runs[0]}
              for name, runs in results.items()}
    print(f"main thread's longest stall (largest gap of a 1 ms timer), ms; median of "
          f"{args.runs} runs x {args.rounds} first fetches of a 50 MB model")
    print(f"{'':14}{'idle page':>12}{'during fetch':>14}{'interceptor':>13}{'fetch took':>12}")
    for name, m in median.items():
        print(f"{name:14}{m['stall_idle_ms']:12.2f}{m['stall_first_model_fetch_ms']:14.2f}"
              f"{m['interceptor_ms']:13.3f}{m['fetch_ms']:12.1f}")
    ours = median["this build"]
    line = (f"RESULT stall_idle_ms={ours['stall_idle_ms']:.2f} "
            f"stall_first_model_fetch_ms={ours['stall_first_model_fetch_ms']:.2f} "
            f"interceptor_ms={ours['interceptor_ms']:.3f}")
    if args.reference:
        ref = median["reference"]
        line += (f" reference_stall_first_model_fetch_ms={ref['stall_first_model_fetch_ms']:.2f}"
                 f" reference_interceptor_ms={ref['interceptor_ms']:.3f}")
    print(line)


if __name__ == "__main__":
    main()
