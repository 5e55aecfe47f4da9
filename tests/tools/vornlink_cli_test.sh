#!/usr/bin/env bash
# The host program end to end against the Linux module: exit codes, CSV
# input with a bad line, a session, and a validation through the callback.
# usage: vornlink_cli_test.sh <vornlink> <Vornlink.so>
set -u
program=$1
module=$2
site=$(mktemp -d)
trap 'rm -rf "$site"' EXIT
cp "$module" "$site/Vornlink.so"
failures=0

check() {  # check <description> <expected> <actual>
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}

"$program" >/dev/null 2>&1
check "no command is a usage error" 2 $?
"$program" -m "$site/missing.so" name >/dev/null 2>&1
check "a missing module fails" 1 $?
"$program" --frobnicate name >"$site/out" 2>&1
check "an unknown option is a usage error" 2 $?
grep -q "unknown option --frobnicate; see vornlink --help" "$site/out"
check "the unknown option is named" 0 $?
check "a module without a folder is the current folder's" "Plexa KMR v[1.00]" \
  "$(cd "$site" && "$program" -m Vornlink.so name 2>&1)"
"$program" -m "$site/Vornlink.so" name >"$site/out" 2>&1
check "name exits 0" 0 $?
check "name prints the service name" "Plexa KMR v[1.00]" "$(cat "$site/out")"
check "api-version" "102" "$("$program" -m "$site/Vornlink.so" api-version)"

cat >"$site/in.csv" <<CSV
# a comment
1,118739.A,261206,091502,7,BAY3,1,1,Oil,OIL,4.5,0
2,118739.B,261206,092011,7,BAY3,1,2,ATF,2.5,0
3,too,few,fields
CSV
"$program" -m "$site/Vornlink.so" forward-csv "$site/in.csv" >"$site/out" 2>"$site/err"
check "a bad CSV line fails the run" 1 $?
check "good lines are forwarded" \
  "handed 2 transactions to the driver; no log is set (KMR/Log/FileName in $site/Vornlink.xml), so the gates' verdicts are not written" \
  "$(cat "$site/out")"
grep -q "in.csv:4: 4 fields" "$site/err" && grep -q "rejected 1 line(s)" "$site/err"
check "the bad line is named" 0 $?
check "both transactions are cached" 2 "$(wc -l <"$site/Vornlink.\$\$\$")"
check "the short form repeats the fluid name" "2,118739.B,261206,092011,7,BAY3,1,2,ATF,ATF,2.5,0,0" \
  "$(sed -n 2p "$site/Vornlink.\$\$\$" | cut -d, -f1-13)"

printf '<KMR>\n<Log>\n<FileName>%s/drv.log</FileName>\n</Log>\n</KMR>\n' "$site" >"$site/Vornlink.xml"
printf 'start\nvalidate-async 118739.A 10000\nvalidate 118739.A\nstop\n' |
  "$program" -m "$site/Vornlink.so" session >"$site/out" 2>&1
check "session exits 0" 0 $?
check "session output" "ExecuteService 1
immediate 0
callback 0 118739.A
0
StopService 0" "$(cat "$site/out")"
check "forward without the service says the log waits for it" \
  "handed 1 transaction to the driver; the driver writes the gates' verdicts to its log $site/drv.log only while the service runs: start it first (vornlink session)" \
  "$("$program" -m "$site/Vornlink.so" forward 4 1.A 261206 091502 7 B 1 1 Oil OIL 0 0)"
check "forward with the service says where the verdicts are" \
  "handed 1 transaction to the driver; the gates' verdicts are in the log $site/drv.log" \
  "$(printf 'start\nforward 5 1.A 261206 091502 7 B 1 1 Oil OIL 0 0\nstop\n' |
    "$program" -m "$site/Vornlink.so" session | grep handed)"

if [ "$failures" -eq 0 ]; then echo "all checks passed"; fi
exit "$failures"
