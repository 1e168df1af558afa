#!/bin/sh
# Runs one Windows test under Wine with openbox managing the X display for its duration. Wine
# keeps a window's maximised state in step with what the X window manager reports; with no manager
# on the display, nothing ever reports it, and Wine takes a maximised window back to its normal
# size as soon as it is moved. Windows always has its window manager, so the window-state tests
# run with one. Usage: under_window_manager.sh <wine> <test.exe> [arguments]
openbox --sm-disable >/dev/null 2>&1 &
manager=$!
i=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    i=$((i + 1))
    if [ "$i" -gt 100 ] || ! kill -0 "$manager" 2>/dev/null; then
        echo "under_window_manager: openbox did not start" >&2
        kill "$manager" 2>/dev/null
        exit 1
    fi
    sleep 0.1
done
"$@"
status=$?
kill "$manager" 2>/dev/null
wait "$manager" 2>/dev/null
# The manager leaves its mark on the root window; the next test starts from a bare display.
xprop -root -remove _NET_SUPPORTING_WM_CHECK 2>/dev/null
exit "$status"
