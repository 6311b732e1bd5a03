#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Proves the Debian package as a user gets it: builds it with
# scripts/package.sh, checks its name and file list, unpacks it into a
# scratch root (it is never installed on this machine), runs the unpacked
# programs - the viewer on a private X server until its window appears, then
# closed as a window manager does - holds the manual pages to the programs
# (check-manuals.sh), and runs the validators and lintian.
# Usage: tests/package/check-package.sh [x-close-window tool]
#        (default: the one the ci build made, build/ci/tests/kolvar-x-close-window)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
closer=${1:-$root/build/ci/tests/kolvar-x-close-window}
cd "$root"
[ -x "$closer" ] || { echo "FAIL: no $closer (cmake --build --preset ci --target kolvar-x-close-window)" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

scripts/package.sh >"$scratch/package.log" 2>&1 || { cat "$scratch/package.log" >&2; fail "scripts/package.sh"; }
debs=(build/kolvar-can-viewer_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one package in build/, found: ${debs[*]}"
deb=${debs[0]}

# The name carries the version of the project() line and this machine's
# architecture.
version=$(sed -n 's/^project(KolvarCanViewer VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$deb" = "build/kolvar-can-viewer_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "package $deb does not carry version '$version'"

# What the package holds: the two programs and their desktop files, manual
# pages and the documents Debian requires; nothing from the build tree.
expected=$(cat <<'LIST'
./usr/bin/kolvar-can-viewer
./usr/bin/kolvar-device-sim
./usr/share/applications/kolvar-can-viewer.desktop
./usr/share/doc/kolvar-can-viewer/changelog.gz
./usr/share/doc/kolvar-can-viewer/copyright
./usr/share/icons/hicolor/128x128/apps/kolvar-can-viewer.png
./usr/share/icons/hicolor/16x16/apps/kolvar-can-viewer.png
./usr/share/icons/hicolor/24x24/apps/kolvar-can-viewer.png
./usr/share/icons/hicolor/256x256/apps/kolvar-can-viewer.png
./usr/share/icons/hicolor/32x32/apps/kolvar-can-viewer.png
./usr/share/icons/hicolor/48x48/apps/kolvar-can-viewer.png
./usr/share/icons/hicolor/64x64/apps/kolvar-can-viewer.png
./usr/share/icons/hicolor/scalable/apps/kolvar-can-viewer.svg
./usr/share/man/man1/kolvar-can-viewer.1.gz
./usr/share/man/man1/kolvar-device-sim.1.gz
./usr/share/metainfo/org.kolvar.canviewer.metainfo.xml
LIST
)
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort)
[ "$actual" = "$(LC_ALL=C sort <<<"$expected")" ] ||
    fail "file list differs (- expected, + package):
$(diff <(LC_ALL=C sort <<<"$expected") <(echo "$actual") | grep '^[<>]' | sed 's/^</-/; s/^>/+/')"

# Depends comes from dpkg-shlibdeps (libc6 is always among the linked
# libraries), names the package holding the Qt plugin loaded at run time,
# and names no package twice.
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6 (>=' <<<"$depends" || fail "Depends has no shared-library dependencies: $depends"
for plugin in platforms/libqxcb.so; do
    owner=$(dpkg-query -S "qt6/plugins/$plugin" | head -n1 | cut -d: -f1)
    grep -Eq "(^|, )$owner( |,|$)" <<<"$depends" || fail "Depends lacks $owner (holds $plugin): $depends"
done
twice=$(sed 's/, /\n/g' <<<"$depends" | sed 's/ .*//' | sort | uniq -d)
[ -z "$twice" ] || fail "Depends names $twice more than once: $depends"

dpkg-deb -x "$deb" "$scratch/root"
usr="$scratch/root/usr"

# The menu entry starts a program of the package and names its icon.
desktop="$usr/share/applications/kolvar-can-viewer.desktop"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
[ -x "$usr/bin/$exec_name" ] || fail "the menu entry starts '$exec_name', which the package does not hold"
[ -f "$usr/share/icons/hicolor/scalable/apps/$icon_name.svg" ] || fail "no icon named '$icon_name'"

# Validators; a manual page must render without a single warning.
desktop-file-validate "$desktop" || fail "desktop-file-validate"
metainfo="$usr/share/metainfo/org.kolvar.canviewer.metainfo.xml"
appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate"
for page in "$usr"/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings: $warnings"
done

# The metainfo's releases are the changelog's versions.
changelog_versions=$(zcat "$usr/share/doc/kolvar-can-viewer/changelog.gz" | sed -nE 's/^kolvar-can-viewer \(([^)]+)\).*/\1/p')
release_versions=$(grep -oE '<release version="[^"]+"' "$metainfo" | sed -E 's/.*"(.*)"/\1/')
[ "$changelog_versions" = "$release_versions" ] ||
    fail "metainfo releases ($release_versions) are not the changelog's ($changelog_versions)"

# Every source file carries the licence's SPDX line.
unmarked=$(scripts/spdx-headers.sh --check) || fail "files without the SPDX line:
$unmarked"

# The unpacked programs run: the simulator sends frames on a private virtual
# bus and ends with 0; the viewer shows its window and ends with 0 when it is
# closed.
KOLVAR_VIRTUALCAN_PORT=$((40000 + $$ % 20000)) timeout 30 "$usr/bin/kolvar-device-sim" --count 5 --rate 100 ||
    fail "the unpacked simulator ended with status $?"
tests/app/xvfb_window_test.sh "$usr/bin/kolvar-can-viewer" "$closer" "$scratch/window.png" ||
    fail "the unpacked viewer"
tests/package/check-manuals.sh "$usr" "$closer" || fail "the manual pages"

# lintian, pedantic and with informational tags: no error and no warning
# (it reports no tag at all; a tag kept on purpose would be overridden in the
# package, each with its reason).
lintian -I --pedantic --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
echo "package $deb ($(du -k "$deb" | cut -f1) kB) checked"
