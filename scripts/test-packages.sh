#!/usr/bin/env bash
# The packages a site gets, checked from outside: the Linux tarball and the ZIP of the shipping
# i686 build with its debug archive, what each holds, and the operator demo (operator_cli_test.sh)
# run from each unpacked, the ZIP's in 32-bit Wine (through scripts/i386-emulation where needed;
# where 32-bit Wine cannot run at all, with the win64 build's DLL and vornlink.exe, as the output
# says). Also scripts/demo.sh on the Linux build. Ends with a line "Packages total: N% tests
# passed, N tests failed out of N". Environment: scripts/test-lib.sh.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/test-lib.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-packages.XXXXXX")
unset VORNLINK_WINEPREFIX  # one prefix per architecture, chosen by wine-run
cleanup() {
  end_wine "$VORNLINK_WINE_DIR"/win{32,64}
  "$root/scripts/i386-emulation" end $$
  rm -rf "$work"
}
trap cleanup EXIT
note=""

# holds LISTING FILE...: every FILE is in the package's listing (in its one top folder).
holds() {
  local missing
  missing=$(printf '%s\n' "${@:2}" | grep -vxF -f <(sed 's#^[^/]*/##' "$1"))
  [ -z "$missing" ] || { echo "  missing:" $missing; return 1; }
}

has_section() { "$1" -h "$2" 2>/dev/null | grep -q " $3 "; }
crlf_text() { [ "$(grep -c $'\r$' "$1")" = "$(grep -c '' "$1")" ] && [ "$(grep -c '' "$1")" -gt 0 ]; }
plain_text() { ! grep -qE '!\[[^]]*\]\(|\]\(#' "$1"; }  # no Markdown picture or link left
zip_listing() { python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"; }
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

common_files=(README-operator.txt examples/tcp/Vornlink.xml examples/tcp/Vornlink.ini
  examples/soap-https/Vornlink.xml examples/soap-https/Vornlink.ini examples/transactions.csv
  docs/properties-dialog.png docs/server-dialog.png)

check "linux: the tarball is built" build linux --target package
tarball="build/linux/packages/Vornlink-$version-linux.tar.gz"
if [ -f "$tarball" ]; then
  tar tzf "$tarball" >"$work/linux.list"
  check "linux: it holds the module, the program, the samples and the text" \
    holds "$work/linux.list" Vornlink.so vornlink vornlink.1 vornlink.bash "${common_files[@]}"
  mkdir "$work/linux" && tar xzf "$tarball" -C "$work/linux"
  linux_dir="$work/linux/Vornlink-$version-linux"
  check "linux: the module is stripped" not has_section objdump "$linux_dir/Vornlink.so" .debug_info
  check "linux: the program is stripped" not has_section objdump "$linux_dir/vornlink" .debug_info
  check "linux: the text has LF line ends" not grep -q $'\r' "$linux_dir/README-operator.txt"
  check "linux: the text is the README's sections for operators" has_lines "$linux_dir/README-operator.txt" \
    "## Operating a site" "## Delivery" "## The log" "## The emulated DMS without a dialog"
  check "linux: the text names its pictures in plain text" plain_text "$linux_dir/README-operator.txt"
  # tests/tools/manual_pages_test.sh on the packaged files (the completion too, without groff).
  pages=("$linux_dir/"{vornlink,vornlink.1,vornlink.bash})
  check "linux: the manual page renders without warnings and names every command" \
    eval 'command -v groff >/dev/null && bash tests/tools/manual_pages_test.sh "${pages[@]}"'
  check "linux: the bash completion completes commands and options" \
    bash tests/tools/manual_pages_test.sh "${pages[@]}"
  check "linux: the demo runs from the unpacked folder" bash tests/tools/operator_cli_test.sh \
    "$linux_dir/"{vornlink,Vornlink.so,examples}
  check "linux: scripts/demo.sh exits 0" demo_exits_0
fi

check "win32: the ZIP is built" build win32 --target package
zip="build/win32/packages/Vornlink-$version-win32.zip"
if [ -f "$zip" ]; then
  zip_listing "$zip" >"$work/windows.list"
  check "win32: it holds the DLL, vornlink.exe, the samples and the text" \
    holds "$work/windows.list" Vornlink.dll vornlink.exe "${common_files[@]}"
  check "win32: the debug file is not in it" not grep -q Vornlink.dll.debug "$work/windows.list"
  mkdir "$work/windows" && python3 -m zipfile -e "$zip" "$work/windows"
  windows_dir="$work/windows/Vornlink-$version-win32"
  # The debug archive unpacks its one file into the same folder, beside the DLL.
  zip_listing "${zip%.zip}-debug.zip" | grep -v '/$' >"$work/debug.list"
  check "win32: the debug archive holds the debug file only" \
    [ "$(cat "$work/debug.list")" = "Vornlink-$version-win32/Vornlink.dll.debug" ]
  python3 -m zipfile -e "${zip%.zip}-debug.zip" "$work/windows" 2>/dev/null
  objdump=i686-w64-mingw32-objdump dll="$windows_dir/Vornlink.dll"
  check "win32: the DLL is 32-bit" sh -c "$objdump -f '$dll' | grep -q 'file format pei-i386'"
  check "win32: the DLL is stripped" not has_section "$objdump" "$dll" .debug_info
  check "win32: the DLL links to its debug file" has_section "$objdump" "$dll" .gnu_debuglink
  check "win32: the debug file holds the debug information" \
    has_section "$objdump" "$dll.debug" .debug_info
  check "win32: vornlink.exe is stripped" not has_section "$objdump" "$windows_dir/vornlink.exe" \
    .debug_info
  check "win32: the text has CR LF line ends" crlf_text "$windows_dir/README-operator.txt"
  check "win32: the text names its pictures in plain text" plain_text "$windows_dir/README-operator.txt"
  check "win32: the samples have CR LF line ends" crlf_text "$windows_dir/examples/tcp/Vornlink.xml"

  demo_dir="$windows_dir" stub_preset=win32
  if ! "$root/scripts/i386-emulation" begin $$; then
    note="32-bit Wine cannot run here ($("$root/scripts/i386-emulation" status)): the Windows demo ran the ZIP's samples with the win64 build's Vornlink.dll and vornlink.exe in place of the ZIP's"
    echo "NOTE: $note"
    build win64 --target Vornlink vornlink kmrgui_stub
    demo_dir="$work/windows-x86_64" stub_preset=win64
    mkdir "$demo_dir" && cp build/win64/bin/Vornlink.dll build/win64/bin/vornlink.exe "$demo_dir/"
  fi
  # A host's start shows the host's GUI program: the stand-in, found on Wine's PATH.
  check "win32: the demo runs from the unpacked folder under Wine" env \
    WINEPATH="$(windows_path "build/$stub_preset/bin/stub")" bash tests/tools/operator_cli_test.sh \
    "$demo_dir/"{vornlink.exe,Vornlink.dll} "$windows_dir/examples" "$root/scripts/wine-run"
fi

echo
[ -n "$note" ] && echo "NOTE: $note"
echo "test-packages: $passed passed, $failed failed"
total Packages "$passed" "$failed"
[ "$failed" -eq 0 ]
