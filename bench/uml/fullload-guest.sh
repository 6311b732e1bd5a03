#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Init of the user-mode Linux guest for the full-load run (started by
# bench/run.sh). The guest sees the host's files through hostfs.
# Environment, from the kernel command line:
#   BENCH_BIN     directory of kolvar-bench-flood and kolvar-bench-viewer
#   BENCH_OUT     directory for the results (on the host)
#   BENCH_FRAMES  frames per round
#   BENCH_VIEWER  1 to run the viewer beside candump, 0 for candump alone
#   BENCH_ID      the viewer's chosen identifier (hex, 0x200 at start-up)
#   BENCH_EVERY   one frame in BENCH_EVERY carries the chosen identifier
#
# Round 1 sends as fast as the guest carries; each later round sends at a
# lower fraction of that rate, until candump receives every frame. Each round
# writes one "round ..." line to $BENCH_OUT/fullload.txt.

export PATH=/usr/sbin:/usr/bin:/sbin:/bin
out="$BENCH_OUT/fullload.txt"
scratch=/dev/shm
. "${0%/*}/guest-common.sh"

setup() {
  mount_guest_filesystems && start_vcan0
}

# The value of key=... in the viewer's latest stats line.
viewer_stat() {
  grep '^BENCH stats' "$BENCH_OUT/viewer.out" | tail -1 | tr ' ' '\n' | sed -n "s/^$1=//p"
}

viewer_snapshot() {
  local before
  before=$(grep -c '^BENCH stats' "$BENCH_OUT/viewer.out")
  kill -USR1 "$viewer"
  for _ in $(seq 100); do
    [ "$(grep -c '^BENCH stats' "$BENCH_OUT/viewer.out")" -gt "$before" ] && return 0
    sleep 0.1
  done
  return 1
}

setup || finish "setup_failed"
: >"$out"
echo "guest_cpu=$(grep -m1 bogomips /proc/cpuinfo | tr -d ' \t') clk_tck=$(getconf CLK_TCK)" >>"$out"
tck=$(getconf CLK_TCK)

viewer=""
if [ "$BENCH_VIEWER" = 1 ]; then
  mkdir -m 0700 $scratch/xdg
  QT_QPA_PLATFORM=offscreen KOLVAR_CAN_CHANNELS=socketcan XDG_RUNTIME_DIR=$scratch/xdg HOME=$scratch \
    "$BENCH_BIN/kolvar-bench-viewer" >"$BENCH_OUT/viewer.out" 2>"$BENCH_OUT/viewer.err" &
  viewer=$!
  for _ in $(seq 1200); do
    grep -q '^BENCH ready' "$BENCH_OUT/viewer.out" 2>/dev/null && break
    kill -0 "$viewer" 2>/dev/null || break
    sleep 0.1
  done
  grep -q '^BENCH ready' "$BENCH_OUT/viewer.out" || finish "viewer_not_ready"
  sleep 2  # let the start-up settle before the first round
fi

full_rate=0
for fraction in 0 90 80 70 60 50 40 30; do
  if [ "$fraction" = 0 ]; then rate=0; else rate=$((full_rate * fraction / 100)); fi
  candump -d vcan0 >$scratch/candump.out &
  dump=$!
  sleep 1
  dump0=$(cpu_ticks $dump)
  if [ -n "$viewer" ]; then
    viewer_snapshot || finish "viewer_silent"
    view0=$(cpu_ticks $viewer); taken0=$(viewer_stat frames_taken); dropped0=$(viewer_stat dropped)
  fi
  sent=$("$BENCH_BIN/kolvar-bench-flood" vcan0 "$BENCH_FRAMES" "$rate" "$BENCH_ID" "$BENCH_EVERY")
  achieved=$(echo "$sent" | sed -n 's/.*(\([0-9]*\) frames\/s).*/\1/p')
  # Let both receivers drain what is still queued for them.
  await_candump 20
  sleep 1
  dump1=$(cpu_ticks $dump)
  line="round rate=${achieved:-0} frames=$BENCH_FRAMES tck=$tck candump_ticks=$((dump1 - dump0))"
  if [ -n "$viewer" ]; then
    viewer_snapshot || finish "viewer_silent"
    view1=$(cpu_ticks $viewer); taken1=$(viewer_stat frames_taken); dropped1=$(viewer_stat dropped)
    line="$line viewer_ticks=$((view1 - view0)) viewer_taken=$((taken1 - taken0)) viewer_dropped=$((dropped1 - dropped0))"
  fi
  kill -INT $dump; wait $dump
  received=$(candump_received)
  echo "$line candump_received=$received" >>"$out"
  [ "$fraction" = 0 ] && full_rate=${achieved:-0}
  [ "$received" -ge "$BENCH_FRAMES" ] && break
done

if [ -n "$viewer" ]; then
  kill -TERM "$viewer"
  wait "$viewer"
  echo "viewer_exit=$?" >>"$out"
fi
finish ok
