#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Init of the user-mode Linux guest for the paced run (started by
# bench/run.sh). The real viewer runs on an X server of the guest's own, is
# switched on by a click on its bus button, and receives the same cangen
# streams as candump, side by side.
# Environment, from the kernel command line:
#   BENCH_BIN     directory of kolvar-can-viewer
#   BENCH_OUT     directory for the results (on the host)
#   BENCH_FRAMES  frames per stream
#   BENCH_ID      the viewer's chosen identifier (hex without 0x, 200 at start-up)
#   BENCH_OTHER   an identifier the viewer does not show (hex without 0x)
#
# Writes to $BENCH_OUT/paced.txt: one "idle ..." line (bus on, silent), one
# "stream ..." line per stream and, after each, "thread ..." lines with the
# viewer's CPU per thread during that stream; then one "calls ..." line per
# counted stream: each receiver's system calls, by name.

export PATH=/usr/sbin:/usr/bin:/sbin:/bin
out="$BENCH_OUT/paced.txt"
scratch=/dev/shm
display=:96
. "${0%/*}/guest-common.sh"

setup() {
  # /tmp gets a tmpfs of the guest's own, so the guest's X server socket
  # never lands in the host's /tmp.
  mount_guest_filesystems && mount -t tmpfs -o mode=1777 tmpfs /tmp || return 1
  ip link set lo up
  start_vcan0
}

# "tid:ticks:wakeups" for every thread of the viewer; wake-ups are voluntary
# context switches (each one a sleep that ended).
thread_snapshot() {
  local t tid
  for t in /proc/"$viewer"/task/*; do
    tid=${t##*/}
    echo "$tid:$(cpu_ticks "$viewer/task/$tid"):$(sed -n 's/^voluntary_ctxt_switches:[[:space:]]*//p' "$t/status")"
  done
}

# thread_lines BEFORE AFTER: one "thread" line per thread present at the end.
thread_lines() {
  local line tid ticks wakes before b_ticks b_wakes comm
  for line in $2; do
    IFS=: read -r tid ticks wakes <<<"$line"
    before=$(tr ' ' '\n' <<<"$1" | grep "^$tid:")
    IFS=: read -r _ b_ticks b_wakes <<<"${before:-$tid:0:0}"
    comm=$(tr ' ' '_' <"/proc/$viewer/task/$tid/comm" 2>/dev/null)
    [ "$tid" = "$viewer" ] && comm="ui:$comm"  # the main thread
    echo "thread name=${comm:-gone} tid=$tid ticks=$((ticks - b_ticks)) wakeups=$((wakes - b_wakes))"
  done
}

setup || finish "setup_failed"
: >"$out"
tck=$(getconf CLK_TCK)

Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >$scratch/xvfb.log 2>&1 &
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X${display#:} ] && break; sleep 0.1; done
[ -e /tmp/.X11-unix/X${display#:} ] || finish "no_x_server"

mkdir -m 0700 $scratch/xdg
DISPLAY=$display QT_QPA_PLATFORM=xcb KOLVAR_CAN_CHANNELS=socketcan XDG_RUNTIME_DIR=$scratch/xdg HOME=$scratch \
  "$BENCH_BIN/kolvar-can-viewer" >"$BENCH_OUT/paced-viewer.out" 2>"$BENCH_OUT/paced-viewer.err" &
viewer=$!
window=$(DISPLAY=$display timeout 60 xdotool search --sync --onlyvisible --name '^Kolvar CAN Viewer$' | head -n1)
[ -n "$window" ] || finish "no_window"
sleep 1
# The bus button, at its place on the panel (537,62 62x33): a user's click.
DISPLAY=$display xdotool mousemove --sync --window "$window" 568 78 click 1
for _ in $(seq 100); do grep -q vcan0 /proc/net/can/rcvlist_all 2>/dev/null && break; sleep 0.1; done
grep -q vcan0 /proc/net/can/rcvlist_all || finish "bus_not_on"
sleep 3  # past the first read's wait and the repaint that follows

# Idle: bus on, nothing arriving.
s0=$(thread_snapshot); v0=$(cpu_ticks "$viewer")
sleep 10
s1=$(thread_snapshot); v1=$(cpu_ticks "$viewer")
wakes=0
for line in $(thread_lines "$s0" "$s1" | sed -n 's/.*wakeups=//p'); do wakes=$((wakes + line)); done
echo "idle seconds=10 tck=$tck viewer_ticks=$((v1 - v0)) wakeups=$wakes" >>"$out"
thread_lines "$s0" "$s1" >>"$out"

# The guest charges CPU time a whole 10 ms tick at a time to whoever runs
# when the tick comes, and the viewer's wake-ups, one a screen refresh on
# timers of its own, keep one phase to the tick while a stream flows: one
# stream's charge is a single sample of that phase, anything from nothing to
# several times its due. So a stream is sent in parts, with a pause of random
# length between them, long enough for the viewer to fall idle: each part
# starts its timers at a new phase, and the sum over the parts is near what
# the viewer did. candump wakes at every frame and needs none of this.
segments=10

# stream NAME GAP_MS ID: one cangen stream to both receivers, in $segments
# parts; the rate is over the time spent sending, pauses left out.
stream() {
  candump -d vcan0 >$scratch/candump.out &
  local dump=$! t0 sending=0 part
  sleep 1
  local d0 v0 s0 d1 v1 s1 received
  d0=$(cpu_ticks $dump); v0=$(cpu_ticks "$viewer"); s0=$(thread_snapshot)
  for part in $(seq $segments); do
    t0=$(date +%s%N)
    cangen vcan0 -g "$2" -I "$3" -L 8 -D i -n $((BENCH_FRAMES / segments))
    sending=$((sending + $(date +%s%N) - t0))
    # 150 to 450 ms, to the microsecond.
    [ "$part" -lt $segments ] && sleep "0.$(printf %06d $((150000 + (RANDOM * 32768 + RANDOM) % 300000)))"
  done
  await_candump 20
  sleep 1
  d1=$(cpu_ticks $dump); v1=$(cpu_ticks "$viewer"); s1=$(thread_snapshot)
  kill -INT $dump; wait $dump
  received=$(candump_received)
  echo "stream name=$1 rate=$((BENCH_FRAMES * 1000000000 / (sending + 1))) frames=$BENCH_FRAMES tck=$tck" \
    "candump_ticks=$((d1 - d0)) viewer_ticks=$((v1 - v0)) candump_received=$received" >>"$out"
  thread_lines "$s0" "$s1" >>"$out"
}

# The calls an strace -c summary counts, as NAME:COUNT,NAME:COUNT... (its
# lines: % time, seconds, usecs/call, calls, [errors,] syscall; the total's
# line names no call).
by_name() {
  awk '$NF != "total" && $4 ~ /^[0-9]+$/ && $NF ~ /^[a-z_0-9]+$/ { printf "%s%s:%d", sep, $NF, $4; sep = "," }' "$1"
}

# counted NAME GAP_MS ID: the same stream again, in one piece, with every
# system call of both receivers counted: in the guest, where every system
# call is a trip to the kernel's process, the counts are exact. Counted
# apart from the streams above, as strace slows both receivers down.
counted() {
  candump -d vcan0 >$scratch/candump.out &
  local dump=$!
  sleep 1
  strace -c -f -q -p "$viewer" -o $scratch/calls-viewer & local viewer_tracer=$!
  strace -c -f -q -p "$dump" -o $scratch/calls-candump & local dump_tracer=$!
  sleep 1
  cangen vcan0 -g "$2" -I "$3" -L 8 -D i -n "$BENCH_FRAMES"
  sleep 1
  kill -INT $viewer_tracer; wait $viewer_tracer
  # candump, slowed by its tracer, reads on after the sender is done.
  await_candump 60
  kill -INT $dump_tracer; wait $dump_tracer
  kill -INT $dump; wait $dump
  echo "calls name=$1 frames=$BENCH_FRAMES candump_received=$(candump_received)" \
    "viewer=$(by_name $scratch/calls-viewer) candump=$(by_name $scratch/calls-candump)" >>"$out"
}

stream gap1ms_chosen 1 "$BENCH_ID"
stream gap1ms_other 1 "$BENCH_OTHER"
stream gap0.5ms_chosen 0.5 "$BENCH_ID"
stream gap0.5ms_other 0.5 "$BENCH_OTHER"
stream full_chosen 0 "$BENCH_ID"
stream full_other 0 "$BENCH_OTHER"
counted gap1ms_chosen 1 "$BENCH_ID"
counted gap0.5ms_chosen 0.5 "$BENCH_ID"

kill -TERM "$viewer"
wait "$viewer"
echo "viewer_exit=$?" >>"$out"
finish ok
