#!/usr/bin/env bash
# Wall time of whole console commands. Needs nss_wrapper (installed when
# missing); runs as a private test user, never in the real
# home. Build first, in Release and with the benchmarks:
#   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DNEBRIX_BUILD_BENCHMARKS=ON
#   cmake --build build-rel --target nebrix_cons grow_store compaction_bench
#
# floor:  every command against /bin/true (the cost of starting a process);
#         the commands that change the store also against a process that
#         appends one 177-byte record and syncs it (compaction_bench append:
#         /bin/true plus the one flush a change needs).
# growth: SHOW CONFIG and CONFIG TRACE SQL ON side by side on a profile that
#         never grew and on one whose data file held 1 000 000 superseded
#         records before one console change compacted it.
#
#   bench/console_bench.sh [build-dir]        (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cons=$build/bin/nebrix_cons
grow=$build/bin/grow_store
append=$build/bin/compaction_bench
for pkg in libnss-wrapper; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
    { apt-get update >/dev/null && apt-get install -y "$pkg" >/dev/null; }
done
[ -x "$cons" ] && [ -x "$grow" ] && [ -x "$append" ] || { echo "build first (see the top of $0)" >&2; exit 1; }

sleeper=""
source "$root/bench/private_user.sh"
trap 'kill "$sleeper" 2>/dev/null || true; rm -rf "$work"' EXIT
profile=$work/home/.orq/$(uname -n)

sleep 3600 & sleeper=$!

# The profile that never grew: every configuration value stored once (as
# after the first SHOW CONFIG of a user).
"$cons" TRACE SQL ON >/dev/null
"$cons" SHOW ALL >/dev/null
"$cons" -v SHOW PROFILE >/dev/null 2>&1 || true
cp -a "$profile" "$work/fresh"
# The same after 1 000 000 changes of the trace flags, and one more change.
"$grow" "$profile" 1000000
grown_size=$(stat -c %s "$profile/SSFS_ORQ.DAT")
sync "$profile/SSFS_ORQ.DAT"
start=$(date +%s%N)
"$cons" CONFIG TRACE SQL ON >/dev/null
echo "one change after 1000000: $(( ($(date +%s%N) - start) / 1000000 )) ms; data file $grown_size bytes before," \
  "$(stat -c %s "$profile/SSFS_ORQ.DAT") after; never grown: $(stat -c %s "$work/fresh/SSFS_ORQ.DAT")"
cp -a "$profile" "$work/grown"

# Every run starts from a copy of one of the profiles, flushed to disk: a
# command that syncs the data file must not pay for writing out a copy made
# just before it.
for name in fresh grown; do
  echo "rm -rf $profile && cp -a $work/$name $profile && sync $profile/*" > "$work/prepare-$name.sh"
done

# The commands of one run take turns, in a new random order each round,
# each started straight (no shell) after its preparation: on a machine
# shared with other work, load that comes and goes then falls on all of them
# alike. Medians of 200 rounds. Arguments: a label, then name, profile and
# command of each benchmark.
run() {
  local label=$1
  shift
  echo "== $label"
  python3 - "$work" "$@" <<'PY'
import os, random, statistics, subprocess, sys, time
work, args = sys.argv[1], sys.argv[2:]
benchmarks = [(args[i], args[i + 1], args[i + 2].split()) for i in range(0, len(args), 3)]
times = {name: [] for name, _, _ in benchmarks}
quiet = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0), (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
for round in range(205):
    for name, profile, argv in random.sample(benchmarks, len(benchmarks)):
        subprocess.run(["sh", f"{work}/prepare-{profile}.sh"], check=True)
        start = time.perf_counter()
        os.waitpid(os.posix_spawn(argv[0], argv, os.environ, file_actions=quiet), 0)
        if round >= 5:  # warm-up
            times[name].append(time.perf_counter() - start)
median = {name: statistics.median(t) for name, t in times.items()}
for name, _, _ in benchmarks:
    line = f"{median[name] * 1000:8.2f} ms"
    if "/bin/true" in median:
        line += f"  {median[name] / median['/bin/true']:5.2f} x /bin/true"
    if "/bin/true + flush" in median and name.startswith("change:"):
        line += f"  {median[name] / median['/bin/true + flush']:5.2f} x /bin/true + flush"
    if name.endswith("(grew)"):
        line += f"  {median[name] / median[name.replace('(grew)', '(never grew)')]:5.2f} x never grew"
    print(f"{line}   {name}")
PY
}

run floor \
  "/bin/true" fresh "/bin/true" \
  "/bin/true + flush" fresh "$append append $work/appended" \
  "change: TRACE SQL ON" fresh "$cons TRACE SQL ON" \
  "change: CONFIG TRACE SQL ON" fresh "$cons CONFIG TRACE SQL ON" \
  "SHOW CONFIG" fresh "$cons SHOW CONFIG" \
  "SHOW ALL" fresh "$cons SHOW ALL" \
  "-p <pid> TRACE SQL ON" fresh "$cons -p $sleeper TRACE SQL ON" \
  "SHOW HISTORY" fresh "$cons SHOW HISTORY"
run growth \
  "SHOW CONFIG (never grew)" fresh "$cons SHOW CONFIG" \
  "SHOW CONFIG (grew)" grown "$cons SHOW CONFIG" \
  "CONFIG TRACE SQL ON (never grew)" fresh "$cons CONFIG TRACE SQL ON" \
  "CONFIG TRACE SQL ON (grew)" grown "$cons CONFIG TRACE SQL ON"
