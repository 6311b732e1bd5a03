#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The viewer as a screen reader and a keyboard user meet it: on a private X
# server, in a private D-Bus session with its own accessibility bus, runs
# atspi_tree.py (the accessibility tree; a knob turned by a key) or
# keyboard_run.py (a session by keys only). Then Ctrl+Q ends the viewer,
# which must exit with status 0.
# Usage: atspi_test.sh <viewer> tree|keys
set -u
if [ -z "${KOLVAR_PRIVATE_SESSION_BUS:-}" ]; then
    exec env KOLVAR_PRIVATE_SESSION_BUS=1 dbus-run-session -- "$0" "$@"
fi
viewer=$1
case "$2" in
    tree) script=atspi_tree.py ;;
    keys) script=keyboard_run.py ;;
    *) echo "usage: $0 <viewer> tree|keys" >&2; exit 2 ;;
esac
work=$(mktemp -d)
xvfb_pid=
viewer_pid=
bus_pid=

trap 'stop_and_clean "$viewer_pid" "$bus_pid" "$xvfb_pid"' EXIT

. "$(dirname "$0")/../support/private_display.sh"
start_private_display

/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/at-spi-bus.log" 2>&1 &
bus_pid=$!
# Qt's bridge joins the accessibility bus whenever one is there.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

"$viewer" >"$work/viewer-stdout.log" 2>"$work/viewer-stderr.log" &
viewer_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kolvar CAN Viewer$' | head -n1)
[ -n "$window" ] || fail "no visible window titled 'Kolvar CAN Viewer'"

timeout 60 /usr/bin/python3 "$(dirname "$0")/$script" || fail "$script failed"

# Without a window manager nothing gives the panel the focus back after the
# trend window closed; a window manager would.
xdotool windowfocus "$window" && sleep 0.3 && xdotool key ctrl+q || fail "Ctrl+Q could not be sent"
wait_for_viewer 20000
[ -n "$status" ] || fail "the viewer did not end within 20 s of Ctrl+Q"
[ "$status" -eq 0 ] || fail "the viewer ended with status $status"
echo "$script passed; Ctrl+Q ended the viewer with status 0"
