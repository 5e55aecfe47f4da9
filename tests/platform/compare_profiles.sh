#!/bin/sh
# Compares the private-profile reads of the two platforms live:
#
#   compare_profiles.sh [--record] WINDOWS_PROBE.exe POSIX_PROBE
#
# Runs profile_probe of the Windows build under Wine (the system's own read)
# and of the POSIX build (the driver's reader) over the cases in ini_cases/,
# and fails when their answers differ or when the answers recorded in
# ini_cases/queries.tsv are no longer what Windows says. With --record the
# Windows answers are written to queries.tsv instead (review the diff).
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
cases="$here/ini_cases"
record=0
if [ "${1:-}" = "--record" ]; then record=1; shift; fi
if [ $# -ne 2 ]; then
  echo "usage: compare_profiles.sh [--record] WINDOWS_PROBE.exe POSIX_PROBE" >&2
  exit 2
fi
work="$(mktemp -d "${TMPDIR:-/tmp}/vornlink-profiles.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$here/../../scripts/wine-run" "$1" "$cases" "$cases/queries.tsv" "$work/windows.tsv"
"$2" "$cases" "$cases/queries.tsv" "$work/posix.tsv"

# compare LABEL EXPECTED ACTUAL
status=0
compare() {
  if ! diff -u "$2" "$3" >"$work/diff"; then
    echo "INI parity: $1:" >&2
    cat "$work/diff" >&2
    status=1
  fi
}
compare "the POSIX reader disagrees with Windows (- Windows, + POSIX)" "$work/windows.tsv" "$work/posix.tsv"
if [ "$record" -eq 1 ]; then
  cp "$work/windows.tsv" "$cases/queries.tsv"
  echo "INI parity: recorded the Windows answers in $cases/queries.tsv"
else
  compare "Windows no longer gives the recorded answers (- recorded, + now)" "$cases/queries.tsv" "$work/windows.tsv"
fi
queries="$(grep -c -v -e '^#' -e '^$' "$work/windows.tsv" || true)"
[ "$status" -eq 0 ] && echo "INI parity: $queries queries, Windows and POSIX agree"
exit "$status"
