#!/bin/bash
# The manual page and the bash completion that the build makes from the program's list of commands:
# the page renders without a warning and names every command of the usage; the completion completes
# commands, a command's subcommands, the options of the one at hand, and an option's values.
#   manual_pages_test.sh PROGRAM MAN_PAGE COMPLETION
program=$1 page=$2 completion=$3 failed=0
if command -v groff >/dev/null; then
  warnings=$(groff -z -man -ww "$page" 2>&1)
  [ -z "$warnings" ] || { echo "the manual page warns: $warnings"; failed=1; }
  commands=$(groff -man -Tascii -P-cbou -rLL=300n -rHY=0 "$page" | sed -n '/^COMMANDS/,/^EXIT/p')
  for command in $("$program" --help | sed -n 's/^  \([a-z][a-z0-9-]*\).*/\1/p'); do
    grep -qw -- "$command" <<<"$commands" || { echo "the manual page lacks $command"; failed=1; }
  done
  rendered=$(groff -man -Tascii -P-cbou -rLL=300n -rHY=0 "$page")
  for part in "vornlink cache list [--job J]" "--strict      warnings fail the check" \
      "vornlink_cache_lines" "vornlink status --nagios" "3 UNKNOWN"; do
    grep -qF -- "$part" <<<"$rendered" || { echo "the manual page lacks $part"; failed=1; }
  done
else
  echo "groff is not installed: the manual page is not rendered"
fi
cases="$(dirname "$0")/data/completion_cases.txt"
[ "$(grep -vc '^#' "$cases")" -gt 5 ] || { echo "no completion cases in $cases"; failed=1; }
wrong=$(bash -c 'source "$1"
  grep -v "^#" "$2" | while IFS="|" read -r line words; do
    read -ra COMP_WORDS <<<"$line"; COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    [[ $line == *" " ]] && { COMP_WORDS+=(""); ((COMP_CWORD++)); }
    _vornlink
    [ "${COMPREPLY[*]}" = "$words" ] || echo "completed [$line] as [${COMPREPLY[*]}], not [$words]"
  done' _ "$completion" "$cases")
[ -z "$wrong" ] || { echo "$wrong"; failed=1; }
exit $failed
