#!/usr/bin/env python3
"""The main thread's longest stall while the page fetches a 50 MB model file for the first time
(see main_thread_stall.cpp), run on a virtual display. Run by hand (build with
-DVORN_BUILD_BENCH=ON):

    python3 bench/serving/stall_bench.py [rounds]

The last line, "RESULT key=value ...", is for scripts that gather every benchmark's figures.
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../tests/desktop"))
from harness import BUILD_DIR, Display  # noqa: E402


def main():
    rounds = sys.argv[1] if len(sys.argv) > 1 else "5"
    with Display() as display:
        env = dict(display.env, VORN_DISABLE_GPU="1", QT_QPA_PLATFORM="xcb")
        result = subprocess.run([os.path.join(BUILD_DIR, "bench", "main_thread_stall"), rounds],
                                env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                text=True, timeout=300)
    sys.stdout.write(result.stdout)
    sys.exit(result.returncode)


if __name__ == "__main__":
    main()
