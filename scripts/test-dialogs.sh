#!/usr/bin/env bash
# The real Windows dialogs under Wine on a virtual display:
#   scripts/test-dialogs.sh PRESET   (win64 or win32; default win64)
# Opens each dialog through its export from vornlink.exe, checks it from
# outside with dialog_driver.exe, closes it with OK and with Cancel, and saves
# its picture in build/PRESET/dialog-pictures/ (in docs/ with
# VORNLINK_DIALOG_PICTURES=docs, to renew the README's). Needs Xvfb and ImageMagick (scripts/setup.sh); twm,
# when present, draws the caption bars. Ends with "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
preset=${1:-win64}
bin="$root/build/$preset/bin"
pictures="$root/build/$preset/dialog-pictures"
[ "${VORNLINK_DIALOG_PICTURES:-}" = docs ] && pictures="$root/docs"
mkdir -p "$pictures"
wine_run="$root/scripts/wine-run"
# A Wine prefix of the dialogs' own: Wine's desktop process keeps the display
# it was started with, and other tests start it without any.
export VORNLINK_WINEPREFIX="${VORNLINK_DIALOGS_WINEPREFIX:-${HOME:-/tmp}/.cache/vornlink-wine-dialogs}"
export LC_ALL=C.UTF-8
passed=0 failed=0
pass() { echo "ok: $preset: $1"; passed=$((passed + 1)); }
fail() { echo "FAILED: $preset: $1"; failed=$((failed + 1)); }
for needed in "$bin/Vornlink.dll" "$bin/vornlink.exe" "$bin/dialog_driver.exe" "$(command -v Xvfb)" "$(command -v import)"; do
  [ -f "$needed" ] || { fail "missing ${needed:-Xvfb or ImageMagick (bash scripts/setup.sh all)}"; echo "0 passed, $failed failed"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-dialogs.XXXXXX")
pids=()
cleanup() {
  kill "${pids[@]}" 2>/dev/null
  wait "${pids[@]}" 2>/dev/null
  # Wine's helper processes would keep the prefix's server running.
  WINEPREFIX="$VORNLINK_WINEPREFIX" wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

for number in $(seq 90 120); do  # a display number nobody uses
  [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] || break
done
export DISPLAY=:$number
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done
if command -v twm >/dev/null; then
  printf 'RandomPlacement\nNoGrabServer\n' >"$work/twmrc"
  twm -f "$work/twmrc" >"$work/twm.log" 2>&1 &
  pids+=($!)
fi
cp "$bin/Vornlink.dll" "$bin/vornlink.exe" "$bin/dialog_driver.exe" "$work/"
cd "$work" || exit 1

# screenshot TITLE FILE: the dialog, with room for the frame and caption, as
# FILE in the pictures' folder (the whole screen when the window's place cannot be had).
screenshot() {
  local rect crop=()
  rect=$("$wine_run" dialog_driver.exe rect "$1" 2>/dev/null | tr -d '\r' | tail -n 1)
  sleep 0.5
  if [[ "$rect" =~ ^([0-9]+)x([0-9]+)\+(-?[0-9]+)\+(-?[0-9]+)$ ]]; then
    local x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
    crop=(-crop "$((BASH_REMATCH[1] + 8))x$((BASH_REMATCH[2] + 28))+$((x > 4 ? x - 4 : 0))+$((y > 24 ? y - 24 : 0))" +repage)
  fi
  import -window root "${crop[@]}" "$pictures/$2" && pass "picture $2"
}
# run_driver DESCRIPTION ARGS...: one dialog_driver run, counted as one check.
run_driver() {
  local what=$1 out status
  shift
  out=$("$wine_run" dialog_driver.exe "$@" 2>&1 | tr -d '\r')
  status=$?
  echo "$out" | sed 's/^/  | /'
  if [ "$status" -eq 0 ] && ! grep -q '^FAIL' <<<"$out" && grep -q '^PASS' <<<"$out"; then pass "$what"; else fail "$what"; fi
}
# expect_output FILE TEXT DESCRIPTION: waits up to 20 s for TEXT in FILE.
expect_output() {
  for _ in $(seq 200); do grep -qF "$2" "$1" 2>/dev/null && { pass "$3"; return; }; sleep 0.1; done
  fail "$3 (output: $(tr -d '\r' <"$1" 2>/dev/null))"
}
start() { "$wine_run" vornlink.exe -m Vornlink.dll "$1" >"$2" 2>&1 & last=$!; pids+=($last); }
returned() { if wait "$last"; then pass "Server returns after $1"; else fail "Server returns after $1"; fi; }

item() { printf '    <%s>\n      <Value>%s</Value>\n      <Data>%s</Data>\n    </%s>\n' "$1" "$2" "$3" "$1"; }
{
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<KMR>\n  <Log>\n    <Flags>+ci</Flags>\n  </Log>\n  <Setup>\n'
  item TP TCP "Transport: HTTP, HTTPS or TCP" && item SR 127.0.0.1 "DMS host for TCP"
  item PO 9123 "DMS port for TCP" && printf '  </Setup>\n</KMR>\n'
} >Vornlink.xml
rows="Transport: HTTP, HTTPS or TCP|TCP|TP;DMS host for TCP|127.0.0.1|SR;DMS port for TCP|9123|PO"
start properties properties-ok.out
screenshot "Properties" properties-dialog.png
run_driver "Properties lists the Setup items and closes with ok" properties "$rows" ok
expect_output properties-ok.out "Properties 0" "Properties returns 0 after ok"
# A broken document: an empty list, the reason in a message box on top; closed with Cancel.
printf '<KMR>\n  <Setup>\n    <TP><Value>TCP</Value>\n  </Setup>\n</KMR>\n' >Vornlink.xml
start properties properties3.out
sleep 2
screenshot "Properties" properties-dialog-error.png
"$wine_run" dialog_driver.exe close "Properties" >/dev/null 2>&1  # the message box
run_driver "a malformed document opens an empty list" properties "" cancel
expect_output properties3.out "Properties 0" "Properties returns 0 with a malformed document"

# The emulated DMS on a free port (123 needs root on the Linux side), closed
# with Cancel, then opened again on the same port (the first opening closed
# its socket) and closed with OK.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export VORNLINK_DMS_PORT=$port
title="Emulated Quarnel TCP server to test a XML KMR 1.xx driver against"
start server server-cancel.out
run_driver "the server dialog answers a TCP request" server "$port" keep
screenshot "$title" server-dialog.png
run_driver "the server dialog closes with Cancel" close "$title"
returned cancel
start server server-ok.out
run_driver "the server dialog opens again and closes with OK" server "$port" ok
returned ok

echo "test-dialogs ($preset): $passed passed, $failed failed"
[ "$failed" -eq 0 ]
