#!/usr/bin/env bash
# The Windows builds (win64, and win32: the shipping i686 DLL), checked and tested on Linux: the
# DLLs' exports, imports and version resource; under Wine the tests, the operator commands and
# the dialogs, the i686 build in 32-bit Wine (through scripts/i386-emulation where the kernel runs
# no 32-bit code). Ends with a summary line, non-zero on any failure. Environment: test-lib.sh.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/test-lib.sh
wine_dir=$VORNLINK_WINE_DIR wine_run="$root/scripts/wine-run" emulation="$root/scripts/i386-emulation"
started=$(date +%s)
work=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-windows.XXXXXX")
# One prefix cannot serve both architectures: wine-run chooses one per architecture.
[ -n "${VORNLINK_WINEPREFIX:-}" ] && echo "test-windows: VORNLINK_WINEPREFIX unused; see VORNLINK_WINE_DIR"
unset VORNLINK_WINEPREFIX
# Every Wine prefix this stage uses: wine-run's, the dialogs' and the HTTPS tests' own.
prefixes=("$wine_dir"/{,dialogs-}win{32,64} "$root"/build/win{32,64}/wine-https-prefix)

# wine_processes: the processes (pid) of a Wine prefix of this stage that still run.
wine_processes() {
  local environ
  for environ in /proc/[0-9]*/environ; do
    tr '\0' '\n' 2>/dev/null <"$environ" | grep -qxF -f <(printf 'WINEPREFIX=%s\n' "${prefixes[@]}") &&
      echo "${environ//[^0-9]/}"
  done
}
cleanup() {
  end_wine "${prefixes[@]}"
  "$emulation" end $$
  rm -rf "$work"
}
trap cleanup EXIT

# Scratch folders of tests that loaded a copy of the DLL stay (Windows keeps it): clear old ones.
find "$wine_dir"/win{32,64}/drive_c/users/*/Temp -maxdepth 1 -name 'vornlink-test-*' -mmin +60 \
  -exec rm -rf {} + 2>/dev/null

tests_passed=0 tests_failed=0
# -k 0: a target that fails to build keeps no other from being built and tested.
check "build win64" build win64 -- -k 0
check "build win32" build win32 -- -k 0

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
# The PE header names Windows 7 (6.1), the oldest Windows the DLL runs on, and the DLL imports only
# functions of Windows 7: those in scripts/windows7-imports.txt, each checked against it when added.
check_oldest_windows() {
  local header unknown
  header=$("$1" -p "$2")
  grep -qE '^MajorSubsystemVersion\s+6$' <<<"$header" &&
    grep -qE '^MinorSubsystemVersion\s+1$' <<<"$header" ||
    { echo "$2: the PE header does not name Windows 7 (6.1)"; return 1; }
  unknown=$(awk '/DLL Name:/ { dll = tolower($3); next }
      /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ && dll != "" { print dll, $3 }' <<<"$header" |
    LC_ALL=C sort -u | LC_ALL=C comm -23 - <(grep -v '^#' scripts/windows7-imports.txt | LC_ALL=C sort -u))
  [ -z "$unknown" ] || { echo "$2 imports what scripts/windows7-imports.txt does not list:"; echo "$unknown"; return 1; }
}
check_version_resource() {
  local rc
  rc=$("$1" -i "$2" -O rc 2>/dev/null) && grep -q 'VALUE "CompanyName", "Vornlink"' <<<"$rc" &&
    grep -q "FILEVERSION ${version//./, }" <<<"$rc"
}
check_dll() {
  local tool=$1-w64-mingw32 preset=$2 format=$3 dll="build/$2/bin/Vornlink.dll"
  check "$preset: Vornlink.dll is built" [ -f "$dll" ] || return
  check "$preset: exactly the ten exports" check_exports "$tool-objdump" "$dll"
  check "$preset: $format" eval "$tool-objdump -f $dll | grep -q 'file format $format\$'"
  check "$preset: imports only Windows system DLLs" check_imports "$tool-objdump" "$dll"
  check "$preset: made for Windows 7 and later" check_oldest_windows "$tool-objdump" "$dll"
  check "$preset: vornlink.exe made for Windows 7 and later" \
    check_oldest_windows "$tool-objdump" "build/$preset/bin/vornlink.exe"
  check "$preset: version resource $version" check_version_resource "$tool-windres" "$dll"
}
check_dll i686 win32 pei-i386
check_dll x86_64 win64 pei-x86-64

# run_ctest PRESET: the build's whole test list under Wine.
run_ctest() {
  local preset=$1 status counts
  ctest --test-dir "build/$1" -j"$jobs" --output-on-failure --timeout 600 2>&1 | tee "$work/ctest"
  status=${PIPESTATUS[0]}
  counts=$(sed -nE 's/.*% tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/p' \
    "$work/ctest" | tail -n 1)
  [ -n "$counts" ] || return 1
  set -- $counts
  tests_passed=$((tests_passed + $2 - $1)) tests_failed=$((tests_failed + $1))
  [ "$status" -eq 0 ] && return
  # How the loopback servers of the HTTP tests fared, for a failure against them.
  echo "$preset: the transport test servers' log:"
  sed 's/^/  | /' "build/$preset/tests/transport/servers/server.log" 2>/dev/null
  return 1
}

# wine_runs PRESET: one build's tests and programs under Wine; a service's start runs the host's
# GUI program: the stand-in on Wine's PATH, which ends at once.
wine_runs() {
  local bin="build/$1/bin" begun=$(date +%s)
  export WINEPATH=$(windows_path "$bin/stub")
  check "$1: ctest under Wine" run_ctest "$1"
  check "$1: operator commands through vornlink.exe" bash tests/tools/operator_cli_test.sh \
    "$bin/vornlink.exe" "$bin/Vornlink.dll" examples "$wine_run"
  check "$1: transactions the cache cannot take" bash tests/cache/unwritten_cache_test.sh \
    "$bin/vornlink.exe" "$bin/Vornlink.dll" examples "$wine_run"
  check "$1: dialogs under Wine and Xvfb" bash scripts/test-dialogs.sh "$1"
  unset WINEPATH
  echo "=== $1 under Wine: $(($(date +%s) - begun)) s"
}

check "win64: built for Wine" [ -f build/win64/bin/vornlink.exe ] && wine_runs win64
# The shipping DLL in 32-bit Wine: natively or through the emulator (registered until the trap).
skipped_i686=""
if check "win32: built for Wine" [ -f build/win32/bin/vornlink.exe ]; then
  how=$("$emulation" status)
  needs=$?  # 0 native, 1 through the emulator, 2 not at all
  if [ $needs -eq 2 ]; then
    skipped_i686="SKIPPED: the i686 DLL was built and checked but not run: $how"
  elif ! "$emulation" begin $$; then
    skipped_i686="SKIPPED: the i686 DLL was built and checked but not run: $how, but the emulator could not be registered (see above)"
  else
    echo "=== win32: $how"
    wine_runs win32
  fi
  [ -n "$skipped_i686" ] && echo "$skipped_i686"
fi

# Nothing the stage started under Wine runs on after it.
end_wine "${prefixes[@]}"
# Processes told to end take a moment (longer emulated); one left after 10 s is named and killed.
for _ in $(seq 50); do [ -z "$(wine_processes)" ] && break; sleep 0.2; done
left=$(wine_processes)
if ! check "no Wine process of the stage is left" test -z "$left"; then
  for pid in $left; do echo "left: $pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"; done
  kill -9 $left 2>/dev/null
fi

echo
[ -n "$skipped_i686" ] && echo "$skipped_i686"
[ ${#failures[@]} -gt 0 ] && printf 'failed: %s\n' "${failures[@]}"
echo "test-windows: $tests_passed tests and $passed checks passed, $tests_failed tests and $failed checks failed in $(($(date +%s) - started)) s"
total Windows $((tests_passed + passed)) $((tests_failed + failed))
[ $((tests_failed + failed)) -eq 0 ]
