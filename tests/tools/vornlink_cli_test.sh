#!/usr/bin/env bash
# The host program against the Linux module: exit codes, CSV input, a session, a callback.
# usage: vornlink_cli_test.sh <vornlink> <Vornlink.so>
set -u
program=$1
site=$(mktemp -d)
trap 'rm -rf "$site"' EXIT
cp "$2" "$site/Vornlink.so"
failures=0
check() {  # check <description> <expected> <actual>
  [ "$2" = "$3" ] && return
  echo "FAILED: $1: expected [$2], got [$3]"
  failures=$((failures + 1))
}
run() { "$program" -m "$site/Vornlink.so" "$@"; }

"$program" >/dev/null 2>&1; check "no command is a usage error" 2 $?
"$program" -m "$site/missing.so" name >/dev/null 2>&1; check "a missing module fails" 1 $?
"$program" --frobnicate name >"$site/out" 2>&1
check "an unknown option is a usage error, named" "2 1" \
  "$? $(grep -c "unknown option --frobnicate; see vornlink --help" "$site/out")"
check "name: a module without a folder is the current folder's" $'Plexa KMR v[1.00]\n0' \
  "$(cd "$site" && "$program" -m Vornlink.so name 2>&1; echo $?)"
check "api-version" "102" "$(run api-version)"
check "--version: the program's and the module's" "vornlink 1.00 Plexa KMR v[1.00]" \
  "$(run --version | sed -n 's/ (.*)$//; s/^module .*: //; p' | tr '\n' ' ' | sed 's/ $//')"
check "COMMAND --help is the command's own help, as help COMMAND gives it" "0 usage: vornlink cache list [--json]" \
  "$(run help cache >"$site/help"; run cache --help | cmp - "$site/help" && head -n 1 "$site/help" |
    sed 's/^/0 /')"

printf '# a comment\n%s\n%s\n%s\n' 1,118739.A,261206,091502,7,BAY3,1,1,Oil,OIL,4.5,0 \
  2,118739.B,261206,092011,7,BAY3,1,2,ATF,2.5,0 3,too,few,fields >"$site/in.csv"
run forward-csv "$site/in.csv" >"$site/out" 2>"$site/err"
check "a bad CSV line fails the run and is named" "1 2" \
  "$? $(grep -cE 'in.csv:4: 4 fields|rejected 1 line\(s\)' "$site/err")"
check "good lines are forwarded" \
  "handed 2 transactions to the driver, 2 went into its cache; no log is set (KMR/Log/FileName in $site/Vornlink.xml), so the gates' verdicts are not written" \
  "$(cat "$site/out")"
check "the short form repeats the fluid name; both cached" \
  "2,118739.B,261206,092011,7,BAY3,1,2,ATF,ATF,2.5,0,0 2" \
  "$(sed -n 2p "$site/Vornlink.\$\$\$" | cut -d, -f1-13) $(wc -l <"$site/Vornlink.\$\$\$")"
"$program" --module="$site/Vornlink.so" -q forward-csv "$site/in.csv" >"$site/out" 2>"$site/err"
check "--option=value, and -q keeps only the exit status and complaints" "1 0 2" \
  "$? $(wc -l <"$site/out") $(wc -l <"$site/err")"

printf '<KMR>\n<Log>\n<FileName>%s/drv.log</FileName>\n</Log>\n</KMR>\n' "$site" >"$site/Vornlink.xml"
check "session with a validation through the callback" \
  "ExecuteService 1 immediate 0 callback 0 118739.A 0 StopService 0 status 0" \
  "$(printf 'start\nvalidate-async 118739.A 10000\nvalidate 118739.A\nstop\n' | run session 2>&1 |
    tr '\n' ' '; echo "status ${PIPESTATUS[1]}")"
check "forward without the service says the log waits for it" \
  "handed 1 transaction to the driver, 0 went into its cache (1 not: dropped or refused by the gates, or waiting for room); the driver writes the gates' verdicts to its log $site/drv.log only while the service runs: start it first (vornlink session)" \
  "$(run forward 4 1.A 261206 091502 7 B 1 1 Oil OIL 0 0)"
check "forward with the service says where the verdicts are" \
  "handed 1 transaction to the driver, 0 went into its cache (1 not: dropped or refused by the gates, or waiting for room); the gates' verdicts are in the log $site/drv.log" \
  "$(printf 'start\nforward 5 1.A 261206 091502 7 B 1 1 Oil OIL 0 0\nstop\n' | run session | grep handed)"

[ "$failures" -eq 0 ] && echo "all checks passed"
exit "$failures"
