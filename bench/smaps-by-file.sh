#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Where a process's resident size sits, from a copy of /proc/PID/smaps: the
# resident kB of each mapped file and of the private memory (heap, anonymous
# mappings, stacks), the largest first, with the total private and file kB.
#
# Usage: bench/smaps-by-file.sh SMAPS [SMAPS_TO_COMPARE]
#   with two copies, each line gives what the second adds to the first and
#   both figures, for the mappings that changed.
set -uo pipefail

by_file() {
  awk '
    /^[0-9a-f]+-[0-9a-f]+ / { name = ($6 == "") ? "[anonymous]" : $6; next }
    /^Rss:/ { rss[name] += $2 }
    /^Anonymous:/ { anon[name] += $2 }
    END { for (n in rss) printf "%s %d %d\n", n, rss[n], anon[n] }
  ' "$1"
}

[ $# -ge 1 ] || { echo "usage: $0 SMAPS [SMAPS_TO_COMPARE]" >&2; exit 2; }
if [ $# = 1 ]; then
  by_file "$1" | sort -k2,2nr | awk '
    { printf "%8d kB rss %8d kB private  %s\n", $2, $3, $1; rss += $2; anon += $3 }
    END { printf "%8d kB rss %8d kB private  total (file-backed %d kB)\n", rss, anon, rss - anon }'
else
  join -a1 -a2 -e0 -o 0,1.2,1.3,2.2,2.3 <(by_file "$1" | sort) <(by_file "$2" | sort) |
    awk '{ d = $4 - $2; t += d; a += $5 - $3
           if (d != 0) printf "%+8d kB (private %+d): %d -> %d kB  %s\n", d, $5 - $3, $2, $4, $1 }
         END { printf "%+8d kB (private %+d, file-backed %+d) in all\n", t, a, t - a }' |
    sort -k1,1nr
fi
