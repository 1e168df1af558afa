#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and opens the client from build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
# The engine runs without its sandbox as the client asks; as root Chromium insists on that too.
exec build/vornclient "$@"
