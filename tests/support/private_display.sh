# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the shell tests that run the viewer out of process: starts a
# private X server, points the viewer at it and at a private virtual bus,
# and waits for the viewer to end; fail and stop_and_clean serve them all.
# Needs $work (a scratch folder); sets xvfb_pid.

# Says why the test failed, shows the end of every log in $work, exits 1.
fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do
        [ -s "$log" ] && { echo "--- $(basename "$log")" >&2; tail -n 40 "$log" >&2; }
    done
    exit 1
}

# Stops the processes whose ids are given (empty ones are skipped), waits
# for them and removes $work: the test's exit trap.
stop_and_clean() {
    local pid
    for pid in "$@"; do
        [ -n "$pid" ] && kill "$pid" 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf "$work"
}
start_private_display() {
    # Xvfb picks a free display number itself and writes it to descriptor 3.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start"
        sleep 0.1
    done
    [ -s "$work/display" ] || fail "Xvfb reported no display"
    export DISPLAY=":$(head -n1 "$work/display")"
    export QT_QPA_PLATFORM=xcb
    # A private virtual bus, so that nothing else on this machine is seen.
    export KOLVAR_CAN_CHANNELS=virtual
    export KOLVAR_VIRTUALCAN_PORT=$((40000 + $$ % 20000))
}

# Waits until $viewer_pid has ended, for at most $1 milliseconds; sets status
# to its exit status and clears viewer_pid, or leaves status empty.
wait_for_viewer() {
    local deadline=$(($(date +%s%N) / 1000000 + $1))
    status=
    while :; do
        if ! kill -0 "$viewer_pid" 2>/dev/null; then
            wait "$viewer_pid"
            status=$?
            viewer_pid=
            return
        fi
        [ $(($(date +%s%N) / 1000000)) -lt "$deadline" ] || return
        sleep 0.01
    done
}
