#!/usr/bin/env bash
# `vornlink dms` end to end on loopback over TCP and HTTP, with a Python client (HTTPS: tools/).
#   dms_command_test.sh PATH/TO/vornlink
set -uo pipefail
work=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-dms.XXXXXX") vornlink=$1 server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
passed=0 failed=0 signal=""
check() { if "${@:2}"; then passed=$((passed + 1)); else echo "FAILED: $1"; failed=$((failed + 1)); fi; }

# serve ARGS... -- CLIENT-PYTHON: the server until --count is reached (or, with $signal set, that
# signal after the client), and the client against it (argv: port; its output in $work/client).
serve() {
  local args=() port
  while [ "$1" != "--" ]; do args+=("$1"); shift; done
  port=$(python3 "$(dirname "$(realpath "$0")")/../testing/free_port.py")
  "$vornlink" dms --address 127.0.0.1 --port "$port" "${args[@]}" >"$work/out" 2>&1 &
  server=$!
  for _ in $(seq 100); do grep -q "listening on" "$work/out" && break; sleep 0.05; done
  python3 -c "import http.client, socket, sys; port = int(sys.argv[1])
def ask(query, s=None):  # everything the server sends back to query, on s or a new connection
    s, data = s or socket.create_connection(('127.0.0.1', port)), b''
    s.settimeout(30)
    s.sendall(query)
    while chunk := s.recv(65536):
        data += chunk
    return data
$2" "$port" >"$work/client" 2>&1
  [ -n "$signal" ] && kill -"$signal" "$server"
  wait "$server"
  local status=$?
  server=""
  return $status
}

check "tcp: serves two requests and ends" serve --reply Job-Valid --count 2 -- '
ask(b"<Query>\n<RONumber>118739</RONumber>\n</Query>\r\0")
data = ask(b"second\0")
print(data.count(b"\0"), data.endswith(b"</ServiceSales>\r\n\0"), b"<ErrorCode>0</ErrorCode>" in data)'
check "tcp: the reply text and exactly one NUL" grep -qx "1 True True" "$work/client"
check "tcp: the request is logged without its NUL" grep -qx "<RONumber>118739</RONumber>" "$work/out"
check "tcp: the log names the reply" grep -q "answered request 2 with job-valid" "$work/out"

printf '<reply>from a file</reply>' >"$work/reply.xml"
check "http: serves a request" serve --http --reply-file "$work/reply.xml" --count 1 \
  --log "$work/requests.log" --drop-repeats "Idempotency-Key:" -- '
c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
c.request("POST", "/dms/parts", body=b"<insert>query</insert>\x1b[2J",
          headers={"Authorization": "Basic c2VjcmV0", "X-Api-Key": "k-secret",
                   "Idempotency-Key": "0af3"})
r = c.getresponse()
print(r.status, r.read().decode())'
check "http: 200 with the file as body" grep -qx "200 <reply>from a file</reply>" "$work/client"
check "http: the log file holds the body (ESC as an escape) and the key, credentials masked" eval '
  grep -qxF "<insert>query</insert>\x1B[2J" "$work/requests.log" &&
  grep -q "^Authorization: Basic \*\*\*\*\*\*\*\*.$" "$work/requests.log" &&
  grep -q "(26 bytes), key 0af3$" "$work/requests.log" &&
  ! grep -qE "c2VjcmV0|k-secret|$(printf "\033")" "$work/requests.log"'

check "tcp: repeats of a key are answered as the first and dropped" \
  serve --drop-repeats "<key>" --reply-when "k2" fwt-failed --count 3 -- '
replies = [ask(q) for q in (b"<key>k1</key>\0", b"<key>k2</key>\0", b"<key>k1</key><note>k2</note>\0")]
print(replies[0] == replies[2] != replies[1])'
check "tcp: the repeat got the first answer, logged with its key and counted" eval '
  grep -qx True "$work/client" && grep -qx "vornlink dms: answered 3 request(s), dropped 1 repeat(s)" "$work/out" &&
  grep -q "^--- answered request 3 with fwt-success (.*), key k1: a repeat of request 1, dropped$" "$work/out"'

signal=TERM
check "tcp: a job request and another are answered" serve --reply-when RONumber job-valid --reply fwt-failed -- '
job = ask(b"<RONumber>200100</RONumber><LineCode>D</LineCode>\0")
print(b"<RONumber>200100</RONumber>" in job, b"<LineCode>D</LineCode>" in job, ask(b"late\0")[-1])'
check "tcp: the job reply follows the job asked; the other got its reply" grep -qx "True True 0" "$work/client"
check "tcp: the start line names the rule; SIGTERM reports what was answered" eval '
  grep -q "; job-valid when the request holds \"RONumber\"" "$work/out" && [ "$(grep -cxe \
  "vornlink dms: stopped by SIGTERM" -e "vornlink dms: answered 2 request(s)" "$work/out")" = 2 ]'
signal=""

mkdir -m 777 "$work/open" && printf x >"$work/target" && ln -s "$work/target" "$work/open/link"
fails() { timeout 10 "$vornlink" dms --port 0 "${@:2}" >/dev/null 2>&1; [ $? -eq "$1" ]; }
check "usage errors: an unknown reply, https without a certificate, --drop-repeats without a text, a reply file through a link in a folder others may write; a log file so: refused, untouched" \
  eval 'fails 2 --reply nope && fails 2 --https && fails 2 --drop-repeats "" && fails 2 --reply-file "$work/open/link" &&
  fails 1 --log "$work/open/link" && [ "$(cat "$work/target")" = x ]'

echo "dms_command_test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
