#!/usr/bin/env bash
# Installs what is needed, builds with warnings as errors, and runs the whole
# suite twice: a normal build and an AddressSanitizer/UBSan build. Then the
# Debian package is built, installed, run and purged (scripts/check-package.sh),
# and every fuzz target runs for 30 s (scripts/run-fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --test

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENVIA_WERROR=ON -DQUENVIA_BUILD_TESTS=ON "$@"
  cmake --build "$dir" -j"$jobs"
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

run_suite build/release
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0 \
LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/asan -DQUENVIA_SANITIZE=ON

# The package as a user gets it: apt install, run, man, apt purge.
scripts/check-package.sh

# A fourth build (clang, libFuzzer): each target for a fixed 30 s on its
# seeds; any crash, leak, time-out or failed check fails the run.
scripts/run-fuzz.sh 30
