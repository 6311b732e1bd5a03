#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside user-mode Linux, as root: plays a serial-line CAN adapter
# (kolvar-slcan-adapter) whose kernel device is set to 500 kbit/s and up,
# then runs COMMAND (which may drop privileges, e.g. through setpriv).
#
# Usage: with_slcan_adapter.sh ADAPTER -- COMMAND [ARGS...]
# COMMAND gets KOLVAR_SLCAN_DEVICE (the device's name), KOLVAR_SLCAN_IN (a
# FIFO: each line written to it is sent as the adapter's message, e.g.
# "t1A58F0FF100000000000" or "sb255000") and KOLVAR_SLCAN_LOG (a file with
# one line "command TEXT" per command the driver sent to the adapter).
set -u
adapter=$1
shift 2

work=$(mktemp -d) || exit 1
chmod 755 "$work"
trap 'kill "$adapter_pid" 2>/dev/null; wait "$adapter_pid" 2>/dev/null; rm -rf "$work"' EXIT
mkfifo -m 666 "$work/in" || exit 1
: >"$work/log" && chmod 644 "$work/log"
# Opened for reading and writing, the FIFO never reports end of input to the
# adapter while writers come and go.
exec 3<>"$work/in"
"$adapter" <&3 >"$work/log" 2>&1 &
adapter_pid=$!
exec 3>&-
for _ in $(seq 50); do
  grep -q '^device ' "$work/log" && break
  sleep 0.1
done
device=$(sed -n 's/^device //p' "$work/log")
if [ -z "$device" ]; then
  echo "with_slcan_adapter: no device appeared" >&2
  cat "$work/log" >&2
  exit 1
fi
ip link set "$device" type can bitrate 500000 && ip link set "$device" up || exit 1

export KOLVAR_SLCAN_DEVICE=$device KOLVAR_SLCAN_IN="$work/in" KOLVAR_SLCAN_LOG="$work/log"
"$@"
