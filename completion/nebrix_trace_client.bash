# bash completion for nebrix_trace_client                  -*- shell-script -*-
#
# Its options: -i with the interval in milliseconds, or one of -h, --help
# and --version on its own.

_nebrix_trace_client() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    # Only the first word is an option to offer; -i's value is a number.
    (( COMP_CWORD == 1 )) || return
    mapfile -t COMPREPLY < <(compgen -W "-i -h --help --version" -- "$cur")
}

complete -F _nebrix_trace_client nebrix_trace_client
