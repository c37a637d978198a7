# bash completion for vaultadm                             -*- shell-script -*-
#
# Completes the store options before the command, the command words, each
# command's own options, file names where a key or value file goes,
# directories after -d and -k, and record keys after get, put and delete
# (the keys `vaultadm list` shows for the store the line names).

_vaultadm() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local i word command="" key_given="" store=()
    COMPREPLY=()

    for (( i = 1; i < COMP_CWORD; i++ )); do
        word=${COMP_WORDS[i]}
        case $word in
            -h|--help|--version) return ;;    # nothing after them is looked at
            --) [[ -n $command ]] && return ;; # a value follows, nothing to offer
        esac
        if [[ -z $command ]]; then
            case $word in
                -s|-d|-k) store+=("$word" "${COMP_WORDS[i+1]}"); i=$((i + 1)) ;;
                --give-files-to-owner) store+=("$word") ;;
                -*) ;;
                *) command=${word,,} ;;
            esac
        else
            case $word in
                --value-file|--old-key-file|--new-key-file) i=$((i + 1)) ;;
                -*) ;;
                *) key_given=1 ;;
            esac
        fi
    done

    case $prev in
        -d|-k)
            [[ -z $command ]] || return
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        -s) [[ -z $command ]] && return ;;
        --value-file|--old-key-file|--new-key-file)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
    esac

    local options
    case $command in
        "")
            if [[ $cur == -* ]]; then
                options="-s -d -k --give-files-to-owner -h --help --version"
            else
                options="list get put delete unlock compact migrate rekey"
            fi ;;
        put) options="--plaintext --value-file -h --help" ;;
        migrate) options="--old-key-file -h --help" ;;
        rekey) options="--new-key-file --old-key-file -h --help" ;;
        *) options="-h --help" ;;
    esac
    if [[ $cur != -* ]] && [[ $command == get || $command == put || $command == delete ]] && [[ -z $key_given ]]; then
        # The keys of the active records: the lines of the listing that begin
        # with a word a record key can be (upper case, digits, _ and /); no
        # other line of it does.
        local key
        while read -r key _; do
            [[ $key =~ ^[A-Z0-9_/]+$ && $key == "$cur"* ]] && COMPREPLY+=("$key")
        done < <("${COMP_WORDS[0]}" "${store[@]}" list 2>/dev/null)
        return
    fi
    [[ -n $command && $cur != -* ]] && return
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
}

complete -F _vaultadm vaultadm
