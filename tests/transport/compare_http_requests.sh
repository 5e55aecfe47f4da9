#!/usr/bin/env bash
# compare_http_requests.sh WINDOWS_PROBE.exe LINUX_PROBE: makes the same
# HTTP and HTTPS exchanges with the Windows build (under Wine) and the Linux
# build against one recording server and compares the requests the server
# saw, header order aside. Prints every difference; exits non-zero when one
# is not on the list of known platform differences below.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
windows_probe=$1
linux_probe=$2
wine_run="$here/../../scripts/wine-run"
dir=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-compare.XXXXXX")
trap 'python3 "$here/http_test_server.py" stop "$dir"; rm -rf "$dir"' EXIT

python3 "$here/http_test_server.py" start "$dir" >/dev/null || exit 1
port() { sed -n "s/^$1=//p" "$dir/servers.txt"; }
http=$(port http)
https=$(port https)

# The Linux build trusts the test authority through the INI file beside the
# program; the Windows build through the Wine prefix's store, which this
# script does not touch: its HTTPS case goes to the expired server, whose
# failure or success is compared as well.
printf '[HTTPS]\nCAFile=%s\n' "$dir/ca.pem" >"$(dirname "$linux_probe")/http_probe.ini"

cases=(
  "HTTP|http://127.0.0.1:$http/echo?case1|POST|Content-Length: DynLength\r\nSOAPAction: insert|<q>one</q>"
  "HTTP|http://127.0.0.1:$http/echo?case2|GET|X-Extra: a\nContent-Length: DynLength|<q>two</q>"
  "HTTP|http://127.0.0.1:$http/redirect?case3|POST|Content-Length: DynLength|<q>three</q>"
  "HTTPS|https://127.0.0.1:$https/echo?case4|POST|Content-Length: DynLength|<q>four</q>"
)
status=0
for entry in "${cases[@]}"; do
  IFS='|' read -r type url method template body <<<"$entry"
  template=$(printf '%b' "$template")
  tag=${url##*\?}
  linux_out=$("$linux_probe" "$type" "$url" "$method" "$template" "$body" 2>&1)
  windows_out=$("$wine_run" "$windows_probe" "$type" "$url" "$method" "$template" "$body" 2>&1 | tr -d '\r')
  echo "$tag: linux: $linux_out"
  echo "$tag: windows: $windows_out"
  python3 - "$dir/record.jsonl" "$tag" <<'PY' || status=1
import json, sys
record, tag = sys.argv[1], sys.argv[2]
seen = [json.loads(line) for line in open(record) if tag in line]
# Requests come in order: the Linux probe ran first.
half = len(seen) // 2
linux, windows = seen[:half], seen[half:]
# Differences that are the platforms' own: the Linux build sends
# "Cache-Control: no-cache" (and "Pragma: no-cache" on HTTPS), the headers
# that the Windows flags "reload" and "pragma no-cache" add on Windows;
# Wine's internet library leaves them out. "Connection" is each library's
# own business.
known = {"connection", "cache-control", "pragma"}
def shape(request):
    headers = sorted((k.lower(), v) for k, v in request["headers"] if k.lower() not in known)
    return (request["method"], request["path"], request["version"], headers, request["body"])
bad = False
if len(linux) != len(windows):
    print(f"{tag}: linux sent {len(linux)} requests, windows {len(windows)}")
    bad = True
for l, w in zip(linux, windows):
    if shape(l) != shape(w):
        bad = True
        print(f"{tag}: requests differ")
        print("  linux:  ", shape(l))
        print("  windows:", shape(w))
    extra = sorted(set(k for k, _ in w["headers"]) ^ set(k for k, _ in l["headers"]))
    if extra:
        print(f"{tag}: headers only one side sends (known platform difference): {extra}")
if not bad:
    print(f"{tag}: same requests" + (f" ({len(linux)})" if linux else " (none)"))
sys.exit(1 if bad else 0)
PY
done
exit $status
