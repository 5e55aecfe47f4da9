#!/usr/bin/env bash
# The Windows builds (win64, and win32: the shipping i686 DLL), checked and tested on Linux: the
# DLLs' exports, imports and version resource; under Wine the tests, a session through
# vornlink.exe, the operator commands and the dialogs (i686 too where 32-bit Wine runs it).
# Ends with a summary line, non-zero on any failure.
# Environment: VORNLINK_JOBS (build jobs, default 2), VORNLINK_WINEPREFIX (see scripts/wine-run).
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${VORNLINK_JOBS:-2}
wine_run="$(pwd)/scripts/wine-run"
started=$(date +%s)
work=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-windows.XXXXXX")
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8  # Wine answers in the Western code page whatever the language

# Scratch folders of tests that loaded a copy of the DLL stay behind (Windows keeps a loaded
# module's file): clear out those of earlier runs.
wine_prefix="${VORNLINK_WINEPREFIX:-${HOME:-/tmp}/.cache/vornlink-wine}"
find "$wine_prefix"/drive_c/users/*/Temp -maxdepth 1 -name 'vornlink-test-*' -mmin +60 \
  -exec rm -rf {} + 2>/dev/null

checks_passed=0 checks_failed=0 tests_passed=0 tests_failed=0
failures=()
check() {  # check DESCRIPTION COMMAND...: runs the command, counts the result.
  if "${@:2}"; then echo "ok: $1"; checks_passed=$((checks_passed + 1)); return; fi
  echo "FAILED: $1"; checks_failed=$((checks_failed + 1)); failures+=("$1"); return 1
}

# The project's version, from the one place it is set.
read -r v_major v_minor v_patch v_tweak <<<"$(sed -nE \
  's/^project\(Vornlink VERSION ([0-9]+)\.([0-9]+)\.([0-9]+)\.([0-9]+).*/\1 \2 \3 \4/p' CMakeLists.txt)"
version_text="${v_major}.${v_minor}${v_patch}"
[ "${v_tweak:-0}" != 0 ] && version_text+="RC${v_tweak}"

# -k 0: a target that fails to build keeps no other from being built and tested.
build_preset() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$jobs" -- -k 0; }
check "build win64" build_preset win64
check "build win32" build_preset win32

expected_exports="ExecuteService ForwardTransaction ForwardTransaction2 GetAPIVersion \
GetServiceName IsJobnoValid Properties SetCallback StopService _Server@0"
# What a driver module may import; anything else (the GCC runtime, ...) would have to be shipped.
system_dlls='^(kernel32|msvcrt|user32|shell32|advapi32|version|ws2_32|wininet|comctl32|gdi32|ole32|oleaut32|api-ms-win-.*)\.dll$'

check_exports() {
  local exports
  exports=$("$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -nE 's/^\s*\[ *[0-9]+\] (.*)$/\1/p' | LC_ALL=C sort | xargs)
  [ "$exports" = "$expected_exports" ] || { echo "exports of $2: $exports"; return 1; }
}
check_imports() {
  local imports bad
  imports=$("$1" -p "$2" | sed -nE 's/^\s*DLL Name: (.*)$/\1/p')
  bad=$(grep -viE "$system_dlls" <<<"$imports")
  [ -n "$imports" ] && [ -z "$bad" ] || { echo "$2 imports: $bad"; return 1; }
}
check_version_resource() {
  local rc
  rc=$("$1" -i "$2" -O rc 2>/dev/null) && grep -q 'VALUE "CompanyName", "Vornlink"' <<<"$rc" &&
    grep -q "FILEVERSION ${v_major}, ${v_minor}, ${v_patch}, ${v_tweak}" <<<"$rc"
}
check_dll() {
  local arch=$1 preset=$2 format=$3 dll="build/$2/bin/Vornlink.dll"
  check "$preset: Vornlink.dll is built" [ -f "$dll" ] || return
  check "$preset: exactly the ten exports" check_exports "$arch-w64-mingw32-objdump" "$dll"
  check "$preset: $format" eval "$arch-w64-mingw32-objdump -f $dll | grep -q 'file format $format\$'"
  check "$preset: imports only Windows system DLLs" check_imports "$arch-w64-mingw32-objdump" "$dll"
  check "$preset: version resource $v_major.$v_minor.$v_patch.$v_tweak" \
    check_version_resource "$arch-w64-mingw32-windres" "$dll"
}
check_dll i686 win32 pei-i386
check_dll x86_64 win64 pei-x86-64

# run_ctest PRESET: the build's whole test list under Wine.
run_ctest() {
  local status counts
  ctest --test-dir "build/$1" -j"$jobs" --output-on-failure --timeout 600 2>&1 | tee "$work/ctest"
  status=${PIPESTATUS[0]}
  counts=$(sed -nE 's/.*% tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/p' \
    "$work/ctest" | tail -n 1)
  [ -n "$counts" ] || return 1
  set -- $counts
  tests_passed=$((tests_passed + $2 - $1)) tests_failed=$((tests_failed + $1))
  [ "$status" -eq 0 ]
}

# end_to_end PRESET: a host program drives the DLL through one session.
end_to_end() {
  local preset=$1 dir="$work/e2e-$1" out status=0 ok=0
  mkdir "$dir" && cp "build/$1/bin/Vornlink.dll" "build/$1/bin/vornlink.exe" "$dir/" || return 1
  local log_path cache="$dir/Vornlink.\$\$\$" log="$dir/Vornlink.log"
  log_path=$("$wine_run" winepath -w "$log" 2>/dev/null | tr -d '\r')
  printf '<KMR>\r\n  <Log>\r\n    <FileName>%s</FileName>\r\n    <MaxLines>1000</MaxLines>\r\n    <Flags>+ci</Flags>\r\n  </Log>\r\n</KMR>\r\n' \
    "${log_path:-Vornlink.log}" >"$dir/Vornlink.xml"
  printf '[ForwardTransaction]\r\nEnable=1\r\nAllowZeroTransaction=0\r\n[FluidName]\r\n3=ATF Dexron\r\n[FluidPartNo]\r\n3=ATF-PN-3\r\n' \
    >"$dir/Vornlink.ini"
  printf '%s\n' start 'forward 4711 123456.A 140604 111030 7 F04 12 3 "Default Oil" DEF-1 1.5 0' \
    'forward 4712 123456.A 140604 111031 7 F04 12 3 "Default Oil" DEF-1 0 0' name stop >"$dir/session.txt"
  out=$(cd "$dir" && "$wine_run" vornlink.exe -m Vornlink.dll session session.txt 2>&1) || status=$?
  echo "$out" | sed 's/^/  | /'
  expect() { "$@" || { echo "  end to end ($preset): failed: $*"; ok=1; }; }
  all_crlf() { [ "$(grep -c $'\r$' "$1")" = "$(grep -c '' "$1")" ]; }
  expect [ "$status" -eq 0 ]
  for line in "ExecuteService 1" "Plexa KMR v[$version_text]" "StopService 0"; do
    expect grep -qF "$line" <<<"$out"
  done
  # One line (the zero quantity is held back) with the INI's fluid name, in CR LF text.
  expect [ "$(grep -c '' "$cache" 2>/dev/null)" = 1 ]
  expect grep -q '^4711,123456\.A,140604,111030,7,F04,12,3,ATF Dexron,ATF-PN-3,1\.5,0,0,[0-9]\{18\},0,'$'\r''$' "$cache"
  expect grep -q -- "-\.-.*Vornlink\.dll is loaded at \[0x[0-9A-F]\{8\}\] v\[$version_text\]" "$log"
  expect grep -q -- "-\.-OS: NT Platform os\[" "$log"
  expect grep -q -- "-\.-.*Vornlink\.dll is unloaded" "$log"
  expect grep -q -- "-i-ForwardTransaction TransNo\[4712\].*Removing NULL Transaction" "$log"
  expect all_crlf "$log"
  [ "$ok" -eq 0 ] || cat -A "$cache" "$log" 2>/dev/null | sed 's/^/  | /'
  return $ok
}

# wine_runs PRESET: the tests and the programs of one build under Wine.
wine_runs() {
  local bin="build/$1/bin"
  check "$1: ctest under Wine" run_ctest "$1"
  check "$1: end to end through vornlink.exe" end_to_end "$1"
  check "$1: operator commands through vornlink.exe" bash tests/tools/operator_cli_test.sh \
    "$bin/vornlink.exe" "$bin/Vornlink.dll" examples "$wine_run"
  check "$1: dialogs under Wine and Xvfb" bash scripts/test-dialogs.sh "$1"
}

check "win64: built for Wine" [ -f build/win64/bin/vornlink.exe ] && wine_runs win64
skipped_i686=""
# A 64-bit-only Wine may end an i686 program with status 0 unrun: look for its output.
if ! check "win32: built for Wine" [ -f build/win32/bin/vornlink.exe ]; then :
elif "$wine_run" build/win32/bin/vornlink.exe --help 2>/dev/null | grep -q "usage: vornlink"; then
  wine_runs win32
else
  skipped_i686="SKIPPED: 32-bit Wine runs no program here (not installed, or the kernel runs no 32-bit programs); the i686 DLL was built and checked but not run"
  echo "$skipped_i686"
fi

# Wine's helper processes keep the prefix's server running after the last program.
WINEPREFIX="$wine_prefix" wineserver -k 2>/dev/null || true

echo
[ -n "$skipped_i686" ] && echo "$skipped_i686"
[ ${#failures[@]} -gt 0 ] && printf 'failed: %s\n' "${failures[@]}"
total=$((tests_passed + tests_failed + checks_passed + checks_failed))
bad=$((tests_failed + checks_failed))
echo "test-windows: $tests_passed tests and $checks_passed checks passed, $tests_failed tests and $checks_failed checks failed in $(($(date +%s) - started)) s"
# The same in CTest's words, for the summary of scripts/test-all.sh.
echo "Windows total: $((total > 0 ? (total - bad) * 100 / total : 0))% tests passed, $bad tests failed out of $total"
[ "$bad" -eq 0 ]
