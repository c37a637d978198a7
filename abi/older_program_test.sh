#!/usr/bin/env bash
# Runs the program built against the baseline's header with the library of
# the change, as a private user (never in the real home), with SQL trace on:
# it must exit 0 and its record must reach its trace file.
#   older_program_test.sh OLDER_PROGRAM NEBRIX_CONS
set -euo pipefail
program=${1:?usage: older_program_test.sh OLDER_PROGRAM NEBRIX_CONS} cons=${2:?}
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/private_user.sh"
trap 'rm -rf "$work"' EXIT
# In a sanitizer build nss_wrapper is preloaded ahead of the sanitizer's runtime.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
"$cons" CONFIG TRACE FILENAME "$work/older-%p.prt" >/dev/null
"$cons" TRACE SQL ON >/dev/null
"$program"
grep -q "older program, built against" "$work"/older-*.prt || { echo "no record in its trace file" >&2; exit 1; }
echo "a program built against the baseline's header works with this library"
