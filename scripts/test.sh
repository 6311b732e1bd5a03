#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the tests need, builds with warnings as errors and runs every
# test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

# Debug build: every test, the user-mode Linux, X server and fuzz tests too.
# Then the same suite under AddressSanitizer with UndefinedBehaviorSanitizer
# and under ThreadSanitizer. Each preset carries its own settings (build
# flags in the configure preset; sanitizer options, suppressions, selection
# and the smaller stress counts in the test preset), so `ctest --preset tsan`
# by hand runs exactly as here.
for preset in ci asan tsan; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  if [ "$preset" = ci ]; then
    # The Debian package: built from the release build, unpacked (never
    # installed), its programs run and its files validated.
    tests/package/check-package.sh build/ci/tests/kolvar-x-close-window
  fi
done
