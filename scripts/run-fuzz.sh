#!/usr/bin/env bash
# Builds the libFuzzer targets (clang with ASan and UBSan, in build/fuzz) and
# runs each for a fixed time on a copy of its seeds from fuzz/corpus/. A
# crash, leak, time-out or failed check in any of them fails the script; the
# input that caused it is kept in build/fuzz/findings/<target>/ and printed.
#
# Usage: scripts/run-fuzz.sh [seconds per target, default 30] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-30}
[ $# -gt 0 ] && shift
build=$root/build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENVIA_FUZZ=ON \
  -DQUENVIA_BUILD_TESTS=OFF -DQUENVIA_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzzers >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat scripts/lsan.supp fuzz/lsan.supp >"$work/lsan.supp"
export LSAN_OPTIONS=suppressions=$work/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen

failed=()
for t in "${targets[@]}"; do
  mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
  cp fuzz/corpus/"$t"/* "$work/$t/corpus/"
  # Leaks inside Qt match their suppressions only with whole stacks, which
  # cost a fast target most of its speed: only where Qt parses the input.
  case $t in
    fuzz_scenario | fuzz_settings | fuzz_calibration | fuzz_recordedrun | fuzz_runjournal) unwind=fast_unwind_on_malloc=0 ;;
    *) unwind=fast_unwind_on_malloc=1 ;;
  esac
  # -timeout: one input taking this long is a finding (a read that ignores
  # its time-out); the targets' own time-outs are 2 s.
  if (cd "$work/$t" && ASAN_OPTIONS=$unwind "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$work/$t/artifacts/" corpus >log 2>&1); then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t/log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$t/log")
    cov=$(sed -n 's/.*DONE *cov: \([0-9]*\) ft: \([0-9]*\).*/cov \1, features \2/p' "$work/$t/log")
    printf '%-20s ok: %s runs, %s exec/s, %s\n' "$t" "$runs" "$rate" "$cov"
  else
    failed+=("$t")
    echo "$t FAILED:"
    grep -v '^#' "$work/$t/log" | tail -60
    mkdir -p "$build/findings/$t"
    for a in "$work/$t"/artifacts/*; do
      [ -e "$a" ] || continue
      cp "$a" "$build/findings/$t/"
      echo "input $(basename "$a") (kept in build/fuzz/findings/$t/):"
      od -An -tx1 -v "$a" | head -40
    done
  fi
done

echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzzing found something in: ${failed[*]}"
  exit 1
fi
