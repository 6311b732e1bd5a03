#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Holds the manual pages to the programs they describe, in the unpacked
# package: the options a page lists are the ones the program takes (the
# simulator's --help, the words the viewer compares its command line with),
# its exit statuses are the ones the program ends with (each run here, one
# command per status), its environment variables are the ones the code reads,
# and the viewer's keyboard section names every shortcut of the panel.
# A status, shortcut or variable added later needs its line in the page, and
# a status one row in the table of commands below.
# Usage: tests/package/check-manuals.sh <usr directory of the unpacked package> <x-close-window tool>
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
usr=$1
closer=$2
viewer=$usr/bin/kolvar-can-viewer
sim=$usr/bin/kolvar-device-sim
cd "$root"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The terms of a section's tagged paragraphs (the line after each .TP), as
# plain words: "\-\-send" -> "--send", macros and quoted separators dropped.
terms() {
    zcat "$usr/share/man/man1/$1.1.gz" |
        awk -v section="$2" '/^\.SH /{ on = ($0 == ".SH " section) } on && tp { print } { tp = ($0 == ".TP") }' |
        sed -E 's/\\-/-/g; s/^\.[A-Z]+ //; s/"[^"]*"//g; s/\\f[BIRP]//g; s/\\\[[a-z0-9]+\]//g' |
        tr -s ' ,/' '\n' | sed '/^$/d' | LC_ALL=C sort -u
}
same() {  # what, manual's list, program's list
    [ "$2" = "$3" ] || fail "$1 differ (- manual, + program):
$(diff <(echo "$2") <(echo "$3") | grep '^[<>]' | sed 's/^</-/; s/^>/+/')"
}
sorted() { LC_ALL=C sort -u | sed '/^$/d'; }

# Options.
help=$("$sim" --help)
same "kolvar-device-sim options" "$(terms kolvar-device-sim OPTIONS | grep '^-' | sorted)" \
    "$(grep -oE '^  (-[-a-z0-9]+)(, -[-a-z0-9]+)?' <<<"$help" | tr -s ' ,' '\n' | sorted)"
same "kolvar-can-viewer options" "$(terms kolvar-can-viewer OPTIONS)" \
    "$(grep -hoE 'argv\[[0-9]+\], "[^"]+"' app/*.cpp | sed -E 's/.*"(.*)"/\1/' | sorted)"

# Environment: every KOLVAR_ variable the code reads is in both pages (both
# programs use the CAN layer, which reads them).
read_vars=$(grep -rhoE 'getenv\("KOLVAR_[A-Z_]+"\)' app can platform tools | sed -E 's/.*"(.*)".*/\1/' | sorted)
for page in kolvar-can-viewer kolvar-device-sim; do
    same "$page environment variables" "$(terms $page ENVIRONMENT | grep '^KOLVAR_' | sorted)" "$read_vars"
done

# Keyboard: every shortcut of the panel definition is in the viewer's page.
listed_keys=$(terms kolvar-can-viewer KEYBOARD)
for key in $(sed -nE 's|.*name="shortcutKey".*<string>([^<]+)</string>.*|\1|p' app/KolvarCanView.ui); do
    grep -qxF "$key" <<<"$listed_keys" || fail "kolvar-can-viewer(1) does not name the shortcut $key"
done

# Exit statuses: each status a page lists, and only those, has a command
# below that ends with it; the simulator's --help names the same ones.
port=$((40000 + $$ % 20000))
declare -A sim_runs=(
    [0]="KOLVAR_VIRTUALCAN_PORT=$port timeout 30 $sim --count 3 --rate 100"
    [1]="KOLVAR_CAN_CHANNELS=virtual timeout 30 $sim --channel vcan0"
    [2]="$sim --rate 0"
)
declare -A viewer_runs=(
    [0]="tests/app/xvfb_window_test.sh $viewer $closer $scratch/window.png"
    [1]="env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb timeout 30 $viewer"
)
same "kolvar-device-sim exit statuses in --help" "$(terms kolvar-device-sim "EXIT STATUS" | sorted)" \
    "$(sed -n '/^Exit status:/,$p' <<<"$help" | grep -oE '\b[0-9]+\b' | sorted)"
check_statuses() {  # page, name of its table
    local -n runs=$2
    same "$1 exit statuses with a command" "$(terms "$1" "EXIT STATUS" | sorted)" \
        "$(printf '%s\n' "${!runs[@]}" | sorted)"
    for status in "${!runs[@]}"; do
        local got=0
        bash -c "${runs[$status]}" >/dev/null 2>&1 || got=$?
        [ "$got" = "$status" ] || fail "$1: '${runs[$status]}' ended with $got, the page says $status"
    done
}
check_statuses kolvar-device-sim sim_runs
check_statuses kolvar-can-viewer viewer_runs

[ "$failures" = 0 ] || exit 1
echo "manual pages match the programs"
