#!/usr/bin/env bash
# Compares the built libnebrix_trace.so.1 with the ABI baseline in abi/.
# Any change but added exports fails with abidiff's report: a removed or
# changed export, a changed type of the public header (a field inserted,
# a struct grown), a symbol version. Added exports pass, and are listed.
# With --update the baseline is written anew from the built library and the
# header is copied beside it: a deliberate change, committed on its own.
#
#   scripts/abi_check.sh [--update] BUILD_DIR
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
update=false
if [ "${1:-}" = --update ]; then update=true; shift; fi
build=${1:?usage: abi_check.sh [--update] BUILD_DIR}
library=$build/lib/libnebrix_trace.so.1
baseline=$root/abi/libnebrix_trace.so.1.abi
command -v abidiff >/dev/null || { echo "abidiff not found (Debian: abigail-tools): not checked"; exit 77; }
[ -e "$library" ] || { echo "$library: not built" >&2; exit 1; }

if $update; then
  # Only what the exported names reach, without the build's paths.
  abidw --exported-interfaces-only --headers-dir "$root/include/nebrix" --drop-private-types --no-show-locs \
    --no-corpus-path --no-comp-dir-path "$library" | sed "s|path='$root/|path='|" >"$baseline" || exit 1
  mkdir -p "$root/abi/include/nebrix"
  cp "$root/include/nebrix/trace.h" "$root/abi/include/nebrix/trace.h"
  echo "baseline written: $baseline and abi/include/nebrix/trace.h; commit them on their own"
  exit 0
fi

report=$(abidiff --no-added-syms "$baseline" "$library")
status=$?
if [ "$status" -ne 0 ]; then
  echo "$report"
  echo "The ABI of libnebrix_trace.so.1 differs from the baseline (abidiff exit $status): a program built" \
    "against it may break. Undo the change, or, for a change that keeps programs working (a field added at" \
    "the end of a struct that carries its size), update the baseline in a commit of its own:" \
    "scripts/abi_check.sh --update $build" >&2
  exit 1
fi
added=$(abidiff "$baseline" "$library")
[ -n "$added" ] && echo "$added"
echo "ABI of libnebrix_trace.so.1: as the baseline${added:+, with the additions above}"
exit 0
