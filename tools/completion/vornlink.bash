# Bash completion of vornlink: its commands, a command's subcommands and options, as the
# program's own help lists them (so that it stays right for every version).
#   source vornlink.bash        (or copy it to /usr/share/bash-completion/completions/vornlink)

_vornlink() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local program=${COMP_WORDS[0]} command="" at=0 i words
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      -m | --module) ((i++)) ;;
      -*) ;;
      *) command=${COMP_WORDS[i]} at=$i; break ;;
    esac
  done
  COMPREPLY=()
  if [[ $prev == -m || $prev == --module ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
  elif [[ -z $command || $command == help ]]; then
    if [[ $cur == -* && -z $command ]]; then
      words="-m --module -q --quiet --version -h --help"
    else
      words="help $("$program" --help 2>/dev/null |
        sed -n 's/^  \([a-z][a-z0-9-]*\).*/\1/p' | sort -u)"
    fi
    COMPREPLY=($(compgen -W "$words" -- "$cur"))
  elif [[ $cur == -* ]]; then
    words=$("$program" help "$command" 2>/dev/null | grep -o -- '--[a-z][a-z-]*' | sort -u)
    COMPREPLY=($(compgen -W "$words --help --quiet" -- "$cur"))
  elif ((COMP_CWORD == at + 1)); then
    # Subcommands: the lower-case word after the command in its forms.
    words=$("$program" help "$command" 2>/dev/null |
      sed -n "s/^.*vornlink $command \([a-z][a-z-]*\).*/\1/p")
    COMPREPLY=($(compgen -W "$words" -- "$cur"))
  fi
}
complete -o default -o bashdefault -F _vornlink vornlink
