#!/usr/bin/env bash
# Configures and builds the client and its tests into build/ (the build's client folder).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j"$(nproc)"
