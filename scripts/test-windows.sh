#!/usr/bin/env bash
# The Windows build, checked and tested on Linux:
#   1. builds the presets win64 and win32 (the i686 DLL is the shipping one)
#      and the POSIX INI reader's probe (build/windows-linux);
#   2. checks both DLLs with objdump (exactly the ten exports, pei-i386 for
#      the i686 one, nothing imported but Windows system DLLs) and windres
#      (the version resource);
#   3. runs the win64 tests under Wine, and compares the INI reads of the
#      two platforms live;
#   4. drives Vornlink.dll end to end through vornlink.exe under Wine, and
#      the operator commands with the sample settings;
#   5. does 3 and 4 for the i686 build too where 32-bit Wine runs it.
# Ends with a summary line and exits non-zero on any failure.
#
# Environment: VORNLINK_JOBS (build jobs, default 2), VORNLINK_WINEPREFIX
# (see scripts/wine-run).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${VORNLINK_JOBS:-2}
wine_run="$root/scripts/wine-run"
started=$(date +%s)

# Wine answers in the Western code page whatever the machine's language.
export LC_ALL=C.UTF-8

# Tests that load a copy of the DLL cannot remove it while they run (Windows
# keeps a loaded module's file), so their scratch folders stay in the Wine
# prefix's temp folder. Clear out those of earlier runs.
wine_prefix="${VORNLINK_WINEPREFIX:-${HOME:-/tmp}/.cache/vornlink-wine}"
if [ -d "$wine_prefix/drive_c/users" ]; then
  find "$wine_prefix"/drive_c/users/*/Temp -maxdepth 1 -name 'vornlink-test-*' -mmin +60 \
    -exec rm -rf {} + 2>/dev/null
fi

checks_passed=0
checks_failed=0
failures=()
tests_passed=0
tests_failed=0

pass() {
  echo "ok: $1"
  checks_passed=$((checks_passed + 1))
}

fail() {
  echo "FAILED: $1"
  checks_failed=$((checks_failed + 1))
  failures+=("$1")
}

# check DESCRIPTION COMMAND...: runs the command, counts the result.
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# The project's version, from the one place it is set.
version=$(sed -nE 's/^project\(Vornlink VERSION ([0-9]+)\.([0-9]+)\.([0-9]+)\.([0-9]+).*/\1 \2 \3 \4/p' \
  CMakeLists.txt)
read -r v_major v_minor v_patch v_tweak <<<"$version"
if [ "${v_tweak:-0}" != 0 ]; then
  version_text="${v_major}.${v_minor}${v_patch}RC${v_tweak}"
else
  version_text="${v_major}.${v_minor}${v_patch}"
fi

# ---------------------------------------------------------------- build
build_preset() {
  local preset=$1
  echo "=== build $preset"
  # -k 0: a target that fails to build does not keep the others from being
  # built and tested.
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j"$jobs" -- -k 0
}

build_posix_probe() {
  echo "=== build the POSIX INI probe (build/windows-linux)"
  cmake -S . -B build/windows-linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORNLINK_BUILD_TESTS=ON -DVORNLINK_BUILD_BENCHMARKS=OFF >/dev/null &&
    cmake --build build/windows-linux -j"$jobs" --target profile_probe http_probe
}

check "build win64" build_preset win64
check "build win32" build_preset win32
check "build POSIX INI probe" build_posix_probe

# ------------------------------------------------------- binary checks
expected_exports="ExecuteService
ForwardTransaction
ForwardTransaction2
GetAPIVersion
GetServiceName
IsJobnoValid
Properties
SetCallback
StopService
_Server@0"

# Windows system DLLs a driver module may import; anything else (the GCC
# runtime, winpthread, libstdc++) would have to be shipped beside it.
system_dll_pattern='^(kernel32|msvcrt|user32|shell32|advapi32|version|ws2_32|wininet|comctl32|gdi32|ole32|oleaut32|api-ms-win-.*)\.dll$'

check_exports() {
  local objdump=$1 dll=$2
  local exports
  exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -nE 's/^\s*\[ *[0-9]+\] (.*)$/\1/p' | LC_ALL=C sort)
  if [ "$exports" != "$expected_exports" ]; then
    echo "exports of $dll:"
    echo "$exports"
    return 1
  fi
}

check_format() {
  local objdump=$1 dll=$2 format=$3
  "$objdump" -f "$dll" | grep -q "file format $format\$"
}

check_imports() {
  local objdump=$1 dll=$2
  local imports bad=0 name
  imports=$("$objdump" -p "$dll" | sed -nE 's/^\s*DLL Name: (.*)$/\1/p')
  [ -n "$imports" ] || return 1
  for name in $imports; do
    if ! grep -qiE "$system_dll_pattern" <<<"$name"; then
      echo "$dll imports $name, which is not a Windows system DLL"
      bad=1
    fi
  done
  return $bad
}

check_version_resource() {
  local windres=$1 dll=$2
  local rc
  rc=$("$windres" -i "$dll" -O rc 2>/dev/null) || return 1
  grep -q "VERSIONINFO" <<<"$rc" &&
    grep -q "FILEVERSION ${v_major}, ${v_minor}, ${v_patch}, ${v_tweak}" <<<"$rc" &&
    grep -q 'VALUE "CompanyName", "Vornlink"' <<<"$rc"
}

check_dll() {
  local arch=$1 preset=$2 format=$3
  local dll="build/$preset/bin/Vornlink.dll"
  local objdump="$arch-w64-mingw32-objdump" windres="$arch-w64-mingw32-windres"
  echo "=== check $dll"
  if [ ! -f "$dll" ]; then
    fail "$preset: Vornlink.dll was not built"
    return
  fi
  check "$preset: exactly the ten exports" check_exports "$objdump" "$dll"
  check "$preset: $format" check_format "$objdump" "$dll" "$format"
  check "$preset: imports only Windows system DLLs" check_imports "$objdump" "$dll"
  check "$preset: version resource $v_major.$v_minor.$v_patch.$v_tweak" \
    check_version_resource "$windres" "$dll"
}

check_dll i686 win32 pei-i386
check_dll x86_64 win64 pei-x86-64

# ----------------------------------------------------------- Wine runs
# run_ctest PRESET: the build's whole test list under Wine.
run_ctest() {
  local preset=$1 log
  log=$(mktemp)
  echo "=== ctest $preset (under Wine)"
  ctest --test-dir "build/$preset" -j"$jobs" --output-on-failure --timeout 600 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [ -n "$line" ]; then
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    tests_passed=$((tests_passed + total - bad))
    tests_failed=$((tests_failed + bad))
  fi
  [ "$status" -eq 0 ] && [ -n "$line" ]
}

# Tests of the Linux build that the Windows build does not have (by design,
# e.g. shell-script tests); printed for the record.
report_test_lists() {
  local preset=$1
  local linux_tests windows_tests missing
  linux_tests=$(ctest --test-dir build/windows-linux -N 2>/dev/null | sed -nE 's/^\s*Test +#[0-9]+: (.*)$/\1/p' | sort)
  windows_tests=$(ctest --test-dir "build/$preset" -N 2>/dev/null | sed -nE 's/^\s*Test +#[0-9]+: (.*)$/\1/p' | sort)
  missing=$(comm -23 <(echo "$linux_tests") <(echo "$windows_tests") | tr '\n' ' ')
  echo "note: $(echo "$windows_tests" | grep -c .) tests in $preset; Linux-only: ${missing:-none}"
}

compare_profiles() {
  local preset=$1
  bash tests/platform/compare_profiles.sh "build/$preset/bin/profile_probe.exe" \
    build/windows-linux/bin/profile_probe
}

# end_to_end PRESET: a host program drives the DLL through one session.
end_to_end() {
  local preset=$1
  local dir
  dir=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-e2e.XXXXXX")
  cp "build/$preset/bin/Vornlink.dll" "build/$preset/bin/vornlink.exe" "$dir/" || return 1
  local log_path
  log_path=$("$wine_run" winepath -w "$dir/Vornlink.log" 2>/dev/null | tr -d '\r')
  [ -n "$log_path" ] || log_path="Vornlink.log"
  printf '<KMR>\r\n  <Log>\r\n    <FileName>%s</FileName>\r\n    <MaxLines>1000</MaxLines>\r\n    <Flags>+ci</Flags>\r\n  </Log>\r\n</KMR>\r\n' \
    "$log_path" >"$dir/Vornlink.xml"
  printf '[ForwardTransaction]\r\nEnable=1\r\nAllowZeroTransaction=0\r\n[FluidName]\r\n3=ATF Dexron\r\n[FluidPartNo]\r\n3=ATF-PN-3\r\n' \
    >"$dir/Vornlink.ini"
  cat >"$dir/session.txt" <<'EOF'
start
forward 4711 123456.A 140604 111030 7 F04 12 3 "Default Oil" DEF-1 1.5 0
forward 4712 123456.A 140604 111031 7 F04 12 3 "Default Oil" DEF-1 0 0
name
stop
EOF
  local out status=0
  out=$(cd "$dir" && "$wine_run" vornlink.exe -m Vornlink.dll session session.txt 2>&1) || status=$?
  echo "$out" | sed 's/^/  | /'
  local ok=0
  expect() {
    if "$@"; then :; else
      echo "  end to end ($preset): failed: $*"
      ok=1
    fi
  }
  local cache="$dir/Vornlink.\$\$\$" log="$dir/Vornlink.log"
  expect [ "$status" -eq 0 ]
  expect grep -q "^ExecuteService 1" <<<"$out"
  expect grep -qF "Plexa KMR v[$version_text]" <<<"$out"
  expect grep -q "^StopService 0" <<<"$out"
  # One line (the zero quantity is held back), with the INI's fluid name,
  # ended by CR LF like every line of the file.
  expect [ -f "$cache" ]
  expect [ "$(grep -c '' "$cache" 2>/dev/null)" = 1 ]
  expect grep -q '^4711,123456\.A,140604,111030,7,F04,12,3,ATF Dexron,ATF-PN-3,1\.5,0,0,[0-9]\{18\},0,'$'\r''$' "$cache"
  expect [ "$(grep -c $'\r$' "$cache" 2>/dev/null)" = "$(grep -c '' "$cache" 2>/dev/null)" ]
  # The driver's own lines, in CR LF text.
  expect grep -q -- "-\.-.*Vornlink\.dll is loaded at \[0x[0-9A-F]\{8\}\] v\[$version_text\]" "$log"
  expect grep -q -- "-\.-OS: NT Platform os\[" "$log"
  expect grep -q -- "-\.-.*Vornlink\.dll is unloaded" "$log"
  expect grep -q -- "-i-ForwardTransaction TransNo\[4712\].*Removing NULL Transaction" "$log"
  expect [ "$(grep -c $'\r$' "$log" 2>/dev/null)" = "$(grep -c '' "$log" 2>/dev/null)" ]
  if [ "$ok" -ne 0 ]; then
    echo "  cache file:"
    cat -A "$cache" 2>/dev/null | sed 's/^/  | /'
    echo "  log:"
    cat -A "$log" 2>/dev/null | sed 's/^/  | /'
  fi
  rm -rf "$dir"
  return $ok
}

# Only a 32-bit Wine runs i686 programs; a 64-bit-only one may start them
# and end with status 0 without running anything, so look for their output.
wine32_works() {
  local out
  out=$("$wine_run" build/win32/bin/vornlink.exe --help 2>/dev/null) || return 1
  grep -q "usage: vornlink" <<<"$out"
}

if [ -f build/win64/bin/vornlink.exe ]; then
  report_test_lists win64
  check "win64: ctest under Wine" run_ctest win64
  check "win64: INI reads agree with Windows" compare_profiles win64
  check "win64: HTTP requests agree with Linux" bash tests/transport/compare_http_requests.sh \
    build/win64/bin/http_probe.exe build/windows-linux/bin/http_probe
  check "win64: end to end through vornlink.exe" end_to_end win64
  check "win64: operator commands through vornlink.exe" bash tests/tools/operator_cli_test.sh \
    build/win64/bin/vornlink.exe build/win64/bin/Vornlink.dll examples "$wine_run"
  check "win64: dialogs under Wine and Xvfb" bash scripts/test-dialogs.sh win64
else
  fail "win64: not built, nothing run under Wine"
fi

skipped_i686=""
if [ ! -f build/win32/bin/vornlink.exe ]; then
  fail "win32: not built, nothing run under Wine"
elif wine32_works; then
  check "win32: ctest under Wine" run_ctest win32
  check "win32: end to end through vornlink.exe" end_to_end win32
  check "win32: operator commands through vornlink.exe" bash tests/tools/operator_cli_test.sh \
    build/win32/bin/vornlink.exe build/win32/bin/Vornlink.dll examples "$wine_run"
  check "win32: dialogs under Wine and Xvfb" bash scripts/test-dialogs.sh win32
else
  skipped_i686="SKIPPED: 32-bit Wine is not installed; the i686 DLL was built and checked but not run"
  echo "$skipped_i686"
fi

# ------------------------------------------------------------- summary
echo
[ -n "$skipped_i686" ] && echo "$skipped_i686"
if [ ${#failures[@]} -gt 0 ]; then
  printf 'failed: %s\n' "${failures[@]}"
fi
total=$((tests_passed + tests_failed + checks_passed + checks_failed))
bad=$((tests_failed + checks_failed))
percent=$(( total > 0 ? (total - bad) * 100 / total : 0 ))
echo "test-windows: $tests_passed tests and $checks_passed checks passed, $tests_failed tests and $checks_failed checks failed in $(( $(date +%s) - started )) s"
# The same in CTest's words, for the summary of scripts/test-all.sh.
echo "Windows total: ${percent}% tests passed, $bad tests failed out of $total"
[ "$bad" -eq 0 ]
