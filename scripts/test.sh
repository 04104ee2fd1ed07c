#!/usr/bin/env bash
# Runs every test from a fresh clone: installs what is missing, then builds and tests
#   linux       native GCC: unit tests and the FLTK window tests under Xvfb
#   linux-asan  the unit tests under AddressSanitizer and UBSan
#   linux-tsan  the music start/stop and playback-thread tests under ThreadSanitizer
#   windows     the MinGW-w64 build: unit tests and the Win32 window tests under Wine
#   linux-clang the product code built with clang, warnings as errors (one pass or failure)
#   fuzz        clang's libFuzzer with ASan and UBSan: each fuzz target for FUZZ_SECONDS
#               (default 60) seconds, one pass or failure per target (scripts/fuzz.sh)
# Ends with one line "N passed, M failed" over all stages; exits non-zero if anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."

# The package check runs once per version of setup.sh: a stamp in build/ remembers it.
mkdir -p build
setupStamp=build/setup.stamp
if ! sha256sum -c --status "$setupStamp" 2>/dev/null; then
  bash scripts/setup.sh || { echo "setup failed"; exit 1; }
  sha256sum scripts/setup.sh >"$setupStamp"
fi

jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0
status=0

# stage NAME [--target T]... [ctest args...]: configure, build (everything, or only the
# targets named) and test one preset.
stage() {
  local preset=$1; shift
  local targets=()
  while [ "${1:-}" = "--target" ]; do targets+=(--target "$2"); shift 2; done
  echo "=== ${preset}: configure and build"
  if ! cmake --preset "$preset" >"build/${preset}-configure.log" 2>&1; then
    cat "build/${preset}-configure.log"; echo "=== ${preset}: configure FAILED"; failed=$((failed + 1)); status=1; return
  fi
  if ! cmake --build --preset "$preset" -j "$jobs" "${targets[@]}"; then
    echo "=== ${preset}: build FAILED"; failed=$((failed + 1)); status=1; return
  fi
  echo "=== ${preset}: test"
  local log="build/${preset}-ctest.log"
  ctest --preset "$preset" -j "$jobs" --timeout 900 "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad)); failed=$((failed + bad))
  elif [ "$rc" -ne 0 ]; then
    failed=$((failed + 1))
  fi
  [ "$rc" -eq 0 ] || status=1
}

stage linux
stage linux-asan
# Only the programs whose tests carry the label "thread" are built under ThreadSanitizer: a
# program that gets the label must be named here too, or its tests are left out unseen.
stage linux-tsan --target audio_tests -L thread
# One Wine server for the prefix through the whole stage: a program that starts just as the
# server of the one before is ending (a few seconds after its last client) fails with "wine
# client error: Connection reset by peer". The prefix is made (or checked) under that server,
# so that Wine's own service processes start here, on /dev/null, and not on the output pipe
# of the first test, which they would hold open for as long as the server lives.
mkdir -p build/wineprefix
WINEPREFIX="$PWD/build/wineprefix" WINEARCH=win64 wineserver -p >/dev/null 2>&1 || true
scripts/wine-run.sh wineboot --init >/dev/null 2>&1 || true
stage windows
WINEPREFIX="$PWD/build/wineprefix" wineserver -k >/dev/null 2>&1 || true

echo "=== linux-clang: configure and build the product code"
if cmake --preset linux-clang >build/linux-clang-configure.log 2>&1 &&
   cmake --build --preset linux-clang -j "$jobs"; then
  passed=$((passed + 1))
else
  echo "=== linux-clang: build FAILED"; failed=$((failed + 1)); status=1
fi

# Every fuzz target counts as one test.
echo "=== fuzz: configure, build and run"
bash scripts/fuzz.sh 2>&1 | tee build/fuzz.log
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
fuzzPassed=$(grep -cE '^=== fuzz.*PASSED' build/fuzz.log)
fuzzFailed=$(grep -cE '^=== fuzz.*FAILED' build/fuzz.log)
passed=$((passed + fuzzPassed)); failed=$((failed + fuzzFailed))

echo
echo "${passed} passed, ${failed} failed"
exit $status
