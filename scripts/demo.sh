#!/usr/bin/env bash
# The main job in a minute or two: installs what is missing, builds the Linux
# module and the host program, then plays a workshop on one machine:
#   - an emulated DMS on loopback (vornlink dms) with its canned replies;
#   - a host (vornlink) that starts the service, validates a job number both
#     ways and forwards dispense transactions; `vornlink deliver` lets the
#     cache worker deliver them: delivered, retried later, parked for a person;
#   - at the end the cache file and the log the driver wrote.
# VORNLINK_DEMO_BUILD names a build folder whose module and program to take instead of building
# build/demo (the test command's own Linux build).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VORNLINK_DEMO_BUILD:-}
if [ -z "$build" ]; then
  bash scripts/setup.sh demo
  cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORNLINK_BUILD_TESTS=OFF -DVORNLINK_BUILD_BENCHMARKS=OFF >/dev/null
  cmake --build build/demo --target Vornlink vornlink
  build=build/demo
fi

site=$(mktemp -d /tmp/vornlink-demo.XXXXXX)
port=$((20000 + RANDOM % 20000))
cp "$build/bin/Vornlink.so" "$build/bin/vornlink" "$site"/
dms_pid=
# stop_dms: ends the emulated DMS if it runs (it may have ended already).
stop_dms() {
  if [ -n "$dms_pid" ]; then
    kill "$dms_pid" 2>/dev/null || true
    wait "$dms_pid" 2>/dev/null || true
    dms_pid=
  fi
}
trap stop_dms EXIT

# The TCP sample settings, pointed at the emulated DMS on this machine, the
# log in the site, a pass every second and the log's shorter flags.
cp examples/tcp/Vornlink.xml examples/tcp/Vornlink.ini "$site"/
sed -i -e "s#<FileName>.*</FileName>#<FileName>$site/Vornlink.log</FileName>#" \
  -e "s#<Value>dms.example.com</Value>#<Value>127.0.0.1</Value>#" \
  -e "s#<Value>9123</Value>#<Value>$port</Value>#" \
  -e "s#<Flags>.*</Flags>#<Flags>+ci</Flags>#" "$site/Vornlink.xml"
sed -i -e 's/^RetryTime=.*/RetryTime=1/' "$site/Vornlink.ini"

# dms REPLY: (re)starts the emulated DMS with that canned reply.
dms() {
  stop_dms
  "$site/vornlink" dms --port "$port" --address 127.0.0.1 --reply "$1" \
    --log "$site/dms-requests.log" &
  dms_pid=$!
  sleep 0.3
  echo "   (the DMS now answers $1)"
}

host() {  # host COMMANDS...: one host session with these commands
  printf '%s\n' "$@" | "$site/vornlink" -m "$site/Vornlink.so" session | sed 's/^/   host> /'
}

# deliver: the service started until the worker has treated what is due, each outcome shown; its
# exit status (3 parked, 4 still due) is part of the show.
deliver() {
  "$site/vornlink" -m "$site/Vornlink.so" deliver | sed 's/^/   deliver> /' || true
}

echo
echo "== A site in $site: the module with its settings beside it"
ls -1 "$site"

echo
echo "== 1. Is job 118739.A valid? Asked twice, with the DMS's two answers"
dms job-valid
host start "validate 118739.A" stop
dms job-notvalid
host start "validate 118739.A" stop

echo
echo "== 2. Three dispenses (one of 0 litres, which the driver drops); the DMS books them"
dms fwt-success
host start \
  "forward 4711 118739.A 261206 091502 7 BAY3 1 3 Oil OIL-5W30 4.5 0" \
  "forward 4712 118739.B 261206 091733 7 BAY3 1 4 Oil OIL-0W20 0 0" \
  "forward 4713 118739.B 261206 091810 7 BAY3 1 4 Oil OIL-0W20 2.75 0" stop
deliver

echo
echo "== 3. The DMS says the order is locked: the transaction stays due (Status 2)"
dms fwt-retry
host start "forward 4714 118739.C 261206 101500 7 BAY2 1 3 ATF ATF-6 1.25 0" stop
deliver
cat "$site/Vornlink.\$\$\$"

echo
echo "== 4. The DMS refuses it: the transaction is parked for a person (Status 1)"
dms fwt-failed
deliver

stop_dms
echo
echo "== What an operator sees: vornlink status, then the parked transaction"
"$site/vornlink" -m "$site/Vornlink.so" status || true
"$site/vornlink" -m "$site/Vornlink.so" cache list || true
echo
echo "== The cache file $site/Vornlink.\$\$\$ (the parked transaction with its failure line)"
cat "$site/Vornlink.\$\$\$"
echo
echo "== What the DMS received"
cat "$site/dms-requests.log"
echo
echo "== The log $site/Vornlink.log"
cat "$site/Vornlink.log"
