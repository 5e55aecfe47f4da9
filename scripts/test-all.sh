#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test:
#   1. Linux: Vornlink.so, the host program, unit and end-to-end tests (ctest)
#   2. the same native tests under ThreadSanitizer (gcc) and under
#      AddressSanitizer + UndefinedBehaviorSanitizer (clang)
#   3. the fuzz targets, each for a few seconds (clang, ASan + UBSan)
#   4. Windows: the i686 and x86_64 DLLs cross-built, checked, and tested
#      under Wine (scripts/test-windows.sh), the i686 ones where 32-bit Wine
#      is installed
#   5. the packages (scripts/test-packages.sh): the Linux tarball and the
#      Windows ZIP, their contents, and a demo run from each unpacked
# Ends with one line "N passed, N failed" over all stages.
set -uo pipefail
cd "$(dirname "$0")/.."

started=$(date +%s)
bash scripts/setup.sh all || { echo "setup failed"; exit 1; }

logs=$(mktemp -d /tmp/vornlink-tests.XXXXXX)
failed_stages=()
passed=0
failed=0

# Adds the counts of a ctest summary line in $1 to the totals.
count_ctest() {
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -n "$line" ]; then
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  fi
}

stage() {
  local name=$1
  shift
  echo
  echo "=== $name"
  if "$@" 2>&1 | tee "$logs/$name.log"; then
    echo "=== $name: ok"
  else
    echo "=== $name: FAILED"
    failed_stages+=("$name")
  fi
  count_ctest "$logs/$name.log"
}

linux() {
  cmake --preset linux -DVORNLINK_BUILD_TESTS=ON -DVORNLINK_BUILD_BENCHMARKS=ON >/dev/null &&
    cmake --build --preset linux -j2 &&
    ctest --preset linux -j2
}

# sanitized PRESET: the native tests built and run under a sanitizer; any
# report fails the test that made it.
sanitized() {
  local preset=$1
  cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" -j2 &&
    VORNLINK_CRASH_KILLS=20 TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
      ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1" \
      UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
      ctest --preset "$preset" -j2 --timeout 900
}

stage linux linux
stage tsan sanitized tsan
stage asan sanitized asan
stage fuzz bash scripts/fuzz.sh smoke
stage windows bash scripts/test-windows.sh
stage packages bash scripts/test-packages.sh

echo
echo "=== all stages done in $(( $(date +%s) - started )) s; logs in $logs"
if [ ${#failed_stages[@]} -gt 0 ]; then
  echo "failed stages: ${failed_stages[*]}"
  # A failed stage counts as a failure even where it ran no test.
  [ "$failed" -eq 0 ] && failed=${#failed_stages[@]}
fi
echo "$passed passed, $failed failed"
[ ${#failed_stages[@]} -eq 0 ]
