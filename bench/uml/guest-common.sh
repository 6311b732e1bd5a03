#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What both user-mode Linux bench guests share, sourced by their init
# scripts once $out (the results file) is set: the end of the run, the guest's
# file systems, vcan0 and its socket buffers, CPU ticks of a process, and
# what candump (writing to $scratch/candump.out) has received.

# Writes "guest_done=REASON" to the results and powers the guest off.
finish() {
  echo "guest_done=$1" >>"$out"
  sync
  poweroff -f
}

# proc, sys and a tmpfs of the guest's own on /dev/shm for scratch files;
# the rest of the tree is the host's.
mount_guest_filesystems() {
  mount -t proc proc /proc && mount -t sysfs sys /sys &&
    mkdir -p /dev/shm && mount -t tmpfs tmpfs /dev/shm
}

# The CAN modules and vcan0, up with a long transmit queue, and socket
# receive buffers large enough that a receiver that falls behind for a moment
# does not lose frames (the default is about 200 kB).
start_vcan0() {
  local m=/usr/lib/uml/modules/$(uname -r)/kernel
  insmod $m/net/can/can.ko && insmod $m/net/can/can-raw.ko &&
    insmod $m/drivers/net/can/dev/can-dev.ko && insmod $m/drivers/net/can/vcan.ko || return 1
  ip link add dev vcan0 type vcan && ip link set vcan0 txqueuelen 10000 up || return 1
  sysctl -q -w net.core.rmem_max=33554432 net.core.rmem_default=33554432
}

# utime + stime of a process (or of one thread: PID/task/TID), in clock ticks.
cpu_ticks() {
  local s
  s=$(cat "/proc/$1/stat" 2>/dev/null) || { echo 0; return; }
  s=${s##*) }  # the command name may hold spaces; fields after it are plain
  local -a f
  read -r -a f <<<"$s"
  echo $((f[11] + f[12]))
}

# Frames candump has written out so far.
candump_received() { grep -vc DROPCOUNT "$scratch/candump.out"; }

# await_candump SECONDS: waits, at most that long, for candump to have all
# $BENCH_FRAMES frames.
await_candump() {
  for _ in $(seq $(($1 * 5))); do
    [ "$(candump_received)" -ge "$BENCH_FRAMES" ] && return
    sleep 0.2
  done
}
