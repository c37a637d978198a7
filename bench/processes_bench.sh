#!/usr/bin/env bash
# Wall time of SHOW PROCESSES with 50 running nebrix_trace_client processes
# among 1000 other processes of the user (sleep) against /bin/true (the cost
# of starting a process) and SHOW TRACESETTINGS (the same file without the
# process list). The listing reads what the clients publish, so its cost is
# to follow the clients, not the processes on the machine: the goal is at
# most 2x SHOW TRACESETTINGS. Needs hyperfine and nss_wrapper (installed
# when missing); runs as a private test user, never in the real home.
#
#   bench/processes_bench.sh [build-dir] [other-processes]   (default: build 1000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
others=${2:-1000}
cons=$build/bin/nebrix_cons
client=$build/bin/nebrix_trace_client
for pkg in hyperfine libnss-wrapper; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
    { apt-get update >/dev/null && apt-get install -y "$pkg" >/dev/null; }
done
[ -x "$cons" ] && [ -x "$client" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

clients=()
sleepers=()
source "$root/bench/private_user.sh"
trap 'for pid in "${clients[@]}" "${sleepers[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"' EXIT

for i in $(seq "$others"); do
  sleep 3600 &
  sleepers+=($!)
done

# Half of the clients get settings of their own, so that both kinds of row
# are looked up.
"$cons" CONFIG TRACE FILENAME "$work/trace-%p.txt" >/dev/null
"$cons" TRACE SQL ON >/dev/null
for i in $(seq 50); do
  "$client" -i 1000 >/dev/null &
  clients+=($!)
done
sleep 1
for pid in "${clients[@]:0:25}"; do "$cons" -p "$pid" TRACE SHORT ON; done
rows=$("$cons" SHOW PROCESSES | grep -c nebrix_trace_cl)
echo "== SHOW PROCESSES, $rows clients listed, $(ls /proc | grep -c "^[0-9]") processes on the machine" \
  "($(ps -o pid= -u "$(id -u)" | wc -l) of the user)"

hyperfine -N --warmup 5 --runs 100 --export-json "$work/processes.json" \
  "/bin/true" "$cons SHOW TRACESETTINGS" "$cons SHOW PROCESSES" >/dev/null
python3 - "$work/processes.json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
floor = results[0]["mean"]
for r in results:
    print(f"{r['mean']*1000:8.2f} ms  {r['mean']/floor:5.2f} x /bin/true   {r['command']}")
print(f"SHOW PROCESSES / SHOW TRACESETTINGS: {results[2]['mean']/results[1]['mean']:.2f} (goal: at most 2)")
# CPU time (user + system) is less swayed than wall time by other work on the machine.
cpu = [r["user"] + r["system"] for r in results]
print(f"CPU time: {cpu[1]*1000:.2f} ms against {cpu[2]*1000:.2f} ms, ratio {cpu[2]/cpu[1]:.2f}")
PY
