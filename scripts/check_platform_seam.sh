#!/usr/bin/env bash
# The platform seam holds: every header directly in platform/ compiles on its own with nothing but
# the C++ standard library, with the host compiler and with mingw-w64's Windows compilers for
# 64-bit and 32-bit Windows (the Windows layer is built without Qt, for both), and names no Qt type.
#
#     scripts/check_platform_seam.sh
#
# MINGW_CXX, MINGW32_CXX and HOST_CXX choose the compilers (defaults x86_64-w64-mingw32-g++,
# i686-w64-mingw32-g++ and g++).
set -euo pipefail
cd "$(dirname "$0")/.."

MINGW_CXX=${MINGW_CXX:-x86_64-w64-mingw32-g++}
MINGW32_CXX=${MINGW32_CXX:-i686-w64-mingw32-g++}
HOST_CXX=${HOST_CXX:-g++}
FLAGS=(-std=c++20 -fsyntax-only -Wall -Wextra -Werror -I.)
COMPILERS=("$MINGW_CXX" "$MINGW32_CXX" "$HOST_CXX")

for cxx in "${COMPILERS[@]}"; do
    if ! command -v "$cxx" >/dev/null; then
        echo "check_platform_seam: $cxx is not installed (scripts/setup.sh installs it)" >&2
        exit 1
    fi
done

# Qt's names (QString, QWidget, qint64, Q_DECLARE_...) or headers; comments are not exempt, a
# contract that speaks of Qt types belongs to the callers.
uses_qt() {
    grep -nE '#\s*include\s*<Q|\bQ[A-Z][A-Za-z]+\b|\bq(u)?int(8|16|32|64|ptr)\b|\bQ_[A-Z_]+\b' "$1"
}

failed=0
checked=0
for header in platform/*.h; do
    problems=""
    if qt=$(uses_qt "$header"); then
        problems+="names Qt:"$'\n'"$qt"$'\n'
    fi
    for cxx in "${COMPILERS[@]}"; do
        if ! out=$(printf '#include "%s"\n' "$header" | "$cxx" "${FLAGS[@]}" -x c++ - 2>&1); then
            problems+="$cxx:"$'\n'"$out"$'\n'
        fi
    done
    checked=$((checked + 1))
    if [ -n "$problems" ]; then
        echo "check_platform_seam: $header" >&2
        echo "$problems" >&2
        failed=1
    fi
done

if [ "$failed" = 0 ]; then
    echo "check_platform_seam: $checked headers standard C++ only (${COMPILERS[*]})"
fi
exit "$failed"
