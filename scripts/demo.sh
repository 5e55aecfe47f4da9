#!/usr/bin/env bash
# The main job in a minute: installs what is missing, builds the Linux module
# and the host program, then plays a host: starts the service, forwards a few
# dispense transactions (one held back by the zero-quantity gate), and shows
# the cache file and the log that the driver wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh demo
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVORNLINK_BUILD_TESTS=OFF -DVORNLINK_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/demo --target Vornlink vornlink

site=$(mktemp -d /tmp/vornlink-demo.XXXXXX)
cp build/demo/bin/Vornlink.so build/demo/bin/vornlink "$site"/
cp examples/tcp/Vornlink.xml examples/tcp/Vornlink.ini examples/transactions.csv "$site"/
# The sample's log is a Windows path; keep the log in the site.
sed -i "s#<FileName>.*</FileName>#<FileName>$site/Vornlink.log</FileName>#" "$site/Vornlink.xml"

echo
echo "== A site in $site: the module with its settings beside it"
ls -1 "$site"
echo
echo "== The host starts the service, forwards the transactions of transactions.csv"
echo "   and one more from arguments, asks for the service name, stops"
"$site/vornlink" -m "$site/Vornlink.so" session <<COMMANDS
start
forward-csv $site/transactions.csv
forward 4715 118742.A 261206 101500 7 BAY2 1 2 ATF ATF 2.75 0
name
api-version
stop
COMMANDS
echo
echo "== The cache file $site/Vornlink.\$\$\$ (one line per transaction, waiting for delivery)"
cat "$site/Vornlink.\$\$\$"
echo
echo "== The log $site/Vornlink.log"
cat "$site/Vornlink.log"
