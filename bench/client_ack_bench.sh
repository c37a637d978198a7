#!/usr/bin/env bash
# How long nebrix_cons -w 10 TRACE SQL ON (and OFF) takes, from its start
# until every one of 50 running query_trace processes (the example program,
# two threads each calling nbx_trace_enabled and then sleeping a
# millisecond, so that the process calls it at least every millisecond) has
# acknowledged the change: the command's own run time, as -w waits. 20 runs
# alternating ON and OFF, each timed as a whole, between changes without -w
# that are timed too (the console's own work, no waiting). Runs as a private test
# user, never in the real home. Build first: scripts/build.sh
#
#   bench/client_ack_bench.sh [build-dir]        (default: build)
#   NEBRIX_ACK_PROCESSES, NEBRIX_ACK_THREADS, NEBRIX_ACK_RUNS: 50, 2 and 20
#   unless set
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cons=$build/bin/nebrix_cons
example=$build/bin/query_trace
processes=${NEBRIX_ACK_PROCESSES:-50}
threads=${NEBRIX_ACK_THREADS:-2}
runs=${NEBRIX_ACK_RUNS:-20}
[ -x "$cons" ] && [ -x "$example" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

clients=()
source "$root/bench/private_user.sh"
trap 'for pid in "${clients[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"' EXIT

"$cons" CONFIG TRACE FILENAME "$work/ack-%p.prt" >/dev/null
"$cons" TRACE SQL OFF >/dev/null
for i in $(seq "$processes"); do
  "$example" 3600 "$threads" >/dev/null 2>"$work/client-$i.err" &
  clients+=($!)
done
# Every client has mapped the file and taken a part once the console lists
# it and it acknowledged a first change.
for attempt in $(seq 100); do
  listed=$("$cons" SHOW PROCESSES | grep -c query_trace || true)
  [ "$listed" -ge "$processes" ] && break
  sleep 0.1
done
"$cons" -w 10 TRACE SQL OFF >/dev/null
echo "== nebrix_cons -w 10 TRACE SQL ON/OFF, $listed query_trace processes of $threads threads listed, load $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$runs" "$cons" <<'PY'
import os, statistics, subprocess, sys, time
runs, cons = int(sys.argv[1]), sys.argv[2]
quiet = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)]
def timed(argv):
    start = time.perf_counter()
    _, status = os.waitpid(os.posix_spawn(argv[0], argv, os.environ, file_actions=quiet), 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{' '.join(argv[1:])} failed")
    return elapsed
waited = {"ON": [], "OFF": []}
plain = []
# Each change after the clients have settled: ON with -w, OFF and ON
# without, OFF with -w.
for _ in range((runs + 1) // 2):
    for wait, value in ((True, "ON"), (False, "OFF"), (False, "ON"), (True, "OFF")):
        elapsed = timed([cons] + (["-w", "10"] if wait else []) + ["TRACE", "SQL", value])
        (waited[value] if wait else plain).append(elapsed)
        time.sleep(0.2)
def line(label, times):
    return f"{statistics.median(times) * 1000:8.1f} ms median {max(times) * 1000:8.1f} ms worst   {label} ({len(times)} runs)"
every = waited["ON"] + waited["OFF"]
print(line("-w 10 TRACE SQL ON/OFF", every))
for value in ("ON", "OFF"):
    print(line(f"-w 10 TRACE SQL {value}", waited[value]))
print(line("TRACE SQL ON/OFF without -w", plain))
print(f"   waiting for the acknowledgements: {(statistics.median(every) - statistics.median(plain)) * 1000:.1f} ms of the median")
PY
