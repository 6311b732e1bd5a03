#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages that building, running or testing the viewer
# needs, when they are missing. Usage: scripts/install-deps.sh run|test|package
set -euo pipefail

build_pkgs=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-tools-dev qt6-svg-dev
            libgl-dev qt6-qpa-plugins)
# The SVG plugins draw the window icon from the icon file when no theme has it.
run_pkgs=(xvfb libqt6svg6)
# Rendering the icons, computing the package's dependencies.
package_pkgs=(librsvg2-bin dpkg-dev file)
# Checking the package: its validators and lintian.
package_check_pkgs=(desktop-file-utils appstream man-db groff-base lintian)
# QtSerialBus only for the test client of Qt's own virtual bus.
test_pkgs=(qt6-serialbus-dev libqt6serialbus6 libgtest-dev googletest user-mode-linux kmod can-utils iproute2 procps
           xvfb x11-utils xdotool wmctrl imagemagick clang libclang-rt-14-dev
           dbus at-spi2-core python3-pyatspi)

case "${1:-test}" in
  run)  wanted=("${build_pkgs[@]}" "${run_pkgs[@]}") ;;
  test) wanted=("${build_pkgs[@]}" "${run_pkgs[@]}" "${test_pkgs[@]}" "${package_pkgs[@]}" "${package_check_pkgs[@]}") ;;
  package) wanted=("${build_pkgs[@]}" "${package_pkgs[@]}") ;;
  *) echo "usage: $0 run|test|package" >&2; exit 2 ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
