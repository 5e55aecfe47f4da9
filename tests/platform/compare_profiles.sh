#!/bin/sh
# compare_profiles.sh WINDOWS_PROBE.exe: records what the Windows build's
# profile_probe (the system's own read, under Wine) answers for the cases in
# ini_cases/ into ini_cases/queries.tsv, which platform_profile_test holds
# the driver's reader to. Review the diff before committing it.
set -eu
cases="$(cd "$(dirname "$0")" && pwd)/ini_cases"
[ $# -eq 1 ] || { echo "usage: compare_profiles.sh WINDOWS_PROBE.exe" >&2; exit 2; }
work="$(mktemp -d "${TMPDIR:-/tmp}/vornlink-profiles.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$cases/../../../scripts/wine-run" "$1" "$cases" "$cases/queries.tsv" "$work/windows.tsv"
cp "$work/windows.tsv" "$cases/queries.tsv"
echo "recorded the Windows answers in $cases/queries.tsv"
