#!/usr/bin/env bash
# The operator commands end to end, as a site uses them: each sample's
# settings adapted beside the module, `check`, `try` against `vornlink dms`,
# a host delivering, `status` and `cache` releasing a parked transaction.
#
# usage: operator_cli_test.sh VORNLINK MODULE EXAMPLES [RUNNER]
#   RUNNER runs the program (scripts/wine-run for vornlink.exe and
#   Vornlink.dll). The SOAP sample goes over HTTPS where `vornlink dms`
#   serves it (Linux), over plain HTTP under Wine.
set -u
program=$(realpath "$1")
module=$(realpath "$2")
examples=$(realpath "$3")
runner=${4:+$(realpath "$4")}
module_name=$(basename "$module")
site=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-operator.XXXXXX")
dms_pid=""
trap '[ -n "$dms_pid" ] && kill "$dms_pid" 2>/dev/null; rm -rf "$site"' EXIT
passed=0
failed=0

check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then
    passed=$((passed + 1))
  else
    echo "FAILED: $1"
    [ -f "$site/out" ] && sed 's/^/  | /' "$site/out" | tail -n 60
    failed=$((failed + 1))
  fi
}
says() { grep -qF -- "$1" "$site/out"; }

# vornlink ARGS...: the program in the site's folder, the module by name;
# its output in $site/out, its exit code returned.
vornlink() {
  (cd "$site" && timeout 120 $runner "$program" -m "$module_name" "$@") >"$site/out" 2>&1
}

# A path as the program sees it.
native_path() {
  if [ -n "$runner" ]; then "$runner" winepath -w "$1" 2>/dev/null | tr -d '\r'; else echo "$1"; fi
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# dms COUNT ARGS...: the emulated DMS in the background until it has
# answered COUNT requests.
dms() {
  local count=$1
  shift
  rm -f "$site/dms.out"
  (cd "$site" && exec timeout 120 $runner "$program" dms --address 127.0.0.1 --port "$port" \
    --count "$count" "$@") >"$site/dms.out" 2>&1 &
  dms_pid=$!
  # Under Wine its output comes only at its end: wait for the port instead
  # (a connection without a request is no answered request).
  python3 - "$port" <<'PYTHON' && return 0
import socket, sys, time
for _ in range(600):
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)
PYTHON
  echo "the emulated DMS did not start:"; cat "$site/dms.out"
  return 1
}
dms_done() {
  wait "$dms_pid"
  local status=$?
  dms_pid=""
  return $status
}

# site SAMPLE: a fresh site with SAMPLE's settings, adapted as the README says.
site() {
  rm -f "$site"/Vornlink.* "$site"/*.log
  cp "$module" "$site/"
  cp "$examples/$1/Vornlink.xml" "$examples/$1/Vornlink.ini" "$site/"
  port=$(free_port)
  local log
  # As a replacement text of sed: a Windows path's backslashes kept.
  log=$(native_path "$site/Vornlink.log" | sed 's/[\\&#]/\\&/g')
  sed -i "s#<FileName>.*</FileName>#<FileName>$log</FileName>#; s#dms.example.com:8443#127.0.0.1:$port#; s#dms.example.com#127.0.0.1#; s#<Value>9123</Value>#<Value>$port</Value>#" \
    "$site/Vornlink.xml"
  sed -i 's/^RetryTime=10/RetryTime=1/' "$site/Vornlink.ini"
}

# ---------------------------------------------------------------- TCP
site tcp
check "tcp: check passes without a word" vornlink check
check "tcp: check says so" says "0 problems, 0 warnings"

check "tcp: the emulated DMS starts" dms 2 --reply fwt-success --reply-when RONumber job-valid
check "tcp: try succeeds" vornlink try
check "tcp: try shows the request" says "<orderNumber>118739</orderNumber>"
check "tcp: the DMS answered both" dms_done
check "tcp: try leaves the cache alone" test ! -e "$site/Vornlink.\$\$\$"

# A host forwards two transactions; the worker delivers them.
check "tcp: the DMS starts for the host" dms 2 --reply fwt-success
printf 'start\nforward 4711 118739.A 261206 091502 7 BAY3 1 1 Oil OIL 4.5 0\nforward 4712 118739.B 261206 091503 7 BAY3 1 2 ATF ATF 1.5 0\nsleep 3500\nstop\n' \
  >"$site/session.txt"
check "tcp: a host session" vornlink session session.txt
check "tcp: both delivered" dms_done
check "tcp: status is all well" vornlink status
check "tcp: status names the last delivery" says "LineCode[B] --> Reply: c[0] t[OK] --> SUCCESS"

# A refused transaction is parked; released, it is delivered.
check "tcp: the DMS starts, refusing" dms 1 --reply fwt-failed
printf 'start\nforward 4713 118739.C 261206 091504 7 BAY3 1 3 Coolant CLT 2 0\nsleep 2500\nstop\n' \
  >"$site/session.txt"
check "tcp: a host session" vornlink session session.txt
check "tcp: the refusal came" dms_done
vornlink status
check "tcp: status exits 3 for a parked transaction" test $? -eq 3
check "tcp: cache list" vornlink cache list
check "tcp: cache list shows the failure line" says "c[5] t[User ID \"?\" is not valid] --> FAILED"
check "tcp: cache retry --all-parked releases it" vornlink cache retry --all-parked
check "tcp: the DMS starts, booking" dms 1 --reply fwt-success
printf 'start\nsleep 2500\nstop\n' >"$site/session.txt"
check "tcp: a host session" vornlink session session.txt
check "tcp: the released transaction was delivered" dms_done
check "tcp: status is all well again" vornlink status
check "tcp: the cache is empty" test ! -s "$site/Vornlink.\$\$\$"

# --------------------------------------------------------------- SOAP
site soap-https
if [ -z "$runner" ] && openssl req -x509 -newkey rsa:2048 -nodes -keyout "$site/key.pem" \
    -out "$site/dms-ca.pem" -days 2 -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" \
    >/dev/null 2>&1; then
  mode=(--https --cert "$site/dms-ca.pem" --key "$site/key.pem")
  sed -i "s#^;CAFile=.*#CAFile=$site/dms-ca.pem#" "$site/Vornlink.ini"
  check "soap: check lists the trusted authority" vornlink check
  check "soap: the authority" says "authority              CN=127.0.0.1"
else
  # The Windows build trusts the machine's store, which a test does not
  # change: the same exchanges over plain HTTP.
  mode=(--http)
  sed -i 's#<Value>HTTPS</Value>#<Value>HTTP</Value>#; s#https://127#http://127#' "$site/Vornlink.xml"
  check "soap: check passes" vornlink check
fi
check "soap: without a word" says "0 problems, 0 warnings"
check "soap: the emulated DMS starts (${mode[0]})" dms 2 "${mode[@]}" --reply fwt-success \
  --reply-when RONumber job-valid
check "soap: try succeeds" vornlink try
check "soap: the validation carries its credentials" says "Authorization: Basic ********"
check "soap: the DMS answered both" dms_done
check "soap: the request's length was filled in" grep -q "Content-Length: [0-9]" "$site/dms.out"

echo "operator_cli_test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
