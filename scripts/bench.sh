#!/usr/bin/env bash
# Builds the modules and runs every benchmark, each beside its floor measured
# in the same run on the same files; prints the table of
# docs/performance.md and writes the results as JSON.
#
#   scripts/bench.sh [--before results.json] [benchmark filter]
#
# Results go to build/bench/ (benchmarks.json: Google Benchmark's own
# output; footprint.json; results.json: the table's rows). The files the
# benchmarks use lie in $TMPDIR (default /tmp): that disk is what is
# measured. The Windows DLLs are built for their sizes when the MinGW
# toolchains are there (VORNLINK_BENCH_WINDOWS=0 skips them). The whole
# run takes a few minutes; draining the backlog alone takes about 55 s.
set -euo pipefail
cd "$(dirname "$0")/.."

before=()
if [ "${1:-}" = --before ]; then
  before=(--before "$2")
  shift 2
fi
filter=${1:-}

out=build/bench
mkdir -p "$out"

cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target Vornlink vornlink_bench module_footprint

# Each module as built and without its debug information.
sizes=()
add_size() {
  local name=$1 file=$2 strip=$3
  [ -f "$file" ] || return 0
  local stripped="$out/$(basename "$(dirname "$(dirname "$file")")")-$(basename "$file")"
  "$strip" -o "$stripped" "$file"
  sizes+=(--size "$name=$file" --size "$name, stripped=$stripped")
}
add_size "Vornlink.so (Linux x86_64)" build/linux/bin/Vornlink.so strip
if [ "${VORNLINK_BENCH_WINDOWS:-1}" = 1 ] && command -v i686-w64-mingw32-g++-posix >/dev/null; then
  for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2 --target Vornlink
  done
  add_size "Vornlink.dll (Windows i686, as shipped)" build/win32/bin/Vornlink.dll i686-w64-mingw32-strip
  add_size "Vornlink.dll (Windows x86_64)" build/win64/bin/Vornlink.dll x86_64-w64-mingw32-strip
fi

build/linux/bin/vornlink_bench --benchmark_counters_tabular=true \
  ${filter:+--benchmark_filter="$filter"} \
  --benchmark_out="$out/benchmarks.json" --benchmark_out_format=json
build/linux/bin/module_footprint build/linux/bin/Vornlink.so >"$out/footprint.json"

echo
python3 bench/report.py --bench "$out/benchmarks.json" --footprint "$out/footprint.json" \
  "${sizes[@]}" "${before[@]}" --out "$out/results.json"
echo
echo "bench: results in $out/results.json"
