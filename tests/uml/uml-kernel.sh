#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the user-mode Linux kernel with the given arguments (exit 125 when it
# is not installed). On hosts whose CPUs carry more register state than UML's
# build knows (AMX tiles), UML cannot switch to its own processes and the
# guest's init dies at once; uml_xstate.c, preloaded into the kernel, mends
# that. It is compiled on first use into a file of its own under TMPDIR,
# named by its source's checksum; without a compiler the kernel runs as it is.
set -u
here=$(cd "$(dirname "$0")" && pwd)
kernel=$(command -v linux.uml || command -v linux || true)
[ -n "$kernel" ] || { echo "uml-kernel: user-mode Linux is not installed (Debian package user-mode-linux)" >&2; exit 125; }

source=$here/uml_xstate.c
shim=${TMPDIR:-/tmp}/kolvar-uml-xstate-$(cksum <"$source" | cut -d' ' -f1).so
if [ ! -f "$shim" ]; then
  # Built aside and moved into place, so parallel guests never load half a file.
  built=$(mktemp "$shim.XXXXXX") &&
    cc -O2 -shared -fPIC -o "$built" "$source" -ldl && mv -f "$built" "$shim" ||
    { rm -f "$built"; echo "uml-kernel: cannot build $source; UML runs without it" >&2; }
fi
[ -f "$shim" ] && export LD_PRELOAD="$shim${LD_PRELOAD:+:$LD_PRELOAD}"
exec "$kernel" "$@"
