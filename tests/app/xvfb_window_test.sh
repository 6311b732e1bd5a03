#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the viewer as a user would, on a private X server: finds its window by
# the title, saves a screenshot, asks the window to close as a window manager
# does, and expects exit status 0.
# Usage: xvfb_window_test.sh <viewer> <x-close-window tool> <screenshot.png>
#        [words for the viewer's command line...]
set -u
viewer=$1
closer=$2
screenshot=$3
shift 3
work=$(mktemp -d)
xvfb_pid=
viewer_pid=

trap 'stop_and_clean "$viewer_pid" "$xvfb_pid"' EXIT

. "$(dirname "$0")/../support/private_display.sh"
start_private_display

"$viewer" "$@" >"$work/viewer-stdout.log" 2>"$work/viewer-stderr.log" &
viewer_pid=$!

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kolvar CAN Viewer$' | head -n1)
[ -n "$window" ] || fail "no visible window titled 'Kolvar CAN Viewer'"

geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
[ "$geometry" = "636x456" ] || fail "client area is '$geometry', expected 636x456"
position=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Position: \([0-9]*,[0-9]*\).*/\1/p')
[ "$position" = "40,40" ] || fail "window at '$position', expected the definition's 40,40 near the top-left corner"

# The window carries the viewer's icon for the window manager and taskbars.
xprop -id "$window" _NET_WM_ICON | grep -q 'Icon (' || fail "the window has no _NET_WM_ICON"

sleep 1  # let the first frame be painted
import -window "$window" "$screenshot" || fail "screenshot failed"
[ "$(identify -format '%wx%h' "$screenshot")" = "636x456" ] || fail "screenshot has the wrong size"

# The bus status line sits in the free band between the selectors and the bus
# button (x 212..536, y 62..140); off the bus it is one line of text at the
# band's top left. Text there, and nothing at all in the rest of the band:
# no control or label drawn into it, and the line not spilling over.
darkest=$(convert "$screenshot" -crop 290x16+230+62 +repage -colorspace Gray -format '%[fx:minima]' info:)
awk -v d="$darkest" 'BEGIN { exit !(d < 0.4) }' || fail "no status line text at its place (darkest $darkest)"
colours=$(convert "$screenshot" -crop 325x60+212+80 +repage -unique-colors -format '%w' info:)
[ "$colours" = "1" ] || fail "$colours colours below the status line's text: something overlaps its band"
colours=$(convert "$screenshot" -crop 18x78+212+62 +repage -unique-colors -format '%w' info:)
[ "$colours" = "1" ] || fail "the band's left margin is not empty"

"$closer" "$window" 2>"$work/close.log" || fail "close request could not be sent"

wait_for_viewer 20000
[ -n "$status" ] || fail "the viewer did not end within 20 s of the close request"
[ "$status" -eq 0 ] || fail "the viewer ended with status $status"
echo "viewer closed with status 0; screenshot in $screenshot"
