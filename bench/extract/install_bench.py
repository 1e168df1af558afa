#!/usr/bin/env python3
"""Runs the install benchmark (build/bench/install_bench) and prints its medians as one RESULT
line for bench/run_all.py: <archive>_<case>_ours_ms, ..._unzip_ms, ..._unzip+flush_ms (unzip, then
the file system flushed as the installer flushes it), ..._python_zipfile_ms.

    VORN_BUILD_DIR=build python3 bench/extract/install_bench.py [REPETITIONS]
"""
import json
import os
import statistics
import subprocess
import sys

build = os.environ.get("VORN_BUILD_DIR", "build")
repetitions = int(sys.argv[1]) if len(sys.argv) > 1 else 5
out = subprocess.run([os.path.join(build, "bench", "install_bench"), "--benchmark_format=json",
                      f"--benchmark_repetitions={repetitions}"],
                     check=True, stdout=subprocess.PIPE, text=True).stdout
times = {}
for b in json.loads(out)["benchmarks"]:
    if b.get("run_type") != "iteration":
        continue
    # BM_<Tool><Case>/<archive>/...
    name, archive = b["run_name"].split("/")[:2]
    for tool, key in (("Installer", "ours"), ("UnzipFlushed", "unzip+flush"), ("Unzip", "unzip"),
                      ("Python", "python_zipfile")):
        if name.startswith("BM_" + tool):
            case = name[len("BM_" + tool):].lower().replace("withremoval", "+removal")
            label = ("model_like" if archive == "0" else "small_files") + "_" + case
            times.setdefault(f"{label}_{key}_ms", []).append(b["real_time"])
            break
# The installer's changed case with the replaced folder's removal timed too, against the same
# references (the tools overwrite in place, so theirs is the same figure).
for key in list(times):
    if key.endswith("_changed+removal_ours_ms"):
        label = key[:-len("+removal_ours_ms")]
        for ref in ("unzip", "python_zipfile"):
            if f"{label}_{ref}_ms" in times:
                times[f"{label}+removal_{ref}_ms"] = times[f"{label}_{ref}_ms"]
print("RESULT " + " ".join(f"{k}={statistics.median(v):.1f}" for k, v in sorted(times.items())))
