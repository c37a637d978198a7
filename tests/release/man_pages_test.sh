#!/usr/bin/env bash
# Formats the manual pages with every formatter that is installed and fails
# on any warning. Exits 77 (skipped) when there is none.
#
#   man_pages_test.sh PAGE...
set -uo pipefail
formatters=0
failures=0
for page in "$@"; do
  if command -v groff >/dev/null; then
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || { echo "FAIL: groff on $page:" >&2; echo "$warnings" >&2; failures=$((failures + 1)); }
  fi
  if command -v mandoc >/dev/null; then
    warnings=$(mandoc -Tlint -Wwarning "$page" 2>&1)
    [ -z "$warnings" ] || { echo "FAIL: mandoc on $page:" >&2; echo "$warnings" >&2; failures=$((failures + 1)); }
  fi
done
command -v groff >/dev/null && formatters=$((formatters + 1))
command -v mandoc >/dev/null && formatters=$((formatters + 1))
if [ "$formatters" -eq 0 ]; then
  echo "neither groff nor mandoc is installed; manual pages not checked"
  exit 77
fi
[ "$failures" -eq 0 ] || exit 1
echo "manual pages OK"
