#!/usr/bin/env bash
# The real Windows dialogs under Wine on a virtual display:
#   scripts/test-dialogs.sh PRESET   (win64 or win32; default win64)
#
# Opens each dialog through its export from vornlink.exe (Properties with a
# settings document of three items, then a broken one; the emulated DMS on
# a free port), checks it from outside with tests/ui/win32/dialog_driver.exe
# (controls, list rows, canned-reply buttons, a TCP request and its reply),
# closes it with OK and with Cancel, and saves a picture of each dialog in
# docs/ (properties-dialog.png, server-dialog.png).
#
# Needs Xvfb and ImageMagick (scripts/setup.sh installs them); twm, when
# present, gives the pictures their caption bars. Ends with
# "N passed, N failed" and a non-zero status on any failure. Everything it
# starts is stopped before it ends.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
preset=${1:-win64}
bin="$root/build/$preset/bin"
wine_run="$root/scripts/wine-run"
# A Wine prefix of the dialogs' own: Wine's desktop process belongs to a
# prefix and keeps the display it was started with, and other tests start
# it without any.
export VORNLINK_WINEPREFIX="${VORNLINK_DIALOGS_WINEPREFIX:-${HOME:-/tmp}/.cache/vornlink-wine-dialogs}"
export LC_ALL=C.UTF-8

passed=0
failed=0
pass() { echo "ok: $1"; passed=$((passed + 1)); }
fail() { echo "FAILED: $1"; failed=$((failed + 1)); }

for file in Vornlink.dll vornlink.exe dialog_driver.exe; do
  if [ ! -f "$bin/$file" ]; then
    fail "$preset: $file is not built"
    echo "0 passed, $failed failed"
    exit 1
  fi
done
if ! command -v Xvfb >/dev/null || ! command -v import >/dev/null; then
  fail "Xvfb and ImageMagick are needed (bash scripts/setup.sh all)"
  echo "0 passed, $failed failed"
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-dialogs.XXXXXX")
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses.
display=""
for number in $(seq 90 120); do
  if [ ! -e "/tmp/.X$number-lock" ] && [ ! -e "/tmp/.X11-unix/X$number" ]; then
    display=":$number"
    break
  fi
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done
if command -v twm >/dev/null; then
  printf 'RandomPlacement\nNoGrabServer\n' >"$work/twmrc"
  twm -f "$work/twmrc" >"$work/twm.log" 2>&1 &
  pids+=($!)
fi

cp "$bin/Vornlink.dll" "$bin/vornlink.exe" "$bin/dialog_driver.exe" "$work/"
cd "$work" || exit 1

# Saves the dialog titled $1 as docs/$2 (the whole screen when the window's
# place cannot be had).
screenshot() {
  local rect
  rect=$("$wine_run" dialog_driver.exe rect "$1" 2>/dev/null | tr -d '\r' | tail -n 1)
  sleep 0.5
  if [[ "$rect" =~ ^([0-9]+)x([0-9]+)\+(-?[0-9]+)\+(-?[0-9]+)$ ]]; then
    local width=${BASH_REMATCH[1]} height=${BASH_REMATCH[2]}
    local x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
    # Room for the window manager's frame and caption above.
    local top=$((y > 24 ? y - 24 : 0))
    local left=$((x > 4 ? x - 4 : 0))
    import -window root -crop "$((width + 8))x$((height + 28))+$left+$top" +repage "$root/docs/$2"
  else
    import -window root "$root/docs/$2"
  fi && pass "$preset: picture docs/$2"
}

# run_driver DESCRIPTION ARGS...: one dialog_driver run, counted as one check.
run_driver() {
  local what=$1 out
  shift
  out=$("$wine_run" dialog_driver.exe "$@" 2>&1 | tr -d '\r')
  local status=$?
  echo "$out" | sed 's/^/  | /'
  if [ "$status" -eq 0 ] && ! grep -q '^FAIL' <<<"$out" && grep -q '^PASS' <<<"$out"; then
    pass "$preset: $what"
  else
    fail "$preset: $what"
  fi
}

# expect_output FILE TEXT DESCRIPTION: waits up to 20 s for TEXT in FILE.
expect_output() {
  for _ in $(seq 200); do
    grep -qF "$2" "$1" 2>/dev/null && { pass "$preset: $3"; return; }
    sleep 0.1
  done
  fail "$preset: $3 (output: $(tr -d '\r' <"$1" 2>/dev/null))"
}

cat >Vornlink.xml <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<KMR>
  <Log>
    <Flags>+ci</Flags>
  </Log>
  <Setup>
    <TP>
      <Value>TCP</Value>
      <Data>Transport: HTTP, HTTPS or TCP</Data>
    </TP>
    <SR>
      <Value>127.0.0.1</Value>
      <Data>DMS host for TCP</Data>
    </SR>
    <PO>
      <Value>9123</Value>
      <Data>DMS port for TCP</Data>
    </PO>
  </Setup>
</KMR>
XML
rows="Transport: HTTP, HTTPS or TCP|TCP|TP;DMS host for TCP|127.0.0.1|SR;DMS port for TCP|9123|PO"

# --- Properties: the three rows, closed with OK, then with Cancel.
for close in ok cancel; do
  "$wine_run" vornlink.exe -m Vornlink.dll properties >"properties-$close.out" 2>&1 &
  pids+=($!)
  [ "$close" = ok ] && screenshot "Properties" properties-dialog.png
  run_driver "Properties lists the Setup items and closes with $close" properties "$rows" "$close"
  expect_output "properties-$close.out" "Properties 0" "Properties returns 0 after $close"
done

# A broken document: an empty list, the reason in a message box on top.
printf '<KMR>\n  <Setup>\n    <TP><Value>TCP</Value>\n  </Setup>\n</KMR>\n' >Vornlink.xml
"$wine_run" vornlink.exe -m Vornlink.dll properties >properties3.out 2>&1 &
pids+=($!)
sleep 2
screenshot "Properties" properties-dialog-error.png
"$wine_run" dialog_driver.exe close "Properties" >/dev/null 2>&1  # the message box
run_driver "a malformed document opens an empty list" properties "" cancel
expect_output properties3.out "Properties 0" "Properties returns 0 with a malformed document"

# --- The emulated DMS on a free port (123 needs root on the Linux side),
# closed with Cancel, then opened again on the same port (the first opening
# closed its socket) and closed with OK.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
title="Emulated Quarnel TCP server to test a XML KMR 1.xx driver against"
for close in cancel ok; do
  VORNLINK_DMS_PORT=$port "$wine_run" vornlink.exe -m Vornlink.dll server >"server-$close.out" 2>&1 &
  server_pid=$!
  pids+=($server_pid)
  if [ "$close" = cancel ]; then
    run_driver "the server dialog answers a TCP request" server "$port" keep
    screenshot "$title" server-dialog.png
    run_driver "the server dialog closes with Cancel" close "$title"
  else
    run_driver "the server dialog opens again and closes with OK" server "$port" ok
  fi
  if wait "$server_pid"; then pass "$preset: Server returns after $close"; else
    fail "$preset: Server returns after $close"
  fi
done

echo "test-dialogs ($preset): $passed passed, $failed failed"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
