# bash completion for nebrix_trace_client                  -*- shell-script -*-
#
# Its options: -i with the interval in milliseconds and -r with a count of
# records, or one of -h, --help and --version on its own.

_nebrix_trace_client() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    # Options stand at odd positions; the values of -i and -r are numbers.
    (( COMP_CWORD % 2 == 1 )) || return
    local options="-i -r -h --help --version" i
    (( COMP_CWORD > 1 )) && options="-i -r"
    for (( i = 1; i < COMP_CWORD; i += 2 )); do options=${options/${COMP_WORDS[i]}/}; done
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
}

complete -F _nebrix_trace_client nebrix_trace_client
