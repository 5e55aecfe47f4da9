#!/usr/bin/env bash
# The real Windows dialogs under Wine on a virtual display: scripts/test-dialogs.sh [win64|win32]
# Opens each dialog through its export from vornlink.exe in C:\Fluid of a Wine prefix of its own,
# with the TCP sample's settings; checks it from outside with dialog_driver.exe, closes it with OK
# and Cancel, and saves its picture (framed as Windows draws it) in build/PRESET/dialog-pictures/
# (docs/ with VORNLINK_DIALOG_PICTURES=docs, to renew the README's). Needs Xvfb and ImageMagick
# (scripts/setup.sh all). Ends with "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/test-lib.sh
preset=${1:-win64}
bin="$root/build/$preset/bin"
pictures="$root/build/$preset/dialog-pictures"
[ "${VORNLINK_DIALOG_PICTURES:-}" = docs ] && pictures="$root/docs"
mkdir -p "$pictures"
wine_run="$root/scripts/wine-run"
# A prefix of the dialogs' own per architecture: Wine's desktop process keeps its first display.
arch=win64
[ "$preset" = win32 ] && arch=win32
export VORNLINK_WINEPREFIX="$VORNLINK_WINE_DIR/dialogs-$arch"
pass() { echo "ok: $preset: $1"; passed=$((passed + 1)); }
fail() { echo "FAILED: $preset: $1"; failed=$((failed + 1)); }
give_up() { fail "$1"; echo "test-dialogs ($preset): $passed passed, $failed failed"; exit 1; }
for needed in "$bin/Vornlink.dll" "$bin/vornlink.exe" "$bin/dialog_driver.exe" \
  "$bin/stub/kmrgui.exe" "$(command -v Xvfb)" "$(command -v import)"; do
  [ -f "$needed" ] || give_up "missing ${needed:-Xvfb or ImageMagick (bash scripts/setup.sh all)}"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-dialogs.XXXXXX")
pids=()
site=""
cleanup() {
  kill "${pids[@]}" 2>/dev/null
  wait "${pids[@]}" 2>/dev/null
  end_wine "$VORNLINK_WINEPREFIX"
  cd / && [ -n "$site" ] && rm -rf "$site"
  rm -rf "$work"
  [ "$arch" = win32 ] && "$root/scripts/i386-emulation" end $$
}
trap cleanup EXIT
if [ "$arch" = win32 ]; then
  "$root/scripts/i386-emulation" begin $$ || give_up "32-bit Wine cannot run here"
fi

for number in $(seq 90 120); do  # a display number nobody uses
  [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] || break
done
export DISPLAY=:$number
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done

# A program of the preset's architecture makes the prefix where needed. Wine then draws frames and
# captions as Windows does (there is no window manager); the caption's buttons need Marlett.
"$wine_run" "$bin/stub/kmrgui.exe" >/dev/null 2>&1
if ! grep -q '^"Managed"="N"' "$VORNLINK_WINEPREFIX/user.reg" 2>/dev/null; then
  "$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
fi
cp /usr/share/wine/fonts/marlett.ttf "$VORNLINK_WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
# The site is C:\Fluid, as the README installs it, so that the pictures show its paths.
site="$VORNLINK_WINEPREFIX/drive_c/Fluid"
rm -rf "$site" && mkdir -p "$site" || give_up "cannot make $site"
cp "$bin/Vornlink.dll" "$bin/vornlink.exe" "$bin/dialog_driver.exe" "$site/"
cd "$site" || exit 1

# screenshot TITLE FILE: the dialog, drawn active, as FILE (the screen when its place is unknown).
screenshot() {
  local rect crop=()
  rect=$("$wine_run" dialog_driver.exe rect "$1" 2>/dev/null | tr -d '\r' | tail -n 1)
  sleep 0.5
  if [[ "$rect" =~ ^([0-9]+)x([0-9]+)\+(-?[0-9]+)\+(-?[0-9]+)$ ]]; then
    crop=(-crop "${BASH_REMATCH[1]}x${BASH_REMATCH[2]}+${BASH_REMATCH[3]}+${BASH_REMATCH[4]}" +repage)
  fi
  import -window root "${crop[@]}" "$pictures/$2" && pass "picture $2"
}
# run_driver DESCRIPTION ARGS...: one dialog_driver run, counted as one check.
run_driver() {
  local out status
  out=$("$wine_run" dialog_driver.exe "${@:2}" 2>&1 | tr -d '\r')
  status=$?
  echo "$out" | sed 's/^/  | /'
  if [ "$status" -eq 0 ] && ! grep -q '^FAIL' <<<"$out" && grep -q '^PASS' <<<"$out"; then pass "$1"; else fail "$1"; fi
}
# expect_output FILE TEXT DESCRIPTION: waits up to 20 s for TEXT in FILE.
expect_output() {
  for _ in $(seq 200); do grep -qF "$2" "$1" 2>/dev/null && { pass "$3"; return; }; sleep 0.1; done
  fail "$3 (output: $(tr -d '\r' <"$1" 2>/dev/null))"
}
start() { "$wine_run" vornlink.exe -m Vornlink.dll "$1" >"$work/$2" 2>&1 & last=$!; pids+=($last); }
returned() { check "$preset: Server returns after $1" wait "$last"; }

# The TCP sample adapted as the README's second step does; its rows, "Data|Value|ExtF;..." in order.
cp "$root/examples/tcp/Vornlink.xml" "$root/examples/tcp/Vornlink.ini" "$site/"
sed -i 's#<Value>dms.example.com</Value>#<Value>10.20.0.15</Value>#; s#<Value>9123</Value>#<Value>4001</Value>#' Vornlink.xml
rows=$(python3 -c 'import sys, xml.etree.ElementTree as tree
items = tree.parse(sys.argv[1]).getroot().find("Setup")
print(";".join("%s|%s|%s" % (item[1].text, item[0].text, item.tag) for item in items))' Vornlink.xml)
start properties properties-ok.out
screenshot "Properties" properties-dialog.png
run_driver "Properties lists the Setup items of the sample and closes with ok" properties "$rows" ok
expect_output "$work/properties-ok.out" "Properties 0" "Properties returns 0 after ok"
# Without a Setup section (misspelt): an empty list under a message box with the reason.
sed 's#<\(/\{0,1\}\)Setup>#<\1SetUp>#' "$root/examples/tcp/Vornlink.xml" >Vornlink.xml
start properties properties-nosetup.out
sleep 2
screenshot "Properties" properties-dialog-error.png
"$wine_run" dialog_driver.exe close "Properties" >/dev/null 2>&1  # the message box
run_driver "a document without KMR/Setup opens an empty list" properties "" cancel
expect_output "$work/properties-nosetup.out" "Properties 0" "Properties returns 0 without KMR/Setup"

# The emulated DMS on a free port (123 needs root on Linux), closed with Cancel, then opened again
# on the same port (the first opening closed its socket) and closed with OK. In between the driver
# asks it about the sample's job number with the sample's settings, as its picture shows.
port=$(python3 "$root/tests/testing/free_port.py")
export VORNLINK_DMS_PORT=$port
sed -e "s#<Value>dms.example.com</Value>#<Value>127.0.0.1</Value>#" \
  -e "s#<Value>9123</Value>#<Value>$port</Value>#" "$root/examples/tcp/Vornlink.xml" >Vornlink.xml
title="Emulated Quarnel TCP server to test a XML KMR 1.xx driver against"
start server server-cancel.out
run_driver "the server dialog answers a TCP request" server "$port" keep
check "$preset: the driver's job validation gets the dialog's Job VALID reply" \
  test "$("$wine_run" vornlink.exe -m Vornlink.dll validate 118739.A 2>&1 | tr -d '\r')" = 1
screenshot "$title" server-dialog.png
run_driver "the server dialog closes with Cancel" close "$title"
returned cancel
start server server-ok.out
run_driver "the server dialog opens again and closes with OK" server "$port" ok
returned ok

echo "test-dialogs ($preset): $passed passed, $failed failed"
[ "$failed" -eq 0 ]
