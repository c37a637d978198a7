# bash completion for nebrix_cons                          -*- shell-script -*-
#
# Completes the options and, word by word, the keywords of the command
# language. Words already typed may be abbreviated the way nebrix_cons
# accepts them (t sq <TAB> offers ON OFF); the word being typed is matched
# case-insensitively and completed to the full keyword, in lower case when it
# was started in lower case.

# Keyword tables: "KEYWORD:minimum length:state after it". They mirror the
# console's parser, in its order where an abbreviation fits two keywords
# (SHOW PRO); the trace categories share no abbreviation with another word,
# and a test checks them against the console's table. A "-" before the
# keyword accepts it without offering it.
_nebrix_cons_table() {
    case $1 in
        first)        echo "CONFIG:1:config TRACE:1:trace SHOW:1:show PROFILE:1:profile" ;;
        config)       echo "TRACE:1:config_trace" ;;
        config_trace) echo "SHORT:2:on_off DEBUG:1:on_off SQL:2:on_off PACKET:2:packet" \
                           "DISTRIBUTION:2:on_off TIMESTAMP:1:on_off SIZE:2:file_size" \
                           "FILENAME:1:file_name COMPRESS:1:on_off STOP:2:stop_on API:2:on_off" ;;
        trace)        echo "REFRESH:1:end SHORT:2:on_off DEBUG:1:on_off PACKET:2:packet" \
                           "DISTRIBUTION:2:on_off SQL:2:on_off SIZE:2:file_size OFF:1:end" \
                           "STOP:2:stop_on TIMESTAMP:1:on_off API:2:on_off" ;;
        show)         echo "CONFIG:1:end TRACESETTINGS:1:end -FILE:1:end ALL:1:end HISTORY:1:end" \
                           "PROFILE:1:show_profile PROCESSES:4:end RECORDS:3:records" ;;
        show_profile) echo "DETAILS:1:end" ;;
        records)      echo "LAST:1:records_count FOLLOW:1:records_followed" ;;
        records_last) echo "FOLLOW:1:end" ;;                   # after LAST <n>
        records_followed) echo "LAST:1:end" ;;                 # then the count
        profile)      echo "RESET:1:end COLLECT:1:on_off FILENAME:1:file_name" ;;
        on_off)       echo "ON:2:end OFF:2:end" ;;
        packet)       echo "ON:2:end OFF:2:end" ;;            # or a size
        file_size)    echo "UNLIMITED:1:end" ;;                # or a size
        stop_on)      echo "ON:1:stop_error" ;;
        stop_error)   echo "ERROR:1:stop_code" ;;
        stop_code)    echo "OFF:1:end" ;;                      # or an error code
        stop_count)   echo "COUNT:1:end" ;;                    # then the count
    esac
}

# The state after `word` in `state`: the first keyword the word abbreviates
# (at least its minimum length, at most all of it), else a state for the
# words that take a value, else "end".
_nebrix_cons_next() {
    local state=$1 word=${2^^} entry keyword minimum next
    for entry in $(_nebrix_cons_table "$state"); do
        IFS=: read -r keyword minimum next <<<"${entry#-}"
        if (( ${#word} >= minimum )) && [[ $keyword == "$word"* ]]; then
            echo "$next"
            return
        fi
    done
    case $state in
        stop_code) echo stop_count ;;    # an error code; COUNT may follow
        records_count) echo records_last ;;    # the count of LAST; FOLLOW may follow
        *) echo end ;;
    esac
}

_nebrix_cons() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local i word state=options pid_given="" all_given=""
    COMPREPLY=()

    for (( i = 1; i < COMP_CWORD; i++ )); do
        word=${COMP_WORDS[i]}
        if [[ $state == options ]]; then
            case $word in
                -h|--help|--version) return ;;    # nothing after them is looked at
                # -u is never offered (it always fails), but typed it takes a word.
                -p|-u|-H|-o|-w)
                    [[ $word == -p ]] && pid_given=1
                    if (( i + 1 == COMP_CWORD )); then
                        case $word in
                            -p)
                                # The processes SHOW PROCESSES lists: the rows
                                # up to the first blank line after its heading.
                                local pid
                                while read -r pid _; do
                                    [[ $pid =~ ^[0-9]+$ && $pid == "$cur"* ]] && COMPREPLY+=("$pid")
                                done < <("${COMP_WORDS[0]}" SHOW PROCESSES 2>/dev/null | sed -n '/^Processes/,/^$/p')
                                ;;
                            -o) mapfile -t COMPREPLY < <(compgen -W "json text" -- "$cur") ;;
                        esac
                        return
                    fi
                    i=$((i + 1)) ;;               # skip the option's argument
                -v|-f) ;;
                --all) all_given=1 ;;
                -*) return ;;                     # an unknown option ends the command
                *) state=$(_nebrix_cons_next first "$word") ;;
            esac
        else
            state=$(_nebrix_cons_next "$state" "$word")
        fi
    done

    local candidates=""
    case $state in
        options)
            # -p and --all exclude each other.
            local options="-h -v -p -H -f -o -w --all --help --version"
            [[ -n $pid_given ]] && options=${options/ --all/}
            [[ -n $all_given ]] && options=${options/ -p/}
            if [[ $cur == -* ]]; then
                mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
                return
            fi
            [[ -z $cur ]] && candidates=${options%% --all*} && candidates=${candidates%% --help*}
            state=first ;;
        file_name)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        end) return ;;
    esac

    local entry keyword upper=${cur^^}
    for entry in $(_nebrix_cons_table "$state"); do
        [[ $entry == -* ]] && continue
        keyword=${entry%%:*}
        [[ $keyword == CONFIG && $state == first && -n $pid_given ]] && continue  # CONFIG refuses -p
        [[ $keyword =~ ^(CONFIG|SHOW)$ && $state == first && -n $all_given ]] && continue  # --all: TRACE, PROFILE
        [[ $keyword == "$upper"* ]] || continue
        [[ -n $cur && $cur == "${cur,,}" ]] && keyword=${keyword,,}
        candidates+=" $keyword"
    done
    read -ra COMPREPLY <<<"$candidates"
}

complete -F _nebrix_cons nebrix_cons
