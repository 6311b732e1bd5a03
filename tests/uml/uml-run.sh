#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one command inside user-mode Linux that boots on the host's root file
# system, with SocketCAN (can, can-raw, can-dev, vcan, and slcan for the
# serial-line adapter of tests/can/slcan_adapter.cpp) loaded and vcan
# interfaces up, so that SocketCAN tests run on hosts whose kernel lacks
# AF_CAN or where creating interfaces is not allowed.
#
# Usage: uml-run.sh [--vcan N] -- COMMAND [ARGS...]
#   --vcan N   create and bring up vcan0 .. vcan(N-1) (default 1; 0 for none)
# The command runs as root in the caller's working directory with PATH, HOME,
# QT_QPA_PLATFORM=offscreen and every variable named in KOLVAR_UML_ENV
# (space-separated names) carried over. Its output goes to this script's
# standard output. The guest has one slow CPU: pace traffic (cangen -g).
#
# Exit status: the command's; 125 (with a message on stderr) only when
# user-mode Linux cannot boot at all (not installed, modules missing, or the
# guest never reached its init); 1 when the guest booted but did not finish
# within KOLVAR_UML_TIMEOUT seconds (default 600) or ended without the
# command's status. A guest that hangs is a failure, never a skip.
set -u

fail_to_start() {
  echo "uml-run: $*" >&2
  exit 125
}

vcan_count=1
while [ $# -gt 0 ]; do
  case "$1" in
    --vcan)
      [ $# -ge 2 ] && [[ "$2" =~ ^[0-9]+$ ]] || { echo "uml-run: --vcan needs a number" >&2; exit 2; }
      vcan_count=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "usage: uml-run.sh [--vcan N] -- COMMAND [ARGS...]" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: uml-run.sh [--vcan N] -- COMMAND [ARGS...]" >&2; exit 2; }

kernel=$(command -v linux.uml || command -v linux || true)
[ -n "$kernel" ] || fail_to_start "user-mode Linux is not installed (Debian package user-mode-linux)"
modules=$(dpkg -L user-mode-linux 2>/dev/null | grep -E '/(can|can-raw|can-dev|vcan|slcan)\.ko$' || true)
module_path() { grep -E "/$1\.ko$" <<<"$modules" | head -n1; }
for module in can can-raw can-dev vcan; do
  [ -n "$(module_path "$module")" ] || fail_to_start "module $module.ko not found in user-mode-linux"
done

# The guest sees the host's root file system, so a directory under /tmp is
# shared with it: the init script and the status file live there.
work=$(mktemp -d "${TMPDIR:-/tmp}/kolvar-uml.XXXXXX") || fail_to_start "cannot create a work directory"
trap 'rm -rf "$work"' EXIT
status_file="$work/status"
booted_file="$work/booted"

{
  echo '#!/bin/sh'
  printf 'echo 1 > %q\n' "$booted_file"
  echo 'export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin'
  echo 'mount -t proc proc /proc'
  echo 'mount -t sysfs sysfs /sys'
  echo '[ -d /dev/shm ] && mount -t tmpfs -o mode=1777 tmpfs /dev/shm'
  # Pseudo terminals from a devpts of the guest's own: the host's /dev may
  # have no /dev/pts to mount one on. KOLVAR_PTMX names its ptmx.
  printf 'mkdir %q && mount -t devpts -o newinstance,ptmxmode=0666 devpts %q\n' "$work/pts" "$work/pts"
  printf 'export KOLVAR_PTMX=%q\n' "$work/pts/ptmx"
  echo 'ip link set lo up'
  for module in can can-raw can-dev vcan; do
    printf 'insmod %q || echo "uml-run: insmod %s failed"\n' "$(module_path "$module")" "$module"
  done
  # Only the tests of a serial-line controller need it; they fail without it.
  slcan=$(module_path slcan)
  [ -n "$slcan" ] && printf 'insmod %q || echo "uml-run: insmod slcan failed"\n' "$slcan"
  for ((i = 0; i < vcan_count; i++)); do
    echo "ip link add dev vcan$i type vcan && ip link set up vcan$i"
  done
  # Bursts of frames must not overflow the sockets of a slow guest.
  echo 'echo 8388608 > /proc/sys/net/core/rmem_max'
  echo 'echo 8388608 > /proc/sys/net/core/rmem_default'
  printf 'cd %q || exit 1\n' "$PWD"
  printf 'export PATH=%q\n' "$PATH"
  printf 'export HOME=%q\n' "${HOME:-/root}"
  echo 'export QT_QPA_PLATFORM=offscreen'
  for name in ${KOLVAR_UML_ENV:-}; do
    [ -n "${!name+set}" ] && printf 'export %s=%q\n' "$name" "${!name}"
  done
  printf '%q ' "$@"
  echo
  printf 'echo $? > %q\n' "$status_file"
  echo 'sync'
  echo 'halt -f'
} >"$work/init"
chmod +x "$work/init"

timeout_seconds=${KOLVAR_UML_TIMEOUT:-600}
timeout --kill-after=10 "$timeout_seconds" "$(dirname "$0")/uml-kernel.sh" mem=1024M root=/dev/root rootfstype=hostfs rootflags=/ rw \
  quiet init="$work/init" con=null con0=fd:0,fd:1 </dev/null
uml_status=$?

if [ ! -s "$status_file" ]; then
  [ -s "$booted_file" ] || fail_to_start "user-mode Linux could not boot (status $uml_status)"
  if [ $uml_status -eq 124 ] || [ $uml_status -eq 137 ]; then
    echo "uml-run: the guest did not finish within ${timeout_seconds} s" >&2
  else
    echo "uml-run: the guest ended without the command's status (status $uml_status)" >&2
  fi
  exit 1
fi
exit "$(cat "$status_file")"
