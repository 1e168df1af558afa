#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and runs every test: unit tests, then the desktop
# tests (the real client under Xvfb with openbox, driven by xdotool).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -L unit -j"$(nproc)"
ctest --test-dir build --output-on-failure -L desktop
