#!/usr/bin/env bash
# Formats the manual pages with every formatter that is installed and fails
# on any warning. Exits 77 (skipped) when there is none.
#
#   man_pages_test.sh PAGE...
set -uo pipefail
formatters=0
failures=0
for lint in "groff -man -Tutf8 -ww -z" "mandoc -Tlint -Wwarning"; do
  command -v "${lint%% *}" >/dev/null || continue
  formatters=$((formatters + 1))
  for page in "$@"; do
    warnings=$($lint "$page" 2>&1)
    [ -z "$warnings" ] || { echo "FAIL: ${lint%% *} on $page:" >&2; echo "$warnings" >&2; failures=$((failures + 1)); }
  done
done
if [ "$formatters" -eq 0 ]; then
  echo "neither groff nor mandoc is installed; manual pages not checked"
  exit 77
fi
[ "$failures" -eq 0 ] || exit 1
echo "manual pages OK"
