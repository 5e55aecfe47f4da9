#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each of them.
#
#   scripts/fuzz.sh smoke   each target for a short, bounded time; fails on
#                           any crash, leak, timeout or sanitizer report
#   scripts/fuzz.sh long    each target for at least FUZZ_RUNS inputs
#                           (default 1000000) and prints the figures
#
# The checked-in seeds in fuzz/corpus/<target> are only read; inputs the
# fuzzer finds go to build/fuzz/corpus/<target>, and a failing input to
# build/fuzz/artifacts/.
set -euo pipefail

mode="${1:-smoke}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${root}/build/fuzz"
targets=(read_setting_fuzzer setup_ordinals_fuzzer ext_format_fuzzer reply_peel_fuzzer
         xml_document_fuzzer)

case "${mode}" in
  smoke) run_args=(-max_total_time="${FUZZ_SECONDS:-12}") ;;
  long) run_args=(-runs="${FUZZ_RUNS:-1000000}") ;;
  *)
    echo "usage: $0 smoke|long" >&2
    exit 2
    ;;
esac

cd "${root}"
cmake --preset fuzz >/dev/null
cmake --build "${build}" -j2 --target "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
mkdir -p "${build}/artifacts"

failed=()
summary=()
for target in "${targets[@]}"; do
  work="${build}/corpus/${target}"
  seeds="${root}/fuzz/corpus/${target}"
  log="${build}/${target}.${mode}.log"
  mkdir -p "${work}"
  echo "== ${target} (${mode})"
  start=$(date +%s)
  if "${build}/fuzz/${target}" "${run_args[@]}" -timeout=5 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="${build}/artifacts/${target}-" \
      "${work}" "${seeds}" >"${log}" 2>&1; then
    status=ok
  else
    status=FAILED
    failed+=("${target}")
    tail -n 40 "${log}"
  fi
  seconds=$(( $(date +%s) - start ))
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "${log}" | tail -n 1 || true)
  runs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "${log}" | grep -oE '[0-9]+$' || echo "?")
  line="${target}: ${status}, ${runs} inputs in ${seconds} s; ${done_line:-no final line}"
  summary+=("${line}")
  echo "${line}"
done

echo
echo "== summary (${mode})"
printf '%s\n' "${summary[@]}"
if ((${#failed[@]} > 0)); then
  echo "failed: ${failed[*]} (logs in ${build}, inputs in ${build}/artifacts)" >&2
  exit 1
fi
