#!/usr/bin/env bash
# The packages a site gets, checked from the outside: the Linux tarball and the ZIP of the
# shipping i686 build with its separate debug archive, what each holds, and the operator demo
# (tests/tools/operator_cli_test.sh) run from each unpacked: the ZIP's in 32-bit Wine (through
# scripts/i386-emulation where the kernel runs no 32-bit code; only where 32-bit Wine cannot run
# at all, with the win64 build's DLL and vornlink.exe, as the output then says). Also the
# README's first command, scripts/demo.sh, on the Linux build.
# Ends with a line "Packages total: N% tests passed, N tests failed out of N".
# Environment: VORNLINK_JOBS (build jobs, default 2), VORNLINK_WINE_DIR (see scripts/wine-run).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${VORNLINK_JOBS:-2}
version=$(sed -nE 's/^project\(Vornlink VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
work=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-packages.XXXXXX")
export VORNLINK_WINE_DIR="${VORNLINK_WINE_DIR:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/vornlink}"
unset VORNLINK_WINEPREFIX  # one prefix per architecture, chosen by wine-run
cleanup() {
  local prefix
  # Wine's helper processes, and a stand-in a host started, end with the prefixes' servers.
  for prefix in "$VORNLINK_WINE_DIR"/win32 "$VORNLINK_WINE_DIR"/win64; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k 2>/dev/null
  done
  "$root/scripts/i386-emulation" end $$
  rm -rf "$work"
}
trap cleanup EXIT
passed=0
failed=0
note=""

check() {  # check DESCRIPTION COMMAND...: runs the command, counts the result and its time.
  local begun=$SECONDS
  if "${@:2}"; then echo "ok: $1 ($((SECONDS - begun)) s)"; passed=$((passed + 1))
  else echo "FAILED: $1 ($((SECONDS - begun)) s)"; failed=$((failed + 1)); fi
}

# holds LISTING FILE...: every FILE is in the package's listing (in its one top folder).
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
plain_text() { ! grep -qE '!\[[^]]*\]\(|\]\(#' "$1"; }  # no Markdown picture or link left
zip_listing() { python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"; }
lacks() { ! grep -q "$2" "$1"; }  # lacks LISTING TEXT
has_lines() { local line; for line in "${@:2}"; do grep -qxF -- "$line" "$1" || return 1; done; }
# demo_exits_0: the README's first command, on the Linux build just made, tells its story to the
# end and exits 0.
demo_exits_0() {
  local status=0 site
  VORNLINK_DEMO_BUILD=build/linux bash scripts/demo.sh >"$work/demo.out" 2>&1 || status=$?
  site=$(sed -n 's#^== A site in \(/tmp/vornlink-demo\.[^:]*\):.*#\1#p' "$work/demo.out")
  [ -n "$site" ] && rm -rf "$site"  # left for a person to look at, not for the test
  [ "$status" -eq 0 ] && grep -q "^== The log " "$work/demo.out" || { tail -n 30 "$work/demo.out"; return 1; }
}

# man_page_sound DIR: vornlink.1 renders without a warning and names every command of the usage.
man_page_sound() {
  local command missing=0 warnings commands
  warnings=$(groff -z -man -ww "$1/vornlink.1" 2>&1) || return 1
  [ -z "$warnings" ] || { echo "$warnings"; return 1; }
  commands=$(groff -man -Tascii -P-cbou -rLL=300n -rHY=0 "$1/vornlink.1" | sed -n '/^COMMANDS/,/^EXIT/p')
  for command in $("$1/vornlink" --help | sed -n 's/^  \([a-z][a-z0-9-]*\).*/\1/p' | sort -u); do
    grep -qw -- "$command" <<<"$commands" || { echo "  vornlink.1 lacks $command"; missing=1; }
  done
  return $missing
}
# completes DIR: vornlink.bash sources in bash and completes the commands and a command's options.
completes() {
  [ "$(PATH="$1:$PATH" bash -c 'source "$1"
    for line in "vornlink st" "vornlink status --st"; do
      read -ra COMP_WORDS <<<"$line"; COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _vornlink
      echo "${COMPREPLY[*]}"
    done' _ "$1/vornlink.bash")" = $'start status stop\n--stale' ]
}

common_files=(README-operator.txt examples/tcp/Vornlink.xml examples/tcp/Vornlink.ini
  examples/soap-https/Vornlink.xml examples/soap-https/Vornlink.ini examples/transactions.csv
  docs/properties-dialog.png docs/server-dialog.png)

package() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$jobs" --target package; }
check "linux: the tarball is built" package linux
tarball="build/linux/packages/Vornlink-$version-linux.tar.gz"
if [ -f "$tarball" ]; then
  tar tzf "$tarball" >"$work/linux.list"
  check "linux: it holds the module, the program, the samples and the text" \
    holds "$work/linux.list" Vornlink.so vornlink vornlink.1 vornlink.bash "${common_files[@]}"
  mkdir "$work/linux" && tar xzf "$tarball" -C "$work/linux"
  linux_dir="$work/linux/Vornlink-$version-linux"
  check "linux: the module is stripped" lacks_section objdump "$linux_dir/Vornlink.so" .debug_info
  check "linux: the program is stripped" lacks_section objdump "$linux_dir/vornlink" .debug_info
  check "linux: the text has LF line ends" lf_text "$linux_dir/README-operator.txt"
  check "linux: the text is the README's sections for operators" has_lines "$linux_dir/README-operator.txt" \
    "## Operating a site" "## Delivery" "## The log" "## The emulated DMS without a dialog"
  check "linux: the text names its pictures in plain text" plain_text "$linux_dir/README-operator.txt"
  check "linux: the manual page renders without warnings and names every command" \
    man_page_sound "$linux_dir"
  check "linux: the bash completion completes commands and options" completes "$linux_dir"
  check "linux: the demo runs from the unpacked folder" \
    bash tests/tools/operator_cli_test.sh "$linux_dir/vornlink" "$linux_dir/Vornlink.so" \
    "$linux_dir/examples"
  check "linux: scripts/demo.sh exits 0" demo_exits_0
fi

check "win32: the ZIP is built" package win32
zip="build/win32/packages/Vornlink-$version-win32.zip"
if [ -f "$zip" ]; then
  zip_listing "$zip" >"$work/windows.list"
  check "win32: it holds the DLL, vornlink.exe, the samples and the text" \
    holds "$work/windows.list" Vornlink.dll vornlink.exe "${common_files[@]}"
  check "win32: the debug file is not in it" lacks "$work/windows.list" Vornlink.dll.debug
  mkdir "$work/windows" && python3 -m zipfile -e "$zip" "$work/windows"
  windows_dir="$work/windows/Vornlink-$version-win32"
  # The debug archive unpacks its one file into the same folder, beside the DLL.
  zip_listing "${zip%.zip}-debug.zip" | grep -v '/$' >"$work/debug.list"
  check "win32: the debug archive holds the debug file only" \
    [ "$(cat "$work/debug.list")" = "Vornlink-$version-win32/Vornlink.dll.debug" ]
  python3 -m zipfile -e "${zip%.zip}-debug.zip" "$work/windows" 2>/dev/null
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
  check "win32: the text names its pictures in plain text" plain_text "$windows_dir/README-operator.txt"
  check "win32: the samples have CR LF line ends" crlf_text "$windows_dir/examples/tcp/Vornlink.xml"

  demo_dir="$windows_dir" stub_preset=win32
  if ! "$root/scripts/i386-emulation" begin $$; then
    note="32-bit Wine cannot run here ($("$root/scripts/i386-emulation" status)): the Windows demo ran the ZIP's samples with the win64 build's Vornlink.dll and vornlink.exe in place of the ZIP's"
    echo "NOTE: $note"
    cmake --preset win64 >/dev/null &&
      cmake --build --preset win64 -j"$jobs" --target Vornlink vornlink kmrgui_stub
    demo_dir="$work/windows-x86_64" stub_preset=win64
    mkdir "$demo_dir" && cp build/win64/bin/Vornlink.dll build/win64/bin/vornlink.exe "$demo_dir/"
  fi
  # A host's start shows the host's GUI program: the stand-in, found on Wine's PATH.
  stub=$(realpath "build/$stub_preset/bin/stub")
  check "win32: the demo runs from the unpacked folder under Wine" \
    env WINEPATH="Z:${stub//\//\\}" bash tests/tools/operator_cli_test.sh "$demo_dir/vornlink.exe" \
    "$demo_dir/Vornlink.dll" "$windows_dir/examples" "$root/scripts/wine-run"
fi

echo
[ -n "$note" ] && echo "NOTE: $note"
total=$((passed + failed))
echo "test-packages: $passed passed, $failed failed"
echo "Packages total: $(( total > 0 ? passed * 100 / total : 0 ))% tests passed, $failed tests failed out of $total"
[ "$failed" -eq 0 ]
