#!/usr/bin/env bash
# Installs what the tests need, builds with warnings as errors and runs every
# test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
cmake --preset ci
cmake --build --preset ci
ctest --preset ci -j2

# The same suite under AddressSanitizer with UndefinedBehaviorSanitizer and
# under ThreadSanitizer, built at -O1. The user-mode Linux and X-server
# tests (labels uml, xvfb) and the fuzz test (instrumented by itself) run
# only above; the stress and hostile-traffic counts are smaller here (the
# full counts ran above). Findings inside Qt and system libraries, which
# are not instrumented, are suppressed in tests/sanitizers/; never ours.
sanitizers="$PWD/tests/sanitizers"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="suppressions=$sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1:report_signal_unsafe=0:die_after_fork=0"
# Under ThreadSanitizer the long on/off stress runs ten times slower than
# its flood; it runs in full above and under AddressSanitizer.
for preset in asan tsan; do
  cmake --preset "$preset" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1"
  cmake --build --preset "$preset"
  skip="^$"
  [ "$preset" = tsan ] && skip="ConnectionStress.TenThousand"
  KOLVAR_STRESS_CYCLES=2000 KOLVAR_HOSTILE_FRAMES=20000 KOLVAR_HOSTILE_RATE=2000 \
    ctest --preset "$preset" -j2 -LE "uml|xvfb|fuzz" -E "$skip"
done
