#!/usr/bin/env bash
# Sources the bash completion of nebrix_cons and completes a table of
# command lines: the words before the cursor and the word being typed.
#
#   completion_test.sh COMPLETION_FILE
set -uo pipefail
# shellcheck source=/dev/null
source "$1"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# complete_line EXPECTED WORD...: the last WORD is the one being typed (may
# be empty); EXPECTED is the sorted completion list.
complete_line() {
  local expected=$1
  shift
  COMP_WORDS=(nebrix_cons "$@")
  COMP_CWORD=$#
  COMP_LINE="nebrix_cons $*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _nebrix_cons
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' ')
  [ "$got" = "$expected" ] || fail "nebrix_cons $*<TAB>: got \"$got\", expected \"$expected\""
}

# expected completions                                  | words typed
complete_line "-H -f -h -o -p -u -v -w CONFIG PROFILE SHOW TRACE"  ''
complete_line "--help --version -H -f -h -o -p -u -v -w"     -
complete_line "-H -f -h -o -p -u -v -w PROFILE SHOW TRACE"   -v -p 4711 ''
complete_line "json text"                                    -o ''
complete_line "PROCESSES"                                    SHOW PROC
complete_line "TRACESETTINGS"                                SHOW T
complete_line "trace"                                        tr
complete_line "TRACE"                                        CONFIG ''
complete_line "API COMPRESS DEBUG DISTRIBUTION FILENAME PACKET SHORT SIZE SQL STOP TIMESTAMP" CONFIG TRACE ''
complete_line "API DEBUG DISTRIBUTION OFF PACKET REFRESH SHORT SIZE SQL STOP TIMESTAMP"        TRACE ''
complete_line "SHORT SIZE SQL STOP"                          -H myhost TRACE S
complete_line "OFF ON"                                       TRACE SQL ''
complete_line "UNLIMITED"                                    TRACE SIZE ''
complete_line "ON"                                           TRACE STOP ''
complete_line "ERROR"                                        t st o ''
complete_line "COUNT"                                        t st o e -10709 ''
complete_line ""                                             t st o e -10709 c ''
complete_line "ALL CONFIG HISTORY PROCESSES PROFILE TRACESETTINGS" SHOW ''
complete_line "DETAILS"                                      SHOW PROFILE ''
complete_line "COLLECT FILENAME RESET"                       PROFILE ''
complete_line "OFF ON"                                       PROFILE COLLECT ''
complete_line ""                                             TRACE OFF ''
complete_line ""                                             TRACES ''
complete_line ""                                             -H ''

# After FILENAME: file names.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
touch "$dir/trace-%p.txt"
mkdir "$dir/bin"
# After -p: the live clients SHOW PROCESSES lists, not the parts of ended ones.
printf '#!/bin/sh\nprintf "\\nProcesses (update count 1):\\n  Process\\n    4711  c\\n\\nParts:\\n    4712  d\\n"\n' \
  >"$dir/bin/cons"
chmod +x "$dir/bin/cons"
COMP_WORDS=("$dir/bin/cons" -p 47)
COMP_CWORD=2
_nebrix_cons
[ "${COMPREPLY[*]}" = 4711 ] || fail "nebrix_cons -p 47<TAB> offers \"${COMPREPLY[*]}\", not the live client 4711"
complete_line "$dir/trace-%p.txt"                            CONFIG TRACE FILENAME "$dir/tr"
complete_line "$dir/trace-%p.txt"                            PROFILE FILENAME "$dir/t"

[ "$failures" -eq 0 ] || exit 1
echo "completion OK"
