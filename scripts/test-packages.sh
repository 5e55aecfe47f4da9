#!/usr/bin/env bash
# The packages a site gets, checked from the outside: the Linux tarball and the ZIP of the
# shipping i686 build, what each holds, and the operator demo (tests/tools/operator_cli_test.sh)
# run from each unpacked (the ZIP's under Wine, with the win64 build's DLL and vornlink.exe where
# Wine runs no 32-bit programs, as the output then says).
# Ends with a line "Packages total: N% tests passed, N tests failed out of N".
# Environment: VORNLINK_JOBS (build jobs, default 2).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${VORNLINK_JOBS:-2}
version=$(sed -nE 's/^project\(Vornlink VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
work=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-packages.XXXXXX")
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
note=""

check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; passed=$((passed + 1))
  else echo "FAILED: $1"; failed=$((failed + 1)); fi
}

# holds LISTING FILE...: every FILE is in the package's listing.
holds() {
  local file missing=0
  for file in "${@:2}"; do
    grep -qx "[^/]*/$file" "$1" || { echo "  missing: $file"; missing=1; }
  done
  return $missing
}

has_section() { "$1" -h "$2" 2>/dev/null | grep -q " $3 "; }
lacks_section() { ! has_section "$@"; }
crlf_text() { [ "$(grep -c $'\r$' "$1")" = "$(grep -c '' "$1")" ] && [ "$(grep -c '' "$1")" -gt 0 ]; }
lf_text() { ! grep -q $'\r' "$1"; }

common_files=(README-operator.txt examples/tcp/Vornlink.xml examples/tcp/Vornlink.ini
  examples/soap-https/Vornlink.xml examples/soap-https/Vornlink.ini examples/transactions.csv
  docs/properties-dialog.png docs/server-dialog.png)

package() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$jobs" --target package; }
check "linux: the tarball is built" package linux
tarball="build/linux/packages/Vornlink-$version-linux.tar.gz"
if [ -f "$tarball" ]; then
  tar tzf "$tarball" >"$work/linux.list"
  check "linux: it holds the module, the program, the samples and the text" \
    holds "$work/linux.list" Vornlink.so vornlink "${common_files[@]}"
  mkdir "$work/linux" && tar xzf "$tarball" -C "$work/linux"
  linux_dir="$work/linux/Vornlink-$version-linux"
  check "linux: the module is stripped" lacks_section objdump "$linux_dir/Vornlink.so" .debug_info
  check "linux: the program is stripped" lacks_section objdump "$linux_dir/vornlink" .debug_info
  check "linux: the text has LF line ends" lf_text "$linux_dir/README-operator.txt"
  check "linux: the text is the README's operator section" \
    grep -qx "## Operating a site" "$linux_dir/README-operator.txt"
  check "linux: the demo runs from the unpacked folder" \
    bash tests/tools/operator_cli_test.sh "$linux_dir/vornlink" "$linux_dir/Vornlink.so" \
    "$linux_dir/examples"
fi

check "win32: the ZIP is built" package win32
zip="build/win32/packages/Vornlink-$version-win32.zip"
if [ -f "$zip" ]; then
  python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' \
    "$zip" >"$work/windows.list"
  check "win32: it holds the DLL, its debug file, vornlink.exe, the samples and the text" \
    holds "$work/windows.list" Vornlink.dll Vornlink.dll.debug vornlink.exe "${common_files[@]}"
  mkdir "$work/windows" && python3 -m zipfile -e "$zip" "$work/windows"
  windows_dir="$work/windows/Vornlink-$version-win32"
  objdump=i686-w64-mingw32-objdump
  check "win32: the DLL is 32-bit" sh -c "$objdump -f '$windows_dir/Vornlink.dll' | grep -q 'file format pei-i386'"
  check "win32: the DLL is stripped" lacks_section "$objdump" "$windows_dir/Vornlink.dll" .debug_info
  check "win32: the DLL links to its debug file" \
    has_section "$objdump" "$windows_dir/Vornlink.dll" .gnu_debuglink
  check "win32: the debug file holds the debug information" \
    has_section "$objdump" "$windows_dir/Vornlink.dll.debug" .debug_info
  check "win32: vornlink.exe is stripped" lacks_section "$objdump" "$windows_dir/vornlink.exe" \
    .debug_info
  check "win32: the text has CR LF line ends" crlf_text "$windows_dir/README-operator.txt"
  check "win32: the samples have CR LF line ends" crlf_text "$windows_dir/examples/tcp/Vornlink.xml"

  demo_dir="$windows_dir"
  if ! "$root/scripts/wine-run" "$windows_dir/vornlink.exe" --help 2>/dev/null | grep -q "usage: vornlink"; then
    note="32-bit Wine runs no i686 program here: the Windows demo ran the ZIP's samples with the win64 build's Vornlink.dll and vornlink.exe in place of the ZIP's"
    echo "NOTE: $note"
    cmake --preset win64 >/dev/null && cmake --build --preset win64 -j"$jobs" --target Vornlink vornlink
    demo_dir="$work/windows-x86_64"
    mkdir "$demo_dir" && cp build/win64/bin/Vornlink.dll build/win64/bin/vornlink.exe "$demo_dir/"
  fi
  check "win32: the demo runs from the unpacked folder under Wine" \
    bash tests/tools/operator_cli_test.sh "$demo_dir/vornlink.exe" "$demo_dir/Vornlink.dll" \
    "$windows_dir/examples" "$root/scripts/wine-run"
fi

echo
[ -n "$note" ] && echo "NOTE: $note"
total=$((passed + failed))
echo "test-packages: $passed passed, $failed failed"
echo "Packages total: $(( total > 0 ? passed * 100 / total : 0 ))% tests passed, $failed tests failed out of $total"
[ "$failed" -eq 0 ]
