#!/usr/bin/env bash
# Sources the bash completions of the programs and completes a table of
# command lines of each: the words before the cursor and the word being typed.
#
#   completion_test.sh COMPLETION_DIR
set -uo pipefail
for program in nebrix_cons vaultadm nebrix_trace_client; do
  # shellcheck source=/dev/null
  source "$1/$program.bash"
done

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# complete_line EXPECTED WORD...: completes a command line of $program (a
# path or a name); the last WORD is the one being typed (may be empty);
# EXPECTED is the sorted completion list.
complete_line() {
  local expected=$1
  shift
  COMP_WORDS=("$program" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  "_$(basename "$program")"
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' ')
  [ "$got" = "$expected" ] || fail "$program $*<TAB>: got \"$got\", expected \"$expected\""
}
program=nebrix_cons

# expected completions                                  | words typed
complete_line "-H -f -h -o -p -v -w CONFIG PROFILE SHOW TRACE"  ''
complete_line "--all --help --version -H -f -h -o -p -v -w" -
complete_line "-H -f -h -o -p -v -w PROFILE SHOW TRACE"   -v -p 4711 ''
complete_line "json text"                                    -o ''
complete_line "-H -f -h -o -v -w PROFILE TRACE"             --all ''
complete_line "PROCESSES"                                    SHOW PROC
complete_line "trace"                                        tr
complete_line "API COMPRESS DEBUG DISTRIBUTION FILENAME PACKET SHORT SIZE SQL STOP TIMESTAMP" CONFIG TRACE ''
complete_line "API DEBUG DISTRIBUTION OFF PACKET REFRESH SHORT SIZE SQL STOP TIMESTAMP"        TRACE ''
complete_line "SHORT SIZE SQL STOP"                          -H myhost TRACE S
complete_line "OFF ON"                                       TRACE SQL ''
complete_line "ERROR"                                        t st o ''
complete_line "COUNT"                                        t st o e -10709 ''
complete_line ""                                             t st o e -10709 c ''
complete_line "ALL CONFIG HISTORY PROCESSES PROFILE RECORDS TRACESETTINGS" SHOW ''
complete_line "FOLLOW"                                       -p 1 s rec l 5 ''
complete_line "FOLLOW LAST"                                  -p 1 s rec ''
complete_line "COLLECT FILENAME RESET"                       PROFILE ''
complete_line ""                                             TRACES ''
complete_line ""                                             -H ''

# After FILENAME: file names.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
touch "$dir/trace-%p.txt"
mkdir "$dir/bin"
# After -p: the live clients SHOW PROCESSES lists, not the parts of ended
# ones. After vaultadm get, put and delete: the keys that list shows for the
# store given (the same program stands in for both).
printf '#!/bin/sh\nprintf "\\nProcesses (update count 1):\\n  Process\\n    4711  c\\n\\nParts:\\n    4712  d\\n\\nKey  Status\\nORQ/%%s/TOKEN  plaintext\\n\\n" "$2"\n' \
  >"$dir/bin/nebrix_cons"
chmod +x "$dir/bin/nebrix_cons"
ln -s nebrix_cons "$dir/bin/vaultadm"
program=$dir/bin/nebrix_cons complete_line 4711                 -p 47
complete_line "$dir/trace-%p.txt"                            CONFIG TRACE FILENAME "$dir/tr"
complete_line "$dir/trace-%p.txt"                            PROFILE FILENAME "$dir/t"

program=vaultadm
complete_line "compact delete get list migrate put rekey unlock" ''
complete_line "--give-files-to-owner --help --version -d -h -k -s"   -
complete_line "--help --plaintext --value-file -h"           -s APP -d . -k . PUT ORQ/X -
complete_line "$dir/trace-%p.txt"                            rekey --old-key-file "$dir/t"
complete_line "$dir/bin"                                     -d "$dir/"
program=$dir/bin/vaultadm complete_line "ORQ/APP/TOKEN"       -s APP -d . -k . delete O

program=nebrix_trace_client
complete_line "--help --version -h -i -r"                    ''
complete_line "-r"                                           -i 5 ''

[ "$failures" -eq 0 ] || exit 1
echo "completion OK"
