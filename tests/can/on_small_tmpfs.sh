#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs COMMAND with KOLVAR_SMALL_FS naming the root of a freshly mounted
# tmpfs of SIZE (mount options' size=, e.g. 16k): a real file system that
# fills up. Needs root; meant for the user-mode Linux guest.
# Usage: on_small_tmpfs.sh SIZE COMMAND [ARGS...]
size=$1
shift
dir=$(mktemp -d) || exit 1
if ! mount -t tmpfs -o "size=$size" tmpfs "$dir"; then
  rmdir "$dir"
  echo "on_small_tmpfs: cannot mount a tmpfs" >&2
  exit 1
fi
KOLVAR_SMALL_FS=$dir "$@"
status=$?
umount "$dir" && rmdir "$dir"
exit $status
