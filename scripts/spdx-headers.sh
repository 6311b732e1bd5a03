#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Puts the licence's one-line SPDX identifier at the top of every source file
# git knows (C++, shell and CMake; after the #! line of a script) that lacks
# it. With --check, changes nothing, lists the files that lack it and ends
# with 1 when there are any.
# Usage: scripts/spdx-headers.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
check=false
[ "${1:-}" = --check ] && check=true
identifier="SPDX-License-Identifier: GPL-3.0-or-later"

missing=0
while IFS= read -r -d '' file; do
    case "$file" in
        *.cpp | *.h) line="// $identifier" ;;
        *.sh | *.cmake | */CMakeLists.txt | CMakeLists.txt | .ci/run) line="# $identifier" ;;
        *) continue ;;
    esac
    [ -f "$file" ] || continue
    # The identifier's place: the first line, or the second after a #! line.
    if head -n 2 "$file" | grep -qxF "$line"; then continue; fi
    missing=1
    if $check; then
        echo "$file"
    elif head -n 1 "$file" | grep -q '^#!'; then
        sed -i "1a $line" "$file"
    else
        sed -i "1i $line" "$file"
    fi
done < <(git ls-files -z)
if $check; then exit "$missing"; fi
