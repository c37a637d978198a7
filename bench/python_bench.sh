#!/usr/bin/env bash
# The Python module's enabled() against an empty Python function call taking
# the same argument, in one run, with the category off and on (goal: at most
# 1.5 times the empty call). Each figure is the best of 7 rounds of 2 million
# calls. Runs as a private test user, never in the real home.
#
#   bench/python_bench.sh [build-dir]        (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[ -f "$build/python/nebrix_trace/_nebrix_trace.abi3.so" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
python=$(sed -n 's/^NEBRIX_PYTHON_TEST_ENVIRONMENT:INTERNAL=NEBRIX_PYTHON=\([^;]*\).*/\1/p' "$build/CMakeCache.txt")

source "$root/bench/private_user.sh"
trap 'rm -rf "$work"' EXIT
"$build/bin/nebrix_cons" CONFIG TRACE FILENAME "$work/trace-%p.prt" >/dev/null
cd "$work"
PYTHONPATH=$build/python NEBRIX_CONS=$build/bin/nebrix_cons "$python" - <<'PYTHON'
import os, subprocess, timeit
import nebrix_trace

def empty(category):
    pass

def best(statement):
    calls = 2_000_000
    return min(timeit.repeat(statement, globals=globals(), number=calls, repeat=7)) / calls * 1e9

SQL, enabled = nebrix_trace.SQL, nebrix_trace.enabled
for state in ("OFF", "ON"):
    subprocess.run([os.environ["NEBRIX_CONS"], "TRACE", "SQL", state], check=True, stdout=subprocess.DEVNULL)
    assert enabled(SQL) == (state == "ON")
    module, floor = best("enabled(SQL)"), best("empty(SQL)")
    print(f"SQL {state:3}: enabled() {module:5.1f} ns, empty Python call {floor:5.1f} ns: {module / floor:.2f}x")
PYTHON
