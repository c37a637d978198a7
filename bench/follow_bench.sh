#!/usr/bin/env bash
# How long a record takes from a client's write to the output of
# "nebrix_cons -p <pid> SHOW RECORDS FOLLOW": a nebrix_trace_client writes
# 1000 time-stamped SQL records, one per millisecond, and a reader notes when
# each line arrives. Prints the delay of the first and of the 1000th record
# of the follow, their median and maximum, and how long the command takes
# from its start to its first line. Needs nss_wrapper (installed when
# missing); runs as a private test user, never in the real home.
#
#   bench/follow_bench.sh [build-dir]        (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cons=$build/bin/nebrix_cons
client=$build/bin/nebrix_trace_client
dpkg-query -W -f='${Status}' libnss-wrapper 2>/dev/null | grep -q 'install ok installed' ||
  { apt-get update >/dev/null && apt-get install -y libnss-wrapper >/dev/null; }
[ -x "$cons" ] && [ -x "$client" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

source "$root/bench/private_user.sh"
client_pid=""
trap '[ -z "$client_pid" ] || kill "$client_pid" 2>/dev/null || true; rm -rf "$work"' EXIT

# The debug trace opens the file (the client writes no debug records); the
# SQL trace, switched on once the follow runs, starts the records.
"$cons" CONFIG TRACE FILENAME "$work/trace-%p.txt"
"$cons" CONFIG TRACE TIMESTAMP ON
"$client" -i 1 -r 1000 >/dev/null &
client_pid=$!
sleep 0.3
"$cons" -w 5 TRACE DEBUG ON

python3 - "$cons" "$client_pid" <<'PY'
import datetime, statistics, subprocess, sys, threading, time
cons, pid = sys.argv[1], sys.argv[2]

def stamp(line):
    return datetime.datetime.strptime(line[:26].decode(), "%Y-%m-%d %H:%M:%S.%f").timestamp()

# From the start of the command to its first line: the last record there is.
started = time.time()
follow = subprocess.Popen([cons, "-p", pid, "SHOW", "REC", "LAST", "1", "FOLLOW"], stdout=subprocess.PIPE)
follow.stdout.readline()
startup = time.time() - started
follow.terminate()
follow.wait()

follow = subprocess.Popen([cons, "-p", pid, "SHOW", "REC", "LAST", "0", "FOLLOW"], stdout=subprocess.PIPE)
time.sleep(0.5)
threading.Thread(target=lambda: subprocess.run([cons, "TRACE", "SQL", "ON"], check=True)).start()
delays = {}
for line in follow.stdout:
    arrived = time.time()
    words = line.split()
    if b"record" not in words:
        continue
    number = int(words[words.index(b"record") + 1])
    delays[number] = arrived - stamp(line)
    if number == 1000:
        break
follow.terminate()
follow.wait()
values = sorted(delays.values())
print(f"command start to first line (LAST 1 FOLLOW): {startup * 1000:7.2f} ms")
print(f"write to output, record 1 of the follow:    {delays[1] * 1000:7.2f} ms")
print(f"write to output, record 1000:               {delays[1000] * 1000:7.2f} ms")
print(f"all {len(values)} records: median {statistics.median(values) * 1000:.2f} ms, "
      f"maximum {values[-1] * 1000:.2f} ms")
PY
