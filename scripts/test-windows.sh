#!/usr/bin/env bash
# Builds the Windows layer with mingw-w64 from the main CMakeLists.txt (the GUI off: no Qt) into
# build-win/ (64-bit) and build-win32/ (32-bit), and runs the tests under Wine, headless (Xvfb),
# in a private Wine prefix (build-win/wineprefix) that this script creates; the user's own ~/.wine
# is never touched. `--fresh` throws an existing prefix away first.
#
# The 32-bit build is there for the card reader: vendors ship 32-bit termb.dll files with
# __stdcall exports, which only a 32-bit program loads. Its tests are the card library's and the
# readiness check's (which reads the card); the rest of the layer is the same source as 64-bit.
set -euo pipefail
cd "$(dirname "$0")/.."

WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER64=/usr/lib/wine/wineserver64
BUILD=build-win
BUILD32=build-win32
TESTS32='^(card_library_win_test|check_win_test)$'

if [ "${1:-}" != "--under-xvfb" ]; then
    fresh=0
    [ "${1:-}" = "--fresh" ] && fresh=1
    for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres i686-w64-mingw32-g++-posix \
        i686-w64-mingw32-windres "$WINE64" "$WINE32" xvfb-run openbox xprop; do
        command -v "$tool" >/dev/null || { echo "test-windows: $tool is missing (run scripts/setup.sh)" >&2; exit 1; }
    done
    [ -f /usr/src/googletest/CMakeLists.txt ] || { echo "test-windows: GoogleTest sources are missing (run scripts/setup.sh)" >&2; exit 1; }
    for arch in x86_64 i686; do
        [ -f /usr/$arch-w64-mingw32/lib/libz.a ] || { echo "test-windows: zlib for mingw-w64 ($arch) is missing (run scripts/setup.sh)" >&2; exit 1; }
    done

    cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE64" -DVORN_BUILD_GUI=OFF
    cmake --build "$BUILD" -j"$(nproc)"
    cmake -S . -B "$BUILD32" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-i686.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE32" -DVORN_BUILD_GUI=OFF
    cmake --build "$BUILD32" -j"$(nproc)" --target card_library_win_test check_win_test
    [ "$fresh" = 1 ] && rm -rf "$BUILD/wineprefix"
    # One Xvfb for the prefix creation and every test: Wine needs a display for its windows and
    # keyboard hooks, and must never reach the caller's.
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --under-xvfb
fi

export WINEPREFIX="$PWD/$BUILD/wineprefix" WINEARCH=win64
# Wine's error channel stays on for the tests (ctest shows a test's output only when it fails): a
# program that dies while Wine starts it, or on an unhandled exception, otherwise ends with no
# output at all. Its fixme and warning lines say nothing about our code and stay off.
export WINEDEBUG="${WINEDEBUG:-fixme-all}"
export WINELOADER="$WINE64" WINESERVER="$WINESERVER64"
# No Mono or Gecko installers: nothing here needs .NET or an HTML engine, and they would download.
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    start=$(date +%s)
    WINEDEBUG=-all "$WINE64" wineboot --init
    "$WINESERVER64" --wait
    echo "test-windows: Wine prefix created in $(( $(date +%s) - start )) s"
fi

# One wine server for the whole run (tests start faster), ended when the run ends.
"$WINESERVER64" --persistent=30
trap '"$WINESERVER64" --kill >/dev/null 2>&1 || true' EXIT
# Wine's own service processes start with the first program and live on; started here with their
# output elsewhere, they do not hold the tests' output pipes open (ctest would wait for them).
WINEDEBUG=-all "$WINE64" wineboot </dev/null >/dev/null 2>&1
# One program holds Wine's desktop for the whole run (the server's end kills it). Wine closes a
# desktop, and its explorer.exe, one second after the last program using it has ended; a test
# program starting in that second found no desktop and could not create a window ("The explorer
# process failed to start").
"$WINE64" "$BUILD/tests/idle_helper.exe" --hold-desktop </dev/null >/dev/null 2>&1 &
status=0
ctest --test-dir "$BUILD" --output-on-failure -L windows || status=1
ctest --test-dir "$BUILD32" --output-on-failure -L windows -R "$TESTS32" || status=1
exit "$status"
