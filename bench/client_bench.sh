#!/usr/bin/env bash
# The trace library's figures, each against its reference, as a private test
# user (never in the real home):
#   memory:   what a small program gains by loading the library and
#             attaching (bench/client_memory.c), beyond the mapped NEBRIX.shm:
#             a C program, and one that has the C++ runtime already
#   enabled:  nbx_trace_enabled against the floor (a load of the shared
#             counter and of the cached word, a compare and a bit test), the
#             same floor in a function of another shared library, and
#             LTTng-UST's tracepoint_enabled, CPU time per call, 1 and 4
#             threads
#   records:  nbx_trace_printf with SQL trace and time stamps on (configured
#             through nebrix_cons) against the floor of the same line made
#             by hand and written with one write(2), and spdlog's basic file
#             logger, flushing each record and buffered: records per second
#             of wall time, 1 and 4 threads
#   ack:      bench/client_ack_bench.sh (50 processes acknowledging a change)
# Medians of 5 repetitions, the variants' repetitions interleaved at random
# in one run of client_bench so that load coming and going falls on all.
#
#   bench/client_bench.sh [build-dir]        (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cons=$build/bin/nebrix_cons
bench=$build/bin/client_bench
memory=$build/bin/client_memory
library=$build/lib/libnebrix_trace.so.1
[ -x "$cons" ] && [ -x "$bench" ] && [ -x "$memory" ] && [ -e "$library" ] ||
  { echo "build first (with Google Benchmark installed): scripts/build.sh" >&2; exit 1; }

source "$root/bench/private_user.sh"
trap 'rm -rf "$work"' EXIT
"$cons" CONFIG TRACE SQL ON >/dev/null
"$cons" CONFIG TRACE TIMESTAMP ON >/dev/null
"$cons" CONFIG TRACE FILENAME "$work/bench-%p.prt" >/dev/null

echo "== machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) before the run"
echo "== memory gained (goal: at most 256 KiB)"
"$memory" "$library"
"$memory" --cxx-runtime "$library"

echo "== client_bench"
"$bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_out="$work/client.json" --benchmark_out_format=json >/dev/null
python3 - "$work/client.json" <<'PY'
import json, sys
median = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") == "median" and not b.get("error_occurred"):
        median[b["run_name"]] = b
def ns(name):
    b = median.get(name)
    return None if b is None else b["cpu_time"] * {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
def rate(name):
    b = median.get(name)
    return None if b is None else b["items_per_second"]
print("enabled check, CPU time per call (goal: at most 1.3 x the floor with 1 thread; LTTng-UST for reference):")
for threads in (1, 4):
    nbx = ns(f"BM_NbxTraceEnabled/threads:{threads}")
    line = f"  {threads} thread(s): nbx_trace_enabled {nbx:.2f} ns"
    for label, name in (("floor", "BM_Floor"), ("floor called", "BM_FloorCalled"),
                        ("LTTng-UST", "BM_LttngTracepointEnabled")):
        ref = ns(f"{name}/threads:{threads}")
        line += f"   {nbx / ref:5.2f} x {label} ({ref:.2f} ns)" if ref else f"   ({label} not measured)"
    print(line)
print("records with a time stamp, per second of wall time (goals: at least 1.0 x the rate of spdlog")
print("flushing each record, at most 1.2 x the floor's time per record; spdlog buffered for reference):")
for threads in (1, 4):
    nbx = rate(f"BM_NbxTracePrintf/real_time/threads:{threads}")
    if nbx is None:
        print(f"  {threads} thread(s): nbx_trace_printf not measured")
        continue
    line = f"  {threads} thread(s): nbx_trace_printf {nbx / 1e3:.0f} k/s"
    floor = rate(f"BM_RecordFloor/real_time/threads:{threads}")
    line += f"   {floor / nbx:5.2f} x the floor's time ({floor / 1e3:.0f} k/s)" if floor else "   (floor not measured)"
    for label, name in (("spdlog flushing each", "BM_SpdlogFlushed"), ("spdlog buffered", "BM_SpdlogBuffered")):
        ref = rate(f"{name}/real_time/threads:{threads}")
        line += f"   {nbx / ref:5.2f} x {label} ({ref / 1e3:.0f} k/s)" if ref else f"   ({label} not measured)"
    print(line)
PY
echo "== load $(cut -d' ' -f1-3 /proc/loadavg) after client_bench"
"$root/bench/client_ack_bench.sh" "$build"
