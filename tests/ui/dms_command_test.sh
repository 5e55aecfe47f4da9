#!/usr/bin/env bash
# `vornlink dms` end to end: TCP, HTTP and HTTPS on loopback, a Python
# client on the other end.
#   dms_command_test.sh PATH/TO/vornlink
set -uo pipefail
vornlink=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-dms.XXXXXX")
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failed=0
passed=0
check() {
  if "${@:2}"; then passed=$((passed + 1)); else echo "FAILED: $1"; failed=$((failed + 1)); fi
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# start_dms ARGS...: runs the server in the background, waits until it listens.
start_dms() {
  "$vornlink" dms --address 127.0.0.1 "$@" >"$work/out" 2>"$work/err" &
  server_pid=$!
  for _ in $(seq 100); do
    grep -q "listening on" "$work/out" 2>/dev/null && return 0
    sleep 0.05
  done
  cat "$work/err"
  return 1
}

# wait_dms: the server ends by itself after --count requests.
wait_dms() {
  local status=0
  wait "$server_pid" || status=$?
  server_pid=""
  return $status
}

# --- TCP: the query and its NUL; the reply text and one NUL; the log.
port=$(free_port)
check "tcp: starts" start_dms --port "$port" --reply job-valid --count 2
reply=$(python3 - "$port" <<'PY'
import socket, sys
port = int(sys.argv[1])
for query in (b"<ServiceSalesQuery>\n<RONumber>118739</RONumber>\n</ServiceSalesQuery>\r\0", b"second\0"):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(query)
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    s.close()
sys.stdout.buffer.write(data.replace(b"\0", b"<NUL>"))
PY
)
check "tcp: server ends after --count" wait_dms
one_nul_at_end() {
  [ "$(grep -o '<NUL>' <<<"$reply" | wc -l)" = 1 ] && [[ "$reply" == *$'</ServiceSales>\r\n<NUL>' ]]
}
check "tcp: one NUL ends the reply" one_nul_at_end
check "tcp: the reply is the canned one" grep -q '<ErrorCode>0</ErrorCode>' <<<"$reply"
check "tcp: request logged without its NUL" grep -q '^<RONumber>118739</RONumber>$' "$work/out"
check "tcp: both requests answered" grep -q 'answered 2 request(s)' "$work/out"
check "tcp: log names the reply" grep -q 'answered request 1 with job-valid' "$work/out"

# --- HTTP with a reply file, logged to a file.
printf '<reply>from a file</reply>' >"$work/reply.xml"
port=$(free_port)
check "http: starts" start_dms --port "$port" --http --reply-file "$work/reply.xml" --count 1 \
  --log "$work/requests.log"
body=$(python3 - "$port" <<'PY'
import http.client, sys
c = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]), timeout=10)
c.request("POST", "/dms/parts", body=b"<insert>query</insert>", headers={"Content-Type": "text/xml"})
r = c.getresponse()
print(r.status, r.read().decode())
PY
)
check "http: server ends" wait_dms
check "http: 200 with the file's bytes" test "$body" = "200 <reply>from a file</reply>"
check "http: body logged" grep -q '^<insert>query</insert>$' "$work/requests.log"
check "http: request line logged" grep -q 'POST /dms/parts HTTP/1.1' "$work/requests.log"

# --- HTTPS with a certificate made here.
if openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
    -days 2 -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" >/dev/null 2>&1; then
  port=$(free_port)
  check "https: starts" start_dms --port "$port" --https --cert "$work/cert.pem" \
    --key "$work/key.pem" --reply fwt-retry --count 1
  body=$(python3 - "$port" "$work/cert.pem" <<'PY'
import http.client, ssl, sys
context = ssl.create_default_context(cafile=sys.argv[2])
c = http.client.HTTPSConnection("127.0.0.1", int(sys.argv[1]), context=context, timeout=10)
c.request("POST", "/dms/parts", body=b"<insert/>")
r = c.getresponse()
print(r.status, r.read().decode())
PY
)
  check "https: server ends" wait_dms
  check "https: 200 with the canned reply" grep -q '<returnCode>2</returnCode>' <<<"$body"
  check "https: status 200" grep -q '^200 ' <<<"$body"
  check "https: a missing key is refused" bash -c "! '$vornlink' dms --https --cert '$work/cert.pem' --key '$work/none.pem' 2>/dev/null"
else
  echo "FAILED: openssl could not make a test certificate"
  failed=$((failed + 1))
fi

# --- usage errors.
check "unknown reply" bash -c "'$vornlink' dms --reply nope 2>/dev/null; test \$? -eq 2"
check "https without certificate" bash -c "'$vornlink' dms --https 2>/dev/null; test \$? -eq 2"

echo "dms_command_test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
