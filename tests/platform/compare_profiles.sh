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
if [ "${1:-}" = "--record" ]; then
  record=1
  shift
fi
if [ $# -ne 2 ]; then
  echo "usage: compare_profiles.sh [--record] WINDOWS_PROBE.exe POSIX_PROBE" >&2
  exit 2
fi
windows_probe="$1"
posix_probe="$2"

work="$(mktemp -d "${TMPDIR:-/tmp}/vornlink-profiles.XXXXXX")"
trap 'rm -rf "$work"' EXIT

"$here/../../scripts/wine-run" "$windows_probe" "$cases" "$cases/queries.tsv" "$work/windows.tsv"
"$posix_probe" "$cases" "$cases/queries.tsv" "$work/posix.tsv"
queries="$(grep -c -v -e '^#' -e '^$' "$work/windows.tsv" || true)"

status=0
if ! diff -u "$work/windows.tsv" "$work/posix.tsv" >"$work/platforms.diff"; then
  echo "INI parity: the POSIX reader disagrees with Windows (- Windows, + POSIX):" >&2
  cat "$work/platforms.diff" >&2
  status=1
fi
if [ "$record" -eq 1 ]; then
  cp "$work/windows.tsv" "$cases/queries.tsv"
  echo "INI parity: recorded the Windows answers to $queries queries in $cases/queries.tsv"
elif ! diff -u "$cases/queries.tsv" "$work/windows.tsv" >"$work/recorded.diff"; then
  echo "INI parity: Windows no longer gives the recorded answers (- recorded, + now):" >&2
  cat "$work/recorded.diff" >&2
  status=1
fi
if [ "$status" -eq 0 ]; then
  echo "INI parity: $queries queries, Windows and POSIX agree"
fi
exit "$status"
