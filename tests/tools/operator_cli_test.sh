#!/usr/bin/env bash
# The operator commands end to end, as a site uses them: each sample adapted beside the module,
# `check`, `try` against `vornlink dms`, a host delivering, `status` and `cache` releasing a parked
# transaction. First (Linux), the program against a module without settings: exit codes, CSV
# input, a session, a callback. The SOAP sample goes over HTTPS on Linux, plain HTTP under Wine.
# usage: operator_cli_test.sh VORNLINK MODULE EXAMPLES [RUNNER (scripts/wine-run, for Windows)]
set -u
program=$(realpath "$1") module=$(realpath "$2") examples=$(realpath "$3")
runner=${4:+$(realpath "$4")}
here=$(dirname "$(realpath "$0")")
site=$(mktemp -d "${TMPDIR:-/tmp}/vornlink-operator.XXXXXX")
dms_pid=""
trap '[ -n "$dms_pid" ] && kill "$dms_pid" 2>/dev/null; rm -rf "$site"' EXIT
passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...
  "${@:2}" && passed=$((passed + 1)) && return
  echo "FAILED: $1"
  [ -f "$site/out" ] && sed 's/^/  | /' "$site/out" | tail -n 60
  failed=$((failed + 1))
}
says() { grep -qF -- "$1" "$site/out"; }
same() { check "$1: expected [$2], got [$3]" test "$2" = "$3"; }  # same DESCRIPTION EXPECTED ACTUAL
# json EXPRESSION [ARGS...]: vornlink ARGS (if any) exits 0; its output, JSON d, meets EXPRESSION.
json() {
  [ $# -eq 1 ] || vornlink "${@:2}" || return
  python3 -c 'import json, sys; d = json.load(open(sys.argv[1], encoding="utf-8"))
sys.exit(not eval(sys.argv[2]))' "$site/out" "$1"
}
# vornlink ARGS...: the program in the site's folder, the module by name; output in $site/out.
vornlink() {
  (cd "$site" && timeout 120 $runner "$program" -m "$(basename "$module")" "$@") >"$site/out" 2>&1
}
ok_says() { vornlink "${@:2}" && says "$1"; }  # ok_says TEXT ARGS...
exits() { vornlink "${@:3}"; [ $? -eq "$1" ] && says "$2"; }  # exits STATUS TEXT ARGS...
# locked ARGS...: vornlink ARGS while another process holds the delivery lock (a file lock on Linux).
locked() {
  (cd "$site" && python3 -c 'import fcntl, subprocess, sys
lock = open(sys.argv[1], "r+"); fcntl.lockf(lock, fcntl.LOCK_EX); sys.exit(subprocess.call(sys.argv[2:]))' \
    'Vornlink.$$$.delivery.lock' "$program" -m "$(basename "$module")" "$@") >"$site/out" 2>&1
}
session() { printf '%s\n' start "$@" stop >"$site/session.txt" && vornlink session session.txt; }

# dms COUNT ARGS...: the emulated DMS in the background until it has answered COUNT requests.
dms() {
  (cd "$site" && exec timeout 120 $runner "$program" dms --address 127.0.0.1 --port "$port" \
    --count "$@") >"$site/dms.out" 2>&1 &
  dms_pid=$!
  # Under Wine its output comes only at its end: wait for the port instead.
  for _ in $(seq 600); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "the emulated DMS did not start:"; cat "$site/dms.out"
  return 1
}
dms_done() { wait "$dms_pid"; local status=$?; dms_pid=""; return $status; }

# site SAMPLE: a fresh site with SAMPLE's settings, adapted as the README says.
site() {
  rm -f "$site"/Vornlink.* "$site"/*.log
  cp "$module" "$examples/$1/Vornlink.xml" "$examples/$1/Vornlink.ini" "$site/"
  port=$(python3 "$here/../testing/free_port.py")
  local log="$site/Vornlink.log"
  [ -n "$runner" ] && log=$("$runner" winepath -w "$log" 2>/dev/null | tr -d '\r')
  log=$(sed 's/[\\&#]/\\&/g' <<<"$log")  # a Windows path's backslashes kept by sed
  sed -i "s#<FileName>.*</FileName>#<FileName>$log</FileName>#; s/>change-me</>s3cret-pw</
    s#dms.example.com:8443#127.0.0.1:$port#; s#dms.example.com#127.0.0.1#
    s#<Value>9123</Value>#<Value>$port</Value>#" "$site/Vornlink.xml"
  sed -i 's/^RetryTime=10/RetryTime=1/' "$site/Vornlink.ini"
}

# --------------------------------------------------------- the program itself
if [ -z "$runner" ]; then
  cp "$module" "$site/"
  run() { "$program" -m "$site/$(basename "$module")" "$@"; }
  "$program" >/dev/null 2>&1; same "no command is a usage error" 2 $?
  "$program" -m "$site/missing.so" name >/dev/null 2>&1; same "a missing module fails" 1 $?
  "$program" --frobnicate name >"$site/out" 2>&1
  same "an unknown option is a usage error, named" "2 1" \
    "$? $(grep -c "unknown option --frobnicate; see vornlink --help" "$site/out")"
  same "name: a module without a folder is the current folder's" $'Plexa KMR v[1.00]\n0' \
    "$(cd "$site" && "$program" -m "$(basename "$module")" name 2>&1; echo $?)"
  same "api-version" "102" "$(run api-version)"
  same "--version: the program's and the module's" "vornlink 1.00 Plexa KMR v[1.00]" \
    "$(run --version | sed -n 's/ (.*)$//; s/^module .*: //; p' | tr '\n' ' ' | sed 's/ $//')"
  same "COMMAND --help is the command's own help, as help COMMAND gives it" "0 usage: vornlink cache list [--job J] [--trans-no T] [--status S] [--json]" \
    "$(run help cache >"$site/help"; run cache --help | cmp - "$site/help" && head -n 1 "$site/help" |
      sed 's/^/0 /')"
  same "help help is the usage" "0" "$(run help help | grep -q '^usage: vornlink'; echo $?)"
  # A word that is no subcommand, a word too many, a wrong value: usage errors, named.
  while read -r words && read -r text; do
    err=$(run $words 2>&1 >/dev/null </dev/null)
    same "$words: a usage error, named" "2 1" "$? $(grep -cF -- "$text" <<<"$err")"
  done < <(grep -v '^#' "$here/data/usage_error_cases.txt")
  same "three usage errors tried" 6 "$(grep -vc '^#' "$here/data/usage_error_cases.txt")"
  "$program" -m="$site/$(basename "$module")" name >/dev/null 2>&1
  same "-m=PATH as --module=PATH" 0 $?

  printf '# a comment\n%s\n%s\n%s\n' 1,118739.A,261206,091502,7,BAY3,1,1,Oil,OIL,4.5,0 \
    2,118739.B,261206,092011,7,BAY3,1,2,ATF,2.5,0 3,too,few,fields >"$site/in.csv"
  run forward-csv "$site/in.csv" >"$site/out" 2>"$site/err"
  same "a bad CSV line fails the run and is named" "1 2" \
    "$? $(grep -cE 'in.csv:4: 4 fields|rejected 1 line\(s\)' "$site/err")"
  same "good lines are forwarded" \
    "handed 2 transactions to the driver, 2 went into its cache; no log is set (KMR/Log/FileName in $site/Vornlink.xml), so the gates' verdicts are not written" \
    "$(cat "$site/out")"
  same "the short form repeats the fluid name; both cached" \
    "2,118739.B,261206,092011,7,BAY3,1,2,ATF,ATF,2.5,0,0 2" \
    "$(sed -n 2p "$site/Vornlink.\$\$\$" | cut -d, -f1-13) $(wc -l <"$site/Vornlink.\$\$\$")"
  "$program" --module="$site/$(basename "$module")" -q forward-csv "$site/in.csv" >"$site/out" 2>"$site/err"
  same "--option=value, and -q keeps only the exit status and complaints" "1 0 2" \
    "$? $(wc -l <"$site/out") $(wc -l <"$site/err")"

  printf '<KMR>\n<Log>\n<FileName>%s/drv.log</FileName>\n</Log>\n</KMR>\n' "$site" >"$site/Vornlink.xml"
  same "session with a validation through the callback" \
    "ExecuteService 1 immediate 0 callback 0 118739.A 0 StopService 0 status 0" \
    "$(printf 'start\nvalidate-async 118739.A 10000\nvalidate 118739.A\nstop\n' | run session 2>&1 |
      tr '\n' ' '; echo "status ${PIPESTATUS[1]}")"
  same "forward without the service says the log waits for it" \
    "handed 1 transaction to the driver, 0 went into its cache (1 not: dropped or refused by the gates, or waiting for room); the driver writes the gates' verdicts to its log $site/drv.log only while the service runs: start it first (vornlink session)" \
    "$(run forward 4 1.A 261206 091502 7 B 1 1 Oil OIL 0 0)"
  same "forward with the service says where the verdicts are" \
    "handed 1 transaction to the driver, 0 went into its cache (1 not: dropped or refused by the gates, or waiting for room); the gates' verdicts are in the log $site/drv.log" \
    "$(printf 'start\nforward 5 1.A 261206 091502 7 B 1 1 Oil OIL 0 0\nstop\n' | run session | grep handed)"
fi

# ---------------------------------------------------------------- TCP
site tcp
check "tcp: check passes without a word" ok_says "0 problems, 0 warnings" check
check "tcp: the emulated DMS starts" dms 2 --reply fwt-success --reply-when RONumber job-valid
check "tcp: try succeeds and shows the request" ok_says "<orderNumber>118739</orderNumber>" try
check "tcp: the DMS answered both" dms_done

# A host forwards two transactions; `deliver` sends them, as the host's worker would.
check "tcp: a host forwards two" session 'forward 4711 118739.A 261206 091502 7 BAY3 1 1 Oil OIL 4.5 0' \
  'forward 4712 118739.B 261206 091503 7 BAY3 1 2 ATF ATF 1.5 0'
check "tcp: the DMS starts" dms 2 --reply fwt-success
check "tcp: deliver sends both, shows each outcome, exits 0" \
  eval 'exits 0 "TransNo 4712 job 118739.B: Reply: c[0] t[OK]" deliver && says "2 delivered, 0 retry later, 0 parked"'
check "tcp: both delivered" dms_done
check "tcp: status is all well and names the last delivery" \
  ok_says "LineCode[B] --> Reply: c[0] t[OK] --> SUCCESS" status

# Asked to retry, a transaction stays due after one pass; refused, it is parked; released, it is
# delivered.
check "tcp: a host forwards one" session 'forward 4713 118739.C 261206 091504 7 BAY3 1 3 Coolant CLT 2 0'
# With the DMS down, the line waits (not parked), and every view says why.
check "tcp: deliver meets the DMS down, keeps the line due, exits 4" eval 'exits 4 \
  "the DMS cannot be reached" deliver && says "DMS              unreachable since "'
check "tcp: status's JSON and metrics say since when" eval 'vornlink status --json;
  json "d[\"log\"][\"dms_unreachable_since\"][\"unix_time\"] > 0" && vornlink status --prometheus;
  tr -d "\r" <"$site/out" | grep -qE "^vornlink_dms_unreachable_since_timestamp_seconds[{].*[}] [1-9]"'
check "tcp: the DMS starts, asking to retry" dms 1 --reply fwt-retry
check "tcp: deliver ends after a pass of retries, exits 4" eval 'exits 4 \
  "the DMS asked to retry every line of the last pass later" deliver && says "TransNo 4713 job 118739.C"'
check "tcp: asked once" dms_done
check "tcp: the DMS starts, refusing" dms 1 --reply fwt-failed
check "tcp: deliver parks it, exits 3" exits 3 'parked       Trid' deliver
check "tcp: the refusal came" dms_done
check "tcp: cache list shows the failure line" \
  ok_says "c[5] t[User ID \"?\" is not valid] --> FAILED" cache list
check "tcp: cache retry --all-parked releases it" vornlink cache retry --all-parked
if [ -z "$runner" ]; then
  check "tcp: deliver leaves the cache to a worker that holds its lock, exits 6" \
    eval 'locked deliver; [ $? -eq 6 ] && says "NOT STARTED: another worker delivers this cache"'
fi
check "tcp: the DMS starts, booking" dms 1 --reply fwt-success
check "tcp: deliver sends the released one" exits 0 "1 delivered" deliver
check "tcp: the released transaction was delivered" dms_done
check "tcp: status is all well again" vornlink status
check "tcp: the cache is empty" test ! -s "$site/Vornlink.\$\$\$"
check "tcp: trace follows 4713 from the hand-over through each Trid to the DMS" eval 'vornlink trace 4713 &&
  says "now       delivered: the DMS booked it" && says "sent -> DMS unreachable, stays due" &&
  says "sent -> retry later at" && says "sent -> failed, parked for a person" &&
  says "released by an operator (vornlink cache retry)" && says "attempt 4: Trid[" &&
  [ "$(grep -c "moved to the end of the cache" "$site/out")" = 2 ]'
# A log line with control bytes (as an older driver wrote them): shown as escapes, never raw.
printf '2026-01-01 00:00:00-*-FWT: t[\033]0;owned\007] --> FAILED\n' >>"$site/Vornlink.log"
check "tcp: status prints no control byte" eval 'vornlink status;
  says "t[\x1B]0;owned\x07] --> FAILED" && ! grep -q "$(printf "\033")" "$site/out"'

# For scripts and monitoring: a stuck line without a Trid, with control bytes and bytes that are
# no UTF-8 in its fluid name, comes out whole in JSON; the metrics keep the format's rules.
printf '4720,118739.D,261206,091510,7,BAY3,1,1,Oil \033[31m\351\377,OIL,1,0,0,,0,\n' \
  >>"$site/Vornlink.\$\$\$"
check "json: status exits 2 (critical)" exits 2 "" status --json
check "json: status's document" json '(d["cache"]["lines"]["stuck"] == 1 and d["exit_code"] == 2
  and d["log"]["last_delivery"]["entry"].endswith("SUCCESS"))'
check "json: cache list keeps every byte" json \
  'd["lines"][0]["fluid_name"] == "Oil \x1b[31m\xe9\xff" and d["lines"][0]["trid"] == ""' cache list --json
check "metrics: status exits 2 (critical), into a file" \
  eval 'vornlink status --prometheus --output m.prom; [ $? -eq 2 ] && [ ! -s "$site/out" ]'
# As a collector reads them (Windows writes CR LF, which its exporter takes); from scripts/setup.sh.
promtool=$(command -v promtool || echo "$here/../../build/tools/promtool")
check "metrics: promtool check metrics passes them" \
  eval 'tr -d "\r" <"$site/m.prom" | "$promtool" check metrics'

check "metrics: the stuck line" eval 'tr -d "\r" <"$site/m.prom" |
  grep -qE "^vornlink_cache_lines[{]module=\".*\",state=\"stuck\"[}] 1$"'
sed -i 's/^TimeoutSeconds=60/TimeoutSeconds=60 ; a minute/' "$site/Vornlink.ini"
ini_line=$(grep -n '^TimeoutSeconds' "$site/Vornlink.ini" | cut -d: -f1)
check "json: check names a warning's file and line" json \
  "d['warnings'][0]['line'] == $ini_line and d['warnings'][0]['file'].endswith('Vornlink.ini')" check --json
check "cache drop takes the line number of a line without a Trid" \
  ok_says "dropped line 1; the line was:" cache drop 1 --yes
check "status is all well after the drop" vornlink status

# --------------------------------------------------------------- SOAP
site soap-https
if [ -z "$runner" ] && openssl req -x509 -newkey rsa:2048 -nodes -keyout "$site/key.pem" \
    -out "$site/dms-ca.pem" -days 2 -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" \
    >/dev/null 2>&1; then
  mode=(--https --cert "$site/dms-ca.pem" --key "$site/key.pem")
  sed -i "s#^;CAFile=.*#CAFile=$site/dms-ca.pem#" "$site/Vornlink.ini"
  check "soap: check lists the trusted authority, without a word" \
    eval 'ok_says "authority              CN=127.0.0.1" check && says "0 problems, 0 warnings"'
else
  # The Windows build trusts the machine's store, which a test does not change: plain HTTP.
  mode=(--http)
  sed -i 's#<Value>HTTPS</Value>#<Value>HTTP</Value>#; s#https://127#http://127#' "$site/Vornlink.xml"
  check "soap: check passes, warning of the passwords over plain HTTP" \
    ok_says "0 problems, 2 warnings" check
fi
if [ -z "$runner" ]; then  # Windows shows a dialog
  check "soap: properties masks the passwords" \
    eval 'vornlink properties && grep -qE "password +[*]{8} +FP" "$site/out" && ! says s3cret-pw'
fi
check "soap: the emulated DMS starts (${mode[0]})" dms 2 "${mode[@]}" --reply fwt-success \
  --reply-when RONumber job-valid
check "soap: try succeeds; the validation carries its credentials" \
  ok_says "Authorization: Basic ********" try
check "soap: the DMS answered both" dms_done
check "soap: the request's length was filled in" grep -q "Content-Length: [0-9]" "$site/dms.out"

echo "operator_cli_test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
