#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test: the Linux build's tests, the
# same under ThreadSanitizer (gcc) and AddressSanitizer + UndefinedBehaviorSanitizer (clang), the
# fuzz targets for a few seconds each, the Windows builds under Wine (scripts/test-windows.sh) and
# the packages (scripts/test-packages.sh). Ends with one line "N passed, N failed" over all stages.
set -uo pipefail
cd "$(dirname "$0")/.."

started=$(date +%s)
bash scripts/setup.sh all || { echo "setup failed"; exit 1; }

logs=$(mktemp -d /tmp/vornlink-tests.XXXXXX)
failed_stages=() passed=0 failed=0

# stage NAME COMMAND...: runs a stage; adds the counts of its last ctest summary line to the totals.
stage() {
  local name=$1 counts
  printf '\n=== %s\n' "$name"
  if "${@:2}" 2>&1 | tee "$logs/$name.log"; then
    echo "=== $name: ok"
  else
    echo "=== $name: FAILED"
    failed_stages+=("$name")
  fi
  counts=$(sed -nE 's/.*% tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/p' \
    "$logs/$name.log" | tail -n 1)
  [ -n "$counts" ] && set -- $counts && passed=$((passed + $2 - $1)) && failed=$((failed + $1))
}

linux() {
  cmake --preset linux -DVORNLINK_BUILD_TESTS=ON -DVORNLINK_BUILD_BENCHMARKS=ON >/dev/null &&
    cmake --build --preset linux -j2 && ctest --preset linux -j2
}
# sanitized PRESET: the native tests under a sanitizer; any report fails the test that made it.
sanitized() {
  local preset=$1
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2 &&
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

printf '\n=== all stages done in %s s; logs in %s\n' "$(($(date +%s) - started))" "$logs"
# What did not run is named again here.
grep -hE '^SKIPPED:' "$logs"/*.log | sort -u
if [ ${#failed_stages[@]} -gt 0 ]; then
  echo "failed stages: ${failed_stages[*]}"
  # A failed stage counts as a failure even where it ran no test.
  [ "$failed" -eq 0 ] && failed=${#failed_stages[@]}
fi
echo "$passed passed, $failed failed"
[ ${#failed_stages[@]} -eq 0 ]
