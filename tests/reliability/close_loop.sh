#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Closes the viewer as a window manager does, again and again, at a random
# moment 0 to 1.5 s after the bus was switched on, with a busy process per
# core competing for the CPU. Every run must end with status 0 within one
# second of its close request.
# Usage: close_loop.sh <viewer> <x-close-window tool> <runs>
set -u
viewer=$1
closer=$2
runs=$3
work=$(mktemp -d)
xvfb_pid=
viewer_pid=
load_pids=()

# The viewer is killed outright: a run that hangs must not hold the loop.
trap '[ -n "$viewer_pid" ] && kill -9 "$viewer_pid" 2>/dev/null; stop_and_clean "${load_pids[@]}" "$xvfb_pid"' EXIT

. "$(dirname "$0")/../support/private_display.sh"
start_private_display

# The load: one busy loop per core, at the viewer's own priority.
for _ in $(seq "$(nproc)"); do
    (while :; do :; done) &
    load_pids+=($!)
done

# Where the bus button's centre lies in the panel's client area.
button_x=$((537 + 62 / 2))
button_y=$((62 + 33 / 2))

for run in $(seq "$runs"); do
    "$viewer" >"$work/viewer-stdout.log" 2>"$work/viewer-stderr.log" &
    viewer_pid=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$viewer_pid" \
        --name '^Kolvar CAN Viewer$' | head -n1)
    [ -n "$window" ] || fail "run $run: no window"
    # The pointer leaves the button's spot first: the previous run's window
    # stood where this one stands, and a move to where the pointer already is
    # makes --sync wait about 15 s for a motion that never comes.
    xdotool mousemove 0 0 mousemove --sync --window "$window" "$button_x" "$button_y" click 1 ||
        fail "run $run: the click on the bus button failed"
    delay_ms=$((RANDOM % 1501))
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    "$closer" "$window" 2>"$work/close.log" || fail "run $run: the close request could not be sent"
    wait_for_viewer 1000
    if [ -z "$status" ]; then
        # What each thread waits in, for the report.
        for task in /proc/"$viewer_pid"/task/*; do
            echo "$(cat "$task/comm" 2>/dev/null): $(cat "$task/wchan" 2>/dev/null)"
        done >"$work/threads.log"
        fail "run $run: still running 1 s after a close request sent ${delay_ms} ms after bus on"
    fi
    [ "$status" -eq 0 ] || fail "run $run: ended with status $status (close ${delay_ms} ms after bus on)"
    [ $((run % 100)) -eq 0 ] && echo "$run closes done" >&2
done
echo "$runs closes at random delays after bus on, each ended with status 0 within 1 s"
