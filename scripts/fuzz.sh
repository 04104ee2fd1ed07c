#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ in the "fuzz" preset (clang, ASan, UBSan) and runs
# each for a bounded time over its committed seeds. A crash, a leak, a sanitizer report, a
# broken check or an input slower than 10 s fails the target; its input is kept under
# build/fuzz/artifacts/ and can be replayed with: build/fuzz/fuzz/<target> <file>.
#
#   FUZZ_SECONDS  seconds per target (default 60)
#   FUZZ_TARGETS  targets to run (default: loader_fuzz play_fuzz charfile_fuzz)
#
# Prints one "=== fuzz <target>: PASSED|FAILED ..." line per target with its statistics,
# then "N passed, M failed"; exits non-zero if any target failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${FUZZ_SECONDS:-60}
targets=(${FUZZ_TARGETS:-loader_fuzz play_fuzz charfile_fuzz})
build=build/fuzz

mkdir -p build
if ! cmake --preset fuzz >build/fuzz-configure.log 2>&1; then
  cat build/fuzz-configure.log; echo "=== fuzz: configure FAILED"; echo "0 passed, 1 failed"; exit 1
fi
if ! cmake --build "$build" --target fuzz_targets -j 2; then
  echo "=== fuzz: build FAILED"; echo "0 passed, 1 failed"; exit 1
fi

# The character-file target works in a temporary folder: a memory file system
# makes its file operations some 20 times faster than a disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

passed=0
failed=0
for target in "${targets[@]}"; do
  case $target in
    loader_fuzz | play_fuzz) seeds=$root/fuzz/corpus/modules ;;
    charfile_fuzz) seeds=$root/fuzz/corpus/charfile ;;
    *) echo "=== fuzz $target: FAILED, no such target"; failed=$((failed + 1)); continue ;;
  esac
  # New inputs go to the working corpus in the build tree; the committed seeds stay as they are.
  corpus=$root/$build/corpus/$target
  artifacts=$root/$build/artifacts
  log=$root/$build/$target.log
  mkdir -p "$corpus" "$artifacts"
  echo "=== fuzz $target: ${seconds} s"
  timeout $((seconds + 300)) "$root/$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
    "$corpus" "$seeds" >"$log" 2>&1
  rc=$?
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -n 1)
  speed=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log" | tail -n 1)
  coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$log" | tail -n 1)
  stats="${runs:-0} runs, ${speed:-0} exec/s, ${coverage:-no coverage line}"
  if [ "$rc" -eq 0 ]; then
    echo "=== fuzz $target: PASSED, $stats"
    passed=$((passed + 1))
  else
    grep -E 'ERROR|SUMMARY|_fuzz: |runtime error|Test unit written' "$log" | head -n 20
    echo "=== fuzz $target: FAILED (exit $rc), $stats; log: $log"
    failed=$((failed + 1))
  fi
done

echo "${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ]
