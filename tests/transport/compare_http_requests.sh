#!/usr/bin/env bash
# compare_http_requests.sh WINDOWS_PROBE.exe LINUX_PROBE: the same HTTP and
# HTTPS exchanges made by the Windows build (under Wine) and the Linux build
# against one recording server; fails on any difference in the requests the
# server saw, header order and the known platform headers below aside.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-compare.XXXXXX")
trap 'python3 "$here/http_test_server.py" stop "$dir"; rm -rf "$dir"' EXIT
python3 "$here/http_test_server.py" start "$dir" >/dev/null || exit 1
http=$(sed -n 's/^http=//p' "$dir/servers.txt")
https=$(sed -n 's/^https=//p' "$dir/servers.txt")
# Neither build is given the test authority here (the Wine prefix's store
# is not touched), so both refuse case4 alike; the HTTPS requests are
# checked by each platform's transport tests.
rm -f "$(dirname "$2")/http_probe.ini"
status=0
while IFS='|' read -r type url method template body; do
  template=$(printf '%b' "$template")
  echo "linux: $("$2" "$type" "$url" "$method" "$template" "$body" 2>&1)"
  echo "windows: $("$here/../../scripts/wine-run" "$1" "$type" "$url" "$method" "$template" "$body" 2>&1 | tr -d '\r')"
  python3 - "$dir/record.jsonl" "${url##*\?}" <<'PY' || status=1
import json, sys
tag = sys.argv[2]
seen = [json.loads(line) for line in open(sys.argv[1]) if tag in line]
linux, windows = seen[:len(seen) // 2], seen[len(seen) // 2:]  # Linux ran first
# The Linux build sends "Cache-Control: no-cache" (and "Pragma: no-cache" on
# HTTPS), what the Windows flags "reload" and "pragma no-cache" add on
# Windows and Wine leaves out; "Connection" is each library's own business.
known = {"connection", "cache-control", "pragma"}
def shape(r):
    headers = sorted((k.lower(), v) for k, v in r["headers"] if k.lower() not in known)
    return (r["method"], r["path"], r["version"], headers, r["body"])
same = len(linux) == len(windows) and all(shape(l) == shape(w) for l, w in zip(linux, windows))
print(f"{tag}: " + ("same requests (%d)" % len(linux) if same else
                    f"requests differ\n  linux:   {list(map(shape, linux))}\n  windows: {list(map(shape, windows))}"))
sys.exit(0 if same else 1)
PY
done <<EOF2
HTTP|http://127.0.0.1:$http/echo?case1|POST|Content-Length: DynLength\r\nSOAPAction: insert|<q>one</q>
HTTP|http://127.0.0.1:$http/echo?case2|GET|X-Extra: a\nContent-Length: DynLength|<q>two</q>
HTTP|http://127.0.0.1:$http/redirect?case3|POST|Content-Length: DynLength|<q>three</q>
HTTPS|https://127.0.0.1:$https/echo?case4|POST|Content-Length: DynLength|<q>four</q>
EOF2
exit $status
