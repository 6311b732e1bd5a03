#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Benchmark of the viewer: idle cost, full bus load and a paced stream side by
# side with candump (inside user-mode Linux on vcan0), latency, memory,
# start-up, the trend window's CPU and memory, and the virtual bus's cost per
# thread of the host and the viewer.
# Builds what it needs (release, in build-bench/), prints one table and exits
# with 1 when a target is missed, 2 when a measurement could not be made.
#
# Usage: bench/run.sh [--quick]
#   --quick   fewer frames everywhere, for a trial run (figures are rougher)
# BENCH_PHASES=idle,latency,memory,startup,fullload,paced,trend,trendmemory,vbus (the default)
# picks the measurements to make; a table with some left out is not a full run.
#
# Needs: cmake, ninja, Qt 6, user-mode-linux, can-utils,
# iproute2, xvfb, xdotool (scripts/install-deps.sh test installs them all).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
bin=$build/bench
out=$build/bench-out

quick=0
[ "${1:-}" = "--quick" ] && quick=1

chosen_id=0x200      # the identifier the viewer composes at start-up
chosen_every=4       # one frame in four carries it, the rest other identifiers
latency_rate=8000
if [ $quick = 1 ]; then
  latency_frames=24000; mem_frames=200000; uml_frames=10000; paced_frames=6000; startup_runs=5
  trend_seconds=20; trend_memory_seconds=60; vbus_seconds=5
else
  latency_frames=80000; mem_frames=1000000; uml_frames=30000; paced_frames=20000; startup_runs=10
  trend_seconds=30; trend_memory_seconds=${BENCH_TREND_MEMORY_SECONDS:-600}; vbus_seconds=10
fi
refresh_us=16667     # one refresh of a 60 Hz screen
display=:95

log() { echo "[bench] $*" >&2; }
phases=",${BENCH_PHASES:-idle,latency,memory,startup,fullload,paced,trend,trendmemory,vbus},"
want() { [[ $phases == *",$1,"* ]]; }

# ---- Build -------------------------------------------------------------------
log "building (release) in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOLVAR_BUILD_TESTS=OFF >/dev/null ||
  { log "configure failed"; exit 2; }
cmake --build "$build" --target kolvar-bench-viewer kolvar-bench-send kolvar-bench-flood kolvar-can-viewer >/dev/null ||
  { log "build failed"; exit 2; }
rm -rf "$out" && mkdir -p "$out" && : >"$out/sender.log"

# The viewer and senders on the host use a virtual bus of their own (a port
# nothing else on the machine uses), so tests running meanwhile cannot reach
# them, and only the virtual bus is offered.
export KOLVAR_CAN_CHANNELS=virtual
export KOLVAR_VIRTUALCAN_PORT=35495
export XDG_RUNTIME_DIR=$out/xdg
mkdir -m 0700 -p "$XDG_RUNTIME_DIR"

viewer_pid=""
xvfb_pid=""
cleanup() {
  [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null
  [ -n "$sender_pid" ] && kill "$sender_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

# CPU time of every thread of a process, in nanoseconds.
cpu_ns() {
  local total=0 t ns
  for t in /proc/"$1"/task/*/schedstat; do
    read -r ns _ <"$t" 2>/dev/null && total=$((total + ns))
  done
  echo $total
}

# Voluntary context switches of every thread of a process: each one is a
# sleep that ended, so their growth counts wake-ups.
wakeups() {
  local total=0 t n
  for t in /proc/"$1"/task/*/status; do
    n=$(sed -n 's/^voluntary_ctxt_switches:[[:space:]]*//p' "$t" 2>/dev/null)
    total=$((total + ${n:-0}))
  done
  echo $total
}

# CPU time of each thread of a process: one line "tid name ns" per thread.
thread_ns() {
  local t ns name
  for t in /proc/"$1"/task/*; do
    read -r ns _ <"$t/schedstat" 2>/dev/null || continue
    read -r name <"$t/comm" 2>/dev/null
    echo "${t##*/} ${name// /_} $ns"
  done
}

# thread_cost BEFORE AFTER SECONDS FRAMES: per thread that ran, "name/tid % us"
# (% of a core over SECONDS, us per frame); threads without a name of their
# own carry the process's.
thread_cost() {
  awk -v s="$3" -v n="$4" 'NR == FNR { before[$1] = $3; next }
    { d = $3 - before[$1]; if (d > 0) printf "%s/%s %.2f %.2f\n", $2, $1, d / s / 1e7, d / n / 1000 }' \
    "$1" "$2" | sort -k2 -nr
}

rss_kb() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$1/status"; }
# "anon A kB, file F kB": the resident size's private memory and its mapped
# files (libraries, fonts), which the kernel may drop and read again
rss_parts() {
  awk '/^RssAnon:/ { a = $2 } /^RssFile:/ { f = $2 } END { printf "anon %d kB, file %d kB", a, f }' "/proc/$1/status"
}

# keep_smaps NAME: the viewer's mappings now, as trend-smaps-NAME.txt in the
# output, to see where its resident size sits (bench/smaps-by-file.sh)
keep_smaps() { cp "/proc/$viewer_pid/smaps" "$out/trend-smaps-$1.txt" 2>/dev/null; }

# value of key=... in the last stats line of a viewer log
stat_of() { grep '^BENCH stats' "$1" | tail -1 | tr ' ' '\n' | sed -n "s/^$2=//p"; }

# start_viewer LOG [VAR=value ...]: starts the viewer, waits until its worker runs.
start_viewer() {
  local logf=$1
  shift
  env "$@" "$bin/kolvar-bench-viewer" >"$logf" 2>"$logf.err" &
  viewer_pid=$!
  for _ in $(seq 300); do
    grep -q '^BENCH ready' "$logf" 2>/dev/null && return 0
    kill -0 "$viewer_pid" 2>/dev/null || break
    sleep 0.1
  done
  log "viewer did not start, see $logf.err"
  return 1
}

# asks the running viewer for a stats line and waits for it
viewer_stats() {
  local logf=$1 before
  before=$(grep -c '^BENCH stats' "$logf")
  kill -USR1 "$viewer_pid"
  for _ in $(seq 100); do
    [ "$(grep -c '^BENCH stats' "$logf")" -gt "$before" ] && return 0
    sleep 0.1
  done
  return 1
}

# asks for stats until frames_taken stops growing (the viewer has caught up
# with what is still in transit), at most 20 s
viewer_settled() {
  local logf=$1 last=-1 now
  for _ in $(seq 20); do
    viewer_stats "$logf" || return 1
    now=$(stat_of "$logf" frames_taken)
    [ "$now" = "$last" ] && return 0
    last=$now
    sleep 1
  done
  return 0
}

stop_viewer() {
  kill -TERM "$viewer_pid" 2>/dev/null
  wait "$viewer_pid" 2>/dev/null
  viewer_pid=""
}

# start_sender RATE EVERY: starts the sender on virtual channel 0 and waits
# until it is on the bus. Started before the viewer, it hosts the virtual bus,
# as the device or its simulator would; the viewer is a plain client.
sender_pid=""
start_sender() {
  local before
  before=$(grep -c '^ready' "$out/sender.log" 2>/dev/null)
  rm -f "$out/sender.ctl" && mkfifo "$out/sender.ctl" || return 1
  "$bin/kolvar-bench-send" 0 "$1" "$chosen_id" "$2" <"$out/sender.ctl" >>"$out/sender.log" 2>&1 &
  sender_pid=$!
  exec 3>"$out/sender.ctl"
  for _ in $(seq 100); do
    [ "$(grep -c '^ready' "$out/sender.log")" -gt "${before:-0}" ] && return 0
    kill -0 "$sender_pid" 2>/dev/null || break
    sleep 0.1
  done
  log "sender did not start, see $out/sender.log"
  return 1
}

# send FRAMES [SECONDS]: has the sender send that many frames and waits until
# it has, at most SECONDS (300 unless given).
send() {
  local before
  before=$(grep -c '^sent' "$out/sender.log")
  echo "$1" >&3
  for _ in $(seq $((${2:-300} * 10))); do
    [ "$(grep -c '^sent' "$out/sender.log")" -gt "$before" ] && { sleep 1; return 0; }
    sleep 0.1
  done
  log "sender did not finish, see $out/sender.log"
  return 1
}

stop_sender() {
  exec 3>&-
  [ -n "$sender_pid" ] && wait "$sender_pid" 2>/dev/null
  sender_pid=""
}

start_xvfb() {
  if command -v Xvfb >/dev/null; then
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$out/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X${display#:}" ] && return 0
      sleep 0.1
    done
  fi
  log "no X server on $display; using the offscreen platform instead"
  xvfb_pid=""
  return 1
}

# platform settings for a viewer that should draw on a real X server
if start_xvfb; then
  on_screen=(QT_QPA_PLATFORM=xcb DISPLAY=$display)
  screen_name="Xvfb"
else
  on_screen=(QT_QPA_PLATFORM=offscreen)
  screen_name="offscreen"
fi
offscreen=(QT_QPA_PLATFORM=offscreen)

failures=0
rows=()
# row NAME RESULT TARGET VERDICT
row() { rows+=("$1|$2|$3|$4"); [ "$4" = "MISSED" ] && failures=$((failures + 1)); }
verdict() { if [ "$1" = 1 ]; then echo "met"; else echo "MISSED"; fi; }
broken=0

# ---- Idle: bus on, bus silent --------------------------------------------------
if want idle; then
log "idle: bus on, silent bus, 10 s ($screen_name)"
if start_sender 0 "$chosen_every" && start_viewer "$out/idle.log" "${on_screen[@]}"; then
  sleep 3  # past the first read's one-second wait and the first repaints
  c0=$(cpu_ns "$viewer_pid"); w0=$(wakeups "$viewer_pid")
  sleep 10
  c1=$(cpu_ns "$viewer_pid"); w1=$(wakeups "$viewer_pid")
  stop_viewer
  stop_sender
  idle_pct=$(awk -v d=$((c1 - c0)) 'BEGIN { printf "%.2f", d / 1e9 / 10 * 100 }')
  row "Idle CPU, bus on, silent, status line shown (10 s)" "$idle_pct % of a core" "<= 0.1 %" \
    "$(verdict "$(awk -v p="$idle_pct" 'BEGIN { print (p <= 0.1) }')")"
  row "Idle wake-ups of the viewer's threads" "$(awk -v w=$((w1 - w0)) 'BEGIN { printf "%.1f /s", w / 10 }')" \
    "a few /s (<= 5)" "$(verdict $(((w1 - w0) <= 50)))"
else
  row "Idle CPU, bus on, silent, status line shown (10 s)" "not measured" "<= 0.1 %" "MISSED"; broken=1
fi
fi

# ---- Latency at 8,000 frames/s on the virtual bus -------------------------------
if want latency; then
log "latency: $latency_frames frames at $latency_rate frames/s (offscreen)"
if start_sender "$latency_rate" "$chosen_every" &&
  start_viewer "$out/latency.log" "${offscreen[@]}" KOLVAR_BENCH_TIMING=1; then
  lat0=$(cpu_ns "$viewer_pid")
  send "$latency_frames"
  lat1=$(cpu_ns "$viewer_pid")
  viewer_stats "$out/latency.log"
  stop_viewer
  stop_sender
  L=$out/latency.log
  p50=$(stat_of "$L" arrival_set_p50_us); p99=$(stat_of "$L" arrival_set_p99_us)
  stale=$(stat_of "$L" stale_max_us); sets=$(stat_of "$L" meter_sets); taken=$(stat_of "$L" frames_taken)
  expected=$(((latency_frames + chosen_every - 1) / chosen_every))
  # The worker takes every frame (each goes to the trend and the recording)
  # but shows only the newest it has at each wake-up, at most one a refresh:
  # what must hold is that none is lost and the screen keeps up.
  row "Arrival -> meter value, p50 / p99 (taken $taken of $expected, shown $sets)" \
    "$(awk -v a="$p50" -v b="$p99" 'BEGIN { printf "%.2f / %.2f ms", a / 1000, b / 1000 }')" \
    "<= 1 / <= 5 ms, all taken" \
    "$(verdict $((p50 >= 0 && p50 <= 1000 && p99 <= 5000 && taken == expected)))"
  row "Value -> repaint, p50 / p99 / max" \
    "$(awk -v a="$(stat_of "$L" set_paint_p50_us)" -v b="$(stat_of "$L" set_paint_p99_us)" \
      -v c="$(stat_of "$L" set_paint_max_us)" 'BEGIN { printf "%.2f / %.2f / %.2f ms", a / 1000, b / 1000, c / 1000 }')" \
    "report" "-"
  row "Screen behind at a repaint, max (repaints: $(stat_of "$L" paints))" \
    "$(awk -v s="$stale" 'BEGIN { printf "%.2f ms", s / 1000 }')" \
    "<= 1 refresh (16.7 ms)" "$(verdict $((stale <= refresh_us)))"
  row "Worker: CPU / waiting for a CPU (load average $(cut -d' ' -f1 /proc/loadavg))" \
    "$(awk -v r="$(stat_of "$L" worker_run_us)" -v w="$(stat_of "$L" worker_wait_us)" \
      'BEGIN { printf "%.0f / %.0f ms", r / 1000, w / 1000 }')" "report" "-"
  row "Viewer CPU at $latency_rate frames/s, status line shown" \
    "$(awk -v d=$((lat1 - lat0)) -v n="$latency_frames" -v r="$latency_rate" \
      'BEGIN { printf "%.1f %% of a core (%.1f us/frame)", d / (n / r + 1) / 1e7, d / n / 1000 }')" "report" "-"
else
  row "Arrival -> meter value" "not measured" "<= 1 / <= 5 ms" "MISSED"; broken=1
fi
fi

# ---- Memory: 1,000,000 frames, mostly other identifiers ----------------------------
# Paced at 50,000 frames/s, over six times what a 1 Mbit/s bus carries, so the
# run takes seconds; unpaced bursts of hundreds of thousands of frames per
# second only measure how much the virtual bus's sockets buffer.
mem_rate=50000
if want memory; then
log "memory: $mem_frames frames at $mem_rate frames/s, nine in ten of other identifiers (offscreen)"
if start_sender "$mem_rate" 10 && start_viewer "$out/memory.log" "${offscreen[@]}"; then
  send 10000
  viewer_settled "$out/memory.log"
  rss_first=$(rss_kb "$viewer_pid"); heap_first=$(stat_of "$out/memory.log" heap_in_use_kb)
  send $((mem_frames - 10000))
  viewer_settled "$out/memory.log"
  rss_last=$(rss_kb "$viewer_pid"); heap_last=$(stat_of "$out/memory.log" heap_in_use_kb)
  taken=$(stat_of "$out/memory.log" frames_taken)
  stop_viewer
  stop_sender
  growth=$((rss_last - rss_first))
  row "Resident size, after 10,000 -> after $mem_frames frames" \
    "$rss_first -> $rss_last kB (+$growth kB)" "growth <= 2048 kB" "$(verdict $((growth <= 2048)))"
  row "Heap in use, same points (frames taken: $taken of $((mem_frames / 10)))" \
    "$heap_first -> $heap_last kB" "report" "-"
else
  row "Resident size growth" "not measured" "<= 2048 kB" "MISSED"; broken=1
fi
fi

# ---- Start-up: process start to panel shown -------------------------------------
if want startup; then
log "start-up: $startup_runs runs ($screen_name)"
: >"$out/startup.txt"
for _ in $(seq "$startup_runs"); do
  t0=$(date +%s%N)
  env "${on_screen[@]}" KOLVAR_BENCH_MODE=startup KOLVAR_BENCH_T0_NS="$t0" \
    "$bin/kolvar-bench-viewer" 2>>"$out/startup.err" | sed -n 's/^BENCH startup_ms=//p' >>"$out/startup.txt"
done
startup_median=$(sort -n "$out/startup.txt" | awk '{ v[NR] = $1 } END {
  if (NR == 0) { print "-"; exit } if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
row "Start-up to panel shown, median of $(wc -l <"$out/startup.txt")" "$startup_median ms" "report" "-"
fi
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
xvfb_pid=""

# ---- Full load under user-mode Linux, beside candump ---------------------------
if want fullload; then
log "full load: user-mode Linux, vcan0, $uml_frames frames per round"
uml=$(command -v linux.uml || command -v linux || true)
if [ -z "$uml" ]; then
  row "Full load (user-mode Linux)" "not measured: no user-mode Linux" "<= 0.1 x candump" "MISSED"; broken=1
else
  TMPDIR=/dev/shm timeout 1200 "$root/tests/uml/uml-kernel.sh" mem=1024M rootfstype=hostfs rootflags=/ rw \
    init="$root/bench/uml/fullload-guest.sh" BENCH_BIN="$bin" BENCH_OUT="$out" \
    BENCH_FRAMES="$uml_frames" BENCH_VIEWER=1 BENCH_ID="$chosen_id" BENCH_EVERY="$chosen_every" \
    con=null con0=fd:0,fd:1 </dev/null >"$out/uml-console.log" 2>&1
  F=$out/fullload.txt
  last=$(grep '^round' "$F" 2>/dev/null | tail -1)
  field() { echo "$last" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
  if [ -z "$last" ] || ! grep -q '^guest_done=ok' "$F"; then
    row "Full load (user-mode Linux)" "not measured: $(grep guest_done "$F" 2>/dev/null || echo no result)" \
      "<= 0.1 x candump" "MISSED"; broken=1
  else
    frames=$(field frames); tck=$(field tck)
    cd_us=$(awk -v t="$(field candump_ticks)" -v k="$tck" -v n="$frames" 'BEGIN { printf "%.1f", t / k * 1e6 / n }')
    vw_us=$(awk -v t="$(field viewer_ticks)" -v k="$tck" -v n="$frames" 'BEGIN { printf "%.1f", t / k * 1e6 / n }')
    ratio=$(awk -v a="$vw_us" -v b="$cd_us" 'BEGIN { printf "%.2f", a / b }')
    taken=$(field viewer_taken); dropped=$(field viewer_dropped)
    expected=$(((frames + chosen_every - 1) / chosen_every))
    row "Full load: rate carried, candump lost none" \
      "$(field rate) frames/s ($(field candump_received)/$frames)" "report" "-"
    row "Full load: CPU per frame, viewer / candump" "$vw_us / $cd_us us (x $ratio)" "<= 0.1 x candump" \
      "$(verdict "$(awk -v r="$ratio" 'BEGIN { print (r <= 0.1) }')")"
    row "Full load: frames lost before the worker" \
      "dropped=$dropped, taken $taken of $expected" "dropped 0, all taken" \
      "$(verdict $((dropped == 0 && taken == expected)))"
  fi
fi
fi

# ---- Paced streams under user-mode Linux: the real viewer beside candump --------
# A device sends a frame every millisecond or so, each arriving alone: cangen
# paces the same stream to candump and to the real viewer (on the guest's own
# X server, switched on by a click), with the chosen identifier and with
# another, with gaps of 1 and 0.5 ms (cangen -g; the guest's timer makes the
# rates lower) and at full load, each stream in ten parts (paced-guest.sh says
# why).
if want paced; then
log "paced: user-mode Linux, vcan0, $paced_frames frames per stream, real viewer on Xvfb"
uml=$(command -v linux.uml || command -v linux || true)
P=$out/paced.txt
if [ -z "$uml" ]; then
  row "Paced streams (user-mode Linux)" "not measured: no user-mode Linux" "<= 0.5 x candump" "MISSED"; broken=1
else
  TMPDIR=/dev/shm timeout 1200 "$root/tests/uml/uml-kernel.sh" mem=1024M rootfstype=hostfs rootflags=/ rw \
    init="$root/bench/uml/paced-guest.sh" BENCH_BIN="$build/app" BENCH_OUT="$out" \
    BENCH_FRAMES="$paced_frames" BENCH_ID="${chosen_id#0x}" BENCH_OTHER=123 \
    con=null con0=fd:0,fd:1 </dev/null >"$out/uml-paced-console.log" 2>&1
  if ! grep -q '^guest_done=ok' "$P" 2>/dev/null; then
    row "Paced streams (user-mode Linux)" "not measured: $(grep guest_done "$P" 2>/dev/null || echo no result)" \
      "<= 0.5 x candump" "MISSED"; broken=1
  else
    kv() { echo "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"; }
    idle=$(grep '^idle' "$P")
    row "Paced: idle, bus on, silent: viewer wake-ups / CPU" \
      "$(awk -v w="$(kv "$idle" wakeups)" -v t="$(kv "$idle" viewer_ticks)" -v k="$(kv "$idle" tck)" \
        'BEGIN { printf "%.1f /s, %.2f %% of a core", w / 10, t / k / 10 * 100 }')" "a few /s" \
      "$(verdict "$(awk -v w="$(kv "$idle" wakeups)" 'BEGIN { print (w / 10 <= 5) }')")"
    while read -r line; do
      name=$(kv "$line" name); frames=$(kv "$line" frames); tck=$(kv "$line" tck)
      cd_us=$(awk -v t="$(kv "$line" candump_ticks)" -v k="$tck" -v n="$frames" 'BEGIN { printf "%.1f", t / k * 1e6 / n }')
      vw_us=$(awk -v t="$(kv "$line" viewer_ticks)" -v k="$tck" -v n="$frames" 'BEGIN { printf "%.1f", t / k * 1e6 / n }')
      ratio=$(awk -v a="$vw_us" -v b="$cd_us" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }')
      limit=0.5; [[ $name == full* ]] && limit=0.1
      row "Paced $name ($(kv "$line" rate) frames/s): viewer / candump" \
        "$vw_us / $cd_us us (x $ratio)" "<= $limit x candump" \
        "$(verdict "$(awk -v r="$ratio" -v l="$limit" 'BEGIN { print (r != "inf" && r <= l) }')")"
    done < <(grep '^stream' "$P")
    # The same streams with each receiver's system calls counted: in the
    # guest, where its CPU times are 10 ms samples, the exact measure.
    calls_total() { echo "$1" | tr ',' '\n' | awk -F: '{ n += $2 } END { print n + 0 }'; }
    while read -r line; do
      frames=$(kv "$line" frames)
      vc=$(calls_total "$(kv "$line" viewer)"); dc=$(calls_total "$(kv "$line" candump)")
      row "Paced $(kv "$line" name), counted: system calls per frame, viewer / candump" \
        "$(awk -v v="$vc" -v d="$dc" -v n="$frames" \
          'BEGIN { printf "%.2f / %.2f (x %.2f)", v / n, d / n, (d > 0 ? v / d : 0) }')" "report" "-"
    done < <(grep '^calls' "$P")
  fi
fi
fi

# ---- Trend window: CPU with it open vs closed, memory over a long run -------------
# Every frame carries the chosen identifier, at 8,000 frames/s, so the trend
# takes each one; offscreen, where the chart is still drawn into its backing
# store at screen rate.
trend_cpu_ns() {  # trend_cpu_ns LOG [VAR=value ...]: viewer CPU over trend_seconds of frames
  local logf=$1 c0 c1
  shift
  start_sender "$latency_rate" 1 && start_viewer "$logf" "${offscreen[@]}" "$@" || return 1
  sleep 2
  c0=$(cpu_ns "$viewer_pid")
  send $((latency_rate * trend_seconds)) || return 1
  c1=$(cpu_ns "$viewer_pid")
  stop_viewer
  stop_sender
  echo $((c1 - c0))
}
if want trend; then
log "trend: $latency_rate frames/s for $trend_seconds s, trend closed then open (offscreen)"
closed_ns=$(trend_cpu_ns "$out/trend-closed.log")
open_ns=$(trend_cpu_ns "$out/trend-open.log" KOLVAR_BENCH_TREND=1)
if [ -n "$closed_ns" ] && [ -n "$open_ns" ]; then
  span=$((trend_seconds + 1))
  row "Viewer CPU at $latency_rate frames/s, trend closed / open" \
    "$(awk -v a="$closed_ns" -v b="$open_ns" -v s="$span" \
      'BEGIN { printf "%.1f / %.1f %% of a core (x%.2f)", a / s / 1e7, b / s / 1e7, b / a }')" \
    "open <= 1.5 x closed" "$(verdict "$(awk -v a="$closed_ns" -v b="$open_ns" 'BEGIN { print (b <= 1.5 * a) }')")"
else
  stop_viewer; stop_sender
  row "Viewer CPU, trend closed / open" "not measured" "open <= 1.5 x closed" "MISSED"; broken=1
fi
fi
# What the trend's memory costs a user: a device at 1,000 frames/s, the
# viewer's resident size with the trend closed (after a warm-up), while it is
# open (a line a minute), and once it is closed again. The ring grows with
# what arrives and is given back when the window closes.
trend_memory_rate=1000
trend_memory_lines=()
if want trendmemory; then
log "trend memory: $trend_memory_rate frames/s; trend closed, open $trend_memory_seconds s, closed again"
tm_log=$out/trend-memory.log
if start_sender "$trend_memory_rate" 1 && start_viewer "$tm_log" "${offscreen[@]}" &&
   send $((trend_memory_rate * 30)) 120; then
  closed_kb=$(rss_kb "$viewer_pid"); keep_smaps closed
  trend_memory_lines+=("closed, after 30 s of frames: $closed_kb kB ($(rss_parts "$viewer_pid"))")
  kill -USR2 "$viewer_pid"  # opens the trend
  before=$(grep -c '^sent' "$out/sender.log")
  echo $((trend_memory_rate * trend_memory_seconds)) >&3
  open_kb=0; t=0; sent_all=0
  while [ $t -le $((trend_memory_seconds + 120)) ]; do
    sleep 1; t=$((t + 1))
    [ "$(grep -c '^sent' "$out/sender.log")" -gt "$before" ] && { sent_all=1; break; }
    if [ $((t % 60)) = 0 ]; then
      kb=$(rss_kb "$viewer_pid"); [ "$kb" -gt "$open_kb" ] && open_kb=$kb
      trend_memory_lines+=("open $t s: $kb kB (+$((kb - closed_kb)) kB; $(rss_parts "$viewer_pid"))")
      log "${trend_memory_lines[-1]}"
    fi
  done
  sleep 1
  kb=$(rss_kb "$viewer_pid"); [ "$kb" -gt "$open_kb" ] && open_kb=$kb; keep_smaps open
  viewer_stats "$tm_log"
  trend_memory_lines+=("open, at the end: $kb kB (+$((kb - closed_kb)) kB; $(rss_parts "$viewer_pid")), $(stat_of "$tm_log" trend_samples) samples in $(stat_of "$tm_log" trend_held_kb) kB of blocks")
  log "${trend_memory_lines[-1]}"
  kill -USR2 "$viewer_pid"  # closes it
  send $((trend_memory_rate * 10)) 60
  after_kb=$(rss_kb "$viewer_pid"); keep_smaps closed-again
  trend_memory_lines+=("closed again, after 10 s of frames: $after_kb kB ($((after_kb - closed_kb)) kB; $(rss_parts "$viewer_pid"))")
  log "${trend_memory_lines[-1]}"
  stop_viewer
  stop_sender
  if [ $sent_all = 1 ]; then
    row "Viewer memory, trend open $trend_memory_seconds s at $trend_memory_rate frames/s" \
      "$(awk -v a="$closed_kb" -v b="$open_kb" 'BEGIN { printf "+%.1f MB (%.1f MB closed)", (b - a) / 1024, a / 1024 }')" \
      "<= 10 MB above closed" "$(verdict $((open_kb - closed_kb <= 10 * 1024)))"
  else
    log "sender did not finish, see $out/sender.log"
    row "Viewer memory, trend open" "not measured: the sender did not finish" "<= 10 MB above closed" "MISSED"; broken=1
  fi
  row "Viewer memory, trend closed again" \
    "$(awk -v a="$closed_kb" -v b="$after_kb" 'BEGIN { printf "%+.1f MB", (b - a) / 1024 }')" \
    "<= 2 MB above closed" "$(verdict $((after_kb - closed_kb <= 2 * 1024)))"
else
  stop_viewer; stop_sender
  row "Viewer memory, trend open" "not measured" "<= 10 MB above closed" "MISSED"; broken=1
fi
fi

# ---- Virtual bus: the host's and the viewer's CPU per thread ----------------------
# The bench sender hosts the bus (its I/O thread serves the sender's own
# connection and relays to the viewer), the viewer is a client; a paced stream
# at 1,000 and 8,000 frames/s, one frame in four of the chosen identifier.
vbus_threads=()
if want vbus; then
for rate in 1000 8000; do
  log "vbus: $rate frames/s for $vbus_seconds s, sender hosting, viewer a client (offscreen)"
  frames=$((rate * vbus_seconds))
  if start_sender "$rate" "$chosen_every" && start_viewer "$out/vbus-$rate.log" "${offscreen[@]}"; then
    sleep 2
    thread_ns "$sender_pid" >"$out/vbus-$rate-sender.0"; thread_ns "$viewer_pid" >"$out/vbus-$rate-viewer.0"
    t0=$(date +%s%N)
    send "$frames"
    thread_ns "$sender_pid" >"$out/vbus-$rate-sender.1"; thread_ns "$viewer_pid" >"$out/vbus-$rate-viewer.1"
    t1=$(date +%s%N)
    viewer_settled "$out/vbus-$rate.log"
    stop_viewer
    stop_sender
    span=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'); load=$(cut -d' ' -f1 /proc/loadavg)
    thread_cost "$out/vbus-$rate-sender.0" "$out/vbus-$rate-sender.1" "$span" "$frames" >"$out/vbus-$rate-sender.cost"
    thread_cost "$out/vbus-$rate-viewer.0" "$out/vbus-$rate-viewer.1" "$span" "$frames" >"$out/vbus-$rate-viewer.cost"
    total() { awk '{ p += $2; u += $3 } END { printf "%.2f %% of a core (%.2f us/frame)", p, u }' "$1"; }
    row "vbus $rate frames/s: viewer CPU (lost $(stat_of "$out/vbus-$rate.log" dropped), load $load)" \
      "$(total "$out/vbus-$rate-viewer.cost")" "$([ "$rate" = 1000 ] && echo "<= 2 % of a core" || echo report)" \
      "$(if [ "$rate" = 1000 ]; then verdict "$(awk '{ p += $2 } END { print (p <= 2.0) }' "$out/vbus-$rate-viewer.cost")"; else echo -; fi)"
    io_us=$(awk '$1 ~ /^kolvar-can-io\// { print $3 }' "$out/vbus-$rate-sender.cost")
    row "vbus $rate frames/s: sender (host) CPU" "$(total "$out/vbus-$rate-sender.cost")" "report" "-"
    row "vbus $rate frames/s: host's I/O thread per frame" "${io_us:-0} us" \
      "$([ "$rate" = 8000 ] && echo "<= 5 us" || echo report)" \
      "$(if [ "$rate" = 8000 ]; then verdict "$(awk -v u="${io_us:-0}" 'BEGIN { print (u <= 5.0) }')"; else echo -; fi)"
    while read -r name pct us; do vbus_threads+=("$rate viewer $name $pct $us"); done <"$out/vbus-$rate-viewer.cost"
    while read -r name pct us; do vbus_threads+=("$rate sender $name $pct $us"); done <"$out/vbus-$rate-sender.cost"
  else
    stop_viewer; stop_sender
    row "vbus $rate frames/s" "not measured" "see above" "MISSED"; broken=1
  fi
done
fi

# ---- Table -------------------------------------------------------------------------
echo
printf '| %-62s | %-36s | %-22s | %-6s |\n' "Measure" "Result" "Target" "Verdict"
printf '|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..64})" "$(printf -- '-%.0s' {1..38})" \
  "$(printf -- '-%.0s' {1..24})" "$(printf -- '-%.0s' {1..8})"
for r in "${rows[@]}"; do
  IFS='|' read -r name result target verdict <<<"$r"
  printf '| %-62s | %-36s | %-22s | %-6s |\n' "$name" "$result" "$target" "$verdict"
done
echo
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'); $(date -u '+%Y-%m-%d %H:%M UTC')"
# The viewer's threads during each paced stream: CPU per frame and wake-ups.
if want paced && grep -q '^guest_done=ok' "$out/paced.txt" 2>/dev/null; then
  echo
  echo "Viewer per thread (paced run; us per frame, wake-ups per frame; idle: ticks, wake-ups per s):"
  awk '/^(idle|stream)/ { for (i = 1; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] }
         name = ($1 == "idle") ? "idle" : f["name"]; frames = f["frames"]; tck = f["tck"]; next }
       /^thread/ { for (i = 1; i <= NF; i++) { split($i, kv, "="); t[kv[1]] = kv[2] }
         if (t["ticks"] == 0 && t["wakeups"] == 0) next
         if (name == "idle") printf "  %-18s %-16s %6d ticks %8.1f wake-ups/s\n", name, t["name"], t["ticks"], t["wakeups"] / 10
         else printf "  %-18s %-16s %8.1f us %8.2f wake-ups\n", name, t["name"], t["ticks"] / tck * 1e6 / frames, t["wakeups"] / frames }' \
    "$out/paced.txt"
  echo "System calls per frame, counted streams (viewer's by name, the most first):"
  awk '/^calls/ { for (i = 1; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] }
         printf "  %-18s", f["name"]; n = split(f["viewer"], calls, ","); line = ""; split("", count)
         for (i = 1; i <= n; i++) { split(calls[i], c, ":"); count[c[1]] = c[2] }
         for (k = 0; k < 8; k++) { best = ""; for (call in count) if (best == "" || count[call] > count[best]) best = call
           if (best == "") break; line = line sprintf(" %s %.2f", best, count[best] / f["frames"]); delete count[best] }
         print line }' "$out/paced.txt"
fi
if [ ${#vbus_threads[@]} -gt 0 ]; then
  echo
  echo "Virtual bus per thread (% of a core, us per frame):"
  for t in "${vbus_threads[@]}"; do
    read -r rate who name pct us <<<"$t"
    printf '  %5s/s %-7s %-24s %6.2f %% %8.2f us\n' "$rate" "$who" "$name" "$pct" "$us"
  done
fi
if [ ${#trend_memory_lines[@]} -gt 0 ]; then
  echo
  echo "Viewer resident size, trend memory run ($trend_memory_rate frames/s):"
  printf '  %s\n' "${trend_memory_lines[@]}"
fi
echo "Logs: $out"

[ $broken = 1 ] && exit 2
[ $failures -gt 0 ] && exit 1
exit 0
