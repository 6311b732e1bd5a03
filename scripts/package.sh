#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from the release build and leaves it as
# build/kolvar-can-viewer_<version>_<arch>.deb. Installs what it needs.
# Install it (as root) with: apt install ./build/kolvar-can-viewer_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh package
# The package holds no tests, so the release build leaves them out (and does
# not need their libraries); an existing build/release is reused. It takes
# Debian's build flags with every hardening feature: fortified functions,
# the strong stack protector, read-only relocations bound at start-up.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
cmake --preset release -DKOLVAR_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build --preset release

rm -f build/release/kolvar-can-viewer_*.deb build/kolvar-can-viewer_*.deb
(cd build/release && cpack -G DEB >cpack.log) || { cat build/release/cpack.log >&2; exit 1; }
mv build/release/kolvar-can-viewer_*.deb build/
ls build/kolvar-can-viewer_*.deb
