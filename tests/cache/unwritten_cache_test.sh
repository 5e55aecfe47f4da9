#!/usr/bin/env bash
# A full disk (a tmpfs mounted here, as root): the cache's reserve takes what it refuses, so a host
# killed then loses nothing; it is made whole when there is room. What the cache cannot take (the
# reserve used up, a read-only cache file, a folder or FIFO in its place, a FIFO as its lock) is
# named whole in the log, kept, written later in order; `status` reports it until then, and the
# reserve until whole.
# usage: unwritten_cache_test.sh VORNLINK MODULE EXAMPLES [RUNNER] (RUNNER: scripts/wine-run)
set -u
program=$(realpath "$1") module=$(realpath "$2") examples=$(realpath "$3")
runner=${4:+$(realpath "$4")}
work=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-unwritten.XXXXXX")
cleanup() {
  exec 3>&- 2>/dev/null
  [ -n "${dms_pid:-}" ] && kill "$dms_pid" 2>/dev/null
  wait 2>/dev/null
  mountpoint -q "$work/ro" 2>/dev/null && umount "$work/ro"
  mountpoint -q "$work/disk" 2>/dev/null && umount "$work/disk"
  rm -rf "$work"
}
trap cleanup EXIT
trap '' PIPE  # a session that ended fails the checks, not this script
failed=0
check() {  # check DESCRIPTION COMMAND...
  "${@:2}" && return 0
  echo "FAILED: $1"
  sed 's/^/  | /' "$work/out" "$work/session.out" 2>/dev/null | tail -n 30
  failed=$((failed + 1))
}
log_has() { [ "$(grep -cF -- "$1" "$work/drv.log")" -ge "$2" ]; }  # log_has TEXT COUNT
# wait_for COMMAND...: up to a minute (the first one two: Wine may make its prefix).
wait_for() { for _ in $(seq "${tenths:-600}"); do "$@" && return 0; sleep 0.1; done; return 1; }
status_is() { (cd "$site" && timeout 120 $runner "$program" -m "$name" status) >"$work/out" 2>&1; [ $? -eq "$1" ]; }
send() { printf '%s\n' "$@" >&3; }
handed() { [ "$(grep -c '^handed 1 transaction' "$work/session.out")" -ge "$1" ]; }
fields() { echo "$1,118739.A,$(date +%y%m%d),$(date +%H%M%S),7,BAY3,1,1,5W30 Engine Oil,OIL-5W30-BULK,4.5,0"; }
forward() { send "forward $(fields "$1" | sed 's/5W30 Engine Oil/Oil/; s/,/ /g')"; }
# kept N, written N: the log names transaction N whole as kept in memory, as written after all.
kept() { grep -qE -- "-\*-KMRCacheTransaction: Transaction\[$1,118739\.A,[0-9]{6},[0-9]{6},7,BAY3,1,1,5W30 Engine Oil,OIL-5W30-BULK,4\.5,0\] could not be written to the cache -> FAILED -> kept in memory" "$work/drv.log"; }
written() { grep -F "Transaction[$1,118739.A," "$work/drv.log" | grep -qF "] written to the cache after all with Trid["; }
trans_nos() { cut -d, -f1 "$cache" | tr -d '\r' | tr '\n' ' '; }

# start_site FOLDER RETRY: the TCP sample in FOLDER, its log outside; a session reading from fd 3.
start_site() {
  site=$1 name=$(basename "$module") cache="$1/Vornlink.\$\$\$"
  cp "$module" "$examples/tcp/Vornlink.xml" "$examples/tcp/Vornlink.ini" "$site/"
  local log="$work/drv.log"
  [ -n "$runner" ] && log=$("$runner" winepath -w "$log" 2>/dev/null | tr -d '\r')
  log=$(sed 's/[\\&#]/\\&/g' <<<"$log")
  sed -i "s#<FileName>.*</FileName>#<FileName>$log</FileName>#; s#<MaxLines>.*</MaxLines>#<MaxLines>-1</MaxLines>#; s#dms.example.com#127.0.0.1#; s#<Value>9123</Value>#<Value>$port</Value>#" "$site/Vornlink.xml"
  sed -i "s/^RetryTime=10/RetryTime=$2/" "$site/Vornlink.ini"
  rm -f "$work/in" "$work/drv.log" && mkfifo "$work/in"
  (cd "$site" && exec timeout 900 $runner "$program" -m "$name" session <"$work/in") >"$work/session.out" 2>&1 &
  session_pid=$!
  exec 3>"$work/in"
  send start
}
end_session() { send stop; exec 3>&-; wait "$session_pid" 2>/dev/null; session_status=$?; }
port=$(python3 "$(dirname "$(realpath "$0")")/../testing/free_port.py")

# ------------------------------------------------- a full disk, then room again
mkdir "$work/disk"
if [ "$(id -u)" != 0 ]; then
  echo "SKIPPED: a full disk: mounting a tmpfs needs root"
elif ! mount -t tmpfs -o size=$(($(stat -c %s "$module") / 1024 + 4096))k tmpfs "$work/disk" 2>"$work/out"; then
  echo "SKIPPED: a full disk: no tmpfs could be mounted ($(cat "$work/out"))"
else
  reserve="$work/disk/Vornlink.\$\$\$.reserve"
  whole() { [ "$(stat -c %s "$reserve" 2>/dev/null)" = 1048576 ]; }
  # A host hands over ten on the full disk and is killed (its worker waits a day to deliver).
  start_site "$work/disk" 86400
  check "full: the worker makes the reserve" wait_for whole
  cat /dev/zero >"$work/disk/fill" 2>/dev/null
  for i in $(seq 10); do forward "$i"; done
  tenths=1200 check "full: every call returns" wait_for handed 10
  kill -KILL $(ps -o pid= --ppid "$session_pid") 2>/dev/null
  exec 3>&-; wait "$session_pid" 2>/dev/null
  check "full: each in the cache before its call returned" [ "$(trans_nos)" = "$(seq -s ' ' 10) " ]
  check "full: status warns of the reserve given up" eval 'status_is 2 && grep -qF "given up to a full disk" "$work/out"'
  # Room: all ten delivered. Then the reserve is used up, and five wait in memory until there is
  # room again, when the reserve is made whole.
  rm "$work/disk/fill"
  count=15
  (exec timeout 300 $runner "$program" dms --address 127.0.0.1 --port "$port" --count $((count + 1)) \
    --reply fwt-success --log "$work/requests.log") >"$work/dms.out" 2>&1 &
  dms_pid=$!
  start_site "$work/disk" 1
  check "room: the ten delivered" wait_for eval '[ "$(trans_nos)" = "" ]'
  cat /dev/zero >"$work/disk/fill" 2>/dev/null
  rm "$reserve"
  cat /dev/zero >>"$work/disk/fill" 2>/dev/null
  # Without a service of its own, the program ends with it in its memory: it is named.
  run_forward() { (cd "$site" && exec 3>&- && timeout 120 $runner "$program" -m "$name" "$@") >"$work/out" 2>&1; }
  t900=$(fields 900)
  run_forward forward $(sed 's/5W30 Engine Oil/Oil/; s/,/ /g' <<<"$t900")
  check "used up: forward exits 3, naming it whole" eval "[ $? -eq 3 ] && grep -qF 'Transaction[$t900] is not in the cache' '$work/out'"
  for i in $(seq 11 "$count"); do forward "$i"; done
  tenths=1200 check "used up: every call returns" wait_for handed 5
  check "used up: each named whole in the log" kept 11
  check "used up: all kept" log_has "] could not be written to the cache -> FAILED -> kept in memory" 5
  check "used up: status reports them" status_is 2
  check "used up: status names each" grep -qF "$(fields "$count" | cut -d, -f1-2)" "$work/out"
  rm "$work/disk/fill"
  # The worker's pass writes them; a host call after that goes behind them.
  check "used up: written after all" wait_for log_has "] written to the cache after all with Trid[" 5
  forward $((count + 1))
  check "room: the DMS got every one" wait_for eval '! kill -0 $dms_pid 2>/dev/null'
  dms_pid=""
  check "room: the reserve made whole again" wait_for whole
  end_session
  check "room: the session, all written after all, exits 0" [ "$session_status" -eq 0 ]
  got=$(grep -o '<transaction>[0-9]*<' "$work/requests.log" | tr -dc '0-9\n' | tr '\n' ' ')
  check "room: delivered in order, none lost, none twice" [ "$got" = "$(seq -s ' ' $((count + 1))) " ]
  check "room: status all well after" status_is 0
fi

# ------------------------------------------------- something else in the cache's place
mkdir "$work/ro"
start_site "$work/ro" 86400
n=100
# obstacle DESCRIPTION PLACE REMOVE LATER: transaction n+1 is kept while PLACE holds; LATER, a host
# call after REMOVE (a validation, or the next transaction, which must not overtake it), writes it.
obstacle() {
  eval "$2" || { echo "FAILED: $1: cannot place the obstacle"; failed=$((failed + 1)); return; }
  local kept_n=$((n += 1))
  forward "$n"
  check "$1: the call returns" wait_for handed $((n - 99))
  check "$1: named whole, kept" kept "$n"
  [ "$1" = "read-only cache file" ] && check "$1: status reports it" status_is 2
  eval "$3"
  if [ "$4" = forward ]; then forward $((n += 1)); else send "validate 118739.A"; fi
  check "$1: written after all" wait_for written "$kept_n"
}
forward 100  # the cache file exists from here on
wait_for handed 1
if [ "$(id -u)" = 0 ]; then
  obstacle "read-only cache file" "mount --bind '$cache' '$cache' && mount -o remount,ro,bind '$cache'" "umount '$cache'" forward
else
  obstacle "read-only cache file" "chmod 444 '$cache'" "chmod 644 '$cache'" forward
fi
obstacle "a folder in its place" "mv '$cache' '$work/saved' && mkdir '$cache'" "rmdir '$cache' && mv '$work/saved' '$cache'" validate
obstacle "a FIFO in its place" "mv '$cache' '$work/saved' && mkfifo '$cache'" "rm '$cache' && mv '$work/saved' '$cache'" forward
# Windows locks the cache with a named mutex, not a file.
[ -z "$runner" ] && obstacle "a FIFO as its lock file" "rm -f '$cache.lock' && mkfifo '$cache.lock'" "rm '$cache.lock'" validate
end_session
want="100 $(seq -s ' ' 101 "$n") "
check "in the cache in order, each once" [ "$(trans_nos)" = "$want" ]
check "status all well after" status_is 0

echo "unwritten cache test: $failed failed"
[ "$failed" -eq 0 ]
